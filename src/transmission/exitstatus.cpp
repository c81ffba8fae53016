#include "exitstatus.h"

namespace {

// What each status means to the user of each program; null where that
// program never ends with it.
struct Meaning
{
    int status;
    const char *window;
    const char *sender;
};

constexpr Meaning Meanings[] = {
    {SendExit::Delivered, "the file was sent and accepted", "all delivered"},
    {SendExit::Usage, nullptr, "usage error"},
    {SendExit::InputUnreadable, "the file could not be loaded", "unreadable input"},
    {SendExit::ConnectionFailed,
     "no connection (the printer is not known to the spooler, or TCP failed)",
     "connection failure (also an unknown queue)"},
    {SendExit::TransferFailed, "the transfer broke off", "transfer failure"},
    {SendExit::SpoolerRefused, "the spooler refused the job",
     "spooler refusal (with --wait also a job aborted or canceled)"},
    {SendExit::Partial, nullptr, "partly delivered"},
    {SendExit::Interrupted, "the send was cancelled (progress window closed)", "interrupted"},
};

} // namespace

int exitStatusFor(SendOutcome outcome)
{
    switch (outcome) {
    case SendOutcome::Delivered:
        return SendExit::Delivered;
    case SendOutcome::InputUnreadable:
        return SendExit::InputUnreadable;
    case SendOutcome::ConnectionFailed:
        return SendExit::ConnectionFailed;
    case SendOutcome::TransferFailed:
        return SendExit::TransferFailed;
    case SendOutcome::SpoolerRefused:
        return SendExit::SpoolerRefused;
    case SendOutcome::Cancelled:
    case SendOutcome::NotStarted:
        break;
    }
    return SendExit::Interrupted;
}

QString outcomeName(SendOutcome outcome)
{
    switch (outcome) {
    case SendOutcome::Delivered:
        return QStringLiteral("delivered");
    case SendOutcome::InputUnreadable:
        return QStringLiteral("input-unreadable");
    case SendOutcome::ConnectionFailed:
        return QStringLiteral("connection-failed");
    case SendOutcome::TransferFailed:
        return QStringLiteral("transfer-failed");
    case SendOutcome::SpoolerRefused:
        return QStringLiteral("spooler-refused");
    case SendOutcome::Cancelled:
        return QStringLiteral("cancelled");
    case SendOutcome::NotStarted:
        break;
    }
    return QStringLiteral("not-started");
}

QString exitStatusHelp(ExitStatusReader program)
{
    QString text = QStringLiteral("Exit status:\n");
    for (const Meaning &meaning : Meanings) {
        const char *said = program == ExitStatusReader::Window ? meaning.window : meaning.sender;
        if (said != nullptr)
            text += QStringLiteral("  %1  %2\n").arg(meaning.status, -3).arg(QLatin1String(said));
    }
    return text;
}
