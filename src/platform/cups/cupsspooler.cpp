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

class CupsSpooler final : public CupsJobSpooler
{
public:
    ~CupsSpooler() override
    {
        cancelJob();
        close();
    }

    bool open(const std::string &printerName) override
    {
        close();
        // The library would take an empty name for "the default queue".
        if (printerName.empty())
            return fail({SendOutcome::NoPrinter, "no printer name given"});
        // A connection of our own: the shared default one waits for ever on a
        // scheduler that does not answer, and a job streamed on it could not
        // be cancelled over it while half-sent.
        m_connection = std::make_unique<CupsConnection>(m_limits);
        if (!m_connection->openScheduler())
            return fail({SendOutcome::ConnectionFailed,
                         m_connection->failureText(libraryError("the scheduler cannot be reached"))});
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
        m_job = id != nullptr ? std::max(ippGetInteger(id, 0), 0) : 0;
        if (m_job == 0)
            return fail({SendOutcome::SpoolerRefused, "the scheduler's answer names no job"});
        m_documentName = documentName;
        return true;
    }

    std::size_t write(const char *data, std::size_t size) override
    {
        // The scheduler refuses a document without bytes, so the document
        // is only opened once there is something to put in it.
        if (size > 0 && !m_streaming) {
            if (cupsStartDocument(m_connection->sendingCall(), m_name.c_str(), m_job,
                                  m_documentName.c_str(), CUPS_FORMAT_RAW, 1) != HTTP_STATUS_CONTINUE)
                return failedWrite(0);
            m_streaming = true;
        }
        for (std::size_t written = 0; written < size;) {
            const std::size_t piece = std::min(WriteChunk, size - written);
            if (cupsWriteRequestData(m_connection->sendingCall(), data + written, piece) !=
                HTTP_STATUS_CONTINUE)
                return failedWrite(written);
            written += piece;
        }
        return size;
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
        if (SendResult taken = m_connection->requestTaken(); taken.outcome != SendOutcome::Delivered)
            return fail(std::move(taken));
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
        // After a stop it ends at once, before any question.
        if (connection.openScheduler() || connection.stopped())
            return ::followJob(connection, queueUri(m_name), "/", m_job, m_limits.stop, watch);
        return {{SendOutcome::TransferFailed,
                 "the job's end could not be followed: " +
                     connection.failureText("the scheduler cannot be reached")},
                {}};
    }

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
        if (answer.outcome == SendOutcome::Delivered && answer.accepting) {
            // The scheduler matches names regardless of case; jobs go to the
            // name it knows.
            m_name = answer.name.empty() ? printerName : answer.name;
            return true;
        }
        if (answer.outcome == SendOutcome::Delivered)
            return fail({SendOutcome::SpoolerRefused,
                         "the queue is not accepting jobs" +
                             (answer.state.empty() ? "" : " (printer " + answer.state + ")")});
        // A scheduler that will not say is taken as having no such queue.
        return fail({answer.outcome == SendOutcome::SpoolerRefused ? SendOutcome::NoPrinter
                                                                   : answer.outcome,
                     answer.sentence});
    }

    static std::string queueUri(const std::string &name)
    {
        char uri[HTTP_MAX_URI];
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s", name.c_str());
        return uri;
    }

    std::string resource() const { return "/printers/" + m_name; }

    // The scheduler answered, and with success; else why not. Once the queue
    // was found, any refusal of the job is the scheduler's refusal.
    bool answeredYes(const IppResponse &response)
    {
        // No answer: a stop, silence or a broken connection broke the
        // transfer; anything else is a refusal in the library's words.
        const char *const silent = "the scheduler did not answer";
        if (!response && (m_connection->stopped() || m_connection->timedOut() ||
                          (m_connection->isOpen() && httpError(m_connection->handle()) != 0)))
            return fail({SendOutcome::TransferFailed, m_connection->failureText(silent)});
        if (!response)
            return fail({SendOutcome::SpoolerRefused, libraryError(silent)});
        if (const SendResult answer = ippAnswer(response.get());
            answer.outcome != SendOutcome::Delivered)
            return fail({SendOutcome::SpoolerRefused, answer.sentence});
        return true;
    }

    // The scheduler may have answered (a refusal) instead of taking the
    // data; its answer says why.
    std::size_t failedWrite(std::size_t written)
    {
        SendResult broken = m_connection->brokenOff(
            resource(), "the scheduler answered before it had all the data",
            "the connection to the scheduler broke");
        if (broken.outcome != SendOutcome::TransferFailed)
            broken.outcome = SendOutcome::SpoolerRefused;
        fail(std::move(broken));
        return written;
    }

    std::string m_name;
    int m_job = 0;
    bool m_finished = false; // the scheduler has the whole job; no cancelling it now
    std::string m_documentName;
    bool m_streaming = false;
};

} // namespace

std::unique_ptr<Spooler> createSystemSpooler()
{
    return std::make_unique<CupsSpooler>();
}
