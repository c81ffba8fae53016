#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

class QTcpSocket;

// Hands over raw descriptors when asked to, so a connection can outlive
// Qt's wish to close it once the peer has finished.
class SinkServer : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;
    bool rawDescriptors = false;

signals:
    void rawConnection(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override;
};

// A printer's raw port on loopback: records every connection's bytes.
// Behaviours cover the printers a sender meets: a fast reader, a slow one,
// one that resets the connection after some bytes, one that never accepts,
// one that keeps its side open after the sender has finished, one that
// closes after some bytes, one that never reads, one that ends its own
// sending direction at once and reads on.
class TcpSink : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Normal, Slow, ResetAfter, NeverAccept, HoldOpen, CloseAfter, NeverRead, HalfClose };

    explicit TcpSink(QObject *parent = nullptr);
    ~TcpSink() override;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // A loopback port nobody listens on right now: connecting there is refused.
    static quint16 unusedPort();
    quint16 port() const { return m_server.serverPort(); }

    // Slow: bytes/s; ResetAfter, CloseAfter: bytes; HoldOpen: ms to keep our
    // side open after the sender's end of stream; NeverRead: ms until the
    // sink closes (0 for both: until the sink goes).
    void setMode(Mode mode, qint64 parameter = 0);

    // One entry per accepted connection, in order of arrival.
    QList<QByteArray> connections() const { return m_received; }
    QByteArray received(int connection = 0) const { return m_received.value(connection); }
    int connectionCount() const { return static_cast<int>(m_received.size()); }
    int closedCount() const { return m_closed; }
    // Connections the sender reset (seen only where the bare descriptor is read).
    int resetCount() const { return m_resets; }
    qint64 totalBytes() const;

signals:
    void dataArrived();
    void peerClosed();

private:
    void onNewConnection();
    void readFrom(int index, bool all = false);
    void serveRaw(qintptr descriptor);
    void closeRaw(int fd);

    SinkServer m_server;
    Mode m_mode = Mode::Normal;
    qint64 m_parameter = 0;
    QList<QByteArray> m_received;
    QList<QPointer<QTcpSocket>> m_sockets;
    int m_closed = 0;
    int m_resets = 0;
    QList<int> m_heldDescriptors;
};
