#include "platform/spooler.h"

#include "cupsconnection.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <string_view>
#include <utility>
#include <variant>

namespace {

// Bounded pieces let the library notice an early answer (a refused job)
// between writes instead of after the whole file.
constexpr std::size_t WriteChunk = 256 * 1024;

// Withdrawing a job must still work after a stop, and must not hold up the
// end for long when the scheduler has gone silent.
constexpr int WithdrawTimeoutMs = 5000;

constexpr char Unfollowed[] = "the job's end could not be followed: ";

std::string joined(const std::string &what, const std::string &why)
{
    return why.empty() ? what : what + ": " + why;
}

// About the printer at printerUri, and its job jobId unless 0, from this user.
ipp_t *newRequest(ipp_op_t operation, const std::string &printerUri, int jobId = 0)
{
    ipp_t *request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri.c_str());
    if (jobId != 0)
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

// A response's status as an outcome (Delivered when the request was carried
// out), with the peer's words for it ("status-message") or the status's name.
SendResult ippAnswer(ipp_t *response)
{
    const ipp_status_t status = ippGetStatusCode(response);
    if (status < IPP_STATUS_REDIRECTION_OTHER_SITE)
        return {};
    SendResult answer{SendOutcome::SpoolerRefused, ippErrorString(status)};
    if (status == IPP_STATUS_ERROR_NOT_FOUND)
        answer.outcome = SendOutcome::NoPrinter;
    else if (status == IPP_STATUS_ERROR_BUSY || status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE ||
             status == IPP_STATUS_ERROR_TEMPORARY)
        answer.outcome = SendOutcome::Busy;
    const char *text = ippGetString(ippFindAttribute(response, "status-message", IPP_TAG_TEXT), 0, nullptr);
    if (text != nullptr && *text != '\0')
        answer.sentence = text;
    return answer;
}

// An HTTP refusal: a resource not found names no printer there.
SendResult httpRefusal(http_status_t status)
{
    return {status == HTTP_STATUS_NOT_FOUND             ? SendOutcome::NoPrinter
            : status == HTTP_STATUS_SERVICE_UNAVAILABLE ? SendOutcome::Busy
                                                        : SendOutcome::SpoolerRefused,
            httpStatus(status)};
}

// The keyword for a job-state or printer-state value; the library's
// "pending-held" and "processing-stopped" are shown by their last word.
std::string stateName(const char *attribute, int state, int first, int last)
{
    if (state < first || state > last)
        return "unknown";
    const std::string name = ippEnumString(attribute, state);
    return name.substr(name.rfind('-') + 1);
}

// "stopped (paused, media-empty-error): out of paper"
std::string printerState(ipp_t *response)
{
    std::string text;
    if (ipp_attribute_t *state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM))
        text = stateName("printer-state", ippGetInteger(state, 0), IPP_PSTATE_IDLE, IPP_PSTATE_STOPPED);
    std::string reasons;
    ipp_attribute_t *reason = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD);
    for (int i = 0; i < ippGetCount(reason); ++i) {
        const char *word = ippGetString(reason, i, nullptr);
        if (word != nullptr && std::string(word) != "none")
            reasons += (reasons.empty() ? "" : ", ") + std::string(word);
    }
    if (!reasons.empty())
        text += (text.empty() ? "(" : " (") + reasons + ")";
    const char *words =
        ippGetString(ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT), 0, nullptr);
    if (words != nullptr && *words != '\0')
        text += std::string(text.empty() ? "" : ": ") + words;
    return text;
}

// Before a job: Delivered when it answered, NoPrinter when there is no such
// printer, Busy, SpoolerRefused when it would not say, ConnectionFailed.
struct PrinterAnswer : SendResult
{
    std::string name{};  // printer-name, where it gives one
    std::string state{}; // "stopped (paused): out of paper"
    bool accepting = true;
};

