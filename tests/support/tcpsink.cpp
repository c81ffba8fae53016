#include "tcpsink.h"

#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

TcpSink::TcpSink(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TcpSink::onNewConnection);
}

TcpSink::~TcpSink() = default;

bool TcpSink::listen(const QHostAddress &address, quint16 port)
{
    if (m_mode == Mode::NeverAccept)
        m_server.setMaxPendingConnections(1);
    return m_server.listen(address, port);
}

quint16 TcpSink::port() const
{
    return m_server.serverPort();
}

void TcpSink::setMode(Mode mode, qint64 parameter)
{
    m_mode = mode;
    m_parameter = parameter;
    if (mode == Mode::NeverAccept)
        m_server.pauseAccepting();
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
        if (m_mode == Mode::Slow) {
            // Reading little and often keeps the kernel buffers full, so the
            // sender sees a printer that drains slowly.
            socket->setReadBufferSize(4096);
            auto *timer = new QTimer(socket);
            timer->setInterval(10);
            connect(timer, &QTimer::timeout, this, [this, index] { readFrom(index); });
            timer->start();
        } else {
            connect(socket, &QTcpSocket::readyRead, this, [this, index] { readFrom(index); });
        }
        connect(socket, &QTcpSocket::disconnected, this, [this, index] {
            readFrom(index);
            ++m_closed;
            emit peerClosed();
        });
        readFrom(index);
    }
}

void TcpSink::readFrom(int index)
{
    QTcpSocket *socket = m_sockets.value(index);
    if (!socket)
        return;
    qint64 budget = socket->bytesAvailable();
    if (m_mode == Mode::Slow)
        budget = qMin(budget, qMax<qint64>(1, m_parameter / 100));
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
