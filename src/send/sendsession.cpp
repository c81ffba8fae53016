#include "sendsession.h"

#include "bytesource.h"
#include "jobtransfer.h"
#include "tcptransfer.h"

#include <cstdio>

SendSession::SendSession(const SendOptions &options, std::unique_ptr<ByteSource> source,
                         bool showProgress, QObject *parent)
    : QObject(parent), m_options(options), m_source(std::move(source)), m_drawProgress(showProgress)
{
    for (const Destination &destination : m_options.destinations) {
        Transfer *transfer = nullptr;
        if (destination.kind == Destination::Kind::Tcp)
            transfer = new TcpTransfer(destination, m_options.connectTimeoutMs,
                                       m_options.waitEofMs, this);
        else
            transfer = new JobTransfer(destination, m_options.title, m_options.waitForJob,
                                       m_options.connectTimeoutMs, this);
        connect(transfer, &Transfer::finished, this, &SendSession::onTransferFinished);
        m_transfers.append(transfer);
    }
    // Redrawn at most ten times a second, so a fast transfer is not slowed by its own display.
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { this->drawProgress(false); });
}

SendSession::~SendSession() = default;

void SendSession::start()
{
    m_clock.start();
    if (m_drawProgress)
        m_progressTimer.start();
    const qsizetype parallel = m_options.parallel > 0 ? m_options.parallel : m_transfers.size();
    // Every reader of a shared stream must exist before it starts flowing.
    while (m_next < m_transfers.size() && m_running < parallel)
        startNext();
    m_source->start();
    if (m_transfers.isEmpty())
        emit finished();
}

void SendSession::startNext()
{
    Transfer *transfer = m_transfers.at(m_next++);
    ++m_running;
    transfer->start(m_source->makeReader());
}

void SendSession::interrupt()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    for (Transfer *transfer : m_transfers) {
        if (!transfer->isDone())
            transfer->cancel();
    }
    if (m_running == 0)
        emit finished();
}

void SendSession::onTransferFinished()
{
    --m_running;
    const qsizetype parallel = m_options.parallel > 0 ? m_options.parallel : m_transfers.size();
    while (!m_interrupted && m_next < m_transfers.size() && m_running < parallel)
        startNext();
    if (m_running == 0) {
        m_progressTimer.stop();
        if (m_drawProgress)
            drawProgress(true);
        emit finished();
    }
}

QList<DestinationResult> SendSession::results() const
{
    QList<DestinationResult> results;
    for (const Transfer *transfer : m_transfers) {
        DestinationResult result = transfer->result();
        if (!transfer->isDone()) {
            result.outcome = DestinationResult::Outcome::NotStarted;
            result.error = QStringLiteral("not started");
        }
        results.append(result);
    }
    return results;
}

qint64 SendSession::inputSize() const
{
    return m_source->size();
}

void SendSession::drawProgress(bool final)
{
    QString text;
    // Back over the previous lines, then draw them anew.
    if (m_linesDrawn > 0)
        text += QStringLiteral("\x1b[%1A").arg(m_linesDrawn);
    const double seconds = std::max(0.001, static_cast<double>(m_clock.elapsed()) / 1000.0);
    for (const Transfer *transfer : m_transfers) {
        const qint64 done = transfer->bytesSent();
        QString line = progressLine(transfer->destination().label(), done, m_source->size(),
                                    static_cast<double>(done) / seconds);
        if (transfer->isDone())
            line += QStringLiteral("  ") + outcomeName(transfer->result().outcome);
        text += QStringLiteral("\r\x1b[2K") + line + QLatin1Char('\n');
    }
    m_linesDrawn = static_cast<int>(m_transfers.size());
    if (final)
        m_linesDrawn = 0;
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}