PrinterAnswer askPrinter(CupsConnection &connection, const std::string &printerUri,
                         const std::string &resource)
{
    static const char *const wanted[] = {"printer-name", "printer-is-accepting-jobs",
                                         "printer-state", "printer-state-reasons",
                                         "printer-state-message"};
    ipp_t *request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printerUri);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(wanted)), nullptr, wanted);
    const IppResponse response =
        takeResponse(cupsDoRequest(connection.call(), request, resource.c_str()));
    if (!response) {
        const http_status_t status = httpGetStatus(connection.handle());
        if (connection.stopped() || connection.timedOut() || status < HTTP_STATUS_BAD_REQUEST)
            return {{SendOutcome::ConnectionFailed, connection.failureText(libraryError("no answer"))}};
        return {httpRefusal(status)};
    }
    PrinterAnswer answer{ippAnswer(response.get())};
    if (answer.outcome != SendOutcome::Delivered)
        return answer;
    if (const char *name =
            ippGetString(ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME), 0, nullptr))
        answer.name = name;
    answer.state = printerState(response.get());
    // A printer that leaves it out is taken to accept jobs; its answer to
    // the job will say if not.
    ipp_attribute_t *accepting =
        ippFindAttribute(response.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    answer.accepting = accepting == nullptr || ippGetBoolean(accepting, 0);
    return answer;
}

// The job's state by number, asked once; else how following it ends, with
// ConnectionFailed for no answer at all.
std::variant<int, JobEnd> jobState(CupsConnection &connection, const std::string &printerUri,
                                   const std::string &resource, int jobId)
{
    ipp_t *request = newRequest(IPP_OP_GET_JOB_ATTRIBUTES, printerUri, jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "job-state");
    const IppResponse response =
        takeResponse(cupsDoRequest(connection.call(), request, resource.c_str()));
    if (!response)
        return JobEnd{{SendOutcome::ConnectionFailed,
                       Unfollowed + connection.failureText(libraryError("no answer"))}, {}};
    const SendResult answer = ippAnswer(response.get());
    // A scheduler that keeps no job history forgets a job as soon as it
    // has ended, and printers forget theirs after a while.
    if (answer.outcome == SendOutcome::NoPrinter)
        return JobEnd{{SendOutcome::Delivered, "the job was taken whole, but " + connection.peer() +
                                                   " kept no record of how it ended"}, {}};
    if (answer.outcome != SendOutcome::Delivered)
        return JobEnd{{SendOutcome::SpoolerRefused, Unfollowed + answer.sentence}, {}};
    ipp_attribute_t *attribute = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
    if (attribute == nullptr)
        return JobEnd{
            {SendOutcome::TransferFailed, std::string(Unfollowed) + "the answer holds no job state"}, {}};
    return ippGetInteger(attribute, 0);
}

// Asks for the job's state until it has ended; on the way tells watch how
// the job and its printer stand.
JobEnd followJob(CupsConnection &connection, const std::string &printerUri,
                 const std::string &resource, int jobId, const StopFlag *stop,
                 const JobWatch &watch)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    // A printer that stops answering must not hold the wait past its end.
    struct Deadline
    {
        CupsConnection &connection;
        ~Deadline() { connection.setDeadline({}); }
    } deadline{connection};
    if (watch.timeoutMs > 0)
        connection.setDeadline(start + std::chrono::milliseconds(watch.timeoutMs));
    const JobEnd stopped{{SendOutcome::Cancelled,
                          "interrupted while following the job, which stays queued"}, {}};
    bool reconnected = false;
    std::string printer, job; // how the printer and the job stood when last asked
    for (int round = 0;; ++round) {
        if ((stop != nullptr && stop->isSet()) || watch.stop.stop_requested())
            return stopped;
        const std::variant<int, JobEnd> asked = jobState(connection, printerUri, resource, jobId);
        if (const JobEnd *end = std::get_if<JobEnd>(&asked)) {
            if (end->outcome != SendOutcome::ConnectionFailed)
                return *end;
            if (connection.stopped())
                return stopped;
            if (connection.pastDeadline())
                return {{SendOutcome::WaitTimedOut, printer}, job};
            // A printer may close an idle connection between two questions.
            if (!reconnected && !connection.timedOut() && connection.reconnect()) {
                reconnected = true;
                continue;
            }
            return {{SendOutcome::TransferFailed, end->sentence}, {}};
        }
        reconnected = false;
        const int state = std::get<int>(asked);
        job = stateName("job-state", state, IPP_JSTATE_PENDING, IPP_JSTATE_COMPLETED);
        if (state >= IPP_JSTATE_CANCELED)
            return {{state == IPP_JSTATE_COMPLETED ? SendOutcome::Delivered : SendOutcome::SpoolerRefused,
                     state == IPP_JSTATE_COMPLETED ? std::string() : "the job was " + job}, job};
        // The printer's side, about once a second: why a job waits
        // (stopped, out of paper) is said there, not in the job.
        const bool timedOut = watch.timeoutMs > 0 &&
                              Clock::now() - start >= std::chrono::milliseconds(watch.timeoutMs);
        if (round % 5 == 0 || timedOut) {
            const PrinterAnswer answer = askPrinter(connection, printerUri, resource);
            if (connection.pastDeadline())
                return {{SendOutcome::WaitTimedOut, printer}, job};
            if (answer.outcome != SendOutcome::ConnectionFailed)
                printer = answer.state;
            if (watch.onStatus)
                watch.onStatus("job " + job + (printer.empty() ? "" : "; printer " + printer));
        }
        if (timedOut)
            return {{SendOutcome::WaitTimedOut, printer}, job};
        waitUnlessStopped(watch.stop, std::chrono::milliseconds(200));
    }
}

