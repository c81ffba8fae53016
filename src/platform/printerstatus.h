#pragma once

#include "platform/spooler.h"

#include <memory>
#include <stop_token>
#include <string>
#include <vector>

// How a printer stands by its own word: Host Resources and Printer MIB over
// SNMP. Delivered when it answered, ConnectionFailed when it did not (the
// sentence says so), Cancelled when the question was stopped.
struct PrinterStatus : SendResult
{
    std::string state{};               // "idle", "printing", "warming up", "other", "unknown"
    std::vector<std::string> alerts{}; // "low paper", "jammed", ... in the MIB's order
    long long pageCount = -1;          // its page counter; -1 when it keeps none
    std::string model{};

    // Why it cannot print, as "the printer reports: no paper, door open";
    // empty when it can.
    std::string refusal() const;
};

// A printer's SNMP agent, asked with SNMPv2c and, when that gets no answer,
// SNMPv1. Each question opens a socket of its own and closes it again, so
// between questions the agent holds no descriptor.
class PrinterAgent
{
public:
    virtual ~PrinterAgent() = default;
    // Within about a second per try, two tries per version; a stop ends
    // the wait at once.
    virtual PrinterStatus ask(const std::stop_token &stop) = 0;
};

std::unique_ptr<PrinterAgent> createPrinterAgent(const std::string &host, int port,
                                                 const std::string &community);

// How a printer that took a job whole went on: Delivered once it was idle
// again, SpoolerRefused when it reported an alert that stops it,
// WaitTimedOut when the watch's time ran out, Cancelled on a stop. When it
// no longer answers, Delivered with the sentence saying so.
struct PrinterEnd : JobEnd
{
    PrinterStatus last{};        // as last heard
    long long pagesPrinted = -1; // its counter's rise since `before`; -1 unknown
};

// Asks about once a second until the printer has been idle, with no alert
// that stops it, twice in a row, having shown that it took the job up (busy,
// or counting pages) or had a few seconds to.
PrinterEnd followPrinter(PrinterAgent &agent, const PrinterStatus &before, const JobWatch &watch);
