#pragma once

#include "platform/outcome.h"
#include "platform/waitlimits.h"

#include <cups/cups.h>

#include <chrono>
#include <memory>
#include <string>

// One connection to the scheduler or to a network printer whose every
// blocking library call gives up when the peer has been silent for the
// response time-out, or soon after the stop flag is set. Not movable: the
// library's time-out callback holds its address.
class CupsConnection
{
public:
    explicit CupsConnection(const WaitLimits &limits) : m_limits(limits) {}
    ~CupsConnection() { close(); }
    CupsConnection(const CupsConnection &) = delete;
    CupsConnection &operator=(const CupsConnection &) = delete;

    // host: a name, an address, or the path of a Unix socket; peer: who is
    // there, for messages ("the printer").
    bool open(const std::string &host, int port, http_encryption_t encryption,
              const std::string &peer);
    // The scheduler this process is pointed at (CUPS_SERVER, client.conf).
    bool openScheduler() { return open(cupsServer(), ippPort(), cupsEncryption(), "the scheduler"); }
    // Closes with a reset, so a request cut off mid-document cannot look
    // complete to the peer.
    void abort();
    // A fresh connection to the same peer, after it closed the last one.
    bool reconnect();
    void close();
    bool isOpen() const { return m_http != nullptr; }
    const std::string &peer() const { return m_peer; }

    // The handle for the next library call; the silence that counts
    // towards the response time-out starts here.
    http_t *call();
    // The same for a call that sends data: a peer that answers instead of
    // taking it ends the call, so its answer can be read.
    http_t *sendingCall();
    // The handle as it is, for asking about the last call.
    http_t *handle() const { return m_http; }

    // After a successful answer to a request that carried a document: waits
    // until the peer's system has acknowledged every byte we sent, as long
    // as the response time-out allows. TransferFailed when the peer reset the
    // rest or stays silent: a peer that answers before the document has
    // arrived whole and then closes has not taken the job, whatever it said.
    // Over a local socket, where such a peer makes the writes fail, always
    // Delivered.
    SendResult requestTaken();
    // After the peer broke off a request that carried data: its refusal
    // where it answered one, else TransferFailed with what broke (early:
    // the words for a peer that answered yes too soon).
    SendResult brokenOff(const std::string &resource, const char *early, const char *fallback);

    // A moment after which every call gives up at once, however long the
    // response time-out would still allow; a default one clears it.
    void setDeadline(std::chrono::steady_clock::time_point deadline) { m_deadline = deadline; }
    // Why the last call failed, where it was not the peer's answer.
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
    bool m_answeredEarly = false;
};

using IppResponse = std::unique_ptr<ipp_t, decltype(&ippDelete)>;

inline IppResponse takeResponse(ipp_t *response)
{
    return IppResponse(response, &ippDelete);
}

// A request about the printer at printerUri, and one of its jobs where
// jobId is not 0, from this user.
ipp_t *newRequest(ipp_op_t operation, const std::string &printerUri, int jobId = 0);
// The library's words for its last failure, or fallback when it has none.
std::string libraryError(const char *fallback);
// A response's status as an outcome (Delivered when the request was
// carried out), with the peer's own words for it ("status-message") or the
// status's standard name.
SendResult ippAnswer(ipp_t *response);
// An HTTP refusal: a resource not found names no printer there.
SendResult httpRefusal(http_status_t status);
