#include "platform/platform.h"

#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <io.h>

namespace platform::console {

namespace {

// The Windows counterpart of the self-pipe: a loopback connection, since an
// event loop can watch only sockets there. The console's handler runs on a
// thread of its own and may send; the loop reads the other end.
std::atomic<SOCKET> interruptWriter{INVALID_SOCKET};

BOOL WINAPI onConsoleEvent(DWORD event)
{
    // Ctrl-C cancels as SIGINT does; Ctrl-Break, a closed console window, a
    // logoff or shutdown as SIGTERM, so the statuses are those on Linux.
    const char signal = static_cast<char>(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    // Before the loop listens nothing has gone out yet, and nothing needs a
    // reset: the program ends by the signal at once.
    if (interruptWriter == INVALID_SOCKET || send(interruptWriter, &signal, 1, 0) != 1)
        endBySignal(signal);
    // The system ends the process as soon as the handler of a closing
    // console returns; waiting gives the loop its few seconds to reset the
    // connections and write the summary, then endBySignal ends it.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

// From the first moment, not only once the loop listens: Wine ends a program
// that has no handler of its own with status 0, which a script would take
// for a delivery.
[[maybe_unused]] const BOOL handlerInstalled = SetConsoleCtrlHandler(onConsoleEvent, TRUE);

SOCKET loopbackPair(SOCKET *writer)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return INVALID_SOCKET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    auto *const name = reinterpret_cast<sockaddr *>(&address);
    SOCKET reader = INVALID_SOCKET;
    *writer = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener != INVALID_SOCKET && *writer != INVALID_SOCKET && bind(listener, name, length) == 0 &&
        listen(listener, 1) == 0 && getsockname(listener, name, &length) == 0 &&
        connect(*writer, name, length) == 0)
        reader = accept(listener, nullptr, nullptr);
    closesocket(listener);
    if (reader == INVALID_SOCKET) {
        closesocket(*writer);
        *writer = INVALID_SOCKET;
    }
    return reader;
}

} // namespace

bool holdStandardDescriptors()
{
    // A program started without a standard handle gets none in the C
    // runtime's table; NUL holds its place so that nothing else takes it.
    bool inputClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1)
            continue;
        inputClosed = inputClosed || fd == 0;
        const int held = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (held >= 0 && held != fd) {
            _dup2(held, fd);
            _close(held);
        }
    }
    return inputClosed;
}

bool isStandardInput(const std::string &)
{
    // No file name stands for the standard input a program was handed.
    return false;
}

int catchInterrupts()
{
    SOCKET writer = INVALID_SOCKET;
    const SOCKET reader = loopbackPair(&writer);
    if (reader == INVALID_SOCKET)
        return -1;
    interruptWriter = writer;
    // Socket handles are small numbers, as the event loop's notifier takes them.
    return static_cast<int>(reader);
}

int takeInterrupt(int descriptor)
{
    // Never waits: only a byte already there is taken.
    WSAPOLLFD entry{static_cast<SOCKET>(descriptor), POLLRDNORM, 0};
    char signal = 0;
    if (WSAPoll(&entry, 1, 0) != 1 || recv(static_cast<SOCKET>(descriptor), &signal, 1, 0) != 1)
        return 0;
    return static_cast<unsigned char>(signal);
}

void endBySignal(int signal)
{
    std::fflush(nullptr);
    // Windows has no death by a signal; the status a shell on Linux sees stands in.
    ExitProcess(static_cast<UINT>(128 + signal));
}

bool errorIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

bool inputIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

std::string signalName(int signal)
{
    // The console events stand in for these two (see catchInterrupts).
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : std::to_string(signal);
}

TerminalSize errorTerminalSize()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return {};
    return {info.srWindow.Right - info.srWindow.Left + 1, info.srWindow.Bottom - info.srWindow.Top + 1};
}

void raiseOpenFileLimit()
{
    // Sockets are handles, not C runtime descriptors: no limit applies to them.
}

long long descriptorsLeft()
{
    return -1;
}

long long peakMemoryKiB()
{
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return static_cast<long long>(counters.PeakWorkingSetSize / 1024);
}

} // namespace platform::console
