#include "transfer.h"

#include "platform/printerstatus.h"

Transfer::Transfer(const Destination &destination, QObject *parent)
    : QObject(parent)
{
    m_result.destination = destination;
}

Transfer::~Transfer() = default;

void Transfer::finish(SendOutcome outcome, const QString &error)
{
    if (m_done)
        return;
    m_done = true;
    m_result.outcome = outcome;
    m_result.error = error;
    m_result.bytes = m_bytes.load();
    m_result.attempts = m_attempts.load();
    m_result.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    emit finished();
}

void Transfer::setJob(int jobId, const QString &state)
{
    m_result.jobId = jobId;
    m_result.jobState = state;
}

void Transfer::setNote(const QString &note)
{
    if (!note.isEmpty())
        m_result.note += (m_result.note.isEmpty() ? QString() : QStringLiteral("; ")) + note;
}

void Transfer::setPrinter(const PrinterStatus &status, qint64 pagesPrinted)
{
    if (status.outcome != SendOutcome::Delivered)
        return;
    m_result.printerState = QString::fromStdString(status.state);
    m_result.printerAlerts.clear();
    for (const std::string &alert : status.alerts)
        m_result.printerAlerts << QString::fromStdString(alert);
    m_result.printerModel = QString::fromStdString(status.model);
    m_result.pageCount = status.pageCount;
    m_result.pagesPrinted = pagesPrinted;
}

QString Transfer::status() const
{
    const std::lock_guard lock(m_statusMutex);
    return m_status;
}

void Transfer::setStatus(const QString &status)
{
    const std::lock_guard lock(m_statusMutex);
    m_status = status;
}

int Transfer::retryDelay(const SendOptions &options, SendOutcome outcome, bool inputDrawn,
                         const QString &reason)
{
    if (!mayRetry(outcome, inputDrawn) || attempts() > options.retries)
        return -1;
    const int delay = retryDelayMs(options, attempts() + 1);
    setStatus(QStringLiteral("attempt %1 of %2 failed (%3); next in %4 s")
                  .arg(attempts())
                  .arg(options.retries + 1)
                  .arg(reason)
                  .arg(static_cast<double>(delay) / 1000.0));
    return delay;
}
