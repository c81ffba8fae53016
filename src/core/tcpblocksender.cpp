#include "core/tcpblocksender.h"

#include "core/directfilesource.h"

#include <QFileDevice>
#include <QIODevice>
#include <QPointer>

#include <algorithm>

namespace tcp = platform::tcp;

namespace {

// Enough blocks per write that the socket sees large writes; the count still
// moves block by block.
constexpr qint64 BlocksPerWrite = 65536 / TcpBlockSender::BlockSize;
constexpr qint64 ChunkBytes = BlocksPerWrite * TcpBlockSender::BlockSize;
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
    m_peerCloseTimer.setSingleShot(true);
    connect(&m_peerCloseTimer, &QTimer::timeout, this, &TcpBlockSender::onPeerCloseTimeout);
    connect(&m_watchTimer, &QTimer::timeout, this, &TcpBlockSender::onWatch);
    m_drainTimer.setSingleShot(true);
    connect(&m_drainTimer, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Closing)
            endStream();
    });
    connect(&m_connection, &PrinterConnection::connected, this, &TcpBlockSender::onConnected);
    connect(&m_connection, &PrinterConnection::connectFailed, this, &TcpBlockSender::onConnectFailed);
    connect(&m_connection, &PrinterConnection::readyWrite, this, &TcpBlockSender::onReadyWrite);
    connect(&m_connection, &PrinterConnection::peerEndedSending, this, &TcpBlockSender::onPeerEnded);
    connect(&m_connection, &PrinterConnection::failed, this,
            [this](const QString &reason) { fail(SendOutcome::TransferFailed, reason); });
}

TcpBlockSender::~TcpBlockSender()
{
    // Gone mid-send is cancelled: the printer must not take it as complete.
    dropConnection(m_phase == Phase::Done && m_outcome == SendOutcome::Delivered);
}

void TcpBlockSender::start(std::unique_ptr<QIODevice> source, qint64 expectedSize,
                           const QString &host, quint16 port)
{
    if (m_phase != Phase::Idle)
        return;
    m_phase = Phase::Connecting;
    m_host = host;
    m_source = std::move(source);
    m_fileSize = expectedSize;
    if (const auto *file = qobject_cast<QFileDevice *>(m_source.get()); file && expectedSize >= 0)
        m_fileModified = file->fileTime(QFileDevice::FileModificationTime);
    connect(m_source.get(), &QIODevice::readyRead, this, &TcpBlockSender::scheduleFill);
    m_direct = tcp::canSendFromFile() && directSpan().descriptor >= 0;
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
    m_sinceReport.start();
    m_sinceProgress.start();
    m_watchTimer.start(std::clamp(m_timing.stall / 10, std::chrono::milliseconds(10),
                                  std::chrono::milliseconds(100)));
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
    else if (m_phase == Phase::Closing)
        endStream();
}

void TcpBlockSender::onPeerEnded()
{
    if (m_phase == Phase::AwaitingPeerClose)
        checkDelivered();
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
    if (taken > m_acknowledged) {
        m_acknowledged = taken;
        m_sinceProgress.start();
        if (m_phase == Phase::AwaitingPeerClose && m_peerCloseTimer.isActive())
            m_peerCloseTimer.start(m_timing.peerCloseWait);
    } else if (!waiting) {
        m_sinceProgress.start();
    } else if (m_sinceProgress.elapsed() >= m_timing.stall.count()) {
        fail(SendOutcome::TransferFailed,
             QStringLiteral("The printer took nothing for %1.").arg(durationText(m_timing.stall)));
        return;
    }
    if (m_phase == Phase::AwaitingPeerClose)
        checkDelivered();
}

void TcpBlockSender::onPeerCloseTimeout()
{
    if (m_phase != Phase::AwaitingPeerClose)
        return;
    // The printer kept its side open. If it acknowledged every byte and did
    // not reset, it has them all the same.
    if (failedOnSocketError())
        return;
    const qint64 unacknowledged = unacknowledgedData();
    if (unacknowledged == 0) {
        finish(true);
        return;
    }
    if (unacknowledged < 0) {
        fail(SendOutcome::TransferFailed,
             QStringLiteral("The printer did not close the connection within %1, and the system "
                            "cannot tell whether it took every byte.")
                 .arg(durationText(m_timing.peerCloseWait)));
        return;
    }
    fail(SendOutcome::TransferFailed,
         QStringLiteral("The printer did not take the last %1 bytes within %2.")
             .arg(unacknowledged)
             .arg(durationText(m_timing.peerCloseWait)));
}

void TcpBlockSender::close()
{
    switch (m_phase) {
    case Phase::Connecting:
    case Phase::Sending:
        m_closeWhenQueued = true;
        return;
    case Phase::Idle:
    case Phase::Closing:
    case Phase::AwaitingPeerClose:
    case Phase::Done:
        return;
    case Phase::Queued:
        break;
    }
    m_phase = Phase::Closing;
    if (flushPending())
        endStream();
}

void TcpBlockSender::cancel()
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    m_outcome = SendOutcome::Cancelled;
    stopTimers();
    m_source.reset();
    dropConnection(false);
    emit finished(false);
}

