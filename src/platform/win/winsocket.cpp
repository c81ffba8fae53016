#include "platform/tcpconnection.h"
#include "wintext.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <string>

namespace platform::tcp {

namespace {

SOCKET handle(Socket socket)
{
    return static_cast<SOCKET>(socket);
}

// Qt starts Winsock only for its own sockets.
void startWinsock()
{
    [[maybe_unused]] static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
}

Result failure(int error)
{
    return failed(error, error == WSAEWOULDBLOCK);
}

// Some Winsocks let recv report a reset as an end of stream; the poll state's
// error flag still tells the two apart.
bool hasErrorFlag(Socket socket)
{
    WSAPOLLFD entry{};
    entry.fd = handle(socket);
    entry.events = POLLRDNORM;
    return WSAPoll(&entry, 1, 0) == 1 && (entry.revents & POLLERR) != 0;
}

// On: a close resets at once; off: the system delivers what it holds first.
void setLinger(SOCKET s, bool reset)
{
    linger option{};
    option.l_onoff = reset ? 1 : 0;
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&option), sizeof option);
}

int chunk(std::size_t size)
{
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

} // namespace

Socket startConnect(const std::string &address, std::uint16_t port, Result *result)
{
    startWinsock();
    ADDRINFOA hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOA *found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        *result = failure(WSAEINVAL);
        return NoSocket;
    }
    const SOCKET s = ::socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *result = failure(WSAGetLastError());
        freeaddrinfo(found);
        return NoSocket;
    }
    // A process that ends without the orderly close resets its connections.
    setLinger(s, true);
    u_long nonBlocking = 1;
    int status = ioctlsocket(s, static_cast<long>(FIONBIO), &nonBlocking);
    if (status == 0)
        status = ::connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen));
    int error = status == 0 ? 0 : WSAGetLastError();
    freeaddrinfo(found);
    // A refusal that came at once (a closed port on this machine) is taken
    // now: Wine posts no connect event for a connection that failed before
    // the event loop started watching it.
    if (error == WSAEWOULDBLOCK && hasErrorFlag(static_cast<Socket>(s)))
        error = pendingError(static_cast<Socket>(s));
    if (status == 0 || error == WSAEWOULDBLOCK) {
        *result = status == 0 ? Result::done(0) : failure(WSAEWOULDBLOCK);
        return static_cast<Socket>(s);
    }
    closesocket(s);
    *result = failure(error);
    return NoSocket;
}

Result finishConnect(Socket socket)
{
    const int error = pendingError(socket);
    return error == 0 ? Result::done(0) : failure(error);
}

Result send(Socket socket, const char *data, std::size_t size)
{
    const int sent = ::send(handle(socket), data, chunk(size), 0);
    if (sent == SOCKET_ERROR)
        return failure(WSAGetLastError());
    return Result::done(static_cast<std::size_t>(sent));
}

// TransmitFile exists, but it blocks or needs overlapped sockets; the
// read-and-send path serves instead.
bool canSendFromFile()
{
    return false;
}

Result sendFromFile(Socket, int, std::int64_t, std::size_t)
{
    return failure(WSAEOPNOTSUPP);
}

Result receive(Socket socket, char *data, std::size_t size)
{
    const int got = ::recv(handle(socket), data, chunk(size), 0);
    if (got == SOCKET_ERROR)
        return failure(WSAGetLastError());
    if (got == 0) {
        if (hasErrorFlag(socket))
            return failure(WSAECONNRESET);
        return {Status::EndOfStream};
    }
    return Result::done(static_cast<std::size_t>(got));
}

int pendingError(Socket socket)
{
    int error = 0;
    int length = sizeof error;
    if (getsockopt(handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error),
                   &length) != 0)
        return WSAGetLastError();
    if (error == 0 && hasErrorFlag(socket))
        return WSAECONNRESET;
    return error;
}

bool isResetError(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET;
}

bool isOutOfDescriptors(int error)
{
    return error == WSAEMFILE || error == WSAENOBUFS;
}

bool shutdownSending(Socket socket)
{
    return ::shutdown(handle(socket), SD_SEND) == 0;
}

void limitUnsent(Socket socket, std::size_t bytes)
{
    // No limit on unsent bytes alone; the send buffer bounds them with those in flight.
    const int size = chunk(bytes);
    setsockopt(handle(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char *>(&size),
               sizeof size);
}

long long unacknowledgedBytes(Socket)
{
    return -1;
}

long long unsentBytes(Socket)
{
    return -1;
}

void closeAbortively(Socket socket)
{
    closesocket(handle(socket));
}

void closeGracefully(Socket socket)
{
    setLinger(handle(socket), false);
    closesocket(handle(socket));
}

std::string errorText(int error)
{
    // Worded as strerror words it, without the closing full stop: callers end the sentence.
    std::string text = systemErrorText(static_cast<unsigned long>(error));
    if (text.ends_with('.'))
        text.pop_back();
    return text;
}

} // namespace platform::tcp