// One raw job, to a queue of the scheduler or straight to a printer by its
// IPP URI, streamed. Blocking calls, each bounded by the wait limits.
class CupsSpooler final : public Spooler
{
public:
    explicit CupsSpooler(bool direct) : m_direct(direct) {}
    ~CupsSpooler() override { cancelJob(); }

    void setWaitLimits(const WaitLimits &limits) override { m_limits = limits; }
    SendResult failure() const override { return m_failure; }
    int jobId() const override { return m_direct && !m_finished ? 0 : m_job; }

    bool open(const std::string &printer) override
    {
        m_job = 0;
        m_finished = false;
        m_connection = std::make_unique<CupsConnection>(m_limits);
        if (!(m_direct ? connectPrinter(printer) : connectScheduler(printer)))
            return false;
        const PrinterAnswer answer = askPrinter(*m_connection, m_uri, askedAt());
        if (answer.outcome == SendOutcome::Delivered) {
            if (!answer.accepting)
                return fail({SendOutcome::SpoolerRefused,
                             std::string(m_direct ? "the printer" : "the queue") + " is not accepting jobs" +
                                 (answer.state.empty() ? "" : " (printer " + answer.state + ")")});
            // The scheduler matches names regardless of case; jobs go by its spelling.
            if (!m_direct)
                setQueue(answer.name.empty() ? printer : answer.name);
            return true;
        }
        // A scheduler that will not say is taken as having no such queue.
        if (!m_direct)
            return fail({answer.outcome == SendOutcome::SpoolerRefused ? SendOutcome::NoPrinter
                                                                       : answer.outcome,
                         answer.sentence});
        switch (answer.outcome) {
        // One that will not say (it wants a password) is given the job.
        case SendOutcome::SpoolerRefused:
            return true;
        case SendOutcome::NoPrinter:
            return fail({answer.outcome, joined("there is no printer at " + m_uri, answer.sentence)});
        case SendOutcome::Busy:
            return fail({answer.outcome, joined("the printer is busy", answer.sentence)});
        default:
            return fail({SendOutcome::ConnectionFailed,
                         joined("the printer did not say whether it takes jobs", answer.sentence)});
        }
    }

