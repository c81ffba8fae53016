#pragma once

#include "platform/outcome.h"
#include "platform/waitlimits.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

// How following a job went: Delivered once it completed (or was forgotten:
// the sentence says so), SpoolerRefused once aborted or canceled,
// WaitTimedOut with the printer's state as last seen, Cancelled on a stop.
struct JobEnd : SendResult
{
    std::string state; // the job's state as last seen: "completed", "pending"
};

// Waits for the time given; false as soon as stop is requested.
bool waitUnlessStopped(const std::stop_token &stop, std::chrono::milliseconds time);

// How a job is followed: for how long, and who hears how it and its printer stand.
struct JobWatch
{
    int timeoutMs = 0; // 0: until it ends
    std::stop_token stop; // ends the waits between two questions at once
    // "pending; printer stopped (paused): out of paper", from the following thread.
    std::function<void(const std::string &)> onStatus;
};

// One raw job to a queue of the system's spooler, or straight to an IPP
// printer, one call per step. Free of Qt so the Windows backend builds on its
// own. Names are UTF-8; the data passes through unchanged.
class Spooler
{
public:
    virtual ~Spooler() = default;

    // Bounds the waits of the calls that follow, where they can hang.
    virtual void setWaitLimits(const WaitLimits &) {}

    // A queue name, or an IPP printer's URI. Where it can, it asks first
    // whether the printer takes jobs, so nothing is streamed to a refusal.
    virtual bool open(const std::string &printerName) = 0;
    virtual bool startDocument(const std::string &documentName) = 0;
    // Returns how many bytes the spooler took; less than size means it failed.
    virtual std::size_t write(const char *data, std::size_t size) = 0;
    virtual bool endDocument() = 0;
    // Withdraws a started job after a failure; harmless when none was started.
    virtual void cancelJob() = 0;
    virtual bool close() = 0;

    // The job's number once known (still after it ended), else 0.
    virtual int jobId() const = 0;
    // After the job was handed over whole: asks for its state until it has
    // ended, within the wait limits and the watch's time, or a stop.
    virtual JobEnd followJob(const JobWatch & = {})
    {
        return {{SendOutcome::TransferFailed,
                 "the job's end could not be followed: this spooler cannot follow a job"},
                {}};
    }

    // What the last failed call met, in the spooler's words (may be empty).
    // At open a name that takes no jobs is NoPrinter, silence
    // ConnectionFailed; later a broken or silent connection TransferFailed.
    virtual SendResult failure() const = 0;
};

std::unique_ptr<Spooler> createSystemSpooler();
// A printer reached straight over IPP, where libcups is the backend
// (platform::ippDirect); elsewhere null.
std::unique_ptr<Spooler> createIppSpooler();
