#pragma once

#include "transfer.h"

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

// A raw job to a spooler queue or straight to an IPP printer. Spooler and
// IPP calls block, so the job runs on a thread of its own and reports back
// to the event loop's thread.
class JobTransfer : public Transfer
{
    Q_OBJECT

public:
    JobTransfer(const Destination &destination, const QString &title, bool waitForJob,
                int connectTimeoutMs, QObject *parent = nullptr);
    ~JobTransfer() override;

    void start(std::unique_ptr<SourceReader> reader) override;
    void cancel() override;

private:
    struct Outcome
    {
        DestinationResult::Outcome outcome = DestinationResult::Outcome::Delivered;
        QString error;
        int jobId = 0;
        QString jobState;
    };
    Outcome runPrinterJob(SourceReader &reader);
    Outcome runIppJob(SourceReader &reader);
    // Hands the whole input to write(), chunk by chunk. Nothing when all of
    // it went; otherwise the failure, after withdraw() has undone the job.
    std::optional<Outcome> copyInput(SourceReader &reader,
                                     const std::function<std::optional<Outcome>(const QByteArray &)> &write,
                                     const std::function<void()> &withdraw);

    QString m_title;
    bool m_waitForJob;
    int m_connectTimeoutMs;
    std::atomic<bool> m_stop{false};
    std::shared_ptr<SourceReader> m_reader; // shared with the job's thread, so cancel() can wake it
    std::thread m_thread;
};
