#pragma once

#include <cstddef>
#include <cstring>
#include <string>

// Files on the C runtime's descriptors: plain files read by position,
// streams read as they come, and a temporary copy with no name.
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

// What tells that a file is still the one opened. The change time, unlike
// the modification time, cannot be set back by a user. In nanoseconds.
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
int duplicate(int fd);
void close(int fd);
bool inspect(int fd, Kind *kind, Stamp *stamp, int *error);
long long position(int fd);
// Without moving the descriptor: 0 at the end, -1 with *error set.
long long readAt(int fd, char *data, std::size_t size, long long offset, int *error);
// Waits until fd has data or its end, then reads; or until interruptFd
// (-1: none) is readable.
long long readWhenReady(int fd, char *data, std::size_t size, int interruptFd, int *error);
// Every byte, or false with *error set: a full disk is an error, not an end.
bool writeAll(int fd, const char *data, std::size_t size, int *error);
// A temporary file without a name: nothing is left however the program ends.
int makeUnnamed(const std::string &folder, int *error);
inline std::string errorText(int error) { return std::strerror(error); }

} // namespace platform::file
