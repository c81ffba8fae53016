#include "core/tcpblocksender.h"

#include "core/bytesource.h"

#include <QPointer>

#include <algorithm>

namespace tcp = platform::tcp;
using namespace std::chrono_literals;

namespace {

// Enough blocks per write that the socket sees large writes; the count still
// moves block by block.
constexpr qint64 ChunkBytes = 65536 / TcpBlockSender::BlockSize * TcpBlockSender::BlockSize;
// Straight from the file, the system takes what it has room for; asking for
// much at once saves calls.
constexpr qint64 DirectChunkBytes = qint64{4} << 20;
// The system may overshoot its unsent limit by about one write, and our own
// buffer holds at most one chunk more.
constexpr qint64 UnsentLimit = TcpBlockSender::QueueLimit - 4 * ChunkBytes;

} // namespace

TcpBlockSender::TcpBlockSender(QObject *parent)
    : QObject(parent)
{
    connect(&m_watchTimer, &QTimer::timeout, this, &TcpBlockSender::onWatch);
    connect(&m_connection, &PrinterConnection::connected, this, &TcpBlockSender::onConnected);
    connect(&m_connection, &PrinterConnection::connectFailed, this, &TcpBlockSender::onConnectFailed);
    connect(&m_connection, &PrinterConnection::readyWrite, this, &TcpBlockSender::onReadyWrite);
    connect(&m_connection, &PrinterConnection::peerEndedSending, this, &TcpBlockSender::settle);
    connect(&m_connection, &PrinterConnection::failed, this,
            [this](const QString &reason) { fail(SendOutcome::TransferFailed, reason); });
}

TcpBlockSender::~TcpBlockSender()
{
    releaseSource();
    // Gone mid-send is cancelled: the printer must not take it as complete.
    dropConnection(m_phase == Phase::Done && m_outcome == SendOutcome::Delivered);
}

void TcpBlockSender::start(std::shared_ptr<SourceReader> source, const QString &host, quint16 port)
{
    if (m_phase != Phase::Idle)
        return;
    m_phase = Phase::Connecting;
    m_host = host;
    m_source = std::move(source);
    m_fileSize = m_source->size();
    m_source->setNotify([this] {
        QMetaObject::invokeMethod(this, &TcpBlockSender::scheduleFill, Qt::QueuedConnection);
    });
    m_connection.open(host, port, m_timing.connect);
}

void TcpBlockSender::refuse(SendOutcome outcome, const QString &reason, const QString &host)
{
    if (m_phase != Phase::Idle)
        return;
    m_phase = Phase::Connecting;
    m_host = host;
    QMetaObject::invokeMethod(
        this, [this, outcome, reason] { fail(outcome, reason); }, Qt::QueuedConnection);
}

void TcpBlockSender::onConnected()
{
    m_phase = Phase::Sending;
    m_connection.limitUnsent(UnsentLimit);
    m_lastReport = m_lastProgress = Clock::now();
    m_watchTimer.start(std::clamp<std::chrono::milliseconds>(m_timing.stall / 10, 10ms, 100ms));
    fill();
}

void TcpBlockSender::onConnectFailed(const QString &reason, PrinterConnection::Stage timedOutIn)
{
    m_gaveUpIn = timedOutIn;
    fail(SendOutcome::ConnectionFailed, reason);
}

void TcpBlockSender::onReadyWrite()
{
    if (m_phase == Phase::Done || !flushPending())
        return;
    if (m_phase == Phase::Sending)
        fill();
    else
        settle();
}

void TcpBlockSender::onWatch()
{
    if (m_phase == Phase::Done || m_connection.stage() != PrinterConnection::Stage::Connected)
        return;
    // No more reads tell of a reset now; the socket's error does.
    if (m_connection.peerEnded() && failedOnSocketError())
        return;
    const qint64 unacknowledged = unacknowledgedData();
    const qint64 taken = unacknowledged >= 0 ? m_written - unacknowledged : m_written;
    const bool waiting = m_bufferSent < m_buffer.size() || unacknowledged > 0;
    const auto now = Clock::now();
    if (taken > m_acknowledged) {
        m_acknowledged = taken;
        m_lastProgress = now;
        m_peerCloseDeadline = now + m_timing.peerCloseWait;
    } else if (!waiting) {
        m_lastProgress = now;
    } else if (now - m_lastProgress >= m_timing.stall) {
        fail(SendOutcome::TransferFailed,
             QStringLiteral("The printer took nothing for %1.").arg(durationText(m_timing.stall)));
        return;
    }
    settle();
}

