#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

class FileChooser;

// The Open dialog: the "|" filter syntax and the folder/name split of the
// classic dialog call, around whatever chooser shows the dialog.
namespace Module1 {

// "All|*.*" becomes "All", NUL, "*.*", NUL, NUL: every "|" of the text with
// "||" appended turned into a NUL.
QString convertFilter(const QString &filter);

enum class PatternRules { Windows, Unix };

// The pairs of a converted filter as Qt name filters, "Description (patterns)".
// Under Unix rules "*.*" would hide every file without a dot in its name, so
// it becomes "*" there.
QStringList nameFilters(const QString &convertedFilter, PatternRules rules);

struct FolderAndName
{
    QString folder; // up to and including the last separator
    QString name;   // the rest, extension and all
};

FolderAndName splitAtFolder(const QString &path, QChar separator);

// Shows the chooser and returns the chosen file's name, or an empty string on
// cancel. A completed choice stores the file's folder, trailing separator
// included, in startFolder; a cancel leaves it untouched.
QString OpenDialog(FileChooser &chooser, const QString &title,
                   QString &startFolder, const QString &fileName, const QString &filter,
                   const QString &defaultExtension);

} // namespace Module1
