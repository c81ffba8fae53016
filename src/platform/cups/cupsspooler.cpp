#include "transmission/spooler.h"

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Bounded pieces let the library notice an early answer from the scheduler
// (a refused job) between writes instead of after the whole file.
constexpr std::size_t WriteChunk = 256 * 1024;

bool ippSucceeded(ipp_status_t status)
{
    return status < IPP_STATUS_REDIRECTION_OTHER_SITE;
}

class CupsSpooler final : public Spooler
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
        if (printerName.empty()) {
            m_error = "no printer name given";
            return false;
        }
        cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, printerName.c_str(), nullptr);
        if (dest == nullptr) {
            rememberLibraryError("the queue is unknown to the scheduler");
            return false;
        }
        m_name = dest->name;
        cupsFreeDests(1, dest);

        // A connection of our own: a job streamed on the shared default
        // connection could not be cancelled over it while half-sent.
        m_http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              30000, nullptr);
        if (m_http == nullptr) {
            rememberLibraryError("the scheduler cannot be reached");
            return false;
        }
        return true;
    }

    bool startDocument(const std::string &documentName) override
    {
        m_finished = false;
        m_job = cupsCreateJob(m_http, m_name.c_str(), documentName.c_str(), 0, nullptr);
        if (m_job <= 0) {
            m_job = 0;
            rememberLibraryError("the scheduler refused the job");
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
            const http_status_t status = cupsStartDocument(
                m_http, m_name.c_str(), m_job, m_documentName.c_str(), CUPS_FORMAT_RAW, 1);
            if (status != HTTP_STATUS_CONTINUE) {
                rememberHttpError(status);
                return 0;
            }
            m_streaming = true;
        }
        std::size_t written = 0;
        while (written < size) {
            const std::size_t piece = std::min(WriteChunk, size - written);
            const http_status_t status = cupsWriteRequestData(m_http, data + written, piece);
            if (status != HTTP_STATUS_CONTINUE) {
                rememberHttpError(status);
                break;
            }
            written += piece;
        }
        return written;
    }

    bool endDocument() override
    {
        const ipp_status_t status =
            m_streaming ? cupsFinishDocument(m_http, m_name.c_str()) : closeEmptyJob();
        m_streaming = false;
        if (!ippSucceeded(status)) {
            rememberLibraryError("the scheduler did not accept the document");
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
        close();
        cupsCancelJob2(CUPS_HTTP_DEFAULT, m_name.c_str(), m_job, 0);
        m_job = 0;
        m_streaming = false;
    }

    bool close() override
    {
        if (m_http != nullptr) {
            httpClose(m_http);
            m_http = nullptr;
        }
        return true;
    }

    int jobId() const override { return m_job; }

    std::string errorText() const override { return m_error; }

private:
    // An empty file makes a job without documents: closing it tells the
    // scheduler nothing more is coming, and it ends the job without
    // bothering the printer.
    ipp_status_t closeEmptyJob()
    {
        char uri[HTTP_MAX_URI];
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s", m_name.c_str());
        ipp_t *request = ippNewRequest(IPP_OP_CLOSE_JOB);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", m_job);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                     cupsUser());
        ippDelete(cupsDoRequest(m_http, request, "/jobs/"));
        return cupsLastError();
    }

    void rememberLibraryError(const char *fallback)
    {
        const char *text = cupsLastErrorString();
        m_error = (text != nullptr && *text != '\0') ? text : fallback;
    }

    void rememberHttpError(http_status_t status)
    {
        if (status == HTTP_STATUS_ERROR && m_http != nullptr && httpError(m_http) != 0)
            m_error = std::strerror(httpError(m_http));
        else if (const char *text = cupsLastErrorString();
                 text != nullptr && *text != '\0' && cupsLastError() != IPP_STATUS_OK)
            m_error = text;
        else
            m_error = httpStatus(status);
    }

    std::string m_name;
    http_t *m_http = nullptr;
    int m_job = 0;
    bool m_finished = false; // the scheduler has the whole job; no cancelling it now
    std::string m_documentName;
    bool m_streaming = false;
    std::string m_error;
};

} // namespace

std::unique_ptr<Spooler> createSystemSpooler()
{
    return std::make_unique<CupsSpooler>();
}
