#pragma once

#include <cstddef>
#include <string>

// The input of a send on the system's own descriptors: plain files read by
// position, streams read as they come, and a temporary copy with no name.
// Descriptors are the C runtime's on every system.
namespace platform::file {

enum class Kind {
    Regular, // a file whose size is its length
    Folder,
    Unsized, // a plain file whose size says nothing (procfs, sysfs)
    Other,   // a pipe or a device
};

// What a name stands for, looked at without opening it: opening a pipe for
// reading, even without waiting, would release a writer blocked on its
// other end.
struct Status
{
    bool exists = false;
    bool isFolder = false;
    bool isRegular = false; // a plain file, not a pipe, device or folder
    bool readable = false;
};
Status status(const std::string &path);

// What tells that a file is still the one that was opened. The change time
// moves with every write and cannot be set back by a user, as the
// modification time can. Times in nanoseconds.
struct Stamp
{
    long long size = 0;
    long long modified = 0;
    long long changed = 0;
    bool named = true; // false once the file's last name is gone
    bool operator==(const Stamp &) const = default;
};

inline constexpr int StandardInput = 0;
// readWhenReady's answer when interruptFd became readable first.
inline constexpr long long Interrupted = -2;

// For reading, never waiting for a pipe's writer; -1 with *error set.
int openForReading(const std::string &path, int *error);
// A descriptor of our own for the same open file; -1 when none can be had.
int duplicate(int fd);
void close(int fd);
bool inspect(int fd, Kind *kind, Stamp *stamp, int *error);
// Where reading stands in a file; -1 where it cannot tell.
long long position(int fd);
// Up to size bytes from offset, without moving the descriptor: 0 at the
// end, -1 with *error set.
long long readAt(int fd, char *data, std::size_t size, long long offset, int *error);
// Waits until fd has data or its end, then reads; or until interruptFd
// (-1: none) is readable.
long long readWhenReady(int fd, char *data, std::size_t size, int interruptFd, int *error);
// Every byte, or false with *error set: a full disk is an error, not an end.
bool writeAll(int fd, const char *data, std::size_t size, int *error);
// A temporary file in folder that has no name from the start, so nothing is
// left behind however the program ends.
int makeUnnamed(const std::string &folder, int *error);
std::string errorText(int error);

} // namespace platform::file
