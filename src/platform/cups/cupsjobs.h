#pragma once

#include "platform/spooler.h"

#include <string>

class CupsConnection;

// What a printer or queue says of itself before a job is sent to it.
struct PrinterAnswer
{
    enum class Kind {
        Ready,        // it exists and takes jobs
        Unknown,      // there is no such printer there
        NotAccepting, // it exists but takes no jobs now
        Busy,         // busy or unavailable for now
        Refused,      // it would not say; error holds its words
        Lost,         // no answer, or the connection broke; error says how
    };
    Kind kind = Kind::Lost;
    std::string name;  // printer-name, where it gives one
    std::string state; // "stopped (paused): out of paper"
    std::string error;
};

// Get-Printer-Attributes: whether it exists, takes jobs, and how it stands.
PrinterAnswer askPrinter(CupsConnection &connection, const std::string &printerUri,
                         const std::string &resource);

// Asks for the job's state (Get-Job-Attributes by job id) until it has
// ended; on the way tells watch how the job and its printer stand.
JobEnd followJob(CupsConnection &connection, const std::string &printerUri,
                 const std::string &resource, int jobId, const StopFlag *stop,
                 const JobWatch &watch);
