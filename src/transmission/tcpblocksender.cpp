#include "tcpblocksender.h"

#include "platform/platform.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTcpSocket>

namespace {

// Enough blocks per write that the socket sees large writes; the count still
// moves block by block.
constexpr qint64 BlocksPerWrite = 65536 / TcpBlockSender::BlockSize;

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

} // namespace

int classicSocketState(QAbstractSocket::SocketState state)
{
    switch (state) {
    case QAbstractSocket::UnconnectedState:
        return 0;
    case QAbstractSocket::BoundState:
        return 1;
    case QAbstractSocket::ListeningState:
        return 2;
    case QAbstractSocket::HostLookupState:
        return 4;
    case QAbstractSocket::ConnectingState:
        return 6;
    case QAbstractSocket::ConnectedState:
        return 7;
    case QAbstractSocket::ClosingState:
        return 8;
    }
    return 9;
}

TcpBlockSender::TcpBlockSender(QObject *parent)
    : QObject(parent), m_socket(new QTcpSocket(this))
{
    m_connectTimer.setSingleShot(true);
    m_closeTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, &TcpBlockSender::onConnectTimeout);
    connect(&m_closeTimer, &QTimer::timeout, this, [this] {
        fail(Outcome::SendFailed,
             QStringLiteral("The printer took nothing for %1 while the connection was closing.")
                 .arg(durationText(CloseStallTimeout)));
    });
    m_peerCloseTimer.setSingleShot(true);
    connect(&m_peerCloseTimer, &QTimer::timeout, this, &TcpBlockSender::onPeerCloseTimeout);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        // Whatever a printer says back (status, echoes) is not ours to keep.
        m_socket->readAll();
    });
    connect(m_socket, &QTcpSocket::connected, this, &TcpBlockSender::onConnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpBlockSender::onError);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpBlockSender::onDisconnected);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_phase == Phase::Sending)
            fill();
        else if (m_phase == Phase::Closing)
            m_closeTimer.start(CloseStallTimeout);
        if (m_phase == Phase::Closing && m_peerCloseWait.count() > 0 && m_socket->bytesToWrite() == 0)
            closeSendingSide();
    });
}

TcpBlockSender::~TcpBlockSender() = default;

void TcpBlockSender::start(const QString &path, const QString &host, const QString &portText)
{
    auto file = std::make_unique<QFile>(path);
    QString problem;
    if (QFileInfo(path).isDir())
        problem = QStringLiteral("It is a folder.");
    else if (!file->open(QIODevice::ReadOnly))
        problem = file->errorString();
    if (problem.isEmpty()) {
        const qint64 size = file->size();
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
    quint16 port = 0;
    if (!connectPort(host, portText, &port))
        return;
    QMetaObject::invokeMethod(
        this, [this, problem] { fail(Outcome::FileUnreadable, problem); }, Qt::QueuedConnection);
}

bool TcpBlockSender::connectPort(const QString &host, const QString &portText, quint16 *port)
{
    m_host = bareHost(host);
    m_portText = portText;
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
    quint16 port = 0;
    if (!connectPort(host, portText, &port))
        return;
    m_source = std::move(source);
    m_fileSize = expectedSize;
    connect(m_source.get(), &QIODevice::readyRead, this, &TcpBlockSender::scheduleFill);

    m_connectTimer.start(m_connectTimeout);
    m_socket->connectToHost(m_host, port);
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
    m_closeTimer.start(CloseStallTimeout);
    if (m_peerCloseWait.count() > 0) {
        // The queue drains first; bytesWritten brings us back when it has.
        if (m_socket->bytesToWrite() == 0)
            closeSendingSide();
        return;
    }
    // The socket writes out its queue before it closes, and the kernel sends
    // the end of the stream only after the last byte.
    m_socket->disconnectFromHost();
    if (m_phase == Phase::Closing && m_socket->state() == QAbstractSocket::UnconnectedState)
        finish(true);
}

void TcpBlockSender::cancel()
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    m_outcome = Outcome::Cancelled;
    m_connectTimer.stop();
    m_closeTimer.stop();
    m_peerCloseTimer.stop();
    m_source.reset();
    m_socket->abort();
    emit finished(false);
}

qint64 TcpBlockSender::queuedBytes() const
{
    return m_socket->bytesToWrite();
}

int TcpBlockSender::classicState() const
{
    if (m_phase == Phase::Done && m_outcome != Outcome::Closed && m_outcome != Outcome::Cancelled)
        return m_stateAtFailure;
    return classicSocketState(m_socket->state());
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
    case Outcome::SendFailed:
        return connection + QLatin1Char('\n') + m_reason +
               (m_fileSize >= 0 ? QStringLiteral("\n%1 of %2 bytes had been handed to the connection.")
                                      .arg(m_count)
                                      .arg(m_fileSize)
                                : QStringLiteral("\n%1 bytes had been handed to the connection.")
                                      .arg(m_count));
    case Outcome::FileUnreadable:
        return QStringLiteral("Cannot send \"%1\" to %2: %3")
            .arg(m_sourceName, remoteAddress(), m_reason);
    case Outcome::None:
    case Outcome::Closed:
    case Outcome::Cancelled:
        break;
    }
    return QString();
}

