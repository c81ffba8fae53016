#pragma once

#include "platform/waitlimits.h"
#include "transfer.h"

#include <thread>

class Spooler;

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
    Outcome run(SourceReader &reader);
    // The report of a job taken whole, after following it when asked to.
    Outcome followed(Spooler &spooler, int jobId) const;

    QString m_title;
    bool m_waitForJob;
    StopFlag m_stop;
    WaitLimits m_limits;
    std::shared_ptr<SourceReader> m_reader; // shared with the job's thread, so cancel() can wake it
    std::thread m_thread;
};
