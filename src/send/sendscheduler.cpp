#include "sendscheduler.h"

#include "core/bytesource.h"
#include "platform/platform.h"
#include "transfer.h"

#include <QHostAddress>

#include <algorithm>

namespace {

// What a destination in flight holds: its connection, and for a host name
// the lookup's while it lasts; a job its connection to the scheduler or
// printer, and one more while the queue is looked up.
long long descriptorsFor(const Destination &destination)
{
    if (destination.kind != Destination::Kind::Tcp)
        return 2;
    return QHostAddress().setAddress(destination.name) ? 1 : 2;
}

// For all the program opens besides: the input, the summary's look at its
// own memory, the event loop's own.
constexpr long long SpareDescriptors = 8;

long long descriptorBudget()
{
    const long long left = platform::console::descriptorsLeft();
    return left < 0 ? -1 : std::max(0LL, left - SpareDescriptors);
}

} // namespace

bool SendScheduler::allFitAtOnce(const QList<Destination> &destinations)
{
    const long long budget = descriptorBudget();
    long long needed = 0;
    for (const Destination &destination : destinations)
        needed += descriptorsFor(destination);
    return budget < 0 || needed <= budget;
}

SendScheduler::SendScheduler(const SendOptions &options, std::unique_ptr<ByteSource> source,
                             QObject *parent)
    : QObject(parent), m_options(options), m_source(std::move(source))
{
    for (const Destination &destination : m_options.destinations) {
        Transfer *transfer = m_options.status ? newStatusTransfer(destination, m_options, this)
                             : destination.kind == Destination::Kind::Tcp
                                 ? newTcpTransfer(destination, m_options, this)
                                 : newJobTransfer(destination, m_options, this);
        connect(transfer, &Transfer::finished, this,
                [this, transfer] { onTransferFinished(transfer); });
        connect(transfer, &Transfer::waitingForDescriptor, this,
                [this, transfer] { onWaitingForDescriptor(transfer); });
        // Only when another connection will end and free one, and only a
        // file can be read again from its start.
        transfer->setMayWait([this] { return m_running > 1 && m_source->size() >= 0; });
        m_transfers.append(transfer);
    }
}

void SendScheduler::start()
{
    m_descriptorBudget = descriptorBudget();
    // A destination waiting to try again, or for its printer's answer, lets
    // go of a shared stream.
    if ((m_options.retries > 0 || m_options.check || m_options.waitForJob) && m_transfers.size() > 1)
        m_source->keepCopy();
    // Every reader of a shared stream must exist before it starts flowing.
    while (canStartNext())
        startNext();
    m_source->start();
    if (m_transfers.isEmpty())
        emit finished();
}

Transfer *SendScheduler::nextToStart() const
{
    if (!m_waiting.isEmpty())
        return m_waiting.first();
    return m_next < m_transfers.size() ? m_transfers.at(m_next) : nullptr;
}

bool SendScheduler::canStartNext() const
{
    const qsizetype parallel = m_options.parallel > 0 ? m_options.parallel : m_transfers.size();
    const Transfer *next = nextToStart();
    if (m_interrupted || !next || m_running >= parallel)
        return false;
    // No destination fails for want of a descriptor: beyond the limit on
    // open files, the rest wait for a connection to end. A stream cannot be
    // read again for a later turn; it is one only when all fit at once.
    return m_running == 0 || m_descriptorBudget < 0 || m_source->size() < 0 ||
           m_descriptorsHeld + descriptorsFor(next->destination()) <= m_descriptorBudget;
}

void SendScheduler::startNext()
{
    Transfer *transfer = m_waiting.isEmpty() ? m_transfers.at(m_next++) : m_waiting.takeFirst();
    ++m_running;
    m_descriptorsHeld += descriptorsFor(transfer->destination());
    transfer->start(m_source->makeReader());
}

void SendScheduler::interrupt()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    // Those not yet started stay so, and are reported as never reached.
    for (qsizetype i = 0; i < m_next; ++i) {
        Transfer *transfer = m_transfers.at(i);
        if (!transfer->isDone() && !m_waiting.contains(transfer))
            transfer->cancel();
    }
    if (m_running == 0)
        emit finished();
}

void SendScheduler::onWaitingForDescriptor(Transfer *transfer)
{
    --m_running;
    m_descriptorsHeld -= descriptorsFor(transfer->destination());
    // Something else holds descriptors the count did not foresee: no more
    // than are in flight now, until one of them ends.
    m_descriptorBudget = m_descriptorsHeld;
    m_waiting.append(transfer);
}

void SendScheduler::onTransferFinished(Transfer *transfer)
{
    // Cancelled while it waited for another turn: it held nothing.
    if (m_waiting.removeOne(transfer)) {
        if (m_running == 0)
            emit finished();
        return;
    }
    --m_running;
    m_descriptorsHeld -= descriptorsFor(transfer->destination());
    while (canStartNext())
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
        // One waiting for another turn holds no connection: not started.
        if (!transfer->isDone() && i < m_next && !m_waiting.contains(transfer)) {
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
