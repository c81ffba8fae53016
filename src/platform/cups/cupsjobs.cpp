#include "cupsjobs.h"

#include <cups/cups.h>

#include <chrono>
#include <thread>

std::string waitForCupsJob(const std::string &queue, int jobId, const std::atomic<bool> &stop)
{
    while (!stop.load()) {
        cups_job_t *jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
        ipp_jstate_t state = IPP_JSTATE_PENDING;
        bool found = false;
        for (int i = 0; i < count; ++i) {
            if (jobs[i].id == jobId) {
                state = jobs[i].state;
                found = true;
            }
        }
        cupsFreeJobs(count, jobs);
        if (!found)
            return {};
        switch (state) {
        case IPP_JSTATE_COMPLETED:
            return "completed";
        case IPP_JSTATE_ABORTED:
            return "aborted";
        case IPP_JSTATE_CANCELED:
            return "canceled";
        default:
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return {};
}
