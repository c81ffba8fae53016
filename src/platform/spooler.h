#pragma once

#include "platform/outcome.h"
#include "platform/waitlimits.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

// How following a job to its end went: delivered once it completed (or was
// forgotten after it was taken whole: the sentence says so), refused once
// aborted or canceled, WaitTimedOut when the watch's time ran out (the
// sentence is then the printer's state as last seen), Cancelled on a stop.
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

// One raw job to a named queue of the system's print spooler, or to a
// printer reached straight over IPP, one call per spooler step. Kept free of
// Qt so the Windows backend builds and runs on its own. Names are UTF-8; the
// data passes through unchanged.
class Spooler
{
public:
    virtual ~Spooler() = default;

    // Bounds the waits of the calls that follow; a backend whose calls
    // cannot hang on a silent peer may ignore it.
    virtual void setWaitLimits(const WaitLimits &) {}

    // A queue name, or for a printer reached over IPP its URI. Where the
    // backend can, it asks first whether the printer exists and takes
    // jobs, so that nothing is streamed to one that would refuse it.
    virtual bool open(const std::string &printerName) = 0;
    virtual bool startDocument(const std::string &documentName) = 0;
    virtual bool startPage() = 0;
    // Returns how many bytes the spooler took; less than size means it failed.
    virtual std::size_t write(const char *data, std::size_t size) = 0;
    virtual bool endPage() = 0;
    virtual bool endDocument() = 0;
    // Withdraws a started job after a failure; harmless when none was started.
    virtual void cancelJob() = 0;
    virtual bool close() = 0;

    // The spooler's number for the job once the document was started (still
    // valid after it ended, for following the job), 0 when there is none.
    virtual int jobId() const = 0;
    // After the job was handed over whole: asks for its state until it has
    // ended, within the wait limits and the watch's time, and until their
    // stop flag is set.
    virtual JobEnd followJob(const JobWatch & = {})
    {
        return {{SendOutcome::TransferFailed,
                 "the job's end could not be followed: this spooler cannot follow a job"},
                {}};
    }

    // What the last failed call met, in the spooler's own words (UTF-8;
    // may be empty). At open, a name or address that takes no jobs is
    // NoPrinter and one that did not answer ConnectionFailed; later a
    // broken or silent connection is TransferFailed.
    virtual SendResult failure() const = 0;
};

// Implemented once per platform backend (chosen by CMake).
std::unique_ptr<Spooler> createSystemSpooler();
// A printer reached straight over IPP, where libcups is the backend
// (platform::ippDirect); elsewhere null.
std::unique_ptr<Spooler> createIppSpooler();
