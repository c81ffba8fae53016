#pragma once

#include "platform/tcpconnection.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// One destination's way through the input.
class SourceReader
{
public:
    virtual ~SourceReader() = default;

    // Up to maxBytes of what comes next; empty at the end and on an error.
    // wait: on a thread of its own, until there is some; otherwise a stream
    // may have nothing yet, and the notification says when it has.
    virtual QByteArray read(qint64 maxBytes, bool wait) = 0;
    // Hands what comes next to the socket without copying it through the
    // program where the input allows it; else Failed with nothing moved.
    virtual platform::tcp::Result sendTo(platform::tcp::Socket, qint64) { return {}; }
    virtual bool atEnd() const = 0;
    virtual QString error() const = 0; // a sentence; empty if it did not fail
    virtual qint64 size() const { return -1; } // -1 when not known in advance
    // Whether the input is no longer what it was when opened, as a sentence;
    // asked again at the end, as sendTo() hands over the file's own pages.
    virtual QString changed() const { return {}; }

    // From any thread: every read(), a waiting one too, returns nothing.
    virtual void stopWaiting() {}
    // Called, on whatever thread produced it, when read() may have more;
    // once it returns, no call of the one it replaced is under way.
    virtual void setNotify(std::function<void()>) {}
    // The destination waits (to try again, for a descriptor): it stops
    // holding back the others, and reads on from the kept copy later.
    virtual void letGo() {}
};

struct SourceOpenOptions
{
    // Readers made one after another each need the input from its start,
    // so a stream is first kept whole in a temporary file.
    bool replayable = false;
    int interruptFd = -1; // readable once the user interrupts
};

// The input, opened once. A plain file is read by each destination on its
// own; anything else (standard input, a pipe, a device, a file of /proc
// whose size says nothing) is a stream: read once, shared by all readers.
class ByteSource
{
public:
    virtual ~ByteSource() = default;

    using OpenOptions = SourceOpenOptions;

    // A path, or "-" for standard input. Never waits for a pipe's writer,
    // except while keeping a replayable stream. Null with error set, or with
    // interrupted set when the user stopped it.
    static std::unique_ptr<ByteSource> open(const QString &input, QString *error,
                                            const OpenOptions &options = {},
                                            bool *interrupted = nullptr);
    // A named input without waiting. Null with why: the system's reason as
    // it words it, or "It is a folder.".
    static std::unique_ptr<ByteSource> openNamed(const QString &path, QString *why);
    // A stream read by a thread of its own through a window of windowBytes.
    static std::unique_ptr<ByteSource> fromDescriptor(int fd, qint64 windowBytes,
                                                      bool ownsFd = false);

    virtual qint64 size() const = 0; // -1 when not known in advance
    // Also a stream's length once it has been read to its end; else -1.
    virtual qint64 knownLength() const { return size(); }
    // Before start(): a stream is also kept in a temporary file, for readers
    // that let go and come back.
    virtual void keepCopy() {}
    virtual std::unique_ptr<SourceReader> makeReader() = 0; // all before start()
    virtual void start() {}
};
