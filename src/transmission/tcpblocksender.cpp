#include "tcpblocksender.h"

#include "platform/tcpconnection.h"

#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QPointer>
#include <QStorageInfo>

#include <algorithm>

namespace tcp = platform::tcp;

namespace {

// Enough blocks per write that the socket sees large writes; the count still
// moves block by block.
constexpr qint64 BlocksPerWrite = 65536 / TcpBlockSender::BlockSize;
constexpr qint64 ChunkBytes = BlocksPerWrite * TcpBlockSender::BlockSize;
// The system may overshoot its unsent limit by about one write, and our own
// buffer holds at most one chunk more.
constexpr qint64 UnsentLimit = TcpBlockSender::QueueLimit - 4 * ChunkBytes;

QString durationText(std::chrono::milliseconds duration)
{
    const auto ms = duration.count();
    if (ms % 1000 == 0)
        return QString::number(ms / 1000) + QStringLiteral(" s");
    return QString::number(ms) + QStringLiteral(" ms");
}

// "[::1]" is how people write an IPv6 printer next to a port; the socket
// wants the bare address.
QString bareHost(const QString &host)
{
    if (host.size() > 2 && host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        return host.mid(1, host.size() - 2);
    return host;
}

QString systemText(int error)
{
    return QString::fromStdString(tcp::errorText(error));
}

} // namespace

TcpBlockSender::TcpBlockSender(QObject *parent)
    : QObject(parent)
{
    m_connectTimer.setSingleShot(true);
    m_peerCloseTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, &TcpBlockSender::onConnectTimeout);
    connect(&m_peerCloseTimer, &QTimer::timeout, this, &TcpBlockSender::onPeerCloseTimeout);
    connect(&m_watchTimer, &QTimer::timeout, this, &TcpBlockSender::onWatch);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, &TcpBlockSender::onReadable);
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &TcpBlockSender::onWritable);
}

TcpBlockSender::~TcpBlockSender()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    // Gone mid-send is cancelled: the printer must not take it as complete.
    dropConnection(m_phase == Phase::Done && m_outcome == Outcome::Closed);
}

void TcpBlockSender::start(const QString &path, const QString &host, const QString &portText)
{
    auto file = std::make_unique<QFile>(path);
    const QFileInfo info(path);
    QString problem;
    if (info.isDir())
        problem = QStringLiteral("It is a folder.");
    else if (info.exists() && !info.isFile())
        // Opening a pipe waits for a writer that may never come, and the
        // window would wait with it.
        problem = QStringLiteral("It is a pipe or a device, not a file.");
    else if (!file->open(QIODevice::ReadOnly))
        problem = file->errorString();
    if (problem.isEmpty()) {
        // A regular file must be sent as long as it was when the send began.
        // Files that report no size (devices, kernel files) are read to
        // their end instead, as are those of /proc and /sys, whose size says
        // nothing of their content.
        const QByteArray fileSystem = QStorageInfo(info.absolutePath()).fileSystemType();
        const bool sizeSaysNothing = fileSystem == "proc" || fileSystem == "sysfs";
        const qint64 size =
            info.isFile() && file->size() > 0 && !sizeSaysNothing ? file->size() : -1;
        start(std::move(file), path, size, host, portText);
        return;
    }
    if (m_phase != Phase::Idle)
        return;
    m_phase = Phase::Connecting;
    m_host = bareHost(host);
    m_sourceName = path;
    // Failures found here are reported from the event loop like all others,
    // so callers may connect to the signals after start() returns.
    if (!parsePort(portText, &m_port))
        return;
    QMetaObject::invokeMethod(
        this, [this, problem] { fail(Outcome::FileUnreadable, problem); }, Qt::QueuedConnection);
}

bool TcpBlockSender::parsePort(const QString &portText, quint16 *port)
{
    bool isNumber = false;
    const uint number = portText.toUInt(&isNumber, 10);
    if (!isNumber || number < 1 || number > 65535) {
        QMetaObject::invokeMethod(
            this,
            [this, portText] {
                fail(Outcome::BadPort,
                     QStringLiteral("The port \"%1\" is not a number from 1 to 65535.").arg(portText));
            },
            Qt::QueuedConnection);
        return false;
    }
    *port = static_cast<quint16>(number);
    return true;
}

