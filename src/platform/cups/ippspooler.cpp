#include "platform/spooler.h"

#include "cupsconnection.h"
#include "cupsjobs.h"

namespace {

// A raw job sent straight to an IPP printer (or a scheduler's queue) by URI,
// streamed: the length need not be known in advance. Blocking calls, each
// bounded by the wait limits; run it off the user-interface thread.
class IppSpooler final : public Spooler
{
public:
    ~IppSpooler() override
    {
        // A job the printer did not take must not look complete to it.
        if (m_connection && m_jobId == 0)
            m_connection->abort();
    }

    void setWaitLimits(const WaitLimits &limits) override { m_limits = limits; }

    bool open(const std::string &uri) override
    {
        char scheme[32];
        char user[256];
        char host[256];
        char resource[1024];
        int port = 0;
        if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user,
                            sizeof user, host, sizeof host, &port, resource,
                            sizeof resource) < HTTP_URI_STATUS_OK)
            return fail(Failure::NoPrinter, "not a usable URI: " + uri, {});
        const http_encryption_t encryption = std::string(scheme) == "ipps"
                                                 ? HTTP_ENCRYPTION_ALWAYS
                                                 : HTTP_ENCRYPTION_IF_REQUESTED;
        m_connection = std::make_unique<CupsConnection>(m_limits);
        if (!m_connection->open(host, port, encryption, "the printer"))
            return fail(Failure::Lost,
                        std::string("cannot connect to ") + host + ":" + std::to_string(port),
                        m_connection->failureText(libraryError("")));
        m_uri = uri;
        m_resource = resource;
        return checkPrinter();
    }

    bool startDocument(const std::string &documentName) override
    {
        ipp_t *request = newRequest(IPP_OP_PRINT_JOB, m_uri);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                     documentName.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                     "application/octet-stream");
        const http_status_t status = cupsSendRequest(m_connection->call(), request,
                                                     m_resource.c_str(), CUPS_LENGTH_VARIABLE);
        ippDelete(request);
        if (status != HTTP_STATUS_CONTINUE)
            return failWithAnswer("the printer did not take the job");
        m_streaming = true;
        return true;
    }

    // A document of a raw job has no pages.
    bool startPage() override { return true; }
    bool endPage() override { return true; }

    std::size_t write(const char *data, std::size_t size) override
    {
        if (!m_streaming)
            return 0;
        if (size > 0 &&
            cupsWriteRequestData(m_connection->sendingCall(), data, size) != HTTP_STATUS_CONTINUE) {
            failWithAnswer("sending the data failed");
            return 0;
        }
        return size;
    }

    // Ends the document and reads the printer's answer; true only when it
    // took the job and named it.
    bool endDocument() override
    {
        if (!m_streaming)
            return false;
        m_streaming = false;
        const IppResponse response =
            takeResponse(cupsGetResponse(m_connection->call(), m_resource.c_str()));
        if (!response) {
            const http_status_t status = httpGetStatus(m_connection->handle());
            if (!m_connection->stopped() && !m_connection->timedOut() &&
                status >= HTTP_STATUS_BAD_REQUEST)
                return refusedInHttp(status);
            return fail(Failure::Lost, "the job was not confirmed",
                        m_connection->failureText("the connection was closed"));
        }
        if (!ippSucceeded(ippGetStatusCode(response.get())))
            return fail(Failure::Refused, "the printer refused the job",
                        ippStatusText(response.get()));
        int jobId = 0;
        if (ipp_attribute_t *id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER))
            jobId = ippGetInteger(id, 0);
        if (jobId <= 0)
            return fail(Failure::Lost, "the printer's answer names no job", {});
        if (!m_connection->requestTaken())
            return fail(Failure::Lost, "the printer answered before it had taken the whole job",
                        m_connection->failureText({}));
        m_jobId = jobId;
        return true;
    }

    // Before the printer took the job the request is cut off, after it the
    // job is cancelled at the printer.
    void cancelJob() override
    {
        if (!m_connection || !m_connection->isOpen())
            return;
        if (m_streaming || m_jobId == 0) {
            // Cutting the connection mid-document makes the printer drop it.
            m_connection->abort();
            m_streaming = false;
            return;
        }
        ippDelete(cupsDoRequest(m_connection->call(), newRequest(IPP_OP_CANCEL_JOB, m_uri, m_jobId),
                                m_resource.c_str()));
    }

    // The connection stays for following the job; it closes with the spooler.
    bool close() override { return true; }

    int jobId() const override { return m_jobId; }

    JobEnd followJob(const JobWatch &watch) override
    {
        if (!m_connection || !m_connection->isOpen() || m_jobId == 0)
            return {JobEnd::Kind::Lost, {}, "there is no job to follow"};
        return ::followJob(*m_connection, m_uri, m_resource, m_jobId, m_limits.stop, watch);
    }

    std::string errorText() const override { return m_error; }
    Failure failure() const override { return m_failure; }

