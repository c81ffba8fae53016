#pragma once

#include <string>

// How a send, or one step of it, ended; the sentence is what the user reads.
enum class SendOutcome {
    Delivered,
    InputUnreadable,  // the file could not be read
    ConnectionFailed, // never connected, or the scheduler or printer did not answer; may pass
    NoPrinter,        // nothing at the address or name takes jobs; counts as ConnectionFailed
    TransferFailed,   // connected, but the bytes did not all arrive
    SpoolerRefused,   // the scheduler or printer refused or aborted the job
    Busy,             // refused for now; counts as SpoolerRefused, may pass
    WaitTimedOut,     // the job was handed over whole, but did not end in the time given
    Cancelled,        // stopped by the user
    NotStarted,       // never reached (interrupted before its turn), or not ended yet
};

struct SendResult
{
    SendOutcome outcome = SendOutcome::Delivered;
    std::string sentence; // why it failed; for a delivery, a note or nothing
};

// The one rule for trying again: nothing of the input drawn, nothing printed twice.
constexpr bool mayRetry(SendOutcome outcome, bool inputDrawn)
{
    return !inputDrawn && (outcome == SendOutcome::ConnectionFailed || outcome == SendOutcome::Busy);
}
