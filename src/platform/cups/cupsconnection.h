#pragma once

#include "platform/outcome.h"
#include "platform/waitlimits.h"

#include <cups/cups.h>

#include <chrono>
#include <memory>
#include <string>

// Blocking library calls that give up after the response time-out of silence,
// or soon after a stop. Not movable: the time-out callback holds its address.
class CupsConnection
{
public:
    explicit CupsConnection(const WaitLimits &limits) : m_limits(limits) {}
    ~CupsConnection() { close(); }
    CupsConnection(const CupsConnection &) = delete;
    CupsConnection &operator=(const CupsConnection &) = delete;

    // host: a name, an address or a Unix socket's path; peer: "the printer".
    bool open(const std::string &host, int port, http_encryption_t encryption,
              const std::string &peer);
    // The scheduler this process is pointed at (CUPS_SERVER, client.conf).
    bool openScheduler() { return open(cupsServer(), ippPort(), cupsEncryption(), "the scheduler"); }
    // Closes with a reset: a request cut off mid-document cannot look whole.
    void abort();
    bool reconnect();
    void close();
    bool isOpen() const { return m_http != nullptr; }
    const std::string &peer() const { return m_peer; }

    // The handle for the next library call; silence counts from here.
    http_t *call();
    // For a call that sends data: a peer that answers instead ends the call.
    http_t *sendingCall();
    http_t *handle() const { return m_http; }

    // After a yes to a request with a document: waits until the peer
    // acknowledged every byte, else TransferFailed. Delivered over a local socket.
    SendResult requestTaken();
    // After it every call gives up at once; a default one clears it.
    void setDeadline(std::chrono::steady_clock::time_point deadline) { m_deadline = deadline; }
    bool pastDeadline() const { return m_pastDeadline; }
    bool stopped() const { return m_stopped; }
    bool timedOut() const { return m_timedOut; }
    // The stop flag, a time-out, the system's error on the connection, or fallback.
    std::string failureText(const std::string &fallback) const;

private:
    static int keepWaiting(http_t *http, void *context);

    WaitLimits m_limits;
    std::string m_peer;
    http_t *m_http = nullptr;
    std::chrono::steady_clock::time_point m_silentSince;
    std::chrono::steady_clock::time_point m_lastSlice;
    std::chrono::steady_clock::time_point m_deadline{};
    bool m_sending = false;
    bool m_pastDeadline = false;
    bool m_stopped = false;
    bool m_timedOut = false;
    int m_connectError = 0; // the system's reason the last open failed, if learnt
    bool m_answeredEarly = false;
};

using IppResponse = std::unique_ptr<ipp_t, decltype(&ippDelete)>;

inline IppResponse takeResponse(ipp_t *response)
{
    return IppResponse(response, &ippDelete);
}

std::string libraryError(const char *fallback);
