#include "platform/tcpconnection.h"

#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

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
