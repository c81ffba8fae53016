#include "platform/spooler.h"

#include "cupsconnection.h"
#include "cupsjobs.h"

#include <string_view>

namespace {

// A raw job sent straight to an IPP printer (or a scheduler's queue) by URI,
// streamed: the length need not be known in advance. Blocking calls, each
// bounded by the wait limits; run it off the user-interface thread.
class IppSpooler final : public CupsJobSpooler
{
public:
    ~IppSpooler() override
    {
        // A job the printer did not take must not look complete to it.
        if (m_connection && m_jobId == 0)
            m_connection->abort();
    }

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
            return fail(SendOutcome::NoPrinter, "not a usable URI: " + uri, {});
        const http_encryption_t encryption = std::string(scheme) == "ipps"
                                                 ? HTTP_ENCRYPTION_ALWAYS
                                                 : HTTP_ENCRYPTION_IF_REQUESTED;
        m_connection = std::make_unique<CupsConnection>(m_limits);
        if (!m_connection->open(host, port, encryption, "the printer"))
            return fail(SendOutcome::ConnectionFailed,
                        std::string("cannot connect to ") +
                            (std::string_view(host).find(':') != std::string_view::npos
                                 ? "[" + std::string(host) + "]"
                                 : std::string(host)) +
                            ":" + std::to_string(port),
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
                return refused(httpRefusal(status));
            return fail(SendOutcome::TransferFailed, "the job was not confirmed",
                        m_connection->failureText("the connection was closed"));
        }
        // The whole document went: a refusal now is of the job, whatever its status.
        if (const SendResult answer = ippAnswer(response.get()); answer.outcome != SendOutcome::Delivered)
            return refused({SendOutcome::SpoolerRefused, answer.sentence});
        ipp_attribute_t *id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
        if (id == nullptr || ippGetInteger(id, 0) <= 0)
            return fail(SendOutcome::TransferFailed, "the printer's answer names no job", {});
        if (SendResult taken = m_connection->requestTaken(); taken.outcome != SendOutcome::Delivered)
            return CupsJobSpooler::fail(std::move(taken));
        m_jobId = ippGetInteger(id, 0);
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
            return Spooler::followJob(watch);
        return ::followJob(*m_connection, m_uri, m_resource, m_jobId, m_limits.stop, watch);
    }

private:
    // Asked before the job, so that nothing is streamed to a printer that
    // is not there or takes no jobs.
    bool checkPrinter()
    {
        const PrinterAnswer answer = askPrinter(*m_connection, m_uri, m_resource);
        switch (answer.outcome) {
        case SendOutcome::Delivered:
            if (answer.accepting)
                return true;
            return fail(SendOutcome::SpoolerRefused,
                        "the printer is not accepting jobs" +
                            (answer.state.empty() ? "" : " (printer " + answer.state + ")"),
                        {});
        // One that will not say (it wants a password, say) is given the job,
        // and its answer to that decides.
        case SendOutcome::SpoolerRefused:
            return true;
        case SendOutcome::NoPrinter:
            return fail(answer.outcome, "there is no printer at " + m_uri, answer.sentence);
        case SendOutcome::Busy:
            return fail(answer.outcome, "the printer is busy", answer.sentence);
        default:
            return fail(SendOutcome::ConnectionFailed,
                        "the printer did not say whether it takes jobs", answer.sentence);
        }
    }

    bool fail(SendOutcome outcome, const std::string &what, const std::string &reason)
    {
        return CupsJobSpooler::fail({outcome, reason.empty() ? what : what + ": " + reason});
    }

    bool refused(const SendResult &refusal)
    {
        return fail(refusal.outcome, "the printer refused the job", refusal.sentence);
    }

    // After the printer broke off a request: its answer if it gave one.
    bool failWithAnswer(const std::string &what)
    {
        m_streaming = false;
        const SendResult broken = m_connection->brokenOff(
            m_resource, "the printer answered before it had taken the whole job",
            "the connection was closed");
        if (broken.outcome == SendOutcome::TransferFailed)
            return fail(broken.outcome, what, broken.sentence);
        return refused(broken);
    }

    std::string m_uri;
    std::string m_resource;
    int m_jobId = 0;
    bool m_streaming = false;
};

} // namespace

std::unique_ptr<Spooler> createIppSpooler()
{
    return std::make_unique<IppSpooler>();
}
