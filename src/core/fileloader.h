#pragma once

#include "platform/outcome.h"

#include <QByteArray>
#include <QString>

// Reads one file whole into memory: the single way a job file is loaded,
// whether it was chosen, dropped or named on the command line.
class FileLoader
{
public:
    // Delivered with the whole file, or InputUnreadable, never part of it.
    // The sentence, a whole one naming the file, says why a file of 2 GiB
    // or more, or one there is no memory for, was refused; it is empty for
    // one that is missing, a folder or forbidden, of which the user needs
    // no telling.
    struct Result : SendResult
    {
        QByteArray content;
        qint64 size = 0; // the file's length as found
    };

    // The largest length a job may have: its size is kept as a signed 32-bit
    // count, as the printer path and the size display expect.
    static constexpr qint64 MaxSize = 2147483647;

    // Opens the file shared, so a program still writing it does not stop
    // us. Never returns part of a file.
    static Result load(const QString &path);

    // "1234 bytes": the size display's text.
    static QString sizeText(qint64 size);
};
