#include "platform/printerstatus.h"

#include <algorithm>
#include <chrono>

namespace {

// What stops a printer, as against what only warns.
const char *const StoppingAlerts[] = {"no paper", "door open", "jammed", "no toner", "offline",
                                      "output full"};

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds AskEvery(1);
// An idle printer may not have begun yet: it is taken at its word only
// after it showed it took the job up, or after this long.
constexpr std::chrono::seconds StartAllowance(5);

} // namespace

std::string PrinterStatus::refusal() const
{
    std::string stopping;
    for (const std::string &alert : alerts)
        if (std::ranges::find(StoppingAlerts, alert) != std::end(StoppingAlerts))
            stopping += (stopping.empty() ? "" : ", ") + alert;
    return stopping.empty() ? stopping : "the printer reports: " + stopping;
}

PrinterEnd followPrinter(PrinterAgent &agent, const PrinterStatus &before, const JobWatch &watch)
{
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = watch.timeoutMs > 0
                                      ? start + std::chrono::milliseconds(watch.timeoutMs)
                                      : Clock::time_point::max();
    PrinterEnd result;
    const auto ending = [&result](SendOutcome outcome, std::string sentence) {
        result.outcome = outcome;
        result.sentence = std::move(sentence);
        result.state = result.last.state;
        return result;
    };
    bool begun = false;
    int idle = 0; // answers in a row that said idle
    for (;;) {
        result.last = agent.ask(watch.stop);
        const PrinterStatus &now = result.last;
        if (now.outcome == SendOutcome::Cancelled)
            return ending(SendOutcome::Cancelled, "interrupted while following the printer");
        if (now.outcome != SendOutcome::Delivered)
            return ending(SendOutcome::Delivered, "not followed to the end: " + now.sentence);
        if (before.pageCount >= 0 && now.pageCount >= before.pageCount)
            result.pagesPrinted = now.pageCount - before.pageCount;
        const std::string pages =
            result.pagesPrinted < 0 ? std::string()
                                    : std::to_string(result.pagesPrinted) +
                                          (result.pagesPrinted == 1 ? " page" : " pages");
        if (const std::string refusal = now.refusal(); !refusal.empty())
            return ending(SendOutcome::SpoolerRefused, refusal + (pages.empty() ? "" : " after " + pages));
        begun = begun || now.state == "printing" || now.state == "warming up" ||
                result.pagesPrinted > 0 || Clock::now() - start >= StartAllowance;
        idle = now.state == "idle" ? idle + 1 : 0;
        if (begun && idle >= 2)
            return ending(SendOutcome::Delivered, {});
        const std::string progress = now.state + (pages.empty() ? "" : ", " + pages + " printed");
        if (watch.onStatus)
            watch.onStatus("printer " + progress);
        if (Clock::now() >= end)
            return ending(SendOutcome::WaitTimedOut, progress);
        waitUnlessStopped(watch.stop, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::min<Clock::duration>(AskEvery, end - Clock::now())));
    }
}
