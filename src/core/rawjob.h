#pragma once

#include "platform/outcome.h"

#include <functional>
#include <string>
#include <string_view>

class Spooler;
class StopFlag;

inline constexpr char RawJobDocumentName[] = "Command Print";

// The sentence is the spooler's own words, or for a step it failed silently
// what failed, except a short write, which the counts tell.
struct RawJobOutcome : SendResult
{
    long long taken = 0;   // bytes the spooler took
    long long offered = 0; // bytes handed to it, the last piece included
    int jobId = 0;         // the spooler's number for a delivered job
    bool inputDrawn = false; // input was asked for a piece: trying again could print twice
};

// The next piece, valid until the next call; false once there is none left,
// with error set when the input failed.
using RawJobInput = std::function<bool(std::string_view *piece, std::string *error)>;

// Sends what input gives to the named queue as one raw job of one page.
// Every call and count is checked; a job that failed or was stopped after
// it started is withdrawn, so nothing half-sent is printed. taken hears of
// every piece the spooler took. Free of Qt, so it runs under Wine.
RawJobOutcome sendRawJob(Spooler &spooler, const std::string &printer,
                         const std::string &documentName, const RawJobInput &input,
                         const StopFlag *stop = nullptr,
                         const std::function<void(long long)> &taken = {});
// The window's Print: content at once, as "Command Print".
RawJobOutcome sendRawJob(Spooler &spooler, const std::string &printer, std::string_view content);
