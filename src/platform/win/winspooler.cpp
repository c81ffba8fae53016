#include "platform/spooler.h"
#include "wintext.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

class WinSpooler final : public Spooler
{
public:
    ~WinSpooler() override
    {
        cancelJob();
        close();
    }

    bool open(const std::string &printerName) override
    {
        close();
        // A null name would open the local print server, not a queue.
        if (printerName.empty()) {
            m_failure = {SendOutcome::NoPrinter, "no printer name given"};
            return false;
        }
        std::wstring name = toWide(printerName);
        if (OpenPrinterW(name.data(), &m_handle, nullptr))
            return true;
        m_handle = nullptr;
        return rememberLastError(SendOutcome::NoPrinter);
    }

    bool startDocument(const std::string &documentName) override
    {
        std::wstring name = toWide(documentName);
        // No output file and no data type: not redirected, and the queue's
        // own default data type applies.
        DOC_INFO_1W info{name.data(), nullptr, nullptr};
        const DWORD job = StartDocPrinterW(m_handle, 1, reinterpret_cast<LPBYTE>(&info));
        if (job == 0)
            return rememberLastError();
        m_job = static_cast<int>(job);
        m_documentStarted = true;
        // A raw document is one page; the spooler wants it framed as such.
        return check(StartPagePrinter(m_handle));
    }

    std::size_t write(const char *data, std::size_t size) override
    {
        // One call for everything that fits a DWORD, which is every file in
        // practice; larger contents go in DWORD-sized pieces. An empty
        // content is still written once, as a zero-byte page.
        std::size_t written = 0;
        do {
            const auto piece = static_cast<DWORD>(
                std::min<std::size_t>(size - written, std::numeric_limits<DWORD>::max()));
            DWORD took = 0;
            // WritePrinter does not change the buffer despite its parameter type.
            if (!check(WritePrinter(m_handle, const_cast<char *>(data + written), piece, &took)))
                took = 0;
            written += took;
            // The spooler gives no refusal here: the data did not get through.
            if (took != piece) {
                m_failure.outcome = SendOutcome::TransferFailed;
                break;
            }
        } while (written < size);
        return written;
    }

    bool endDocument() override
    {
        if (!check(EndPagePrinter(m_handle)) || !check(EndDocPrinter(m_handle)))
            return false;
        m_documentStarted = false;
        return true;
    }

    void cancelJob() override
    {
        if (m_documentStarted && m_handle != nullptr)
            AbortPrinter(m_handle);
        m_documentStarted = false;
    }

    bool close() override
    {
        return m_handle == nullptr || check(ClosePrinter(std::exchange(m_handle, nullptr)));
    }

    int jobId() const override { return m_job; }

    SendResult failure() const override { return m_failure; }

private:
    bool check(BOOL result) { return result != FALSE || rememberLastError(); }

    // Always false, for the failing call to return.
    bool rememberLastError(SendOutcome outcome = SendOutcome::SpoolerRefused)
    {
        // A spooler call can fail without setting a code; "The operation
        // completed successfully" would then be a lie, so give no reason and
        // let the caller say what failed.
        const DWORD code = GetLastError();
        m_failure = {outcome, code == ERROR_SUCCESS ? std::string() : systemErrorText(code)};
        return false;
    }

    HANDLE m_handle = nullptr;
    bool m_documentStarted = false;
    int m_job = 0;
    SendResult m_failure{SendOutcome::SpoolerRefused, {}};
};

} // namespace

std::unique_ptr<Spooler> createSystemSpooler()
{
    return std::make_unique<WinSpooler>();
}

std::unique_ptr<Spooler> createIppSpooler()
{
    // Nothing asks while ippDirect is false.
    return nullptr;
}