void TcpBlockSender::close()
{
    if (m_phase == Phase::Connecting || m_phase == Phase::Sending)
        m_closeWhenQueued = true;
    if (m_phase != Phase::Queued)
        return;
    m_phase = Phase::Closing;
    // The end is near: it is looked for often.
    m_watchTimer.start(10ms);
    settle();
}

void TcpBlockSender::cancel()
{
    if (m_phase == Phase::Done)
        return;
    end(SendOutcome::Cancelled);
    emit finished(false);
}

void TcpBlockSender::end(SendOutcome outcome)
{
    m_phase = Phase::Done;
    m_outcome = outcome;
    m_watchTimer.stop();
    releaseSource();
    dropConnection(outcome == SendOutcome::Delivered);
}

// The one place that decides whether the printer took every byte, asked
// whenever something may have changed: the socket has room, the printer
// closed its side or took more, or time passed.
void TcpBlockSender::settle()
{
    if (m_phase == Phase::Closing && !sendEnd())
        return;
    if (m_phase == Phase::AwaitingPeerClose)
        judgeDelivery();
}

bool TcpBlockSender::sendEnd()
{
    if (!flushPending())
        return false;
    // Bytes sent from the file are the file's pages until the printer
    // has them: a file changed by then must end in a reset, not in an
    // end of stream that makes the printer take a changed job for a
    // whole one.
    if (m_sentFromFile) {
        if (failedOnSocketError() || unacknowledgedData() > 0)
            return false;
        if (const QString change = m_source->changed(); !change.isEmpty()) {
            fail(SendOutcome::TransferFailed, change);
            return false;
        }
    }
    if (!m_connection.endSending()) {
        if (!failedOnSocketError())
            fail(SendOutcome::TransferFailed,
                 QStringLiteral("The connection was gone before the end of the job could be "
                                "sent."));
        return false;
    }
    m_endSent = true;
    m_phase = Phase::AwaitingPeerClose;
    m_peerCloseDeadline = Clock::now() + m_timing.peerCloseWait;
    return true;
}

void TcpBlockSender::judgeDelivery()
{
    // A printer that closes with our bytes unread resets the connection
    // instead; a printer that closed in order has acknowledged them. One
    // that keeps its side open has them all the same once it acknowledged
    // every byte.
    const bool closed = m_connection.peerEnded();
    const bool waitsForClose = m_timing.peerCloseWait.count() > 0;
    const bool timedOut = waitsForClose && Clock::now() >= m_peerCloseDeadline;
    if ((waitsForClose && !closed && !timedOut) || failedOnSocketError())
        return;
    const qint64 unacknowledged = unacknowledgedData();
    // Where the system cannot tell, the printer's close is the best sign.
    if (unacknowledged == 0 || (unacknowledged < 0 && (closed || !waitsForClose))) {
        // What went out straight from the file was read by the system only
        // as it sent it.
        if (const QString change = m_sentFromFile ? m_source->changed() : QString();
            !change.isEmpty())
            return fail(SendOutcome::TransferFailed, change);
        end(SendOutcome::Delivered);
        emit finished(true);
    } else if (timedOut && unacknowledged < 0) {
        fail(SendOutcome::TransferFailed,
             QStringLiteral("The printer did not close the connection within %1, and the system "
                            "cannot tell whether it took every byte.")
                 .arg(durationText(m_timing.peerCloseWait)));
    } else if (timedOut) {
        fail(SendOutcome::TransferFailed,
             QStringLiteral("The printer did not take the last %1 bytes within %2.")
                 .arg(unacknowledged)
                 .arg(durationText(m_timing.peerCloseWait)));
    }
    // Otherwise the printer closed only its sending side early and still
    // reads; the watch sees the rest acknowledged, or the time run out.
}

qint64 TcpBlockSender::unacknowledgedData() const
{
    const qint64 held = m_connection.unacknowledged();
    if (held < 0)
        return -1;
    // Our end of stream takes one place in the count once it is sent.
    return std::clamp<qint64>(held - (m_endSent ? 1 : 0), 0, m_written);
}

qint64 TcpBlockSender::queuedBytes() const
{
    return m_buffer.size() - m_bufferSent + std::max<qint64>(0, m_connection.unsent());
}

qint64 TcpBlockSender::acknowledgedBytes() const
{
    if (m_connection.stage() != PrinterConnection::Stage::Connected)
        return m_acknowledged;
    const qint64 unacknowledged = unacknowledgedData();
    return unacknowledged >= 0 ? m_written - unacknowledged : -1;
}

void TcpBlockSender::scheduleFill()
{
    if (m_fillScheduled)
        return;
    m_fillScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_fillScheduled = false;
            fill();
        },
        Qt::QueuedConnection);
}

