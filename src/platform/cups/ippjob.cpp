#include "ippjob.h"

#include <cups/cups.h>

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

IppJob::~IppJob()
{
    if (m_http)
        httpClose(m_http);
}

bool IppJob::fail(const std::string &what)
{
    const char *reason = cupsLastErrorString();
    m_error = what;
    if (reason && *reason)
        m_error += std::string(": ") + reason;
    return false;
}

bool IppJob::start(const std::string &uri, const std::string &title, int connectTimeoutMs)
{
    char scheme[32];
    char user[256];
    char host[256];
    char resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                        host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
        m_error = "not a usable URI: " + uri;
        return false;
    }
    const http_encryption_t encryption = std::string(scheme) == "ipps" ? HTTP_ENCRYPTION_ALWAYS
                                                                       : HTTP_ENCRYPTION_IF_REQUESTED;
    m_http = httpConnect2(host, port, nullptr, AF_UNSPEC, encryption, 1, connectTimeoutMs, nullptr);
    if (!m_http) {
        m_error = std::string("cannot connect to ") + host + ":" + std::to_string(port);
        return false;
    }
    m_uri = uri;
    m_resource = resource;

    ipp_t *request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 "application/octet-stream");
    const http_status_t status =
        cupsSendRequest(m_http, request, m_resource.c_str(), CUPS_LENGTH_VARIABLE);
    ippDelete(request);
    if (status != HTTP_STATUS_CONTINUE)
        return fail("the printer did not take the job");
    m_streaming = true;
    return true;
}

bool IppJob::write(const char *data, std::size_t size)
{
    if (!m_streaming)
        return false;
    if (size > 0 && cupsWriteRequestData(m_http, data, size) != HTTP_STATUS_CONTINUE)
        return fail("sending the data failed");
    return true;
}

bool IppJob::finish()
{
    if (!m_streaming)
        return false;
    m_streaming = false;
    ipp_t *response = cupsGetResponse(m_http, m_resource.c_str());
    if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        ippDelete(response);
        return fail("the printer refused the job");
    }
    if (ipp_attribute_t *id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER))
        m_jobId = ippGetInteger(id, 0);
    ippDelete(response);
    return true;
}

void IppJob::cancel()
{
    if (!m_http)
        return;
    if (m_streaming || m_jobId == 0) {
        // Cutting the connection mid-document makes the printer drop it.
        httpClose(m_http);
        m_http = nullptr;
        m_streaming = false;
        return;
    }
    ipp_t *request = ippNewRequest(IPP_OP_CANCEL_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, m_uri.c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", m_jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippDelete(cupsDoRequest(m_http, request, m_resource.c_str()));
}

std::string IppJob::waitForEnd(const std::atomic<bool> &stop)
{
    if (!m_http || m_jobId == 0)
        return {};
    static const char *const wanted[] = {"job-state"};
    while (!stop.load()) {
        ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     m_uri.c_str());
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", m_jobId);
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1,
                      nullptr, wanted);
        ipp_t *response = cupsDoRequest(m_http, request, m_resource.c_str());
        int state = 0;
        if (ipp_attribute_t *attribute = ippFindAttribute(response, "job-state", IPP_TAG_ENUM))
            state = ippGetInteger(attribute, 0);
        ippDelete(response);
        if (state == 0) {
            fail("cannot ask the printer for the job's state");
            return {};
        }
        if (state >= IPP_JSTATE_CANCELED)
            return stateName(state);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return {};
}
