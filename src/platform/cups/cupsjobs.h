#pragma once

#include "platform/waitlimits.h"

#include <string>

class CupsConnection;

// How following a job ended.
struct JobEnd
{
    enum class Kind {
        Ended,     // completed, aborted or canceled: state says which
        Forgotten, // the scheduler or printer no longer knows the job
        Refused,   // it would not say; error holds its words
        Lost,      // no answer, or the connection broke; error says how
        Stopped,   // the stop flag was set
    };
    Kind kind = Kind::Lost;
    std::string state;
    std::string error;
};

// Asks for the job's state (Get-Job-Attributes by job id) until it has ended.
JobEnd followJob(CupsConnection &connection, const std::string &printerUri,
                 const std::string &resource, int jobId, const StopFlag *stop);
// The same for a job of a queue of the local scheduler, over a connection of its own.
JobEnd followSchedulerJob(const std::string &queue, int jobId, const WaitLimits &limits);