bool TcpBlockSender::flushPending()
{
    while (m_bufferSent < m_buffer.size()) {
        const tcp::Result result =
            m_connection.send(m_buffer.constData() + m_bufferSent, m_buffer.size() - m_bufferSent);
        if (result.status == tcp::Status::WouldBlock)
            return false;
        if (result.status != tcp::Status::Done) {
            failOnSocket(result.error);
            return false;
        }
        m_bufferSent += static_cast<qint64>(result.bytes);
        m_written += static_cast<qint64>(result.bytes);
    }
    m_buffer.resize(0);
    m_bufferSent = 0;
    return true;
}

TcpBlockSender::Step TcpBlockSender::next(qint64 wanted)
{
    // Straight from a file where the source can; otherwise through our buffer.
    const tcp::Result direct =
        m_connection.sendFrom(*m_source, wanted == BlockSize ? BlockSize : DirectChunkBytes);
    switch (direct.status) {
    case tcp::Status::Done:
        m_count += static_cast<qint64>(direct.bytes);
        m_written += static_cast<qint64>(direct.bytes);
        m_sentFromFile = true;
        return Step::Moved;
    case tcp::Status::WouldBlock:
        return Step::Waiting;
    case tcp::Status::EndOfStream:
    case tcp::Status::Reset:
        failOnSocket(direct.error);
        return Step::Failed;
    case tcp::Status::Failed:
        break;
    }
    m_buffer = m_source->read(wanted, false);
    m_count += m_buffer.size();
    if (const QString error = m_source->error(); !error.isEmpty()) {
        fail(SendOutcome::TransferFailed, error);
        return Step::Failed;
    }
    if (!m_buffer.isEmpty())
        return Step::Moved;
    return m_source->atEnd() ? Step::Ended : Step::Waiting;
}

void TcpBlockSender::fill()
{
    const auto sliceEnd = Clock::now() + m_timing.slice;
    const bool blockByBlock = m_timing.slice.count() == 0;
    for (;;) {
        if (m_phase != Phase::Sending)
            return;
        if (!flushPending())
            return reportProgress(false);
        const Step step = next(blockByBlock ? BlockSize : ChunkBytes);
        if (step == Step::Failed)
            return;
        if (step == Step::Ended)
            break;
        // A stream with nothing more for now: its notification resumes us.
        if (step == Step::Waiting)
            return reportProgress(false);
        if (Clock::now() >= sliceEnd) {
            reportProgress(blockByBlock);
            return scheduleFill();
        }
    }
    // A file whose pages the system still sends from is looked at again at
    // the end.
    if (!m_sentFromFile)
        releaseSource();
    m_phase = Phase::Queued;
    reportProgress(true);
    const QPointer<TcpBlockSender> self(this);
    emit allQueued(m_count);
    if (self && m_closeWhenQueued)
        close();
}

void TcpBlockSender::reportProgress(bool force)
{
    // After the end nothing more is reported, not even a count that grew
    // just before a failure.
    if (m_phase == Phase::Done)
        return;
    // The system may take part of a block; the count still moves block by
    // block, up to the file's length at its end.
    const bool whole = m_phase != Phase::Sending || (m_fileSize >= 0 && m_count >= m_fileSize);
    const qint64 count = whole ? m_count : m_count - m_count % BlockSize;
    const auto now = Clock::now();
    if (count == m_reportedCount || (!force && now - m_lastReport < m_timing.slice))
        return;
    m_reportedCount = count;
    m_lastReport = now;
    emit progress(count);
}

void TcpBlockSender::failOnSocket(int error)
{
    fail(SendOutcome::TransferFailed, m_connection.reason(error));
}

bool TcpBlockSender::failedOnSocketError()
{
    const int error = m_connection.pendingError();
    if (error != 0)
        failOnSocket(error);
    return error != 0;
}

void TcpBlockSender::fail(SendOutcome outcome, const QString &reason)
{
    if (m_phase == Phase::Done)
        return;
    m_reason = reason;
    end(outcome);
    const QPointer<TcpBlockSender> self(this);
    emit failed();
    if (self)
        emit finished(false);
}

void TcpBlockSender::releaseSource()
{
    // The source may be read again by another sender (a retry): it must
    // not call this one any more.
    if (m_source)
        m_source->setNotify({});
    m_source.reset();
}

void TcpBlockSender::dropConnection(bool graceful)
{
    m_buffer = QByteArray();
    m_bufferSent = 0;
    if (m_connection.stage() == PrinterConnection::Stage::Connected) {
        const qint64 unacknowledged = unacknowledgedData();
        m_acknowledged = unacknowledged >= 0 ? m_written - unacknowledged : -1;
    }
    m_connection.close(graceful);
}
