#pragma once

#include <QString>

class QByteArray;
class Spooler;

inline constexpr char RawJobDocumentName[] = "Command Print";

struct RawJobOutcome
{
    enum class Result
    {
        Sent,
        OpenFailed,
        Failed
    };
    // The step that went wrong, for callers that want to say more than the reason.
    enum class Step
    {
        None,
        Open,
        StartDocument,
        StartPage,
        Write,
        EndPage,
        EndDocument,
        Close
    };

    Result result = Result::Sent;
    Step failedStep = Step::None;
    QString reason;
};

// Sends content to the named queue as one raw job of one page called
// "Command Print". Every call and the written count are checked; a job that
// was started and then failed is cancelled, so nothing half-sent is printed.
RawJobOutcome sendRawJob(Spooler &spooler, const QString &printerName, const QByteArray &content);
