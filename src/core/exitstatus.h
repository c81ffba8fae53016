#pragma once

#include "platform/outcome.h"

#include <string>

// The exit status of an unattended send, shared by the window's
// command-line mode and varnet-send, so scripts read both alike.
namespace SendExit {
inline constexpr int Delivered = 0;
inline constexpr int Usage = 2;
inline constexpr int InputUnreadable = 3;
inline constexpr int ConnectionFailed = 4; // includes a queue the spooler does not know
inline constexpr int TransferFailed = 5;
inline constexpr int SpoolerRefused = 6;
inline constexpr int Partial = 7;
inline constexpr int WaitTimedOut = 8; // the job stays queued
inline constexpr int Interrupted = 130;
} // namespace SendExit

int exitStatusFor(SendOutcome outcome);
// As varnet-send's summaries name it: "connection-failed".
const char *outcomeName(SendOutcome outcome);

// The "Exit status:" section of a program's --help, made from the one table.
enum class ExitStatusReader { Window, Sender };
std::string exitStatusHelp(ExitStatusReader program);
