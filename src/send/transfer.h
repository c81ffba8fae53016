#pragma once

#include "sendreport.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class SourceReader;
struct PrinterStatus;

// Sending the input to one destination. Progress is read by polling
// bytesSent(), which any thread may update.
class Transfer : public QObject
{
    Q_OBJECT

public:
    explicit Transfer(const Destination &destination, QObject *parent = nullptr);
    ~Transfer() override;

    virtual void start(std::unique_ptr<SourceReader> reader) = 0;
    // Stops as soon as it can; finished() still follows.
    virtual void cancel() = 0;

    qint64 bytesSent() const { return m_bytes.load(); }
    // What it is waiting for, for the progress line (a retry, the printer's
    // state while a job is followed); empty when it is simply sending.
    QString status() const;
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
    void addSent(qint64 bytes) { m_bytes += bytes; }
    void setSent(qint64 bytes) { m_bytes = bytes; }
    void markStarted() { m_clock.start(); }
    // From any thread.
    void countAttempt() { ++m_attempts; }
    void uncountAttempt() { --m_attempts; }
    int attempts() const { return m_attempts.load(); }
    void setStatus(const QString &status);
    // After a failed attempt: the wait before the next one, said in the
    // status, or -1 when none follows (it cannot pass, input was drawn, or
    // the retries are used up).
    int retryDelay(const SendOptions &options, SendOutcome outcome, bool inputDrawn,
                   const QString &reason);
    // Records the outcome once; later calls are ignored.
    void finish(SendOutcome outcome, const QString &error = QString());
    void setJob(int jobId, const QString &state);
    // Notes add up, joined by "; ".
    void setNote(const QString &note);
    // How the printer stood as last heard over SNMP; pages printed while followed.
    void setPrinter(const PrinterStatus &status, qint64 pagesPrinted = -1);
    bool mayWaitForDescriptor() const { return m_mayWait && m_mayWait(); }

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

// The transfer to a destination of each kind: raw TCP through the window's
// sender; a raw job to a spooler queue or an IPP printer; and for --status,
// no transfer at all, only the question how a TCP printer stands.
Transfer *newTcpTransfer(const Destination &destination, const SendOptions &options,
                         QObject *parent);
Transfer *newJobTransfer(const Destination &destination, const SendOptions &options,
                         QObject *parent);
Transfer *newStatusTransfer(const Destination &destination, const SendOptions &options,
                            QObject *parent);
