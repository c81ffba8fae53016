#pragma once

#include "platform/waitlimits.h"

#include <cstddef>
#include <memory>
#include <string>

// One raw job to a named queue of the system's print spooler, one call per
// spooler step. Kept free of Qt so the Windows backend builds and runs on its
// own. Names are UTF-8; the data passes through unchanged.
class Spooler
{
public:
    virtual ~Spooler() = default;

    // Bounds the waits of the calls that follow; a backend whose calls
    // cannot hang on a silent peer may ignore it.
    virtual void setWaitLimits(const WaitLimits &) {}

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

    // The spooler's own words for the last failure, UTF-8; may be empty.
    virtual std::string errorText() const = 0;
    // The last failure was a connection that broke or went silent rather
    // than the spooler's refusal.
    virtual bool lostConnection() const { return false; }
};

// Implemented once per platform backend (chosen by CMake).
std::unique_ptr<Spooler> createSystemSpooler();