    bool startDocument(const std::string &documentName) override
    {
        ipp_t *request = newRequest(m_direct ? IPP_OP_PRINT_JOB : IPP_OP_CREATE_JOB, m_uri);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                     documentName.c_str());
        m_documentName = documentName;
        if (!m_direct)
            return createJob(request);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                     "application/octet-stream");
        const http_status_t status = cupsSendRequest(m_connection->call(), request,
                                                     m_resource.c_str(), CUPS_LENGTH_VARIABLE);
        ippDelete(request);
        if (status != HTTP_STATUS_CONTINUE)
            return brokenOff("the printer did not take the job");
        m_streaming = true;
        return true;
    }

    std::size_t write(const char *data, std::size_t size) override
    {
        // The scheduler refuses a document without bytes, so the queue's
        // document is only opened once there is something to put in it.
        if (size > 0 && !m_streaming) {
            if (cupsStartDocument(m_connection->sendingCall(), m_name.c_str(), m_job,
                                  m_documentName.c_str(), CUPS_FORMAT_RAW, 1) != HTTP_STATUS_CONTINUE) {
                brokenOff({});
                return 0;
            }
            m_streaming = true;
        }
        for (std::size_t written = 0; written < size;) {
            const std::size_t piece = std::min(WriteChunk, size - written);
            if (cupsWriteRequestData(m_connection->sendingCall(), data + written, piece) !=
                HTTP_STATUS_CONTINUE) {
                brokenOff("sending the data failed");
                return m_direct ? 0 : written;
            }
            written += piece;
        }
        return size;
    }

    // Only an answer of success counts: a connection that closes or goes
    // silent instead has not been shown to hold the whole job.
    bool endDocument() override
    {
        const bool streamed = std::exchange(m_streaming, false);
        if (m_direct && !streamed)
            return false;
        // An empty file makes a queue's job without documents: closing it
        // ends the job without bothering the printer.
        const IppResponse response = takeResponse(
            streamed ? cupsGetResponse(m_connection->call(), m_resource.c_str())
                     : cupsDoRequest(m_connection->call(),
                                     newRequest(IPP_OP_CLOSE_JOB, m_uri, m_job), "/jobs/"));
        if (!answeredYes(response))
            return false;
        if (m_direct) {
            ipp_attribute_t *id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
            if (id == nullptr || ippGetInteger(id, 0) <= 0)
                return fail({SendOutcome::TransferFailed, "the printer's answer names no job"});
            m_job = ippGetInteger(id, 0);
        }
        if (SendResult taken = m_connection->requestTaken(); taken.outcome != SendOutcome::Delivered)
            return fail(std::move(taken));
        m_finished = true;
        return true;
    }

    // Before the job was taken whole: cutting the connection mid-document
    // makes the peer drop it, and a queue's job is withdrawn over a fresh one.
    void cancelJob() override
    {
        if (m_finished || !m_connection)
            return;
        m_connection->abort();
        m_streaming = false;
        if (m_direct || m_job == 0)
            return;
        const WaitLimits limits{std::min(m_limits.connectTimeoutMs, WithdrawTimeoutMs),
                                std::min(m_limits.responseTimeoutMs, WithdrawTimeoutMs), nullptr};
        CupsConnection connection(limits);
        if (connection.openScheduler())
            cupsCancelJob2(connection.call(), m_name.c_str(), m_job, 0);
        m_job = 0;
    }

    // A printer's connection stays for following the job.
    bool close() override
    {
        if (!m_direct && m_connection)
            m_connection->close();
        return true;
    }

    JobEnd followJob(const JobWatch &watch) override
    {
        if (!m_finished || !m_connection)
            return Spooler::followJob(watch);
        if (!m_direct) {
            // The queue's connection was closed with the job; after a stop
            // following ends before any question.
            m_connection = std::make_unique<CupsConnection>(m_limits);
            if (!m_connection->openScheduler() && !m_connection->stopped())
                return {{SendOutcome::TransferFailed,
                         Unfollowed + m_connection->failureText("the scheduler cannot be reached")},
                        {}};
        } else if (!m_connection->isOpen()) {
            return Spooler::followJob(watch);
        }
        return ::followJob(*m_connection, m_uri, askedAt(), m_job, m_limits.stop, watch);
    }

