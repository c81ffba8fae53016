#include "platform/spooler.h"

#include "cupsconnection.h"
#include "cupsjobs.h"

#include <algorithm>

namespace {

// Bounded pieces let the library notice an early answer from the scheduler
// (a refused job) between writes instead of after the whole file.
constexpr std::size_t WriteChunk = 256 * 1024;

// Withdrawing a job must still work after a stop, and must not hold up the
// end for long when the scheduler has gone silent.
constexpr int WithdrawTimeoutMs = 5000;

class CupsSpooler final : public Spooler
{
public:
    ~CupsSpooler() override
    {
        cancelJob();
        close();
    }

    void setWaitLimits(const WaitLimits &limits) override { m_limits = limits; }

    bool open(const std::string &printerName) override
    {
        close();
        m_lost = false;
        m_failure = Failure::Refused;
        // The library would take an empty name for "the default queue".
        if (printerName.empty()) {
            m_error = "no printer name given";
            return false;
        }
        // A connection of our own: the shared default one waits for ever on a
        // scheduler that does not answer, and a job streamed on it could not
        // be cancelled over it while half-sent.
        m_connection = std::make_unique<CupsConnection>(m_limits);
        if (!m_connection->openScheduler()) {
            m_lost = true;
            m_error = m_connection->failureText(libraryError("the scheduler cannot be reached"));
            return false;
        }
        return findQueue(printerName);
    }

    bool startDocument(const std::string &documentName) override
    {
        m_finished = false;
        // Asked directly: the library's job creation looks the queue up
        // again, on connections of its own that wait without bound.
        ipp_t *request = newRequest(IPP_OP_CREATE_JOB, queueUri(m_name));
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                     documentName.c_str());
        const IppResponse response =
            takeResponse(cupsDoRequest(m_connection->call(), request, resource().c_str()));
        if (!answeredYes(response))
            return false;
        ipp_attribute_t *id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
        m_job = id != nullptr ? ippGetInteger(id, 0) : 0;
        if (m_job <= 0) {
            m_job = 0;
            m_error = "the scheduler's answer names no job";
            return false;
        }
        m_documentName = documentName;
        return true;
    }

    // Pages are a Windows spooler notion; a raw CUPS document has none.
    bool startPage() override { return true; }
    bool endPage() override { return true; }

    std::size_t write(const char *data, std::size_t size) override
    {
        // The scheduler refuses a document without bytes, so the document
        // is only opened once there is something to put in it.
        if (size > 0 && !m_streaming) {
            const http_status_t status =
                cupsStartDocument(m_connection->sendingCall(), m_name.c_str(), m_job,
                                  m_documentName.c_str(), CUPS_FORMAT_RAW, 1);
            if (status != HTTP_STATUS_CONTINUE) {
                failedWrite();
                return 0;
            }
            m_streaming = true;
        }
        std::size_t written = 0;
        while (written < size) {
            const std::size_t piece = std::min(WriteChunk, size - written);
            const http_status_t status =
                cupsWriteRequestData(m_connection->sendingCall(), data + written, piece);
            if (status != HTTP_STATUS_CONTINUE) {
                failedWrite();
                break;
            }
            written += piece;
        }
        return written;
    }

    bool endDocument() override
    {
        // Only an answer of success counts: a connection that closes or goes
        // silent instead has not been shown to hold the whole job.
        const IppResponse response = takeResponse(
            m_streaming ? cupsGetResponse(m_connection->call(), resource().c_str()) : closeEmptyJob());
        m_streaming = false;
        if (!answeredYes(response))
            return false;
        if (!m_connection->requestTaken()) {
            m_lost = true;
            m_error = "the scheduler answered before it had taken the whole job";
            if (const std::string why = m_connection->failureText({}); !why.empty())
                m_error += ": " + why;
            return false;
        }
        m_finished = true;
        return true;
    }

    void cancelJob() override
    {
        if (m_job == 0 || m_finished)
            return;
        // Dropping the connection ends a request still being streamed; the
        // cancel then goes over a fresh one.
        if (m_connection)
            m_connection->abort();
        const WaitLimits limits{std::min(m_limits.connectTimeoutMs, WithdrawTimeoutMs),
                                std::min(m_limits.responseTimeoutMs, WithdrawTimeoutMs), nullptr};
        CupsConnection connection(limits);
        if (connection.openScheduler())
            cupsCancelJob2(connection.call(), m_name.c_str(), m_job, 0);
        m_job = 0;
        m_streaming = false;
    }

    bool close() override
    {
        if (m_connection)
            m_connection->close();
        return true;
    }

