#pragma once

#include <QString>
#include <QStringList>

// The modal file chooser behind the Open dialog; tests answer at once.
class FileChooser
{
public:
    struct Request
    {
        QString title;
        QString startFolder;
        QString initialName;
        QStringList nameFilters; // "Description (patterns)", first one preselected
        QString defaultSuffix;
    };

    virtual ~FileChooser() = default;

    // The chosen existing file's full path, or an empty string on cancel.
    virtual QString chooseExistingFile(const Request &request) = 0;
};
