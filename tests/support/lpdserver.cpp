#include "lpdserver.h"

#include <QTcpSocket>

#include <sys/socket.h>

LpdServer::LpdServer(Fault fault, int step, QObject *parent)
    : QObject(parent), m_fault(fault), m_faultStep(step)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        QTcpSocket *socket = m_server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    });
}

bool LpdServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost);
}

void LpdServer::serve(QTcpSocket *socket)
{
    m_pending += socket->readAll();
    while (!m_faulted) {
        const int step = static_cast<int>(m_steps.size()) + 1;
        const bool file = step == 3 || step == 5;
        if (step == m_faultStep && !m_pending.isEmpty() &&
            (m_fault == Fault::Close || m_fault == Fault::AnswerEarly)) {
            m_faulted = true;
            if (m_fault == Fault::Close)
                socket->close();
            else
                socket->write(QByteArray(1, '\0'));
            return;
        }
        const qsizetype end = file ? m_fileSize + 1 : m_pending.indexOf('\n') + 1;
        if (end <= 0 || m_pending.size() < end)
            return;
        m_steps.append(m_pending.left(end));
        m_pending.remove(0, end);
        // "\2123 cfA001host\n": the size of the file that follows.
        m_fileSize = m_steps.last().mid(1).split(' ').value(0).toLongLong();
        if (step != m_faultStep || m_fault == Fault::None) {
            socket->write(QByteArray(1, '\0'));
            continue;
        }
        m_faulted = true;
        if (m_fault == Fault::Refuse) {
            socket->write("\1no, thank you\n");
            socket->disconnectFromHost();
        } else if (m_fault == Fault::Reset) {
            const linger hard{1, 0};
            ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                         &hard, sizeof hard);
            socket->abort();
        }
    }
}