private:
    bool fail(SendResult failure)
    {
        m_failure = std::move(failure);
        return false;
    }

    // A connection of our own: the library's shared one waits for ever on a
    // scheduler that does not answer, and a job streamed on it could not be
    // cancelled over it while half-sent.
    bool connectScheduler(const std::string &name)
    {
        // The library would take an empty name for "the default queue".
        if (name.empty())
            return fail({SendOutcome::NoPrinter, "no printer name given"});
        if (!m_connection->openScheduler())
            return fail({SendOutcome::ConnectionFailed,
                         m_connection->failureText(libraryError("the scheduler cannot be reached"))});
        setQueue(name);
        return true;
    }

    bool connectPrinter(const std::string &uri)
    {
        char scheme[32], user[256], host[256], resource[1024];
        int port = 0;
        if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user,
                            sizeof user, host, sizeof host, &port, resource,
                            sizeof resource) < HTTP_URI_STATUS_OK)
            return fail({SendOutcome::NoPrinter, "not a usable URI: " + uri});
        const http_encryption_t encryption = std::string(scheme) == "ipps"
                                                 ? HTTP_ENCRYPTION_ALWAYS
                                                 : HTTP_ENCRYPTION_IF_REQUESTED;
        if (!m_connection->open(host, port, encryption, "the printer"))
            return fail({SendOutcome::ConnectionFailed,
                         // An IPv6 address keeps its brackets, or its port could not be told apart.
                         joined("cannot connect to " +
                                    (std::string_view(host).find(':') != std::string_view::npos
                                         ? "[" + std::string(host) + "]"
                                         : std::string(host)) +
                                    ":" + std::to_string(port),
                                m_connection->failureText(libraryError("")))});
        m_uri = uri;
        m_resource = resource;
        return true;
    }

    // Not the library's destination lookup: it waits without bound.
    void setQueue(const std::string &name)
    {
        char uri[HTTP_MAX_URI];
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s", name.c_str());
        m_name = name;
        m_uri = uri;
        m_resource = "/printers/" + name;
    }

    // Where questions about the printer and its jobs go.
    std::string askedAt() const { return m_direct ? m_resource : "/"; }

    // Not the library's job creation: it looks the queue up again, unbounded.
    bool createJob(ipp_t *request)
    {
        const IppResponse response =
            takeResponse(cupsDoRequest(m_connection->call(), request, m_resource.c_str()));
        if (!answeredYes(response))
            return false;
        ipp_attribute_t *id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
        m_job = id != nullptr ? std::max(ippGetInteger(id, 0), 0) : 0;
        return m_job != 0 || fail({SendOutcome::SpoolerRefused, "the scheduler's answer names no job"});
    }

    // The peer answered, with success; once the queue was found, any refusal
    // of the job is the scheduler's.
    bool answeredYes(const IppResponse &response)
    {
        const bool broken = m_connection->stopped() || m_connection->timedOut();
        if (!response && m_direct) {
            const http_status_t status = httpGetStatus(m_connection->handle());
            if (!broken && status >= HTTP_STATUS_BAD_REQUEST)
                return refused(httpRefusal(status));
            return fail({SendOutcome::TransferFailed,
                         joined("the job was not confirmed",
                                m_connection->failureText("the connection was closed"))});
        }
        // No answer: a stop, silence or a broken connection broke the
        // transfer; anything else is a refusal in the library's words.
        const char *const silent = "the scheduler did not answer";
        if (!response && (broken || (m_connection->isOpen() && httpError(m_connection->handle()) != 0)))
            return fail({SendOutcome::TransferFailed, m_connection->failureText(silent)});
        if (!response)
            return fail({SendOutcome::SpoolerRefused, libraryError(silent)});
        if (const SendResult answer = ippAnswer(response.get()); answer.outcome != SendOutcome::Delivered)
            return refused({SendOutcome::SpoolerRefused, answer.sentence});
        return true;
    }

    bool refused(const SendResult &refusal)
    {
        return fail({refusal.outcome,
                     m_direct ? joined("the printer refused the job", refusal.sentence) : refusal.sentence});
    }

    // The peer broke off a request that carried data. One refusing
    // mid-document often answers and closes at once; its answer may be
    // waiting even when our write met the close.
    bool brokenOff(const std::string &what)
    {
        m_streaming = false;
        const std::string cut = m_connection->failureText({});
        SendResult broken{SendOutcome::TransferFailed, cut};
        if (!m_connection->stopped() && !m_connection->timedOut()) {
            const IppResponse response =
                takeResponse(cupsGetResponse(m_connection->sendingCall(), m_resource.c_str()));
            const http_status_t status = httpGetStatus(m_connection->handle());
            if (response && ippAnswer(response.get()).outcome != SendOutcome::Delivered)
                broken = ippAnswer(response.get());
            else if (status >= HTTP_STATUS_BAD_REQUEST)
                broken = httpRefusal(status);
            else if (response)
                broken.sentence = m_direct ? "the printer answered before it had taken the whole job"
                                           : "the scheduler answered before it had all the data";
            else if (cut.empty())
                broken.sentence = m_connection->failureText(
                    m_direct ? "the connection was closed" : "the connection to the scheduler broke");
        }
        if (broken.outcome == SendOutcome::TransferFailed)
            return fail({broken.outcome, m_direct ? joined(what, broken.sentence) : broken.sentence});
        return refused({m_direct ? broken.outcome : SendOutcome::SpoolerRefused, broken.sentence});
    }

    const bool m_direct; // a printer by its URI, not a queue by its name
    WaitLimits m_limits;
    std::unique_ptr<CupsConnection> m_connection;
    SendResult m_failure{SendOutcome::SpoolerRefused, {}};
    std::string m_name; // the queue's, as the scheduler knows it
    std::string m_uri;
    std::string m_resource; // where the job goes
    std::string m_documentName;
    int m_job = 0;
    bool m_finished = false; // the job was taken whole; no cancelling it now
    bool m_streaming = false;
};

} // namespace

std::unique_ptr<Spooler> createSystemSpooler()
{
    return std::make_unique<CupsSpooler>(false);
}

std::unique_ptr<Spooler> createIppSpooler()
{
    return std::make_unique<CupsSpooler>(true);
}
