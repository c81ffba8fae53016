#pragma once

#include "platform/waitlimits.h"
#include "transfer.h"

#include <functional>
#include <optional>
#include <thread>

struct JobEnd;

// A raw job to a spooler queue or straight to an IPP printer. Spooler and
// IPP calls block, so the job runs on a thread of its own and reports back
// to the event loop's thread.
class JobTransfer : public Transfer
{
    Q_OBJECT

public:
    JobTransfer(const Destination &destination, const QString &title, bool waitForJob,
                int connectTimeoutMs, int responseTimeoutMs, QObject *parent = nullptr);
    ~JobTransfer() override;

    void start(std::unique_ptr<SourceReader> reader) override;
    void cancel() override;

private:
    struct Outcome
    {
        SendOutcome outcome = SendOutcome::Delivered;
        QString error;
        int jobId = 0;
        QString jobState;
        QString note;
    };
    Outcome runPrinterJob(SourceReader &reader);
    Outcome runIppJob(SourceReader &reader);
    // The report of a job taken whole, after following it when asked to.
    Outcome followed(int jobId, const std::function<JobEnd()> &follow) const;
    // Hands the whole input to write(), chunk by chunk. Nothing when all of
    // it went; otherwise the failure, after withdraw() has undone the job.
    std::optional<Outcome> copyInput(SourceReader &reader,
                                     const std::function<std::optional<Outcome>(const QByteArray &)> &write,
                                     const std::function<void()> &withdraw);

    QString m_title;
    bool m_waitForJob;
    StopFlag m_stop;
    WaitLimits m_limits;
    std::shared_ptr<SourceReader> m_reader; // shared with the job's thread, so cancel() can wake it
    std::thread m_thread;
};
