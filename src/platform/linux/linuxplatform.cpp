#include "platform/fileaccess.h"
#include "platform/platform.h"
#include "platform/tcpconnection.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform {

std::string commandLineText(int argc, char **argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i)
        text += (i > 1 ? " " : "") + std::string(argv[i]);
    return text;
}

std::uint32_t systemColor(SystemColor)
{
    // Both colours we use are the same grey in the classic desktop scheme.
    return 0xD4D0C8;
}

void adviseLargeBuffer(void *data, std::size_t size)
{
    // madvise wants whole pages; the ends of the buffer may share theirs.
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

const bool starDotStarMeansAll = false;
const bool settingsInRegistry = false;
const bool ippDirect = true;
const bool snmpAgent = true;

bool noDisplay()
{
    const auto empty = [](const char *name) {
        const char *value = std::getenv(name);
        return value == nullptr || *value == '\0';
    };
    return empty("DISPLAY") && empty("WAYLAND_DISPLAY") && empty("QT_QPA_PLATFORM");
}

std::string userName()
{
    const passwd *entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : std::string();
}

namespace console {

namespace {

int interruptPipe[2] = {-1, -1};

void onInterrupt(int signal)
{
    const int savedErrno = errno;
    const auto byte = static_cast<char>(signal);
    // A full pipe already holds enough to be heard.
    [[maybe_unused]] const ssize_t ignored = ::write(interruptPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

bool holdStandardDescriptors()
{
    bool inputClosed = false;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1)
            continue;
        if (fd == STDIN_FILENO)
            inputClosed = true;
        // The lowest free number is this one, the lower ones being open.
        ::open(fd == STDIN_FILENO ? "/" : "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
    return inputClosed;
}

bool isStandardInput(const std::string &path)
{
    struct stat held {};
    struct stat named {};
    // A plain file is opened afresh; only a stream would be shared.
    return ::fstat(STDIN_FILENO, &held) == 0 && !S_ISREG(held.st_mode) &&
           ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

int catchInterrupts()
{
    if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        // A closed terminal cancels as Ctrl-C does; under nohup the send goes on.
        struct sigaction hangUp {};
        if (::sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN)
            std::signal(SIGHUP, onInterrupt);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return interruptPipe[0];
}

int takeInterrupt(int descriptor)
{
    char byte = 0;
    if (::read(descriptor, &byte, 1) != 1)
        return 0;
    return static_cast<unsigned char>(byte);
}

void endBySignal(int signal)
{
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    // Not reached for the signals that end a program by default.
    std::_Exit(128 + signal);
}

bool errorIsTerminal()
{
    return ::isatty(STDERR_FILENO) != 0;
}

bool inputIsTerminal()
{
    return ::isatty(STDIN_FILENO) != 0;
}

std::string signalName(int signal)
{
    const char *name = ::sigabbrev_np(signal);
    return name != nullptr ? std::string("SIG") + name : std::to_string(signal);
}

TerminalSize errorTerminalSize()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
        return {};
    return {size.ws_col, size.ws_row};
}

void raiseOpenFileLimit()
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return;
    if (files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}

long long descriptorsLeft()
{
    rlimit files{};
    std::error_code error;
    const std::filesystem::directory_iterator open("/proc/self/fd", error);
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY || error)
        return -1;
    // The listing counts its own descriptor too.
    const long long used = std::distance(begin(open), end(open)) - 1;
    return std::max(0LL, static_cast<long long>(files.rlim_cur) - used);
}

long long peakMemoryKiB()
{
    // getrusage() would also count what a parent held before exec.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            return std::strtoll(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

} // namespace console

} // namespace platform

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

namespace platform::tcp {

namespace {

int descriptor(Socket socket)
{
    return static_cast<int>(socket);
}

Result failure(int error)
{
    return failed(error, error == EAGAIN || error == EWOULDBLOCK);
}

// On: a close resets at once; off: the system delivers what it holds first.
void setLinger(int fd, bool reset)
{
    const linger option{reset ? 1 : 0, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

long long queueSize(Socket socket, unsigned long request)
{
    int size = 0;
    if (::ioctl(descriptor(socket), request, &size) != 0)
        return -1;
    return size;
}

} // namespace

Socket startConnect(const std::string &address, std::uint16_t port, Result *result)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        *result = failure(EINVAL);
        return NoSocket;
    }
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *result = failure(errno);
        ::freeaddrinfo(found);
        return NoSocket;
    }
    // Until the orderly end, every way this descriptor closes (a failure, a
    // crash, any signal, the OOM killer) is a reset: an orderly close would
    // tell the printer a cut-off job was whole.
    setLinger(fd, true);
    int status = 0;
    do
        status = ::connect(fd, found->ai_addr, found->ai_addrlen);
    while (status != 0 && errno == EINTR);
    const int error = status == 0 ? 0 : errno;
    ::freeaddrinfo(found);
    if (status == 0 || error == EINPROGRESS) {
        *result = status == 0 ? Result::done(0) : failure(EWOULDBLOCK);
        return fd;
    }
    ::close(fd);
    *result = failure(error);
    return NoSocket;
}

Result finishConnect(Socket socket)
{
    const int error = pendingError(socket);
    return error == 0 ? Result::done(0) : failure(error == EINPROGRESS ? EWOULDBLOCK : error);
}

Result send(Socket socket, const char *data, std::size_t size)
{
    for (;;) {
        const ssize_t sent = ::send(descriptor(socket), data, size, MSG_NOSIGNAL);
        if (sent >= 0)
            return Result::done(static_cast<std::size_t>(sent));
        if (errno != EINTR)
            return failure(errno);
    }
}

bool canSendFromFile()
{
    return true;
}

Result sendFromFile(Socket socket, int fileDescriptor, std::int64_t offset, std::size_t size)
{
    // sendfile() has no MSG_NOSIGNAL: SIGPIPE is held back for this call and
    // taken away unseen, unless one was waiting before it.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t previous;
    if (!alreadyPending)
        pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    off_t from = static_cast<off_t>(offset);
    ssize_t sent = 0;
    do
        sent = ::sendfile(descriptor(socket), fileDescriptor, &from, size);
    while (sent < 0 && errno == EINTR);
    const int error = sent < 0 ? errno : 0;
    if (!alreadyPending) {
        if (error == EPIPE) {
            const timespec now{0, 0};
            sigtimedwait(&pipeSignal, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    if (sent >= 0)
        return Result::done(static_cast<std::size_t>(sent));
    return failure(error);
}

Result receive(Socket socket, char *data, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::recv(descriptor(socket), data, size, 0);
        if (got > 0)
            return Result::done(static_cast<std::size_t>(got));
        if (got == 0)
            return {Status::EndOfStream};
        if (errno != EINTR)
            return failure(errno);
    }
}

int pendingError(Socket socket)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(descriptor(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

bool isResetError(int error)
{
    return error == ECONNRESET || error == EPIPE || error == ECONNABORTED;
}

bool isOutOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

bool shutdownSending(Socket socket)
{
    return ::shutdown(descriptor(socket), SHUT_WR) == 0;
}

void limitUnsent(Socket socket, std::size_t bytes)
{
    const int limit = static_cast<int>(bytes);
    ::setsockopt(descriptor(socket), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &limit, sizeof limit);
}

long long unacknowledgedBytes(Socket socket)
{
    return queueSize(socket, SIOCOUTQ);
}

long long unsentBytes(Socket socket)
{
    return queueSize(socket, SIOCOUTQNSD);
}

void closeAbortively(Socket socket)
{
    ::close(descriptor(socket));
}

void closeGracefully(Socket socket)
{
    setLinger(descriptor(socket), false);
    ::close(descriptor(socket));
}

std::string errorText(int error)
{
    return std::strerror(error);
}

} // namespace platform::tcp
