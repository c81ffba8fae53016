#pragma once

#include "cupsconnection.h"
#include "platform/spooler.h"

#include <memory>
#include <string>

// What the spoolers for queues and for IPP printers share: one connection
// whose calls are bounded by the wait limits, and the last failure.
class CupsJobSpooler : public Spooler
{
public:
    void setWaitLimits(const WaitLimits &limits) override { m_limits = limits; }
    // Pages are a Windows spooler notion; a raw document has none.
    bool startPage() override { return true; }
    bool endPage() override { return true; }
    SendResult failure() const override { return m_failure; }

protected:
    bool fail(SendResult failure)
    {
        m_failure = std::move(failure);
        return false;
    }

    WaitLimits m_limits;
    std::unique_ptr<CupsConnection> m_connection;
    SendResult m_failure{SendOutcome::SpoolerRefused, {}};
};

// What a printer or queue says of itself before a job is sent to it:
// Delivered when it answered, NoPrinter when there is no such printer there,
// Busy, SpoolerRefused when it would not say, ConnectionFailed when it did
// not answer; the sentence says why.
struct PrinterAnswer : SendResult
{
    std::string name{};  // printer-name, where it gives one
    std::string state{}; // "stopped (paused): out of paper"
    bool accepting = true;
};

// Get-Printer-Attributes: whether it exists, takes jobs, and how it stands.
PrinterAnswer askPrinter(CupsConnection &connection, const std::string &printerUri,
                         const std::string &resource);

// Asks for the job's state (Get-Job-Attributes by job id) until it has
// ended; on the way tells watch how the job and its printer stand.
JobEnd followJob(CupsConnection &connection, const std::string &printerUri,
                 const std::string &resource, int jobId, const StopFlag *stop,
                 const JobWatch &watch);
