#include "cupsjobs.h"

#include "cupsconnection.h"

#include <chrono>
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

} // namespace

JobEnd followJob(CupsConnection &connection, const std::string &printerUri,
                 const std::string &resource, int jobId, const StopFlag *stop)
{
    static const char *const wanted[] = {"job-state"};
    bool reconnected = false;
    for (;;) {
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
        if (state >= IPP_JSTATE_CANCELED)
            return {JobEnd::Kind::Ended, stateName(state), {}};
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}
