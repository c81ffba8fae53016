#include "sendscheduler.h"

#include "core/bytesource.h"
#include "platform/platform.h"
#include "transfer.h"

#include <QHostAddress>

#include <limits>

namespace {

// What a destination in flight holds: its connection, and a second one for
// a host name's lookup or a job's look at its queue.
long long descriptorsFor(const Destination &destination)
{
    return QHostAddress().setAddress(destination.host()) ? 1 : 2;
}

// What the limit on open files leaves for connections, after what the
// program opens besides: the input, a look at its own memory, the event
// loop's own.
long long descriptorsFree()
{
    const long long left = platform::console::descriptorsLeft();
    return left < 0 ? std::numeric_limits<long long>::max() / 2 : left - 8;
}

} // namespace

bool SendScheduler::allFitAtOnce(const SendOptions &options)
{
    long long needed = 0;
    for (const Destination &destination : options.destinations)
        needed += descriptorsFor(destination);
    return (options.parallel == 0 || options.parallel >= options.destinations.size()) &&
           needed <= descriptorsFree();
}

SendScheduler::SendScheduler(const SendOptions &options, std::unique_ptr<ByteSource> source,
                             QObject *parent)
    : QObject(parent), m_options(options), m_source(std::move(source))
{
    for (const Destination &destination : m_options.destinations) {
        Transfer *transfer = newTransfer(destination, m_options, this);
        connect(transfer, &Transfer::finished, this, [this, transfer] {
            --m_running;
            m_room += descriptorsFor(transfer->destination());
            startWhatFits();
        });
        // Something else holds descriptors the count did not foresee: no more
        // than are in flight now until one of them ends. It goes first then.
        connect(transfer, &Transfer::waitingForDescriptor, this, [this, transfer] {
            --m_running;
            m_room = 0;
            m_queue.prepend(transfer);
        });
        // Only when another connection will end and free one, and only a
        // file can be read again from its start.
        transfer->setMayWait([this] { return m_running > 1 && m_source->size() >= 0; });
        m_transfers.append(transfer);
    }
    m_queue = m_transfers;
}

void SendScheduler::start()
{
    m_room = descriptorsFree();
    // A destination waiting to try again, or for its printer's answer, lets
    // go of a shared stream.
    if ((m_options.retries > 0 || m_options.check || m_options.waitForJob) && m_transfers.size() > 1)
        m_source->keepCopy();
    // Every reader of a shared stream must exist before it starts flowing.
    startWhatFits();
    m_source->start();
}

void SendScheduler::startWhatFits()
{
    const qsizetype parallel = m_options.parallel > 0 ? m_options.parallel : m_transfers.size();
    // No destination fails for want of a descriptor: beyond the limit on
    // open files, the rest wait for a connection to end. A stream cannot be
    // read again for a later turn; it is one only when all fit at once.
    while (!m_interrupted && !m_queue.isEmpty() && m_running < parallel &&
           (m_running == 0 || m_source->size() < 0 ||
            descriptorsFor(m_queue.first()->destination()) <= m_room)) {
        Transfer *transfer = m_queue.takeFirst();
        ++m_running;
        m_room -= descriptorsFor(transfer->destination());
        transfer->start(m_source->makeReader());
    }
    if (m_running == 0)
        emit finished();
}

void SendScheduler::interrupt()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    // Those not yet started stay so, and are reported as never reached.
    for (Transfer *transfer : m_transfers) {
        if (!transfer->isDone() && started(transfer))
            transfer->cancel();
    }
    if (m_running == 0)
        emit finished();
}

QList<DestinationResult> SendScheduler::results() const
{
    QList<DestinationResult> results;
    for (const Transfer *transfer : m_transfers) {
        DestinationResult result = transfer->result();
        if (!transfer->isDone() && started(transfer)) {
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
