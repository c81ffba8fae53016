#pragma once

#include "core/exitstatus.h"

#include <functional>
#include <string>
#include <string_view>

class Spooler;
class StopFlag;

inline constexpr char RawJobDocumentName[] = "Command Print";

struct RawJobOutcome
{
    // The step that went wrong, for callers that want to say more than the reason.
    enum class Step { None, Open, StartDocument, StartPage, Write, EndPage, EndDocument, Close };

    SendOutcome outcome = SendOutcome::Delivered;
    Step failedStep = Step::None;
    // The spooler's own words; for a step it failed silently, what failed,
    // except a short write, which the counts tell.
    std::string reason;
    long long taken = 0;   // bytes the spooler took
    long long offered = 0; // bytes handed to it, the last piece included
    int jobId = 0;         // the spooler's number for a delivered job
    // It failed before any of the input was drawn, in a way that may pass
    // (the scheduler or printer unreachable, or busy): trying again cannot
    // print anything twice.
    bool retryable = false;
};

// Gives the job's next piece; false once there is none left, with error set
// when the input failed. A piece stays valid until the next call.
using RawJobInput = std::function<bool(std::string_view *piece, std::string *error)>;

// Sends what input gives to the named queue as one raw job of one page.
// Every call and every written count is checked; a job that was started and
// then failed is withdrawn, so nothing half-sent is printed. A set stop flag
// withdraws it too. taken hears of every piece the spooler took. Free of Qt,
// so the Windows spooler runs it under Wine as the program does.
RawJobOutcome sendRawJob(Spooler &spooler, const std::string &printer,
                         const std::string &documentName, const RawJobInput &input,
                         const StopFlag *stop = nullptr,
                         const std::function<void(long long)> &taken = {});
// The window's Print: content at once, as "Command Print".
RawJobOutcome sendRawJob(Spooler &spooler, const std::string &printer, std::string_view content);
