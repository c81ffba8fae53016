#include "cupsjobs.h"

#include "cupsconnection.h"

#include <chrono>
#include <iterator>
#include <variant>

namespace {

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
    if (ipp_attribute_t *reason = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD)) {
        for (int i = 0; i < ippGetCount(reason); ++i) {
            const char *word = ippGetString(reason, i, nullptr);
            if (word == nullptr || std::string(word) == "none")
                continue;
            reasons += (reasons.empty() ? "" : ", ") + std::string(word);
        }
    }
    if (!reasons.empty())
        text += (text.empty() ? "(" : " (") + reasons + ")";
    if (ipp_attribute_t *message = ippFindAttribute(response, "printer-state-message", IPP_TAG_TEXT)) {
        const char *words = ippGetString(message, 0, nullptr);
        if (words != nullptr && *words != '\0')
            text += std::string(text.empty() ? "" : ": ") + words;
    }
    return text;
}

} // namespace

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
    if (ipp_attribute_t *name = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME))
        if (const char *text = ippGetString(name, 0, nullptr))
            answer.name = text;
    answer.state = printerState(response.get());
    // A printer that leaves it out is taken to accept jobs; its answer to
    // the job will say if not.
    ipp_attribute_t *accepting =
        ippFindAttribute(response.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    answer.accepting = accepting == nullptr || ippGetBoolean(accepting, 0);
    return answer;
}

namespace {

constexpr char StoppedFollowing[] = "interrupted while following the job, which stays queued";

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
    const std::string unfollowed = "the job's end could not be followed: ";
    if (!response)
        return JobEnd{{SendOutcome::ConnectionFailed,
                       unfollowed + connection.failureText(libraryError("no answer"))}, {}};
    const SendResult answer = ippAnswer(response.get());
    // A scheduler that keeps no job history forgets a job as soon as it
    // has ended, and printers forget theirs after a while.
    if (answer.outcome == SendOutcome::NoPrinter)
        return JobEnd{{SendOutcome::Delivered, "the job was taken whole, but " + connection.peer() +
                                                   " kept no record of how it ended"}, {}};
    if (answer.outcome != SendOutcome::Delivered)
        return JobEnd{{SendOutcome::SpoolerRefused, unfollowed + answer.sentence}, {}};
    ipp_attribute_t *attribute = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
    if (attribute == nullptr)
        return JobEnd{{SendOutcome::TransferFailed, unfollowed + "the answer holds no job state"}, {}};
    return ippGetInteger(attribute, 0);
}

} // namespace

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
    const JobEnd stopped{{SendOutcome::Cancelled, StoppedFollowing}, {}};
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
