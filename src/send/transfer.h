#pragma once

#include "sendreport.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <memory>

class SourceReader;

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
    bool isDone() const { return m_done; }
    DestinationResult result() const { return m_result; }
    const Destination &destination() const { return m_result.destination; }

signals:
    void finished();

protected:
    void addSent(qint64 bytes) { m_bytes += bytes; }
    void setSent(qint64 bytes) { m_bytes = bytes; }
    void markStarted() { m_clock.start(); }
    // Records the outcome once; later calls are ignored.
    void finish(SendOutcome outcome, const QString &error = QString());
    void setJob(int jobId, const QString &state);
    void setNote(const QString &note) { m_result.note = note; }

private:
    DestinationResult m_result;
    std::atomic<qint64> m_bytes{0};
    QElapsedTimer m_clock;
    bool m_done = false;
};

// The transfer to a destination of each kind: raw TCP through the window's
// sender; a raw job to a spooler queue or an IPP printer.
Transfer *newTcpTransfer(const Destination &destination, const SendOptions &options,
                         QObject *parent);
Transfer *newJobTransfer(const Destination &destination, const SendOptions &options,
                         QObject *parent);
