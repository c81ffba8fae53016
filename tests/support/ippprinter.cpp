#include "ippprinter.h"

#include <QTcpSocket>
#include <QtEndian>

#include <sys/socket.h>

namespace {

constexpr quint16 PrintJob = 0x0002;
constexpr quint16 GetPrinterAttributes = 0x000B;
constexpr quint16 ServerErrorBusy = 0x0507;
constexpr quint16 SendDocument = 0x0006;
constexpr quint16 GetJobAttributes = 0x0009;
constexpr int JobId = 7;
constexpr int Completed = 9;

void putShort(QByteArray &out, quint16 value)
{
    out.append(static_cast<char>(value >> 8)).append(static_cast<char>(value & 0xff));
}

void putAttribute(QByteArray &out, char tag, const QByteArray &name, const QByteArray &value)
{
    out.append(tag);
    putShort(out, static_cast<quint16>(name.size()));
    out.append(name);
    putShort(out, static_cast<quint16>(value.size()));
    out.append(value);
}

QByteArray integer(int value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian<qint32>(value, bytes.data());
    return bytes;
}

// Where the attributes of an IPP message end and its document begins, or
// -1 while they are incomplete.
qsizetype documentOffset(const QByteArray &message)
{
    qsizetype at = 8;
    while (at < message.size()) {
        const auto tag = static_cast<uchar>(message.at(at++));
        if (tag == 0x03)
            return at;
        if (tag < 0x10)
            continue; // the start of a group
        for (int field = 0; field < 2; ++field) {
            if (at + 2 > message.size())
                return -1;
            at += 2 + qFromBigEndian<quint16>(message.constData() + at);
        }
    }
    return -1;
}

} // namespace

struct IppPrinter::Peer
{
    QTcpSocket *socket = nullptr;
    QByteArray raw;        // as received, not yet taken apart
    qsizetype headerEnd = -1;
    bool chunked = false;
    qsizetype contentLength = 0;
    QByteArray body;       // the IPP message, de-chunked
    bool complete = false;
    bool answered = false;
};

IppPrinter::IppPrinter(Mode mode, QObject *parent)
    : QObject(parent), m_mode(mode)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            socket->setParent(this);
            // Neither Qt nor the system may take in more than a little of
            // a document this printer never reads.
            if (m_mode == Mode::AcceptBeforeData)
                socket->setReadBufferSize(4096);
            auto peer = std::make_shared<Peer>();
            peer->socket = socket;
            connect(socket, &QTcpSocket::readyRead, this, [this, peer] { serve(*peer); });
        }
    });
}

