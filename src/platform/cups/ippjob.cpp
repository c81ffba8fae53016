#include "ippjob.h"

IppJob::IppJob(const WaitLimits &limits)
    : m_limits(limits), m_connection(limits)
{
}

IppJob::~IppJob()
{
    // A job the printer did not take must not look complete to it.
    if (m_jobId == 0)
        m_connection.abort();
}

bool IppJob::fail(Failure failure, const std::string &what, const std::string &reason)
{
    m_failure = m_connection.stopped() ? Failure::Stopped : failure;
    m_error = reason.empty() ? what : what + ": " + reason;
    return false;
}

bool IppJob::failWithAnswer(const std::string &what)
{
    m_streaming = false;
    if (m_connection.stopped() || m_connection.timedOut())
        return fail(Failure::Lost, what, m_connection.failureText({}));
    // A printer that refuses mid-document often answers and closes at
    // once; its answer may be waiting even when our write met the close.
    const std::string broken = m_connection.failureText({});
    const IppResponse response =
        takeResponse(cupsGetResponse(m_connection.sendingCall(), m_resource.c_str()));
    if (response && !ippSucceeded(ippGetStatusCode(response.get()))) {
        const bool unknown = ippGetStatusCode(response.get()) == IPP_STATUS_ERROR_NOT_FOUND;
        return fail(unknown ? Failure::Connect : Failure::Refused, "the printer refused the job",
                    ippStatusText(response.get()));
    }
    if (const http_status_t status = httpGetStatus(m_connection.handle());
        status >= HTTP_STATUS_BAD_REQUEST)
        return refusedInHttp(status);
    if (response)
        return fail(Failure::Lost, what, "the printer answered before it had taken the whole job");
    return fail(Failure::Lost, what,
                broken.empty() ? m_connection.failureText("the connection was closed") : broken);
}

bool IppJob::refusedInHttp(http_status_t status)
{
    // No such resource: the URI names no printer there.
    return fail(status == HTTP_STATUS_NOT_FOUND ? Failure::Connect : Failure::Refused,
                "the printer refused the job", httpStatus(status));
}

bool IppJob::start(const std::string &uri, const std::string &title)
{
    char scheme[32];
    char user[256];
    char host[256];
    char resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                        host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
        m_failure = Failure::Connect;
        m_error = "not a usable URI: " + uri;
        return false;
    }
    const http_encryption_t encryption = std::string(scheme) == "ipps" ? HTTP_ENCRYPTION_ALWAYS
                                                                       : HTTP_ENCRYPTION_IF_REQUESTED;
    if (!m_connection.open(host, port, encryption, "the printer")) {
        const char *reason = cupsLastErrorString();
        return fail(Failure::Connect,
                    std::string("cannot connect to ") + host + ":" + std::to_string(port),
                    m_connection.failureText(reason != nullptr ? reason : ""));
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
        cupsSendRequest(m_connection.call(), request, m_resource.c_str(), CUPS_LENGTH_VARIABLE);
    ippDelete(request);
    if (status != HTTP_STATUS_CONTINUE)
        return failWithAnswer("the printer did not take the job");
    m_streaming = true;
    return true;
}

bool IppJob::write(const char *data, std::size_t size)
{
    if (!m_streaming)
        return false;
    if (size > 0 && cupsWriteRequestData(m_connection.sendingCall(), data, size) != HTTP_STATUS_CONTINUE)
        return failWithAnswer("sending the data failed");
    return true;
}

bool IppJob::finish()
{
    if (!m_streaming)
        return false;
    m_streaming = false;
    const IppResponse response = takeResponse(cupsGetResponse(m_connection.call(), m_resource.c_str()));
    if (!response) {
        const http_status_t status = httpGetStatus(m_connection.handle());
        if (!m_connection.stopped() && !m_connection.timedOut() && status >= HTTP_STATUS_BAD_REQUEST)
            return refusedInHttp(status);
        return fail(Failure::Lost, "the job was not confirmed",
                    m_connection.failureText("the connection was closed"));
    }
    if (!ippSucceeded(ippGetStatusCode(response.get())))
        return fail(Failure::Refused, "the printer refused the job", ippStatusText(response.get()));
    int jobId = 0;
    if (ipp_attribute_t *id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER))
        jobId = ippGetInteger(id, 0);
    if (jobId <= 0)
        return fail(Failure::Lost, "the printer's answer names no job", {});
    if (!m_connection.requestTaken())
        return fail(Failure::Lost, "the printer answered before it had taken the whole job",
                    m_connection.failureText({}));
    m_jobId = jobId;
    return true;
}

void IppJob::cancel()
{
    if (!m_connection.isOpen())
        return;
    if (m_streaming || m_jobId == 0) {
        // Cutting the connection mid-document makes the printer drop it.
        m_connection.abort();
        m_streaming = false;
        return;
    }
    ipp_t *request = ippNewRequest(IPP_OP_CANCEL_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, m_uri.c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", m_jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippDelete(cupsDoRequest(m_connection.call(), request, m_resource.c_str()));
}

JobEnd IppJob::waitForEnd()
{
    if (!m_connection.isOpen() || m_jobId == 0)
        return {JobEnd::Kind::Lost, {}, "there is no job to follow"};
    return followJob(m_connection, m_uri, m_resource, m_jobId, m_limits.stop);
}