void TcpBlockSender::start(std::unique_ptr<QIODevice> source, const QString &sourceName,
                           qint64 expectedSize, const QString &host, const QString &portText)
{
    if (m_phase != Phase::Idle)
        return;
    m_phase = Phase::Connecting;
    m_sourceName = sourceName;
    m_host = bareHost(host);
    if (!parsePort(portText, &m_port))
        return;
    m_source = std::move(source);
    m_fileSize = expectedSize;
    if (const auto *file = qobject_cast<QFileDevice *>(m_source.get()); file && expectedSize >= 0)
        m_fileModified = file->fileTime(QFileDevice::FileModificationTime);
    connect(m_source.get(), &QIODevice::readyRead, this, &TcpBlockSender::scheduleFill);

    m_connectTimer.start(m_connectTimeout);
    QHostAddress literal;
    if (literal.setAddress(m_host)) {
        m_addresses = {literal};
        // Even a refusal comes from the event loop, never from inside start().
        QMetaObject::invokeMethod(this, &TcpBlockSender::connectNext, Qt::QueuedConnection);
        return;
    }
    m_resolving = true;
    m_lookupId = QHostInfo::lookupHost(m_host, this, &TcpBlockSender::onLookedUp);
}

void TcpBlockSender::onLookedUp(const QHostInfo &info)
{
    m_lookupId = -1;
    m_resolving = false;
    if (m_phase != Phase::Connecting)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        fail(Outcome::ConnectFailed, info.errorString() + QLatin1Char('.'));
        return;
    }
    m_addresses = info.addresses();
    connectNext();
}

void TcpBlockSender::connectNext()
{
    if (m_phase != Phase::Connecting)
        return;
    // A name may stand for several addresses (localhost: ::1 and 127.0.0.1);
    // each is tried in turn until one accepts.
    while (!m_addresses.isEmpty()) {
        const QHostAddress address = m_addresses.takeFirst();
        m_address = address.toString();
        tcp::Result result;
        const tcp::Socket socket = tcp::startConnect(m_address.toStdString(), m_port, &result);
        if (socket == tcp::NoSocket) {
            m_lastConnectError = systemText(result.error);
            continue;
        }
        m_socket = socket;
        m_readNotifier.setSocket(socket);
        m_writeNotifier.setSocket(socket);
        if (result.status == tcp::Status::Done)
            onConnected();
        else
            m_writeNotifier.setEnabled(true);
        return;
    }
    fail(Outcome::ConnectFailed, m_lastConnectError + QLatin1Char('.'));
}

void TcpBlockSender::onConnected()
{
    m_connectTimer.stop();
    m_connected = true;
    m_phase = Phase::Sending;
    tcp::limitUnsent(m_socket, static_cast<std::size_t>(UnsentLimit));
    m_readNotifier.setEnabled(true);
    m_sinceReport.start();
    m_sinceProgress.start();
    m_watchTimer.start(std::clamp(m_stallTimeout / 10, std::chrono::milliseconds(10),
                                  std::chrono::milliseconds(100)));
    fill();
}

void TcpBlockSender::onConnectTimeout()
{
    if (m_phase != Phase::Connecting)
        return;
    if (m_resolving) {
        fail(Outcome::ConnectFailed,
             QStringLiteral("The printer's name could not be looked up within %1.")
                 .arg(durationText(m_connectTimeout)),
             4);
        return;
    }
    fail(Outcome::ConnectFailed, QStringLiteral("The printer did not accept the connection within %1.")
                                     .arg(durationText(m_connectTimeout)),
         6);
}

void TcpBlockSender::onWritable()
{
    m_writeNotifier.setEnabled(false);
    if (m_phase == Phase::Done || m_socket == tcp::NoSocket)
        return;
    if (!m_connected) {
        const tcp::Result result = tcp::finishConnect(m_socket);
        if (result.status == tcp::Status::WouldBlock) {
            m_writeNotifier.setEnabled(true);
            return;
        }
        if (result.status == tcp::Status::Done) {
            onConnected();
            return;
        }
        m_lastConnectError = systemText(result.error);
        dropConnection(false);
        connectNext();
        return;
    }
    if (!flushPending())
        return;
    if (m_phase == Phase::Sending)
        fill();
    else if (m_phase == Phase::Closing)
        endStream();
}

