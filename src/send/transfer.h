#pragma once

#include "sendreport.h"

#include "core/bytesource.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <tuple>

struct PrinterStatus;

// Sending the input to one destination. Progress is read by polling
// bytesSent(), which any thread may update.
class Transfer : public QObject
{
    Q_OBJECT

public:
    explicit Transfer(const Destination &destination, QObject *parent = nullptr) : QObject(parent)
    {
        m_result.destination = destination;
    }

    // From the input's start; again after waitingForDescriptor().
    void start(std::unique_ptr<SourceReader> reader)
    {
        m_clock.start();
        m_reader = std::move(reader);
        begin();
    }
    // Stops as soon as it can; finished() still follows.
    virtual void cancel() = 0;

    qint64 bytesSent() const { return m_bytes.load(); }
    // What it is waiting for, for the progress line (a retry, the printer's
    // state while a job is followed); empty when it is simply sending.
    QString status() const
    {
        const std::lock_guard lock(m_statusMutex);
        return m_status;
    }
    bool isDone() const { return m_done; }
    DestinationResult result() const { return m_result; }
    const Destination &destination() const { return m_result.destination; }
    // Asked when the transfer could not even begin for want of a
    // descriptor: true lets it wait for another turn instead of failing.
    void setMayWait(std::function<bool()> mayWait) { m_mayWait = std::move(mayWait); }

signals:
    void finished();
    // Nothing went out for want of a descriptor; start() it again once one
    // is free.
    void waitingForDescriptor();

protected:
    virtual void begin() = 0;
    void addSent(qint64 bytes) { m_bytes += bytes; }
    void setSent(qint64 bytes) { m_bytes = bytes; }
    // From any thread.
    void countAttempt() { ++m_attempts; }
    void uncountAttempt() { --m_attempts; }
    int attempts() const { return m_attempts.load(); }
    void setStatus(const QString &status)
    {
        const std::lock_guard lock(m_statusMutex);
        m_status = status;
    }
    // After a failed attempt: the wait before the next one, said in the
    // status, or -1 when none follows (it cannot pass, input was drawn, or
    // the retries are used up).
    int retryDelay(const SendOptions &options, SendOutcome outcome, bool inputDrawn,
                   const QString &reason);
    // Records the outcome once; later calls are ignored.
    void finish(SendOutcome outcome, const QString &error = QString());
    void setJob(int jobId, const QString &state)
    {
        std::tie(m_result.jobId, m_result.jobState) = std::pair(jobId, state);
    }
    // Notes add up, joined by "; ".
    void setNote(const QString &note);
    // How the printer stood as last heard over SNMP; pages printed while followed.
    void setPrinter(const PrinterStatus &status, qint64 pagesPrinted = -1);
    bool mayWaitForDescriptor() const { return m_mayWait && m_mayWait(); }

    // Shared with a job's thread, so cancel() can wake it.
    std::shared_ptr<SourceReader> m_reader;

private:
    DestinationResult m_result;
    std::atomic<qint64> m_bytes{0};
    std::atomic<int> m_attempts{0};
    mutable std::mutex m_statusMutex;
    QString m_status;
    QElapsedTimer m_clock;
    bool m_done = false;
    std::function<bool()> m_mayWait;
};

// Raw TCP through the window's sender, or a raw job to a spooler queue or
// an IPP printer; for --status, only the question how a TCP printer stands.
Transfer *newTransfer(const Destination &destination, const SendOptions &options, QObject *parent);