bool IppPrinter::listen()
{
    if (!m_server.listen(QHostAddress::LocalHost))
        return false;
    // Accepted connections take the listener's receive buffer.
    const int small = 4096;
    return m_mode != Mode::AcceptBeforeData ||
           ::setsockopt(static_cast<int>(m_server.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small,
                        sizeof small) == 0;
}

QString IppPrinter::uri() const
{
    return QStringLiteral("ipp://127.0.0.1:%1/ipp/print").arg(m_server.serverPort());
}

void IppPrinter::setRefusal(quint16 status, const QByteArray &message)
{
    m_refusalStatus = status;
    m_refusalMessage = message;
}

void IppPrinter::serve(Peer &peer)
{
    if (peer.answered && (m_mode == Mode::RefuseBeforeData || m_mode == Mode::AcceptBeforeData))
        return; // it reads no more: the sender must notice the answer by itself
    peer.raw += peer.socket->readAll();
    if (peer.headerEnd < 0) {
        const qsizetype end = peer.raw.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray header = peer.raw.left(end).toLower();
        peer.headerEnd = end;
        peer.chunked = header.contains("transfer-encoding: chunked");
        const qsizetype length = header.indexOf("content-length:");
        if (length >= 0)
            peer.contentLength = header.mid(length + 15).split('\r').first().trimmed().toLongLong();
        if (header.contains("expect: 100-continue"))
            peer.socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        peer.raw.remove(0, end + 4);
        emit requestArrived();
    }
    if (peer.chunked) {
        for (;;) {
            const qsizetype line = peer.raw.indexOf("\r\n");
            if (line < 0)
                break;
            const qsizetype size = peer.raw.left(line).toLongLong(nullptr, 16);
            if (peer.raw.size() < line + 2 + size + 2)
                break;
            peer.body += peer.raw.mid(line + 2, size);
            peer.raw.remove(0, line + 2 + size + 2);
            if (size == 0) {
                peer.complete = true;
                break;
            }
        }
    } else {
        peer.body += peer.raw;
        peer.raw.clear();
        peer.complete = peer.body.size() >= peer.contentLength;
    }

    const qsizetype offset = documentOffset(peer.body);
    if (offset < 0)
        return;
    const quint16 operation = qFromBigEndian<quint16>(peer.body.constData() + 2);
    if (m_mode == Mode::RefuseBeforeData && operation == PrintJob) {
        answer(peer, m_refusalStatus, m_refusalMessage, 0, 0);
        return;
    }
    if (m_mode == Mode::AcceptBeforeData && (operation == PrintJob || operation == SendDocument)) {
        answer(peer, 0, {}, JobId, Completed);
        return;
    }
    if (!peer.complete)
        return;
    const bool busy = m_mode == Mode::Busy || (m_mode == Mode::BusyTwice && m_busyAnswers < 2);
    if (operation == GetJobAttributes && m_mode == Mode::SilentOnTheJob) {
        return;
    } else if (operation == GetPrinterAttributes && busy) {
        ++m_busyAnswers;
        answer(peer, ServerErrorBusy, "busy printing another job", 0, 0);
    } else if (operation != PrintJob) {
        answer(peer, 0, {}, JobId, Completed);
    } else {
        m_documents.append(peer.body.mid(offset));
        switch (m_mode) {
        case Mode::Accept:
        case Mode::SilentOnTheJob:
        case Mode::BusyTwice:
        case Mode::Busy:
            answer(peer, 0, {}, JobId, Completed);
            break;
        case Mode::CloseUnanswered:
            peer.socket->disconnectFromHost();
            return;
        case Mode::ResetUnanswered: {
            const linger hard{1, 0};
            ::setsockopt(static_cast<int>(peer.socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                         &hard, sizeof hard);
            peer.socket->abort();
            return;
        }
        case Mode::NeverAnswer:
        case Mode::RefuseBeforeData:
        case Mode::AcceptBeforeData:
            break;
        }
    }
    // The next request on this connection starts afresh.
    const QByteArray rest = peer.raw;
    QTcpSocket *socket = peer.socket;
    peer = Peer();
    peer.socket = socket;
    peer.raw = rest;
}

void IppPrinter::answer(Peer &peer, quint16 status, const QByteArray &message, int jobId,
                        int jobState)
{
    const quint32 requestId = qFromBigEndian<quint32>(peer.body.constData() + 4);
    QByteArray ipp;
    putShort(ipp, 0x0200);
    putShort(ipp, status);
    ipp.append(integer(static_cast<int>(requestId)));
    ipp.append('\x01');
    putAttribute(ipp, '\x47', "attributes-charset", "utf-8");
    putAttribute(ipp, '\x48', "attributes-natural-language", "en");
    if (!message.isEmpty())
        putAttribute(ipp, '\x41', "status-message", message);
    if (jobId > 0) {
        ipp.append('\x02');
        putAttribute(ipp, '\x21', "job-id", integer(jobId));
        putAttribute(ipp, '\x23', "job-state", integer(jobState));
    }
    ipp.append('\x03');
    peer.socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: " +
                       QByteArray::number(ipp.size()) + "\r\n\r\n" + ipp);
    peer.answered = true;
}
