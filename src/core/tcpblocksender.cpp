#include "core/tcpblocksender.h"

#include "core/bytesource.h"
#include "core/endpoint.h"
#include "core/localpath.h"

#include <QHostInfo>
#include <QPointer>

#include <algorithm>

namespace tcp = platform::tcp;
using namespace std::chrono_literals;

static QString errorText(int error)
{
    return QString::fromStdString(tcp::errorText(error));
}

QString TcpBlockSender::durationText(std::chrono::milliseconds duration)
{
    const auto ms = duration.count();
    return ms % 1000 == 0 ? QStringLiteral("%1 s").arg(ms / 1000) : QStringLiteral("%1 ms").arg(ms);
}

namespace {

// Large writes; the count still moves block by block.
constexpr qint64 ChunkBytes = 65536 / TcpBlockSender::BlockSize * TcpBlockSender::BlockSize;
// Straight from the file the system takes what it has room for: ask for much.
constexpr qint64 DirectChunkBytes = qint64{4} << 20;
// The system may overshoot its unsent limit by about one write, and our own
// buffer holds at most one chunk more.
constexpr qint64 UnsentLimit = TcpBlockSender::QueueLimit - 4 * ChunkBytes;

} // namespace

TcpBlockSender::TcpBlockSender(QObject *parent)
    : QObject(parent)
{
    m_connectTimer.setSingleShot(true);
    m_fillTimer.setSingleShot(true);
    connect(&m_fillTimer, &QTimer::timeout, this, &TcpBlockSender::fill);
    connect(&m_connectTimer, &QTimer::timeout, this, &TcpBlockSender::onConnectTimeout);
    connect(&m_watchTimer, &QTimer::timeout, this, &TcpBlockSender::onWatch);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, &TcpBlockSender::onReadable);
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &TcpBlockSender::onWritable);
}

TcpBlockSender::~TcpBlockSender()
{
    // Gone mid-send is cancelled: the printer must not take it as complete.
    if (m_phase != Phase::Done)
        end(SendOutcome::Cancelled);
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
        QMetaObject::invokeMethod(&m_fillTimer, qOverload<>(&QTimer::start), Qt::QueuedConnection);
    });
    m_port = port;
    m_connectTimer.start(m_timing.connect);
    QHostAddress literal;
    if (literal.setAddress(host)) {
        m_addresses = {literal};
        // Even a refusal comes from the event loop, never from inside start().
        QMetaObject::invokeMethod(this, &TcpBlockSender::connectNext, Qt::QueuedConnection);
        return;
    }
    m_phase = Phase::LookingUp;
    m_lookupId = QHostInfo::lookupHost(host, this, &TcpBlockSender::onLookedUp);
}

void TcpBlockSender::start(const QString &path, const QString &host, const QString &portText)
{
    if (m_phase != Phase::Idle)
        return;
    m_path = path;
    const QString address = bareHost(host);
    // A send that cannot even begin fails from the event loop like every other.
    const auto refuse = [this, &address](SendOutcome outcome, const QString &reason) {
        m_phase = Phase::Connecting;
        m_host = address;
        QMetaObject::invokeMethod(
            this, [this, outcome, reason] { fail(outcome, reason); }, Qt::QueuedConnection);
    };
    const std::optional<quint16> port = parsePort(portText);
    if (!port)
        return refuse(SendOutcome::ConnectionFailed,
                      QStringLiteral("The port \"%1\" is not a number from 1 to 65535.").arg(portText));
    // A pipe is looked at before it is opened: opening one, even without
    // waiting, would release a writer blocked on its other end.
    const LocalPath::Status found = LocalPath::status(path);
    QString why = QStringLiteral("It is a pipe or a device, not a file.");
    std::unique_ptr<ByteSource> source;
    if (!found.exists || found.isRegular || found.isFolder)
        source = ByteSource::openNamed(path, &why);
    if (!source)
        return refuse(SendOutcome::InputUnreadable, why);
    // A file that says 0, or one of /proc or /sys, is read to its end.
    std::shared_ptr<SourceReader> reader = source->makeReader();
    source->start();
    start(std::move(reader), address, *port);
}

void TcpBlockSender::onWatch()
{
    if (!connected())
        return;
    // No more reads tell of a reset now; the socket's error does.
    if (m_peerEnded && failedOnSocketError())
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
    if (isBusy())
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
    m_acknowledged = acknowledgedBytes();
    m_phase = Phase::Done;
    m_outcome = outcome;
    m_watchTimer.stop();
    releaseSource();
    m_buffer = QByteArray();
    m_bufferSent = 0;
    // Every failed or cancelled send ends with a reset, never a clean close.
    closeConnection(outcome == SendOutcome::Delivered);
}

