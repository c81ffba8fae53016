#pragma once

#include "transmission/exitstatus.h"

#include <QString>

#include <functional>

class QByteArray;
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
    QString reason;
    qint64 taken = 0;   // bytes the spooler took
    qint64 offered = 0; // bytes handed to it, the last piece included
    int jobId = 0;      // the spooler's number for a delivered job
};

// Gives the job's next piece into *piece; false once there is none left,
// with *error set when the input failed.
using RawJobInput = std::function<bool(QByteArray *piece, QString *error)>;

// Sends what input gives to the named queue as one raw job of one page.
// Every call and every written count is checked; a job that was started and
// then failed is withdrawn, so nothing half-sent is printed. A set stop flag
// withdraws it too. taken hears of every piece the spooler took.
RawJobOutcome sendRawJob(Spooler &spooler, const QString &printer, const QString &documentName,
                         const RawJobInput &input, const StopFlag *stop = nullptr,
                         const std::function<void(qint64)> &taken = {});
// The window's Print: content at once, as "Command Print".
RawJobOutcome sendRawJob(Spooler &spooler, const QString &printer, const QByteArray &content);