void TcpBlockSender::onConnected()
{
    if (m_phase != Phase::Connecting)
        return;
    m_connectTimer.stop();
    m_address = m_socket->peerAddress().toString();
    m_phase = Phase::Sending;
    m_sinceReport.start();
    fill();
}

void TcpBlockSender::onError(QAbstractSocket::SocketError error)
{
    if (m_phase == Phase::Idle || m_phase == Phase::Done)
        return;
    if (m_phase == Phase::AwaitingPeerClose && error == QAbstractSocket::RemoteHostClosedError) {
        m_peerClosed = true;
        finish(true);
        return;
    }
    if (!m_socket->peerAddress().isNull())
        m_address = m_socket->peerAddress().toString();
    fail(m_phase == Phase::Connecting ? Outcome::ConnectFailed : Outcome::SendFailed,
         m_socket->errorString() + QLatin1Char('.'));
}

void TcpBlockSender::onConnectTimeout()
{
    if (m_phase != Phase::Connecting)
        return;
    const int state = classicSocketState(m_socket->state());
    fail(Outcome::ConnectFailed, QStringLiteral("The printer did not accept the connection within %1.")
                                     .arg(durationText(m_connectTimeout)),
         state);
}

void TcpBlockSender::onDisconnected()
{
    if (m_phase == Phase::AwaitingPeerClose) {
        m_peerClosed = true;
        finish(true);
        return;
    }
    if (m_phase == Phase::Closing)
        finish(true);
    else if (m_phase == Phase::Sending || m_phase == Phase::Queued)
        fail(Outcome::SendFailed, QStringLiteral("The remote host closed the connection."));
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

void TcpBlockSender::fill()
{
    if (m_phase != Phase::Sending)
        return;
    QElapsedTimer slice;
    slice.start();
    const qint64 blocksPerWrite = m_slice.count() == 0 ? 1 : BlocksPerWrite;
    for (;;) {
        const qint64 room = QueueLimit - m_socket->bytesToWrite();
        if (room < BlockSize) {
            // bytesWritten brings us back once the peer has taken some.
            reportProgress(false);
            return;
        }
        const qint64 wanted = qMin(room / BlockSize, blocksPerWrite) * BlockSize;
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
        const bool sourceEnded = got < wanted && (!m_source->isSequential() || m_source->atEnd());
        if (got > 0) {
            if (m_socket->write(m_buffer.constData(), got) != got) {
                fail(Outcome::SendFailed, m_socket->errorString() + QLatin1Char('.'));
                return;
            }
            m_count += got;
        }
        if (got < wanted && !sourceEnded) {
            // A stream with nothing more for now: readyRead resumes us.
            reportProgress(false);
            return;
        }
        if (sourceEnded) {
            m_source.reset();
            m_buffer = QByteArray();
            m_phase = Phase::Queued;
            reportProgress(true);
            emit allQueued(m_count);
            return;
        }
        if (slice.elapsed() >= m_slice.count()) {
            reportProgress(m_slice.count() == 0);
            scheduleFill();
            return;
        }
    }
}

void TcpBlockSender::reportProgress(bool force)
{
    if (m_count == m_reportedCount)
        return;
    if (!force && m_sinceReport.elapsed() < m_slice.count())
        return;
    m_reportedCount = m_count;
    m_sinceReport.start();
    emit progress(m_count);
}

void TcpBlockSender::fail(Outcome outcome, const QString &reason, int state)
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    m_outcome = outcome;
    m_reason = reason;
    m_stateAtFailure = state;
    m_connectTimer.stop();
    m_closeTimer.stop();
    m_peerCloseTimer.stop();
    m_source.reset();
    m_socket->abort();
    const QPointer<TcpBlockSender> self(this);
    emit failed();
    if (self)
        emit finished(false);
}

void TcpBlockSender::closeSendingSide()
{
    if (m_phase != Phase::Closing)
        return;
    m_phase = Phase::AwaitingPeerClose;
    m_closeTimer.stop();
    platform::shutdownSending(m_socket->socketDescriptor());
    m_peerCloseTimer.start(m_peerCloseWait);
}

void TcpBlockSender::onPeerCloseTimeout()
{
    if (m_phase != Phase::AwaitingPeerClose)
        return;
    // The printer kept its side open. If the kernel holds no unacknowledged
    // bytes, it has received everything all the same.
    if (platform::unacknowledgedBytes(m_socket->socketDescriptor()) == 0) {
        // Leave the waiting phase first: the abort reports a disconnect,
        // which must not count as the printer closing.
        m_phase = Phase::Done;
        m_socket->abort();
        finish(true);
        return;
    }
    fail(Outcome::SendFailed,
         QStringLiteral("The printer did not take the last bytes within %1.")
             .arg(durationText(m_peerCloseWait)));
}

void TcpBlockSender::finish(bool ok)
{
    m_phase = Phase::Done;
    m_closeTimer.stop();
    m_peerCloseTimer.stop();
    if (ok)
        m_outcome = Outcome::Closed;
    emit finished(ok);
}
