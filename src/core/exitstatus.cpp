#include "core/exitstatus.h"

#include <algorithm>
#include <iterator>
#include <ranges>

namespace {

struct Outcome
{
    SendOutcome outcome;
    int status;
    const char *name;
};

constexpr Outcome Outcomes[] = {
    {SendOutcome::Delivered, SendExit::Delivered, "delivered"},
    {SendOutcome::InputUnreadable, SendExit::InputUnreadable, "input-unreadable"},
    {SendOutcome::ConnectionFailed, SendExit::ConnectionFailed, "connection-failed"},
    {SendOutcome::NoPrinter, SendExit::ConnectionFailed, "connection-failed"},
    {SendOutcome::TransferFailed, SendExit::TransferFailed, "transfer-failed"},
    {SendOutcome::SpoolerRefused, SendExit::SpoolerRefused, "spooler-refused"},
    {SendOutcome::Busy, SendExit::SpoolerRefused, "spooler-refused"},
    {SendOutcome::WaitTimedOut, SendExit::WaitTimedOut, "wait-timed-out"},
    {SendOutcome::Cancelled, SendExit::Interrupted, "cancelled"},
    {SendOutcome::NotStarted, SendExit::Interrupted, "not-started"},
};

// What each status means to each program's user; null where it never ends so.
struct Meaning
{
    int status;
    const char *window;
    const char *sender;
};

constexpr Meaning Meanings[] = {
    {SendExit::Delivered, "the file was sent and accepted", "all delivered"},
    {SendExit::Usage, "no display to show the window on (varnet-send needs none)", "usage error"},
    {SendExit::InputUnreadable, "the file could not be loaded", "unreadable input"},
    {SendExit::ConnectionFailed,
     "no connection (the printer is not known to the spooler, or TCP failed)",
     "connection failure (also an unknown queue)"},
    {SendExit::TransferFailed, "the transfer broke off", "transfer failure"},
    {SendExit::SpoolerRefused, "the spooler refused the job",
     "spooler refusal (with --wait also a job aborted or canceled)"},
    {SendExit::Partial, nullptr, "partly delivered"},
    {SendExit::WaitTimedOut, nullptr,
     "--wait-timeout ran out before the job ended; it stays queued"},
    {SendExit::Interrupted, "the send was cancelled (progress window closed)",
     "interrupted; it then ends by the signal, which a shell\n       shows as 130 (Ctrl-C), 143 (SIGTERM) or 129 (SIGHUP)"},
};

// One row per outcome, in the enum's order: the outcome is the row's index.
static_assert(std::size(Outcomes) == static_cast<std::size_t>(SendOutcome::NotStarted) + 1 &&
              std::ranges::all_of(std::views::iota(std::size_t{0}, std::size(Outcomes)), [](std::size_t i) {
                  return static_cast<std::size_t>(Outcomes[i].outcome) == i;
              }));

} // namespace

int exitStatusFor(SendOutcome outcome)
{
    return Outcomes[static_cast<std::size_t>(outcome)].status;
}

const char *outcomeName(SendOutcome outcome)
{
    return Outcomes[static_cast<std::size_t>(outcome)].name;
}

std::string exitStatusHelp(ExitStatusReader program)
{
    std::string text = "Exit status:\n";
    for (const Meaning &meaning : Meanings) {
        const char *said = program == ExitStatusReader::Window ? meaning.window : meaning.sender;
        if (said != nullptr) {
            const std::string status = std::to_string(meaning.status);
            text += "  " + status + std::string(5 - status.size(), ' ') + said + '\n';
        }
    }
    return text;
}