// The one place that decides whether the printer took every byte, asked
// whenever something may have changed: the socket has room, the printer
// closed its side or took more, or time passed.
void TcpBlockSender::settle()
{
    if (m_phase == Phase::AwaitingPeerClose) {
        // The socket itself is asked as time passes: a notifier can miss the
        // printer's close (under Wine it sometimes does), and the send
        // would then wait for a close that came long ago.
        const QPointer<TcpBlockSender> self(this);
        if (!m_peerEnded)
            onReadable();
        if (self && m_phase == Phase::AwaitingPeerClose)
            judgeDelivery();
        return;
    }
    // Our end of stream goes once every byte is out. A file changed before
    // the printer has its pages must end in a reset, not in an end of stream
    // that passes a changed job for a whole one.
    if (m_phase != Phase::Closing || !flushPending())
        return;
    if (m_sentFromFile) {
        if (failedOnSocketError() || unacknowledgedData() > 0)
            return;
        if (const QString change = m_source->changed(); !change.isEmpty())
            return fail(SendOutcome::TransferFailed, change);
    }
    if (!readyToEnd())
        return;
    if (!tcp::shutdownSending(m_socket)) {
        if (!failedOnSocketError())
            fail(SendOutcome::TransferFailed,
                 QStringLiteral("The connection was gone before the end of the job could be "
                                "sent."));
        return;
    }
    ++m_trailing;
    m_phase = Phase::AwaitingPeerClose;
    m_peerCloseDeadline = Clock::now() + m_timing.peerCloseWait;
    judgeDelivery();
}

void TcpBlockSender::judgeDelivery()
{
    // A printer that closed in order, or that acknowledged every byte, has
    // them all; one that closes with bytes unread resets instead.
    const bool closed = m_peerEnded;
    const bool waitsForClose = m_timing.peerCloseWait.count() > 0;
    const bool timedOut = waitsForClose && Clock::now() >= m_peerCloseDeadline;
    if ((waitsForClose && !closed && !timedOut) || failedOnSocketError())
        return;
    const qint64 unacknowledged = unacknowledgedData();
    // Where the system cannot tell, the printer's close is the best sign.
    if (unacknowledged == 0 || (unacknowledged < 0 && (closed || !waitsForClose))) {
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
    // Otherwise the printer closed only its sending side and still reads.
}

qint64 TcpBlockSender::unacknowledgedData() const
{
    const qint64 held =
        connected() ? tcp::unacknowledgedBytes(m_socket) : -1;
    if (held < 0)
        return -1;
    return std::clamp<qint64>(held - m_trailing, 0, m_written);
}

qint64 TcpBlockSender::queuedBytes() const
{
    const qint64 unsent = connected() ? tcp::unsentBytes(m_socket) : 0;
    return m_buffer.size() - m_bufferSent + std::max<qint64>(0, unsent);
}

qint64 TcpBlockSender::acknowledgedBytes() const
{
    if (!connected())
        return m_acknowledged;
    const qint64 unacknowledged = unacknowledgedData();
    return unacknowledged >= 0 ? m_written - unacknowledged : -1;
}

bool TcpBlockSender::flushPending()
{
    while (m_bufferSent < m_buffer.size()) {
        const auto left = static_cast<std::size_t>(m_buffer.size() - m_bufferSent);
        const tcp::Result result =
            watched(tcp::send(m_socket, m_buffer.constData() + m_bufferSent, left));
        if (result.status == tcp::Status::WouldBlock)
            return false;
        if (result.status != tcp::Status::Done) {
            failOnSocket(result.error);
            return false;
        }
        m_bufferSent += static_cast<qint64>(result.bytes);
        (m_saying ? m_trailing : m_written) += static_cast<qint64>(result.bytes);
    }
    m_buffer.resize(0);
    m_bufferSent = 0;
    m_saying = false;
    return true;
}

void TcpBlockSender::say(const QByteArray &bytes)
{
    m_buffer += bytes;
    m_saying = true;
    flushPending();
}

void TcpBlockSender::sendFile()
{
    // What the printer answered it has read: only what follows the file counts.
    m_trailing = 0;
    m_fileStarted = true;
    fill();
}

TcpBlockSender::Step TcpBlockSender::next(qint64 wanted)
{
    // Straight from a file where the source can; otherwise through our buffer.
    const tcp::Result direct =
        watched(m_source->sendTo(m_socket, wanted == BlockSize ? BlockSize : DirectChunkBytes));
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
        if (m_phase != Phase::Sending || !m_fileStarted)
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
            return m_fillTimer.start();
        }
    }
    // A file whose pages the system still sends is looked at again at the end.
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
    // Nothing after the end, not even a count that grew just before a failure.
    if (m_phase == Phase::Done)
        return;
    // The system may take part of a block; the count moves by whole blocks.
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
    fail(SendOutcome::TransferFailed, socketReason(error));
}

// Fails the send with the error the connection holds, if any.
bool TcpBlockSender::failedOnSocketError()
{
    const int error = tcp::pendingError(m_socket);
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
    // Another sender (a retry) may read the source next.
    if (m_source)
        m_source->setNotify({});
    m_source.reset();
}

