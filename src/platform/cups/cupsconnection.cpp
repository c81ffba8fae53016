#include "cupsconnection.h"

#include "platform/tcpconnection.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// The library asks between slices whether to go on: a stop's delay.
constexpr std::chrono::milliseconds Slice{250};

// Else the library asks on the terminal, without bound.
const char *noPassword(const char *, http_t *, const char *, const char *, void *)
{
    return nullptr;
}

// The library reports every failed connect as "host is down"; one plain
// attempt at the first address learns the system's reason, within a slice
// so that a stop is not held up; it sends nothing. 0: nothing learnt.
int connectError(const std::string &host, int port)
{
    http_addrlist_t *addresses =
        httpAddrGetList(host.c_str(), AF_UNSPEC, std::to_string(port).c_str());
    int error = 0;
    const int fd = addresses != nullptr
                       ? ::socket(httpAddrFamily(&addresses->addr), SOCK_STREAM | SOCK_CLOEXEC, 0)
                       : -1;
    if (fd >= 0) {
        const timeval limit{0, std::chrono::microseconds(Slice).count()};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        if (::connect(fd, &addresses->addr.addr,
                      static_cast<socklen_t>(httpAddrLength(&addresses->addr))) != 0 &&
            errno != EINPROGRESS && errno != EINTR)
            error = errno;
        ::close(fd);
    }
    httpAddrFreeList(addresses);
    return error;
}

} // namespace

bool CupsConnection::open(const std::string &host, int port, http_encryption_t encryption,
                          const std::string &peer)
{
    close();
    m_peer = peer;
    cupsSetPasswordCB2(&noPassword, nullptr); // the library keeps one per thread
    m_stopped = false;
    m_timedOut = false;
    m_connectError = 0;
    errno = 0;
    m_http = httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, encryption, 1,
                          m_limits.connectTimeoutMs,
                          m_limits.stop != nullptr ? m_limits.stop->pollable() : nullptr);
    if (m_http == nullptr) {
        m_stopped = m_limits.stop != nullptr && m_limits.stop->isSet();
        m_timedOut = !m_stopped && errno == ETIMEDOUT;
        // The scheduler's callers name the place that does not answer instead.
        if (!m_stopped && !m_timedOut && peer != "the scheduler")
            m_connectError = connectError(host, port);
        return false;
    }
    httpSetTimeout(m_http, std::chrono::duration<double>(Slice).count(), &keepWaiting, this);
    return true;
}

bool CupsConnection::reconnect()
{
    if (m_http == nullptr)
        return false;
    call();
    return httpReconnect2(m_http, m_limits.connectTimeoutMs,
                          m_limits.stop != nullptr ? m_limits.stop->pollable() : nullptr) == 0;
}

void CupsConnection::abort()
{
    if (const int fd = httpGetFd(m_http); fd >= 0) {
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    close();
}

void CupsConnection::close()
{
    httpClose(std::exchange(m_http, nullptr)); // the library passes over a null one
}

http_t *CupsConnection::call()
{
    m_silentSince = m_lastSlice = Clock::now();
    m_sending = false;
    m_pastDeadline = false;
    m_stopped = false;
    m_timedOut = false;
    m_answeredEarly = false;
    return m_http;
}

http_t *CupsConnection::sendingCall()
{
    call();
    m_sending = true;
    return m_http;
}

int CupsConnection::keepWaiting(http_t *, void *context)
{
    auto *self = static_cast<CupsConnection *>(context);
    // Once one request of a call went unanswered, the rest get no allowance.
    if (self->m_timedOut || self->m_answeredEarly || self->m_pastDeadline)
        return 0;
    if (self->m_limits.stop != nullptr && self->m_limits.stop->isSet()) {
        self->m_stopped = true;
        return 0;
    }
    // A refusal answered mid-write: the library, waiting to write, would not see it.
    if (self->m_sending) {
        pollfd readable{httpGetFd(self->m_http), POLLIN, 0};
        if (::poll(&readable, 1, 0) > 0) {
            self->m_answeredEarly = true;
            return 0;
        }
    }
    // A gap longer than a slice means the peer did something: silence starts afresh.
    const Clock::time_point now = Clock::now();
    if (self->m_deadline != Clock::time_point{} && now >= self->m_deadline) {
        self->m_pastDeadline = true;
        return 0;
    }
    if (now - self->m_lastSlice > Slice + Slice / 2)
        self->m_silentSince = now - Slice;
    self->m_lastSlice = now;
    if (now - self->m_silentSince >= std::chrono::milliseconds(self->m_limits.responseTimeoutMs)) {
        self->m_timedOut = true;
        return 0;
    }
    return 1;
}

SendResult CupsConnection::requestTaken()
{
    const int fd = m_http != nullptr ? httpGetFd(m_http) : -1;
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0 ||
        (address.ss_family != AF_INET && address.ss_family != AF_INET6))
        return {};
    sendingCall();
    for (;;) {
        tcp_info info{};
        socklen_t length = sizeof info;
        const int error = platform::tcp::pendingError(fd);
        const long long unacknowledged = platform::tcp::unacknowledgedBytes(fd);
        if (error == 0 && unacknowledged == 0)
            return {};
        if (error != 0 || unacknowledged < 0 ||
            ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
            info.tcpi_state == TCP_CLOSE)
            break;
        if (m_limits.stop != nullptr && m_limits.stop->isSet()) {
            m_stopped = true;
            break;
        }
        if (Clock::now() - m_silentSince >= std::chrono::milliseconds(m_limits.responseTimeoutMs)) {
            m_timedOut = true;
            break;
        }
        // No event tells when the peer acknowledges.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string why = failureText({});
    return {SendOutcome::TransferFailed,
            m_peer + " answered before it had taken the whole job" + (why.empty() ? "" : ": " + why)};
}

std::string CupsConnection::failureText(const std::string &fallback) const
{
    if (m_stopped)
        return "cancelled";
    if (m_timedOut) {
        const bool connecting = m_http == nullptr;
        const int ms = connecting ? m_limits.connectTimeoutMs : m_limits.responseTimeoutMs;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(ms) / 1000.0);
        const char *what = connecting ? " did not accept the connection within "
                           : m_sending ? " took nothing for "
                                       : " did not answer within ";
        return m_peer + what + seconds + " s";
    }
    // Ended as a direct connection to a port ends it, so both read alike.
    if (m_http == nullptr && m_connectError != 0)
        return std::strerror(m_connectError) + std::string(".");
    if (m_http != nullptr && httpError(m_http) == EPIPE)
        return "the connection was closed";
    if (m_http != nullptr && httpError(m_http) != 0)
        return std::strerror(httpError(m_http));
    return fallback;
}

std::string libraryError(const char *fallback)
{
    const char *text = cupsLastErrorString();
    return (text != nullptr && *text != '\0') ? text : fallback;
}