void TcpBlockSender::endStream()
{
    // Bytes sent from the file are the file's pages until the printer has
    // them: a file changed by then must end in a reset, not in an end of
    // stream that makes the printer take a changed job for a whole one.
    if (m_sentFromFile && !m_endSent) {
        if (failedOnSocketError())
            return;
        if (unacknowledgedData() > 0) {
            if (!m_drainTimer.isActive())
                m_drainTimer.start(std::clamp(2 * m_drainTimer.interval(), 1, 50));
            return;
        }
        if (const QString change = changeSinceStart(); !change.isEmpty()) {
            fail(SendOutcome::TransferFailed, change);
            return;
        }
    }
    if (!m_connection.endSending()) {
        if (!failedOnSocketError())
            fail(SendOutcome::TransferFailed,
                 QStringLiteral("The connection was gone before the end of the job could be sent."));
        return;
    }
    m_endSent = true;
    m_phase = Phase::AwaitingPeerClose;
    if (m_timing.peerCloseWait.count() > 0)
        m_peerCloseTimer.start(m_timing.peerCloseWait);
    checkDelivered();
}

void TcpBlockSender::checkDelivered()
{
    if (m_phase != Phase::AwaitingPeerClose)
        return;
    // A printer that closes with our bytes unread resets the connection
    // instead; a printer that closed in order has acknowledged them.
    const bool closed = m_connection.peerEnded();
    if ((!closed && m_timing.peerCloseWait.count() > 0) || failedOnSocketError())
        return;
    const qint64 unacknowledged = unacknowledgedData();
    // Where the system cannot tell, the printer's close is the best sign.
    if (unacknowledged == 0 || (unacknowledged < 0 && (closed || m_timing.peerCloseWait.count() == 0)))
        finish(true);
    // Otherwise the printer closed only its sending side early and still
    // reads; the watch sees the rest acknowledged, or the time-outs end it.
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
        switch (result.status) {
        case tcp::Status::Done:
            m_bufferSent += static_cast<qint64>(result.bytes);
            m_written += static_cast<qint64>(result.bytes);
            continue;
        case tcp::Status::WouldBlock:
            return false;
        case tcp::Status::EndOfStream:
        case tcp::Status::Reset:
        case tcp::Status::Failed:
            failOnSocket(result.error);
            return false;
        }
    }
    m_buffer.resize(0);
    m_bufferSent = 0;
    return true;
}

TcpBlockSender::Piece TcpBlockSender::readPiece(qint64 blocks)
{
    qint64 wanted = blocks * BlockSize;
    // Past the size the file had at the start, one byte more is asked for
    // only to see whether the file grew.
    const bool probing = m_fileSize >= 0 && m_count >= m_fileSize;
    if (m_fileSize >= 0)
        wanted = probing ? 1 : qMin(wanted, m_fileSize - m_count);
    m_buffer.resize(wanted);
    qint64 got = 0;
    while (got < wanted) {
        const qint64 read = m_source->read(m_buffer.data() + got, wanted - got);
        if (read < 0) {
            fail(SendOutcome::TransferFailed,
                 QStringLiteral("Reading the file failed: %1.").arg(m_source->errorString()));
            return Piece::Failed;
        }
        if (read == 0)
            break;
        got += read;
    }
    m_buffer.resize(probing ? 0 : got);
    const bool ended = got < wanted && (!m_source->isSequential() || m_source->atEnd());
    if (probing && got > 0) {
        fail(SendOutcome::TransferFailed,
             QStringLiteral("The file grew during the send beyond the %1 bytes it had when the "
                            "send began.")
                 .arg(m_fileSize));
        return Piece::Failed;
    }
    m_count += m_buffer.size();
    if (ended && m_fileSize >= 0 && m_count < m_fileSize) {
        fail(SendOutcome::TransferFailed,
             QStringLiteral("The file shrank during the send: it had %1 bytes when the send "
                            "began, and ended after %2.")
                 .arg(m_fileSize)
                 .arg(m_count));
        return Piece::Failed;
    }
    // Rewritten in place, a file keeps its length, but what went out is
    // part old, part new.
    if (ended && m_fileModified.isValid() && modifiedSinceStart()) {
        fail(SendOutcome::TransferFailed, QStringLiteral("The file was changed during the send."));
        return Piece::Failed;
    }
    return ended ? Piece::Last : got < wanted ? Piece::Partial : Piece::Whole;
}

TcpBlockSender::FileSpan TcpBlockSender::directSpan() const
{
    if (const auto *direct = dynamic_cast<const DirectFileSource *>(m_source.get()))
        return {direct->fileDescriptor(), direct->fileOffset(), direct->fileBytesLeft()};
    // A file of known length; one of /proc or a device is read to its end.
    const auto *file = qobject_cast<const QFileDevice *>(m_source.get());
    if (file && !file->isSequential() && m_fileSize >= 0)
        return {file->handle(), file->pos(), m_fileSize - m_count};
    return {};
}

