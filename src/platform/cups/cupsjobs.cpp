#include "cupsjobs.h"

#include "cupsconnection.h"

#include <chrono>
#include <iterator>
#include <thread>

namespace {

const char *stateName(int state)
{
    switch (state) {
    case IPP_JSTATE_PENDING:
        return "pending";
    case IPP_JSTATE_HELD:
        return "held";
    case IPP_JSTATE_PROCESSING:
        return "processing";
    case IPP_JSTATE_STOPPED:
        return "stopped";
    case IPP_JSTATE_CANCELED:
        return "canceled";
    case IPP_JSTATE_ABORTED:
        return "aborted";
    case IPP_JSTATE_COMPLETED:
        return "completed";
    default:
        return "unknown";
    }
}

const char *printerStateName(int state)
{
    switch (state) {
    case IPP_PSTATE_IDLE:
        return "idle";
    case IPP_PSTATE_PROCESSING:
        return "processing";
    case IPP_PSTATE_STOPPED:
        return "stopped";
    default:
        return "unknown";
    }
}

// "stopped (paused, media-empty-error): out of paper"
std::string printerState(ipp_t *response)
{
    std::string text;
    if (ipp_attribute_t *state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM))
        text = printerStateName(ippGetInteger(state, 0));
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
    PrinterAnswer answer;
    if (!response) {
        const http_status_t status = httpGetStatus(connection.handle());
        if (connection.stopped() || connection.timedOut() || status < HTTP_STATUS_BAD_REQUEST) {
            answer.error = connection.failureText(libraryError("no answer"));
            return answer;
        }
        // No such resource: the URI names no printer there.
        answer.kind = status == HTTP_STATUS_NOT_FOUND ? PrinterAnswer::Kind::Unknown
                      : status == HTTP_STATUS_SERVICE_UNAVAILABLE ? PrinterAnswer::Kind::Busy
                                                                  : PrinterAnswer::Kind::Refused;
        answer.error = httpStatus(status);
        return answer;
    }
    const ipp_status_t status = ippGetStatusCode(response.get());
    if (!ippSucceeded(status)) {
        answer.kind = status == IPP_STATUS_ERROR_NOT_FOUND ? PrinterAnswer::Kind::Unknown
                      : ippBusy(status)                     ? PrinterAnswer::Kind::Busy
                                                           : PrinterAnswer::Kind::Refused;
        answer.error = ippStatusText(response.get());
        return answer;
    }
    if (ipp_attribute_t *name = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME))
        if (const char *text = ippGetString(name, 0, nullptr))
            answer.name = text;
    answer.state = printerState(response.get());
    // A printer that leaves it out is taken to accept jobs; its answer to
    // the job will say if not.
    ipp_attribute_t *accepting =
        ippFindAttribute(response.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    answer.kind = accepting != nullptr && !ippGetBoolean(accepting, 0)
                      ? PrinterAnswer::Kind::NotAccepting
                      : PrinterAnswer::Kind::Ready;
    return answer;
}

JobEnd followJob(CupsConnection &connection, const std::string &printerUri,
                 const std::string &resource, int jobId, const StopFlag *stop,
                 const JobWatch &watch)
{
    using Clock = std::chrono::steady_clock;
    static const char *const wanted[] = {"job-state"};
    const Clock::time_point start = Clock::now();
    // A printer that stops answering must not hold the wait past its end.
    struct Deadline
    {
        CupsConnection &connection;
        ~Deadline() { connection.setDeadline({}); }
    } deadline{connection};
    if (watch.timeoutMs > 0)
        connection.setDeadline(start + std::chrono::milliseconds(watch.timeoutMs));
    bool reconnected = false;
    std::string printer; // how the printer stood when last asked
    std::string job;     // the job's state when last asked
    for (int round = 0;; ++round) {
        if (stop != nullptr && stop->isSet())
            return {JobEnd::Kind::Stopped, {}, {}};
        ipp_t *request = newRequest(IPP_OP_GET_JOB_ATTRIBUTES, printerUri, jobId);
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1,
                      nullptr, wanted);
        const IppResponse response =
            takeResponse(cupsDoRequest(connection.call(), request, resource.c_str()));
        if (!response) {
            if (connection.stopped())
                return {JobEnd::Kind::Stopped, {}, {}};
            if (connection.pastDeadline())
                return {JobEnd::Kind::TimedOut, job, printer};
            // A printer may close an idle connection between two questions.
            if (!reconnected && !connection.timedOut() && connection.reconnect()) {
                reconnected = true;
                continue;
            }
            return {JobEnd::Kind::Lost, {}, connection.failureText(libraryError("no answer"))};
        }
        reconnected = false;
        const ipp_status_t status = ippGetStatusCode(response.get());
        // A scheduler that keeps no job history forgets a job as soon as it
        // has ended, and printers forget theirs after a while.
        if (status == IPP_STATUS_ERROR_NOT_FOUND)
            return {JobEnd::Kind::Forgotten, {}, {}};
        if (!ippSucceeded(status))
            return {JobEnd::Kind::Refused, {}, ippStatusText(response.get())};
        ipp_attribute_t *attribute =
            ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
        if (attribute == nullptr)
            return {JobEnd::Kind::Lost, {}, "the answer holds no job state"};
        const int state = ippGetInteger(attribute, 0);
        job = stateName(state);
        if (state >= IPP_JSTATE_CANCELED)
            return {JobEnd::Kind::Ended, stateName(state), {}};
        // The printer's side, about once a second: why a job waits
        // (stopped, out of paper) is said there, not in the job.
        const bool timedOut = watch.timeoutMs > 0 &&
                              Clock::now() - start >= std::chrono::milliseconds(watch.timeoutMs);
        if (round % 5 == 0 || timedOut) {
            const PrinterAnswer answer = askPrinter(connection, printerUri, resource);
            if (connection.pastDeadline())
                return {JobEnd::Kind::TimedOut, job, printer};
            if (answer.kind != PrinterAnswer::Kind::Lost)
                printer = answer.state;
            if (watch.onStatus)
                watch.onStatus(std::string("job ") + stateName(state) +
                               (printer.empty() ? "" : "; printer " + printer));
        }
        if (timedOut)
            return {JobEnd::Kind::TimedOut, stateName(state), printer};
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}
