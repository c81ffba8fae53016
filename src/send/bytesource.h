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

    // From any thread: a readBlocking() that waits, and every later one,
    // returns at once with nothing. For giving up on an input that may
    // never come (a terminal, a stalled pipe).
    virtual void stopWaiting() {}

    // Called, on whatever thread produced it, when readAvailable() may have
    // more to give. Set it before the source is started.
    virtual void setNotify(std::function<void()> notify) = 0;
};

class ByteSource
{
public:
    virtual ~ByteSource() = default;

    // A path, or "-" for standard input. Null with error set when it cannot be read.
    static std::unique_ptr<ByteSource> open(const QString &input, QString *error);
    // Standard input read by a thread of its own through a window of windowBytes.
    static std::unique_ptr<ByteSource> fromDescriptor(int fd, qint64 windowBytes);

    virtual qint64 size() const = 0; // -1 when not known in advance
    // All readers must be made before start().
    virtual std::unique_ptr<SourceReader> makeReader() = 0;
    virtual void start() = 0;
};
