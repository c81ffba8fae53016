#pragma once

#include <QByteArray>
#include <QString>

// Reads one file whole into memory: the single way a job file is loaded,
// whether it was chosen, dropped or named on the command line.
class FileLoader
{
public:
    enum class Outcome {
        Loaded,
        Unreadable,  // missing, a folder, no access: nothing to tell the user
        TooLarge,    // 2 GiB or more
        OutOfMemory, // no room for the whole content
    };

    struct Result
    {
        Outcome outcome = Outcome::Unreadable;
        QByteArray content; // the whole file when Loaded, else empty
        qint64 size = 0;    // the file's length as found
    };

    // The largest length a job may have: its size is kept as a signed 32-bit
    // count, as the printer path and the size display expect.
    static constexpr qint64 MaxSize = 2147483647;

    // Opens the file shared, so a program still writing it does not stop
    // us. Never returns part of a file.
    static Result load(const QString &path);

    // Why a TooLarge or OutOfMemory result was refused, as a sentence naming
    // the file; empty for the other outcomes.
    static QString refusal(const QString &path, const Result &result);

    // "1234 bytes": the size display's text.
    static QString sizeText(qint64 size);
};
