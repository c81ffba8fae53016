#pragma once

#include "core/filechooser.h"

#include <QList>

// Answers the Open dialog at once: each call takes the next answer, an empty
// one (or none left) being a cancel. Keeps every request it was given.
class FakeFileChooser : public FileChooser
{
public:
    QStringList answers;
    QList<Request> requests;

    QString chooseExistingFile(const Request &request) override
    {
        requests.append(request);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};
