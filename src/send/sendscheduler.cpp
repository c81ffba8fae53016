#include "sendscheduler.h"

#include "bytesource.h"
#include "transfer.h"

SendScheduler::SendScheduler(const SendOptions &options, std::unique_ptr<ByteSource> source,
                             QObject *parent)
    : QObject(parent), m_options(options), m_source(std::move(source))
{
    for (const Destination &destination : m_options.destinations) {
        Transfer *transfer = destination.kind == Destination::Kind::Tcp
                                 ? newTcpTransfer(destination, m_options, this)
                                 : newJobTransfer(destination, m_options, this);
        connect(transfer, &Transfer::finished, this, &SendScheduler::onTransferFinished);
        m_transfers.append(transfer);
    }
}

void SendScheduler::start()
{
    const qsizetype parallel = m_options.parallel > 0 ? m_options.parallel : m_transfers.size();
    // Every reader of a shared stream must exist before it starts flowing.
    while (m_next < m_transfers.size() && m_running < parallel)
        startNext();
    m_source->start();
    if (m_transfers.isEmpty())
        emit finished();
}

void SendScheduler::startNext()
{
    Transfer *transfer = m_transfers.at(m_next++);
    ++m_running;
    transfer->start(m_source->makeReader());
}

void SendScheduler::interrupt()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    // Those not yet started stay so, and are reported as never reached.
    for (qsizetype i = 0; i < m_next; ++i) {
        if (!m_transfers.at(i)->isDone())
            m_transfers.at(i)->cancel();
    }
    if (m_running == 0)
        emit finished();
}

void SendScheduler::onTransferFinished()
{
    --m_running;
    const qsizetype parallel = m_options.parallel > 0 ? m_options.parallel : m_transfers.size();
    while (!m_interrupted && m_next < m_transfers.size() && m_running < parallel)
        startNext();
    if (m_running == 0)
        emit finished();
}

QList<DestinationResult> SendScheduler::results() const
{
    QList<DestinationResult> results;
    for (qsizetype i = 0; i < m_transfers.size(); ++i) {
        const Transfer *transfer = m_transfers.at(i);
        DestinationResult result = transfer->result();
        result.input = m_options.input;
        if (!transfer->isDone() && i < m_next) {
            // Given up on while a call it made could not be interrupted.
            result.outcome = SendOutcome::Cancelled;
            result.error = QStringLiteral("interrupted; it did not stop in time, so its connection "
                                          "was reset");
            result.bytes = transfer->bytesSent();
        } else if (!transfer->isDone()) {
            result.outcome = SendOutcome::NotStarted;
            result.error = QStringLiteral("interrupted before its turn");
        }
        results.append(result);
    }
    return results;
}
