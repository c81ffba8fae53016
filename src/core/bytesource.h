#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// One reader per destination. Readers of a file read it themselves; readers
// of standard input share one bounded window of it.
class SourceReader
{
public:
    virtual ~SourceReader() = default;

    // Waits until there is data, the end, or an error. Empty at the end or on error.
    virtual QByteArray readBlocking(qint64 maxBytes) = 0;
    // What is there now, possibly nothing; for the event loop's thread.
    virtual QByteArray readAvailable(qint64 maxBytes) = 0;
    virtual bool atEnd() const = 0;
    virtual QString error() const = 0;

    // For a reader of a plain file: its descriptor (-1 for others), where
    // the next byte lies in it, and how many bytes are left from there. The
    // sender may hand those to the socket itself and only skip them here.
    virtual int fileDescriptor() const { return -1; }
    virtual qint64 fileOffset() const { return 0; }
    virtual qint64 fileBytesLeft() const { return 0; }
    virtual void skipFileBytes(qint64) {}
    // For such a reader: how the file changed since it was opened, if it did.
    virtual QString fileChange() const { return {}; }

    // From any thread: a readBlocking() that waits, and every later one,
    // returns at once with nothing. For giving up on an input that may
    // never come (a terminal, a stalled pipe).
    virtual void stopWaiting() {}

    // Called, on whatever thread produced it, when readAvailable() may have
    // more to give. Set it before the source is started.
    virtual void setNotify(std::function<void()> notify) = 0;
};

struct SourceOpenOptions
{
    // Readers made one after another each need the input from its start,
    // so a stream is first kept whole in a temporary file.
    bool replayable = false;
    // Readable once the user interrupts: keeping a stream gives up then.
    int interruptFd = -1;
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
    // except while keeping a replayable stream. Null with error set when it
    // cannot be read, or with interrupted set when the user stopped it.
    static std::unique_ptr<ByteSource> open(const QString &input, QString *error,
                                            const OpenOptions &options = {},
                                            bool *interrupted = nullptr);
    // A stream read by a thread of its own through a window of windowBytes.
    // ownsFd: the descriptor is closed once the stream has ended.
    static std::unique_ptr<ByteSource> fromDescriptor(int fd, qint64 windowBytes,
                                                      bool ownsFd = false);

    virtual qint64 size() const = 0; // -1 when not known in advance
    // The input's length once known: the size, or a stream's once it has
    // been read to its end; else -1.
    virtual qint64 knownLength() const { return size(); }
    // All readers must be made before start().
    virtual std::unique_ptr<SourceReader> makeReader() = 0;
    virtual void start() = 0;
};