    int jobId() const override { return m_job; }

    // Over a connection of its own: the job's was closed with the job.
    JobEnd followJob(const JobWatch &watch) override
    {
        CupsConnection connection(m_limits);
        if (!connection.openScheduler()) {
            if (connection.stopped())
                return {JobEnd::Kind::Stopped, {}, {}};
            return {JobEnd::Kind::Lost, {}, connection.failureText("the scheduler cannot be reached")};
        }
        return ::followJob(connection, queueUri(m_name), "/", m_job, m_limits.stop, watch);
    }

    std::string errorText() const override { return m_error; }
    Failure failure() const override { return m_lost ? Failure::Lost : m_failure; }

private:
    // An empty file makes a job without documents: closing it tells the
    // scheduler nothing more is coming, and it ends the job without
    // bothering the printer.
    ipp_t *closeEmptyJob()
    {
        return cupsDoRequest(m_connection->call(),
                             newRequest(IPP_OP_CLOSE_JOB, queueUri(m_name), m_job), "/jobs/");
    }

    // Asked directly rather than through the library's destination lookup,
    // which falls back on connections of its own that wait without bound;
    // and before the job, so that a queue that takes none gets no data.
    bool findQueue(const std::string &printerName)
    {
        const PrinterAnswer answer = askPrinter(*m_connection, queueUri(printerName), "/");
        m_error = answer.error;
        switch (answer.kind) {
        case PrinterAnswer::Kind::Ready:
            // The scheduler matches names regardless of case; jobs go to the
            // name it knows.
            m_name = answer.name.empty() ? printerName : answer.name;
            return true;
        case PrinterAnswer::Kind::Unknown:
            m_failure = Failure::NoPrinter;
            break;
        case PrinterAnswer::Kind::NotAccepting:
            m_failure = Failure::NotAccepting;
            m_error = "the queue is not accepting jobs" +
                      (answer.state.empty() ? "" : " (printer " + answer.state + ")");
            break;
        case PrinterAnswer::Kind::Busy:
            m_failure = Failure::Busy;
            break;
        case PrinterAnswer::Kind::Refused:
            break;
        case PrinterAnswer::Kind::Lost:
            m_lost = true;
            break;
        }
        return false;
    }

    static std::string queueUri(const std::string &name)
    {
        char uri[HTTP_MAX_URI];
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s", name.c_str());
        return uri;
    }

    std::string resource() const { return "/printers/" + m_name; }

    // The scheduler answered, and with success; else why not.
    bool answeredYes(const IppResponse &response)
    {
        if (!response)
            return failed("the scheduler did not answer");
        if (!ippSucceeded(ippGetStatusCode(response.get()))) {
            m_error = ippStatusText(response.get());
            return false;
        }
        return true;
    }

    // A call failed: silence, a broken connection or a stop is a lost
    // connection; anything else the scheduler's refusal in its own words.
    bool failed(const char *fallback)
    {
        http_t *http = m_connection->handle();
        m_lost = m_connection->stopped() || m_connection->timedOut() ||
                 (http != nullptr && httpError(http) != 0);
        m_error = m_lost ? m_connection->failureText(fallback) : libraryError(fallback);
        return false;
    }

    // The scheduler may have answered (a refusal) instead of taking the
    // data; its answer says why.
    void failedWrite()
    {
        if (!m_connection->stopped() && !m_connection->timedOut()) {
            const IppResponse response =
                takeResponse(cupsGetResponse(m_connection->sendingCall(), resource().c_str()));
            if (response && !ippSucceeded(ippGetStatusCode(response.get()))) {
                m_error = ippStatusText(response.get());
                return;
            }
            if (const http_status_t status = httpGetStatus(m_connection->handle());
                status >= HTTP_STATUS_BAD_REQUEST) {
                m_error = httpStatus(status);
                return;
            }
            if (response) {
                m_lost = true;
                m_error = "the scheduler answered before it had all the data";
                return;
            }
        }
        m_lost = true;
        m_error = m_connection->failureText("the connection to the scheduler broke");
    }

    WaitLimits m_limits;
    std::unique_ptr<CupsConnection> m_connection;
    std::string m_name;
    int m_job = 0;
    bool m_finished = false; // the scheduler has the whole job; no cancelling it now
    std::string m_documentName;
    bool m_streaming = false;
    bool m_lost = false;
    Failure m_failure = Failure::Refused;
    std::string m_error;
};

} // namespace

std::unique_ptr<Spooler> createSystemSpooler()
{
    return std::make_unique<CupsSpooler>();
}
