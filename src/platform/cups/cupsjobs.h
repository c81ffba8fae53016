#pragma once

#include <atomic>
#include <string>

// Follows a job of the local scheduler until it is completed, aborted or
// cancelled (or stop is set). Returns the state's name, empty when the job
// could not be found.
std::string waitForCupsJob(const std::string &queue, int jobId, const std::atomic<bool> &stop);