void TcpBlockSender::onLookedUp(const QHostInfo &info)
{
    m_lookupId = -1;
    if (m_phase != Phase::LookingUp)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        giveUp(info.errorString() + QLatin1Char('.'), Phase::Done);
        return;
    }
    m_phase = Phase::Connecting;
    m_addresses = info.addresses();
    connectNext();
}

void TcpBlockSender::connectNext()
{
    if (m_phase != Phase::Connecting)
        return;
    while (!m_addresses.isEmpty()) {
        m_address = m_addresses.takeFirst().toString();
        tcp::Result result;
        const tcp::Socket socket = tcp::startConnect(m_address.toStdString(), m_port, &result);
        if (socket == tcp::NoSocket) {
            m_lastError = errorText(result.error);
            // No other address would fare better.
            if (tcp::isOutOfDescriptors(result.error)) {
                m_lackedDescriptor = true;
                m_addresses.clear();
            }
            continue;
        }
        m_socket = socket;
        m_readNotifier.setSocket(socket);
        m_writeNotifier.setSocket(socket);
        if (result.status == tcp::Status::Done)
            onWritable();
        else
            m_writeNotifier.setEnabled(true);
        return;
    }
    giveUp(m_lastError + QLatin1Char('.'), Phase::Done);
}

void TcpBlockSender::onConnectTimeout()
{
    if (m_phase == Phase::LookingUp || m_phase == Phase::Connecting)
        giveUp((m_phase == Phase::LookingUp
                    ? QStringLiteral("The printer's name could not be looked up within %1.")
                    : QStringLiteral("The printer did not accept the connection within %1."))
                   .arg(durationText(m_timing.connect)),
               m_phase);
}

void TcpBlockSender::onWritable()
{
    m_writeNotifier.setEnabled(false);
    if (m_socket == tcp::NoSocket)
        return;
    if (connected()) {
        if (m_phase != Phase::Done && flushPending())
            m_phase == Phase::Sending ? fill() : settle();
        return;
    }
    const tcp::Result result = tcp::finishConnect(m_socket);
    if (result.status == tcp::Status::WouldBlock) {
        m_writeNotifier.setEnabled(true);
        return;
    }
    if (result.status != tcp::Status::Done) {
        m_lastError = errorText(result.error);
        m_readNotifier.setEnabled(false);
        tcp::closeAbortively(m_socket);
        m_socket = tcp::NoSocket;
        connectNext();
        return;
    }
    m_connectTimer.stop();
    m_readNotifier.setEnabled(true);
    m_phase = Phase::Sending;
    tcp::limitUnsent(m_socket, static_cast<std::size_t>(UnsentLimit));
    m_lastReport = m_lastProgress = Clock::now();
    m_watchTimer.start(std::clamp<std::chrono::milliseconds>(m_timing.stall / 10, 10ms, 100ms));
    onConnected();
}

void TcpBlockSender::onReadable()
{
    // Whatever a printer says back (status, echoes) must be read, or a
    // talkative printer stops taking our bytes.
    char scratch[16384];
    for (int round = 0; round < 64 && m_socket != tcp::NoSocket; ++round) {
        const tcp::Result result = tcp::receive(m_socket, scratch, sizeof scratch);
        switch (result.status) {
        case tcp::Status::Done:
            if (result.bytes > 0)
                onReceived(QByteArray(scratch, static_cast<qsizetype>(result.bytes)));
            continue;
        case tcp::Status::WouldBlock:
            return;
        case tcp::Status::EndOfStream:
            // Only the printer's sending direction ended; it may still read.
            m_peerEnded = true;
            m_readNotifier.setEnabled(false);
            onReceived({});
            settle();
            return;
        case tcp::Status::Reset:
        case tcp::Status::Failed:
            fail(SendOutcome::TransferFailed, socketReason(result.error));
            return;
        }
    }
}

// The notification brings the caller back once the system has room.
tcp::Result TcpBlockSender::watched(tcp::Result result)
{
    if (result.status == tcp::Status::WouldBlock)
        m_writeNotifier.setEnabled(true);
    return result;
}

QString TcpBlockSender::socketReason(int error) const
{
    if (!tcp::isResetError(error))
        return errorText(error) + QLatin1Char('.');
    // A printer that closes with our bytes unread resets the connection.
    return m_peerEnded ? QStringLiteral("The printer closed the connection before it had taken "
                                        "every byte.")
                       : QStringLiteral("The printer reset the connection.");
}

void TcpBlockSender::giveUp(const QString &reason, Phase timedOutIn)
{
    m_gaveUpIn = timedOutIn;
    fail(SendOutcome::ConnectionFailed, reason);
}

void TcpBlockSender::closeConnection(bool graceful)
{
    m_connectTimer.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    if (m_socket == tcp::NoSocket)
        return;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    if (graceful)
        tcp::closeGracefully(m_socket);
    else
        tcp::closeAbortively(m_socket);
    m_socket = tcp::NoSocket;
}
