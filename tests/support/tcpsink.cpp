#include "tcpsink.h"

#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <unistd.h>

#include <sys/socket.h>

TcpSink::TcpSink(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TcpSink::onNewConnection);
    connect(&m_server, &SinkServer::rawConnection, this, &TcpSink::serveRaw);
}

TcpSink::~TcpSink()
{
    for (const int fd : m_heldDescriptors)
        ::close(fd);
}

bool TcpSink::listen(const QHostAddress &address, quint16 port)
{
    if (m_mode != Mode::NeverAccept)
        return m_server.listen(address, port);

    // The kernel completes handshakes for a listener that does not accept
    // until its backlog is full; with the backlog filled by connections of
    // our own, a further connect hangs as with a printer that never answers.
    m_server.setListenBacklogSize(0);
    if (!m_server.listen(address, port))
        return false;
    m_server.pauseAccepting();
    for (int i = 0; i < 4; ++i) {
        auto *filler = new QTcpSocket(this);
        filler->connectToHost(address, m_server.serverPort());
        if (!filler->waitForConnected(500)) {
            filler->abort();
            delete filler;
            return true;
        }
    }
    return false;
}

quint16 TcpSink::unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        qFatal("no free loopback port");
    return probe.serverPort();
}

void TcpSink::setMode(Mode mode, qint64 parameter)
{
    m_mode = mode;
    m_parameter = parameter;
    m_server.rawDescriptors = mode == Mode::HoldOpen || mode == Mode::CloseAfter ||
                              mode == Mode::NeverRead || mode == Mode::HalfClose ||
                              mode == Mode::Slow;
}

qint64 TcpSink::totalBytes() const
{
    qint64 total = 0;
    for (const QByteArray &bytes : m_received)
        total += bytes.size();
    return total;
}

void TcpSink::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const int index = static_cast<int>(m_received.size());
        m_received.append(QByteArray());
        m_sockets.append(socket);
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, index] { readFrom(index); });
        connect(socket, &QTcpSocket::disconnected, this, [this, index] {
            readFrom(index, true);
            ++m_closed;
            emit peerClosed();
        });
        readFrom(index);
    }
}

void TcpSink::readFrom(int index, bool)
{
    QTcpSocket *socket = m_sockets.value(index);
    if (!socket)
        return;
    qint64 budget = socket->bytesAvailable();
    if (m_mode == Mode::ResetAfter)
        budget = qMin(budget, m_parameter - m_received[index].size());
    if (budget > 0) {
        m_received[index].append(socket->read(budget));
        emit dataArrived();
    }
    if (m_mode == Mode::ResetAfter && m_received[index].size() >= m_parameter) {
        // A zero linger time makes the close a reset, as a printer that
        // gives up mid-job does.
        const linger hard{1, 0};
        ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                     sizeof hard);
        socket->disconnect(this);
        socket->abort();
        ++m_closed;
        emit peerClosed();
    }
}

void SinkServer::incomingConnection(qintptr descriptor)
{
    if (rawDescriptors)
        emit rawConnection(descriptor);
    else
        QTcpServer::incomingConnection(descriptor);
}

void TcpSink::serveRaw(qintptr descriptor)
{
    // Qt reads ahead and closes a socket as soon as the peer's end of stream
    // arrives; printers that read exactly so much, or linger, are modelled
    // on the bare descriptor instead.
    const int fd = static_cast<int>(descriptor);
    const int index = static_cast<int>(m_received.size());
    m_received.append(QByteArray());
    m_heldDescriptors.append(fd);
    if (m_mode == Mode::HalfClose)
        ::shutdown(fd, SHUT_WR);
    if (m_mode == Mode::NeverRead) {
        if (m_parameter > 0)
            QTimer::singleShot(m_parameter, this, [this, fd] { closeRaw(fd); });
        return;
    }
    if (m_mode == Mode::Slow) {
        // A little every 10 ms keeps the kernel buffers full, so the sender
        // sees a printer that drains slowly; the bare descriptor tells the
        // sender's reset from its orderly end.
        auto *timer = new QTimer(this);
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, this, [this, timer, fd, index] {
            QByteArray buffer(static_cast<qsizetype>(qMax<qint64>(1, m_parameter / 100)), '\0');
            const ssize_t got = ::recv(fd, buffer.data(), static_cast<size_t>(buffer.size()),
                                       MSG_DONTWAIT);
            if (got > 0) {
                m_received[index].append(buffer.constData(), static_cast<qsizetype>(got));
                emit dataArrived();
                return;
            }
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return;
            if (got < 0 && errno == ECONNRESET)
                ++m_resets;
            timer->deleteLater();
            closeRaw(fd);
        });
        timer->start();
        return;
    }
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier, fd, index] {
        char buffer[65536];
        qint64 budget = sizeof buffer;
        if (m_mode == Mode::CloseAfter)
            budget = qMin(budget, m_parameter - m_received[index].size());
        const ssize_t got = ::read(fd, buffer, static_cast<size_t>(budget));
        if (got < 0 && errno == ECONNRESET)
            ++m_resets;
        if (got > 0) {
            m_received[index].append(buffer, static_cast<qsizetype>(got));
            emit dataArrived();
            if (m_mode != Mode::CloseAfter || m_received[index].size() < m_parameter)
                return;
        }
        notifier->setEnabled(false);
        if (m_mode == Mode::HoldOpen && m_parameter > 0)
            QTimer::singleShot(m_parameter, this, [this, fd] { closeRaw(fd); });
        else if (m_mode != Mode::HoldOpen)
            closeRaw(fd);
    });
}

void TcpSink::closeRaw(int fd)
{
    if (m_heldDescriptors.removeOne(fd)) {
        ::close(fd);
        ++m_closed;
        emit peerClosed();
    }
}
