#pragma once

#include "platform/waitlimits.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// How following a job to its end went.
struct JobEnd
{
    enum class Kind {
        Ended,     // completed, aborted or canceled: state says which
        Forgotten, // the scheduler or printer no longer knows the job
        Refused,   // it would not say; error holds its words
        Lost,      // no answer, or the connection broke; error says how
        Stopped,   // the stop flag was set
        TimedOut,  // still not ended when the watch's time ran out; state says where it stands
    };
    Kind kind = Kind::Lost;
    std::string state;
    std::string error; // for TimedOut, the printer's state as last seen
};

// How a job is followed: for how long, and who hears how it and its printer stand.
struct JobWatch
{
    int timeoutMs = 0; // 0: until it ends
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
    // What the last failed call met.
    enum class Failure {
        Refused,   // the spooler's or printer's refusal, in its own words
        Lost,      // the connection broke or went silent, or the data did not get through
        NoPrinter,    // nothing that takes jobs at the address given
        NotAccepting, // the printer or queue is there but takes no jobs now
        Busy,         // it answered busy or unavailable for now, and took nothing
    };

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
        return {JobEnd::Kind::Lost, {}, "this spooler cannot follow a job"};
    }

    // The spooler's own words for the last failure, UTF-8; may be empty.
    virtual std::string errorText() const = 0;
    virtual Failure failure() const { return Failure::Refused; }
};

// Implemented once per platform backend (chosen by CMake).
std::unique_ptr<Spooler> createSystemSpooler();
// A printer reached straight over IPP. Only where libcups is the backend:
// varnet-send, its one user, is built only there.
std::unique_ptr<Spooler> createIppSpooler();