void TcpBlockSender::onReadable()
{
    // Whatever a printer says back (status, echoes) is not ours to keep, but
    // it must be read, or a talkative printer stops taking our bytes.
    if (m_socket == tcp::NoSocket)
        return;
    char scratch[16384];
    for (int round = 0; round < 64; ++round) {
        const tcp::Result result = tcp::receive(m_socket, scratch, sizeof scratch);
        switch (result.status) {
        case tcp::Status::Done:
            continue;
        case tcp::Status::WouldBlock:
            return;
        case tcp::Status::EndOfStream:
            // Only the printer's sending direction has ended; it may still be
            // reading ours. Whether it read everything shows by what follows.
            m_peerEnded = true;
            m_readNotifier.setEnabled(false);
            if (m_phase == Phase::AwaitingPeerClose)
                checkDelivered();
            return;
        case tcp::Status::Reset:
        case tcp::Status::Failed:
            failOnSocket(result.error);
            return;
        }
    }
}

void TcpBlockSender::onWatch()
{
    if (m_phase == Phase::Done || !m_connected)
        return;
    if (m_peerEnded) {
        // No more reads tell of a reset now; the socket's error does.
        if (const int error = tcp::pendingError(m_socket)) {
            failOnSocket(error);
            return;
        }
    }
    const qint64 unacknowledged = unacknowledgedData();
    const qint64 taken = unacknowledged >= 0 ? m_written - unacknowledged : m_written;
    const bool waiting = m_bufferSent < m_buffer.size() || unacknowledged > 0;
    if (taken > m_acknowledged) {
        m_acknowledged = taken;
        m_sinceProgress.start();
        if (m_phase == Phase::AwaitingPeerClose && m_peerCloseTimer.isActive())
            m_peerCloseTimer.start(m_peerCloseWait);
    } else if (!waiting) {
        m_sinceProgress.start();
    } else if (m_sinceProgress.elapsed() >= m_stallTimeout.count()) {
        fail(Outcome::SendFailed,
             QStringLiteral("The printer took nothing for %1.").arg(durationText(m_stallTimeout)));
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
    if (const int error = tcp::pendingError(m_socket)) {
        failOnSocket(error);
        return;
    }
    const qint64 unacknowledged = unacknowledgedData();
    if (unacknowledged == 0) {
        finish(true);
        return;
    }
    if (unacknowledged < 0) {
        fail(Outcome::SendFailed,
             QStringLiteral("The printer did not close the connection within %1, and the system "
                            "cannot tell whether it took every byte.")
                 .arg(durationText(m_peerCloseWait)));
        return;
    }
    fail(Outcome::SendFailed, QStringLiteral("The printer did not take the last %1 bytes within %2.")
                                  .arg(unacknowledged)
                                  .arg(durationText(m_peerCloseWait)));
}

void TcpBlockSender::close()
{
    switch (m_phase) {
    case Phase::Idle:
    case Phase::Connecting:
    case Phase::Sending:
        cancel();
        return;
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
    m_outcome = Outcome::Cancelled;
    stopTimers();
    m_source.reset();
    dropConnection(false);
    emit finished(false);
}

void TcpBlockSender::endStream()
{
    if (!tcp::shutdownSending(m_socket)) {
        const int error = tcp::pendingError(m_socket);
        if (error != 0) {
            failOnSocket(error);
            return;
        }
        fail(Outcome::SendFailed, QStringLiteral("The connection was gone before the end of the "
                                                 "job could be sent."));
        return;
    }
    m_endSent = true;
    m_phase = Phase::AwaitingPeerClose;
    if (m_peerCloseWait.count() > 0)
        m_peerCloseTimer.start(m_peerCloseWait);
    checkDelivered();
}

void TcpBlockSender::checkDelivered()
{
    if (m_phase != Phase::AwaitingPeerClose)
        return;
    // A printer that closes with our bytes unread resets the connection
    // instead; a printer that closed in order has acknowledged them.
    const bool closed = m_peerEnded;
    if (!closed && m_peerCloseWait.count() > 0)
        return;
    if (const int error = tcp::pendingError(m_socket)) {
        failOnSocket(error);
        return;
    }
    const qint64 unacknowledged = unacknowledgedData();
    // Where the system cannot tell, the printer's close is the best sign.
    if (unacknowledged == 0 || (unacknowledged < 0 && (closed || m_peerCloseWait.count() == 0)))
        finish(true);
    // Otherwise the printer closed only its sending side early and still
    // reads; the watch sees the rest acknowledged, or the time-outs end it.
}

qint64 TcpBlockSender::unacknowledgedData() const
{
    if (m_socket == tcp::NoSocket || !m_connected)
        return -1;
    const long long held = tcp::unacknowledgedBytes(m_socket);
    if (held < 0)
        return -1;
    // Our end of stream takes one place in the count once it is sent.
    return std::clamp<qint64>(held - (m_endSent ? 1 : 0), 0, m_written);
}

void TcpBlockSender::updateAcknowledged()
{
    const qint64 unacknowledged = unacknowledgedData();
    m_acknowledged = unacknowledged >= 0 ? m_written - unacknowledged : -1;
}

qint64 TcpBlockSender::queuedBytes() const
{
    qint64 queued = m_buffer.size() - m_bufferSent;
    if (m_socket != tcp::NoSocket && m_connected)
        queued += std::max<qint64>(0, tcp::unsentBytes(m_socket));
    return queued;
}

qint64 TcpBlockSender::acknowledgedBytes() const
{
    if (m_socket != tcp::NoSocket && m_connected) {
        const qint64 unacknowledged = unacknowledgedData();
        return unacknowledged >= 0 ? m_written - unacknowledged : -1;
    }
    return m_acknowledged;
}

int TcpBlockSender::classicState() const
{
    switch (m_phase) {
    case Phase::Idle:
        return 0;
    case Phase::Connecting:
        return m_resolving ? 4 : 6;
    case Phase::Sending:
    case Phase::Queued:
        return 7;
    case Phase::Closing:
    case Phase::AwaitingPeerClose:
        return 8;
    case Phase::Done:
        break;
    }
    if (m_outcome == Outcome::Closed || m_outcome == Outcome::Cancelled)
        return 0;
    return m_stateAtFailure;
}

QString TcpBlockSender::remoteAddress() const
{
    return m_address.isEmpty() ? m_host : m_address;
}

QString TcpBlockSender::failureText() const
{
    const QString connection = QStringLiteral("Connection to ") + remoteAddress() +
                               QStringLiteral(" faild! State: ") +
                               QString::number(m_stateAtFailure);
    switch (m_outcome) {
    case Outcome::BadPort:
    case Outcome::ConnectFailed:
        return connection + QLatin1Char('\n') + m_reason;
    case Outcome::SendFailed: {
        const qint64 acknowledged = acknowledgedBytes();
        const qint64 bytes = acknowledged >= 0 ? acknowledged : m_written;
        QString amount = acknowledged >= 0 ? QStringLiteral("The printer acknowledged ")
                                           : QStringLiteral("The connection took ");
        amount += QString::number(bytes);
        if (m_fileSize >= 0)
            amount += QStringLiteral(" of ") + QString::number(m_fileSize);
        amount += QStringLiteral(" bytes.");
        return connection + QLatin1Char('\n') + m_reason + QLatin1Char('\n') + amount;
    }
    case Outcome::FileUnreadable:
        return QStringLiteral("Cannot send \"") + m_sourceName + QStringLiteral("\" to ") +
               remoteAddress() + QStringLiteral(": ") + m_reason;
    case Outcome::None:
    case Outcome::Closed:
    case Outcome::Cancelled:
        break;
    }
    return QString();
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
            tcp::send(m_socket, m_buffer.constData() + m_bufferSent,
                      static_cast<std::size_t>(m_buffer.size() - m_bufferSent));
        switch (result.status) {
        case tcp::Status::Done:
            m_bufferSent += static_cast<qint64>(result.bytes);
            m_written += static_cast<qint64>(result.bytes);
            continue;
        case tcp::Status::WouldBlock:
            // The notification brings us back once the system has room.
            m_writeNotifier.setEnabled(true);
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

void TcpBlockSender::fill()
{
    if (m_phase != Phase::Sending)
        return;
    QElapsedTimer slice;
    slice.start();
    const qint64 blocksPerWrite = m_slice.count() == 0 ? 1 : BlocksPerWrite;
    for (;;) {
        if (!flushPending()) {
            reportProgress(false);
            return;
        }
        if (m_phase != Phase::Sending)
            return;
        qint64 wanted = blocksPerWrite * BlockSize;
        // Past the size the file had at the start, one byte more is asked
        // for only to see whether the file grew.
        const bool probing = m_fileSize >= 0 && m_count >= m_fileSize;
        if (m_fileSize >= 0)
            wanted = probing ? 1 : qMin(wanted, m_fileSize - m_count);
        m_buffer.resize(wanted);
        qint64 got = 0;
        while (got < wanted) {
            const qint64 read = m_source->read(m_buffer.data() + got, wanted - got);
            if (read < 0) {
                fail(Outcome::SendFailed,
                     QStringLiteral("Reading the file failed: %1.").arg(m_source->errorString()));
                return;
            }
            if (read == 0)
                break;
            got += read;
        }
        m_buffer.resize(probing ? 0 : got);
        const bool sourceEnded = got < wanted && (!m_source->isSequential() || m_source->atEnd());
        if (probing && got > 0) {
            fail(Outcome::SendFailed,
                 QStringLiteral("The file grew during the send beyond the %1 bytes it had when the "
                                "send began.")
                     .arg(m_fileSize));
            return;
        }
        m_count += m_buffer.size();
        if (sourceEnded && m_fileSize >= 0 && m_count < m_fileSize) {
            fail(Outcome::SendFailed,
                 QStringLiteral("The file shrank during the send: it had %1 bytes when the send "
                                "began, and ended after %2.")
                     .arg(m_fileSize)
                     .arg(m_count));
            return;
        }
        // Rewritten in place, a file keeps its length, but what went out is
        // part old, part new.
        if (sourceEnded && m_fileModified.isValid() && modifiedSinceStart()) {
            fail(Outcome::SendFailed, QStringLiteral("The file was changed during the send."));
            return;
        }
        if (!flushPending()) {
            if (sourceEnded && m_phase == Phase::Sending)
                break;
            reportProgress(false);
            return;
        }
        if (sourceEnded)
            break;
        if (got < wanted) {
            // A stream with nothing more for now: readyRead resumes us.
            reportProgress(false);
            return;
        }
        if (slice.elapsed() >= m_slice.count()) {
            reportProgress(m_slice.count() == 0);
            scheduleFill();
            return;
        }
    }
    // What is still in our buffer goes out as the socket takes it.
    m_source.reset();
    m_phase = Phase::Queued;
    reportProgress(true);
    emit allQueued(m_count);
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

void TcpBlockSender::reportProgress(bool force)
{
    // After the end nothing more is reported, not even a count that grew
    // just before a failure.
    if (m_phase == Phase::Done || m_count == m_reportedCount)
        return;
    if (!force && m_sinceReport.elapsed() < m_slice.count())
        return;
    m_reportedCount = m_count;
    m_sinceReport.start();
    emit progress(m_count);
}

void TcpBlockSender::failOnSocket(int error)
{
    if (tcp::isResetError(error)) {
        fail(Outcome::SendFailed,
             m_peerEnded ? QStringLiteral("The printer closed the connection before it had taken "
                                          "every byte.")
                         : QStringLiteral("The printer reset the connection."));
        return;
    }
    fail(Outcome::SendFailed, systemText(error) + QLatin1Char('.'));
}

void TcpBlockSender::fail(Outcome outcome, const QString &reason, int state)
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    m_outcome = outcome;
    m_reason = reason;
    m_stateAtFailure = state;
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
    m_phase = Phase::Done;
    if (ok)
        m_outcome = Outcome::Closed;
    stopTimers();
    dropConnection(ok);
    emit finished(ok);
}

void TcpBlockSender::stopTimers()
{
    m_connectTimer.stop();
    m_peerCloseTimer.stop();
    m_watchTimer.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
}

void TcpBlockSender::dropConnection(bool graceful)
{
    m_buffer = QByteArray();
    m_bufferSent = 0;
    if (m_socket == tcp::NoSocket)
        return;
    if (m_connected)
        updateAcknowledged();
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    if (graceful)
        tcp::closeGracefully(m_socket);
    else
        tcp::closeAbortively(m_socket);
    m_socket = tcp::NoSocket;
    m_connected = false;
}
