#pragma once

#include "platform/tcpconnection.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>

class QHostInfo;
class SourceReader;

// "10 s", or "300 ms" where it is no whole number of seconds.
QString durationText(std::chrono::milliseconds duration);

// One TCP connection to a printer on the system's own socket, driven by the
// event loop. Not a portable socket class: only the bare socket tells a
// reset from the printer apart from its orderly close, and that difference
// decides whether a job arrived. What goes wrong is said in sentences for
// people; everything else is data.
class PrinterConnection : public QObject
{
    Q_OBJECT

public:
    enum class Stage { Idle, LookingUp, Connecting, Connected, Closed };

    explicit PrinterConnection(QObject *parent = nullptr);
    // A connection still open is closed with a reset.
    ~PrinterConnection() override;

    // Looks the host up unless it is an address, then tries each of its
    // addresses in turn (localhost: ::1 and 127.0.0.1) until one accepts,
    // all within timeout. connected() or connectFailed() follows, always
    // from the event loop.
    void open(const QString &host, quint16 port, std::chrono::milliseconds timeout);
    Stage stage() const { return m_stage; }
    // The address tried last; empty before there is one.
    QString address() const { return m_address; }

    // Hands bytes to the system. WouldBlock: it has no room now, and
    // readyWrite() follows once it has; Reset or Failed: the connection is
    // broken, reason() says how.
    platform::tcp::Result send(const char *data, qint64 size);
    // The same, for what the source hands over itself; Failed with nothing
    // moved: the source cannot, and is read instead.
    platform::tcp::Result sendFrom(SourceReader &source, qint64 size);
    // Ends our sending direction: the printer reads the end of the job.
    // False when the connection is already gone.
    bool endSending() { return platform::tcp::shutdownSending(m_socket); }
    // The error the connection holds, 0 if none.
    int pendingError() const { return platform::tcp::pendingError(m_socket); }
    // Keeps what the system holds unsent near this many bytes.
    void limitUnsent(qint64 bytes)
    {
        platform::tcp::limitUnsent(m_socket, static_cast<std::size_t>(bytes));
    }
    // What the system holds that the printer has not acknowledged, counting
    // our end of stream once sent; and what it has not sent at all. -1
    // where the system cannot tell or there is no connection.
    qint64 unacknowledged() const
    {
        return m_stage == Stage::Connected ? platform::tcp::unacknowledgedBytes(m_socket) : -1;
    }
    qint64 unsent() const
    {
        return m_stage == Stage::Connected ? platform::tcp::unsentBytes(m_socket) : -1;
    }
    // The connection failed because no socket could be made: the program
    // had no descriptor left. Nothing reached the printer.
    bool lackedDescriptor() const { return m_lackedDescriptor; }
    // The printer ended its sending direction in order; it may still read.
    bool peerEnded() const { return m_peerEnded; }
    // A system error of the connection, for people.
    QString reason(int error) const;
    // graceful: the system still delivers what it holds; otherwise a reset,
    // so the printer sees an aborted job, never a complete one.
    void close(bool graceful);

signals:
    void connected();
    // timedOutIn: LookingUp or Connecting when the time ran out there,
    // Closed when an error ended it.
    void connectFailed(const QString &reason, PrinterConnection::Stage timedOutIn);
    void readyWrite();
    void peerEndedSending();
    void failed(const QString &reason);

private:
    void onLookedUp(const QHostInfo &info);
    void connectNext();
    void onTimeout();
    void onReadable();
    void onWritable();
    void giveUp(const QString &reason, Stage timedOutIn);

    platform::tcp::Socket m_socket = platform::tcp::NoSocket;
    QSocketNotifier m_readNotifier{QSocketNotifier::Read};
    QSocketNotifier m_writeNotifier{QSocketNotifier::Write};
    Stage m_stage = Stage::Idle;
    QList<QHostAddress> m_addresses;
    quint16 m_port = 0;
    int m_lookupId = -1;
    QString m_address;
    QString m_lastError;
    std::chrono::milliseconds m_timeout{0};
    QTimer m_timer;
    bool m_peerEnded = false;
    bool m_lackedDescriptor = false;
};