private:
    // Asked before the job, so that nothing is streamed to a printer that
    // is not there or takes no jobs.
    bool checkPrinter()
    {
        const PrinterAnswer answer = askPrinter(*m_connection, m_uri, m_resource);
        switch (answer.kind) {
        case PrinterAnswer::Kind::Ready:
        // One that will not say (it wants a password, say) is given the job,
        // and its answer to that decides.
        case PrinterAnswer::Kind::Refused:
            return true;
        case PrinterAnswer::Kind::Unknown:
            return fail(Failure::NoPrinter, "there is no printer at " + m_uri, answer.error);
        case PrinterAnswer::Kind::NotAccepting:
            return fail(Failure::NotAccepting,
                        "the printer is not accepting jobs" +
                            (answer.state.empty() ? "" : " (printer " + answer.state + ")"),
                        {});
        case PrinterAnswer::Kind::Busy:
            return fail(Failure::Busy, "the printer is busy", answer.error);
        case PrinterAnswer::Kind::Lost:
            break;
        }
        return fail(Failure::Lost, "the printer did not say whether it takes jobs", answer.error);
    }

    bool fail(Failure failure, const std::string &what, const std::string &reason)
    {
        m_failure = failure;
        m_error = reason.empty() ? what : what + ": " + reason;
        return false;
    }

    // After the printer broke off a request: its answer if it gave one.
    bool failWithAnswer(const std::string &what)
    {
        m_streaming = false;
        if (m_connection->stopped() || m_connection->timedOut())
            return fail(Failure::Lost, what, m_connection->failureText({}));
        // A printer that refuses mid-document often answers and closes at
        // once; its answer may be waiting even when our write met the close.
        const std::string broken = m_connection->failureText({});
        const IppResponse response =
            takeResponse(cupsGetResponse(m_connection->sendingCall(), m_resource.c_str()));
        if (response && !ippSucceeded(ippGetStatusCode(response.get()))) {
            const ipp_status_t status = ippGetStatusCode(response.get());
            return fail(status == IPP_STATUS_ERROR_NOT_FOUND ? Failure::NoPrinter
                        : ippBusy(status)                     ? Failure::Busy
                                                              : Failure::Refused,
                        "the printer refused the job", ippStatusText(response.get()));
        }
        if (const http_status_t status = httpGetStatus(m_connection->handle());
            status >= HTTP_STATUS_BAD_REQUEST)
            return refusedInHttp(status);
        if (response)
            return fail(Failure::Lost, what, "the printer answered before it had taken the whole job");
        return fail(Failure::Lost, what,
                    broken.empty() ? m_connection->failureText("the connection was closed") : broken);
    }

    bool refusedInHttp(http_status_t status)
    {
        // No such resource: the URI names no printer there.
        return fail(status == HTTP_STATUS_NOT_FOUND              ? Failure::NoPrinter
                    : status == HTTP_STATUS_SERVICE_UNAVAILABLE ? Failure::Busy
                                                                : Failure::Refused,
                    "the printer refused the job", httpStatus(status));
    }

    WaitLimits m_limits;
    std::unique_ptr<CupsConnection> m_connection;
    std::string m_uri;
    std::string m_resource;
    int m_jobId = 0;
    bool m_streaming = false;
    Failure m_failure = Failure::Refused;
    std::string m_error;
};

} // namespace

std::unique_ptr<Spooler> createIppSpooler()
{
    return std::make_unique<IppSpooler>();
}
