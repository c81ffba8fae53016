#pragma once

#include "platform/spooler.h"

#include <string>

class CupsConnection;

// Asks for the job's state (Get-Job-Attributes by job id) until it has ended.
JobEnd followJob(CupsConnection &connection, const std::string &printerUri,
                 const std::string &resource, int jobId, const StopFlag *stop);
