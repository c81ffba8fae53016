#pragma once

#include <QString>

// A source device whose next bytes lie in an open plain file. The TCP sender
// hands such bytes from the system's file cache to the socket instead of
// reading them into memory and writing them out again; the device then only
// learns how far they went. What lies past them (the end, or a file that
// changed) is still found by reading the device.
class DirectFileSource
{
public:
    // The file's descriptor, -1 when no file backs the next bytes.
    virtual int fileDescriptor() const = 0;
    // Where the next byte lies in the file.
    virtual qint64 fileOffset() const = 0;
    // How many of the next bytes may go out from the file directly.
    virtual qint64 fileBytesLeft() const = 0;
    // That many of them went out: the source moves past them.
    virtual void skipFileBytes(qint64 count) = 0;
    // How the file changed since it was opened (length or modification
    // time), empty if it did not.
    virtual QString fileChange() const = 0;

protected:
    ~DirectFileSource() = default;
};
