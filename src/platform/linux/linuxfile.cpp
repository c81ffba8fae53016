#include "platform/fileaccess.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform::file {

namespace {

long long nanoseconds(const timespec &time)
{
    return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

} // namespace

Status status(const std::string &path)
{
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return {};
    return {true, S_ISDIR(info.st_mode), S_ISREG(info.st_mode), ::access(path.c_str(), R_OK) == 0};
}

int openForReading(const std::string &path, int *error)
{
    // A FIFO's missing writer must not hold the program in open(), deaf to Ctrl-C.
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        *error = path.empty() ? ENOENT : errno;
    return fd;
}

int duplicate(int fd)
{
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

void close(int fd)
{
    ::close(fd);
}

bool inspect(int fd, Kind *kind, Stamp *stamp, int *error)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        *error = errno;
        return false;
    }
    // procfs says 0 and sysfs a page, whatever the content.
    struct statfs where {};
    const bool sizeSaysNothing = ::fstatfs(fd, &where) == 0 &&
                                 (where.f_type == PROC_SUPER_MAGIC || where.f_type == SYSFS_MAGIC);
    *kind = S_ISDIR(info.st_mode)   ? Kind::Folder
            : !S_ISREG(info.st_mode) ? Kind::Other
            : sizeSaysNothing        ? Kind::Unsized
                                     : Kind::Regular;
    *stamp = {info.st_size, nanoseconds(info.st_mtim), nanoseconds(info.st_ctim),
              info.st_nlink > 0};
    return true;
}

long long position(int fd)
{
    return ::lseek(fd, 0, SEEK_CUR);
}

long long readAt(int fd, char *data, std::size_t size, long long offset, int *error)
{
    for (;;) {
        const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR) {
            *error = got < 0 ? errno : 0;
            return got;
        }
    }
}

long long readWhenReady(int fd, char *data, std::size_t size, int interruptFd, int *error)
{
    // A pipe opened without waiting reads as ended until its writer came;
    // poll() waits for it, and for a descriptor handed to us non-blocking.
    for (;;) {
        pollfd waits[2] = {{fd, POLLIN, 0}, {interruptFd, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return -1;
        }
        // The byte stays in the pipe: whoever set it up sees it too.
        if (waits[1].revents & POLLIN)
            return Interrupted;
        const ssize_t got = ::read(fd, data, size);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        *error = got < 0 ? errno : 0;
        return got;
    }
}

bool writeAll(int fd, const char *data, std::size_t size, int *error)
{
    for (std::size_t written = 0; written < size;) {
        const ssize_t put = ::write(fd, data + written, size - written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            *error = put < 0 ? errno : ENOSPC;
            return false;
        }
        written += static_cast<std::size_t>(put);
    }
    return true;
}

int makeUnnamed(const std::string &folder, int *error)
{
    std::string pattern = folder + "/varnet-send-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        *error = errno;
    else
        ::unlink(pattern.c_str());
    return fd;
}

} // namespace platform::file
