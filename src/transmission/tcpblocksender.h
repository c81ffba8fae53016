#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

class QTcpSocket;

// Sends one file over one TCP connection in 20-byte blocks, the way a raw
// printer port expects it: the file's bytes and nothing else, closed
// gracefully once the caller says so.
//
// Everything is driven by the event loop; the sender never blocks. Blocks are
// counted one by one, but consecutive blocks are handed to the socket
// together and progress is reported at most once per time slice, so a large
// file goes out at network speed while the window stays live.
class TcpBlockSender : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 BlockSize = 20;
    // A slow printer must not make the whole file pile up in memory.
    static constexpr qint64 QueueLimit = qint64{1} << 20;
    // A LAN round trip is longer than one event pass, so the connection gets
    // this long to stand before the send gives up.
    static constexpr std::chrono::milliseconds ConnectTimeout{10000};
    // Closing waits for the queue to drain; a peer that takes nothing for
    // this long is given up on so that closing always ends.
    static constexpr std::chrono::milliseconds CloseStallTimeout{60000};
    static constexpr std::chrono::milliseconds TimeSlice{10};

    enum class Phase { Idle, Connecting, Sending, Queued, Closing, AwaitingPeerClose, Done };
    enum class Outcome { None, Closed, BadPort, FileUnreadable, ConnectFailed, SendFailed, Cancelled };

    explicit TcpBlockSender(QObject *parent = nullptr);
    ~TcpBlockSender() override;

    void setConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }
    // Zero gives every block its own event pass and progress report.
    void setTimeSlice(std::chrono::milliseconds slice) { m_slice = slice; }

    // After the last byte, close only our sending side and give the printer
    // this long to close its own: then it has surely read everything. Zero
    // (the default) closes the whole connection once the queue has drained.
    void setPeerCloseWait(std::chrono::milliseconds wait) { m_peerCloseWait = wait; }

    // Opens the file at once, so a file chosen later cannot change what goes
    // out, then connects. Every outcome is reported later, by signal.
    void start(const QString &path, const QString &host, const QString &portText);
    // Sends what an open device gives until its end. A sequential device may
    // have nothing for a while; readyRead brings the sender back.
    // sourceName names it in messages; expectedSize is -1 when unknown.
    void start(std::unique_ptr<QIODevice> source, const QString &sourceName, qint64 expectedSize,
               const QString &host, const QString &portText);

    // Ends the connection once everything queued has gone to the peer. Before
    // the whole file is queued this stops the send early, as cancel() does.
    void close();
    // Stops at once and drops what is still queued; no failure is reported.
    void cancel();

    Phase phase() const { return m_phase; }
    // Connecting or still queueing blocks.
    bool isBusy() const { return m_phase == Phase::Connecting || m_phase == Phase::Sending; }
    Outcome outcome() const { return m_outcome; }
    qint64 count() const { return m_count; }
    qint64 queuedBytes() const;
    // The socket state in the classic numbering, where 7 means connected.
    int classicState() const;
    // The peer's address once it is known, else the host as typed.
    QString remoteAddress() const;
    // A message for the user naming host and error; empty unless failed.
    QString failureText() const;
    // Just the reason of a failure, without the classic first line.
    QString failureReason() const { return m_reason; }
    // With a peer-close wait: whether the printer closed its side in time.
    bool peerClosed() const { return m_peerClosed; }

signals:
    void progress(qint64 count);
    // Every block is queued; count is the file's length.
    void allQueued(qint64 count);
    // The send stopped on an error; failureText() says why.
    void failed();
    // The connection is gone. ok: every byte was handed over and the
    // connection closed gracefully.
    void finished(bool ok);

private:
    void onConnected();
    void onError(QAbstractSocket::SocketError error);
    void onConnectTimeout();
    void onDisconnected();
    void fill();
    void scheduleFill();
    void fail(Outcome outcome, const QString &reason, int state = 9);
    void finish(bool ok);
    void reportProgress(bool force);
    bool connectPort(const QString &host, const QString &portText, quint16 *port);
    void closeSendingSide();
    void onPeerCloseTimeout();

    QTcpSocket *m_socket = nullptr;
    std::unique_ptr<QIODevice> m_source;
    QString m_sourceName;
    QByteArray m_buffer;
    QString m_host;
    QString m_portText;
    QString m_reason;
    QString m_address;
    Phase m_phase = Phase::Idle;
    Outcome m_outcome = Outcome::None;
    int m_stateAtFailure = 0;
    qint64 m_count = 0;
    qint64 m_reportedCount = 0;
    qint64 m_fileSize = 0;
    bool m_fillScheduled = false;
    std::chrono::milliseconds m_connectTimeout = ConnectTimeout;
    std::chrono::milliseconds m_slice = TimeSlice;
    std::chrono::milliseconds m_peerCloseWait{0};
    bool m_peerClosed = false;
    QTimer m_peerCloseTimer;
    QTimer m_connectTimer;
    QTimer m_closeTimer;
    QElapsedTimer m_sinceReport;
};

// Qt's socket states in the numbering printers' tools traditionally show.
int classicSocketState(QAbstractSocket::SocketState state);