TcpBlockSender::Direct TcpBlockSender::sendDirect(qint64 blocks)
{
    const FileSpan span = directSpan();
    if (span.descriptor < 0 || span.left <= 0)
        return Direct::Exhausted;
    const qint64 wanted = std::min(span.left, blocks == 1 ? BlockSize : DirectChunkBytes);
    const tcp::Result result = m_connection.sendFromFile(span.descriptor, span.offset, wanted);
    switch (result.status) {
    case tcp::Status::Done:
        break;
    case tcp::Status::WouldBlock:
        return Direct::Blocked;
    case tcp::Status::EndOfStream:
    case tcp::Status::Reset:
        failOnSocket(result.error);
        return Direct::Failed;
    case tcp::Status::Failed:
        // Perhaps only this way of sending: the rest is read and sent, and
        // a real error shows there.
        m_direct = false;
        return Direct::Exhausted;
    }
    if (result.bytes == 0) {
        // The file ends sooner than it did.
        m_direct = false;
        return Direct::Exhausted;
    }
    const auto moved = static_cast<qint64>(result.bytes);
    if (auto *direct = dynamic_cast<DirectFileSource *>(m_source.get()))
        direct->skipFileBytes(moved);
    else
        m_source->seek(m_source->pos() + moved);
    m_count += moved;
    m_written += moved;
    m_sentFromFile = true;
    return Direct::Sent;
}

void TcpBlockSender::fill()
{
    if (m_phase != Phase::Sending)
        return;
    QElapsedTimer slice;
    slice.start();
    const qint64 blocks = m_timing.slice.count() == 0 ? 1 : BlocksPerWrite;
    for (;;) {
        if (!flushPending()) {
            reportProgress(false);
            return;
        }
        if (m_phase != Phase::Sending)
            return;
        if (m_direct) {
            const Direct sent = sendDirect(blocks);
            if (sent == Direct::Failed)
                return;
            if (sent == Direct::Blocked) {
                reportProgress(false);
                return;
            }
            if (sent == Direct::Sent) {
                if (slice.elapsed() >= m_timing.slice.count()) {
                    reportProgress(m_timing.slice.count() == 0);
                    scheduleFill();
                    return;
                }
                continue;
            }
        }
        const Piece piece = readPiece(blocks);
        if (piece == Piece::Failed)
            return;
        if (!flushPending()) {
            if (piece == Piece::Last && m_phase == Phase::Sending)
                break;
            reportProgress(false);
            return;
        }
        if (piece == Piece::Last)
            break;
        if (piece == Piece::Partial) {
            // A stream with nothing more for now: readyRead resumes us.
            reportProgress(false);
            return;
        }
        if (slice.elapsed() >= m_timing.slice.count()) {
            reportProgress(m_timing.slice.count() == 0);
            scheduleFill();
            return;
        }
    }
    // What is still in our buffer goes out as the socket takes it. A file
    // whose pages the system still sends from is looked at again at the end.
    if (!m_sentFromFile)
        m_source.reset();
    m_phase = Phase::Queued;
    reportProgress(true);
    const QPointer<TcpBlockSender> self(this);
    emit allQueued(m_count);
    if (self && m_closeWhenQueued)
        close();
}

bool TcpBlockSender::modifiedSinceStart() const
{
    auto *file = qobject_cast<QFileDevice *>(m_source.get());
    if (!file)
        return false;
    // Qt keeps what it learnt of an open file; asking its size makes it look
    // at the open file again, times included.
    file->size();
    return file->fileTime(QFileDevice::FileModificationTime) != m_fileModified;
}

QString TcpBlockSender::changeSinceStart() const
{
    if (const auto *direct = dynamic_cast<const DirectFileSource *>(m_source.get())) {
        QString change = direct->fileChange();
        if (!change.isEmpty())
            change = change.at(0).toUpper() + change.mid(1) + QLatin1Char('.');
        return change;
    }
    auto *file = qobject_cast<QFileDevice *>(m_source.get());
    if (file && (modifiedSinceStart() || file->size() != m_fileSize))
        return QStringLiteral("The file was changed during the send.");
    return {};
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
    if (count == m_reportedCount)
        return;
    if (!force && m_sinceReport.elapsed() < m_timing.slice.count())
        return;
    m_reportedCount = count;
    m_sinceReport.start();
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
    m_phase = Phase::Done;
    m_outcome = outcome;
    m_reason = reason;
    stopTimers();
    m_source.reset();
    dropConnection(false);
    const QPointer<TcpBlockSender> self(this);
    emit failed();
    if (self)
        emit finished(false);
}

void TcpBlockSender::finish(bool ok)
{
    // What went out straight from the file was read by the system only as
    // it sent it: a file changed before the printer had it all reached the
    // printer changed.
    if (ok && m_sentFromFile) {
        if (const QString change = changeSinceStart(); !change.isEmpty()) {
            fail(SendOutcome::TransferFailed, change);
            return;
        }
    }
    m_phase = Phase::Done;
    if (ok)
        m_outcome = SendOutcome::Delivered;
    stopTimers();
    dropConnection(ok);
    emit finished(ok);
}

void TcpBlockSender::stopTimers()
{
    m_peerCloseTimer.stop();
    m_watchTimer.stop();
    m_drainTimer.stop();
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
