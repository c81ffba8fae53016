#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

class FileChooser;

// The Open dialog: the "|" filter syntax and the folder/name split of the
// classic dialog call, around whatever chooser shows the dialog.
namespace Module1 {

// "All|*.*" becomes "All", NUL, "*.*", NUL, NUL.
QString convertFilter(const QString &filter);

enum class PatternRules { Windows, Unix };

// The pairs of a converted filter as "Description (patterns)". Under Unix
// rules "*.*" would hide every file without a dot, so it becomes "*".
QStringList nameFilters(const QString &convertedFilter, PatternRules rules);

struct FolderAndName
{
    QString folder; // up to and including the last separator
    QString name;
};

FolderAndName splitAtFolder(const QString &path, QChar separator);

// The chosen file's name, or empty on cancel. A completed choice stores its
// folder, trailing separator included, in startFolder.
QString OpenDialog(FileChooser &chooser, const QString &title,
                   QString &startFolder, const QString &fileName, const QString &filter,
                   const QString &defaultExtension);

} // namespace Module1
