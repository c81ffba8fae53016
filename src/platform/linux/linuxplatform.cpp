#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string commandLineText(int argc, char **argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
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

bool noDisplay()
{
    const auto empty = [](const char *name) {
        const char *value = std::getenv(name);
        return value == nullptr || *value == '\0';
    };
    return empty("DISPLAY") && empty("WAYLAND_DISPLAY") && empty("QT_QPA_PLATFORM");
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
