#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>

class QHostInfo;
class QIODevice;

// Sends one file over one TCP connection in 20-byte blocks, the way a raw
// printer port expects it: the file's bytes and nothing else, closed
// gracefully once the caller says so and the printer has taken them all.
//
// Everything is driven by the event loop; the sender never blocks. Blocks are
// counted one by one, but consecutive blocks are handed to the socket
// together and progress is reported at most once per time slice, so a large
// file goes out at network speed while the window stays live.
//
// The connection is the system's own socket, not a portable socket class:
// only there does a reset from the printer look different from its orderly
// close, and that difference decides whether the job arrived.
class TcpBlockSender : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 BlockSize = 20;
    // A slow printer must not make the whole file pile up in memory: what we
    // hold plus what the system holds unsent stays below this.
    static constexpr qint64 QueueLimit = qint64{1} << 20;
    // A LAN round trip is longer than one event pass, so the connection gets
    // this long to stand before the send gives up.
    static constexpr std::chrono::milliseconds ConnectTimeout{10000};
    // A printer that takes no byte for this long is given up on, so that a
    // send always ends.
    static constexpr std::chrono::milliseconds StallTimeout{60000};
    // After our last byte, how long the printer has to close its side.
    static constexpr std::chrono::milliseconds PeerCloseWait{30000};
    static constexpr std::chrono::milliseconds TimeSlice{10};

    enum class Phase { Idle, Connecting, Sending, Queued, Closing, AwaitingPeerClose, Done };
    enum class Outcome { None, Closed, BadPort, FileUnreadable, ConnectFailed, SendFailed, Cancelled };

    explicit TcpBlockSender(QObject *parent = nullptr);
    ~TcpBlockSender() override;

    void setConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }
    // Zero gives every block its own event pass and progress report.
    void setTimeSlice(std::chrono::milliseconds slice) { m_slice = slice; }
    void setStallTimeout(std::chrono::milliseconds timeout) { m_stallTimeout = timeout; }

    // After the last byte and our end of stream, the printer gets this long
    // to close its side, counted again whenever it takes more bytes; a
    // printer that stays open counts as served only if it acknowledged every
    // byte. Zero: no wait for the printer's close, only for that
    // acknowledgement (where the system cannot tell, not even for that).
    void setPeerCloseWait(std::chrono::milliseconds wait) { m_peerCloseWait = wait; }

    // Opens the file at once, so a file chosen later cannot change what goes
    // out, then connects. Every outcome is reported later, by signal.
    void start(const QString &path, const QString &host, const QString &portText);
    // Sends what an open device gives until its end. A sequential device may
    // have nothing for a while; readyRead brings the sender back.
    // sourceName names it in messages; expectedSize is -1 when unknown, else
    // a source that ends before it or goes beyond it fails the send.
    void start(std::unique_ptr<QIODevice> source, const QString &sourceName, qint64 expectedSize,
               const QString &host, const QString &portText);

    // Ends the connection once the printer has taken everything queued.
    // Before the whole file is queued this stops the send early, as cancel()
    // does.
    void close();
    // Stops at once with a reset and drops what is still queued; no failure
    // is reported.
    void cancel();

    Phase phase() const { return m_phase; }
    // Connecting or still queueing blocks.
    bool isBusy() const { return m_phase == Phase::Connecting || m_phase == Phase::Sending; }
    Outcome outcome() const { return m_outcome; }
    // Bytes taken from the source and queued for sending.
    qint64 count() const { return m_count; }
    // What waits for the printer and is not on the wire yet: our own buffer
    // plus what the system holds unsent.
    qint64 queuedBytes() const;
    // Bytes the printer acknowledged, or -1 where the system cannot tell.
    qint64 acknowledgedBytes() const;
    // Bytes handed to the system for sending.
    qint64 handedOverBytes() const { return m_written; }
    // The socket state in the classic numbering, where 7 means connected.
    int classicState() const;
    // The peer's address once it is known, else the host as typed.
    QString remoteAddress() const;
    // A message for the user naming host and error; empty unless failed.
    QString failureText() const;
    // Just the reason of a failure, without the classic first line.
    QString failureReason() const { return m_reason; }
    // Whether the printer closed its side before the send ended.
    bool peerClosed() const { return m_peerEnded; }

signals:
    void progress(qint64 count);
    // Every block is queued; count is the file's length.
    void allQueued(qint64 count);
    // The send stopped on an error; failureText() says why.
    void failed();
    // The connection is gone. ok: the printer took every byte and the
    // connection closed gracefully.
    void finished(bool ok);

private:
    bool parsePort(const QString &portText, quint16 *port);
    void onLookedUp(const QHostInfo &info);
    void connectNext();
    void onConnected();
    void onConnectTimeout();
    void onReadable();
    void onWritable();
    void onWatch();
    void onPeerCloseTimeout();
    void fill();
    bool flushPending();
    void endStream();
    void checkDelivered();
    void scheduleFill();
    void fail(Outcome outcome, const QString &reason, int state = 9);
    void failOnSocket(int error);
    void finish(bool ok);
    void reportProgress(bool force);
    bool modifiedSinceStart() const;
    void updateAcknowledged();
    qint64 unacknowledgedData() const;
    // Every failed or cancelled send ends with a reset, never a clean close.
    void dropConnection(bool graceful);
    void stopTimers();

    std::intptr_t m_socket = -1;
    QSocketNotifier m_readNotifier{QSocketNotifier::Read};
    QSocketNotifier m_writeNotifier{QSocketNotifier::Write};
    QList<QHostAddress> m_addresses;
    int m_lookupId = -1;
    quint16 m_port = 0;
    bool m_resolving = false;
    bool m_connected = false;
    QString m_lastConnectError;

    std::unique_ptr<QIODevice> m_source;
    QString m_sourceName;
    QByteArray m_buffer;
    qint64 m_bufferSent = 0;
    QString m_host;
    QString m_reason;
    QString m_address;
    Phase m_phase = Phase::Idle;
    Outcome m_outcome = Outcome::None;
    int m_stateAtFailure = 0;
    qint64 m_count = 0;
    qint64 m_written = 0;
    qint64 m_acknowledged = 0;
    qint64 m_reportedCount = 0;
    qint64 m_fileSize = 0;
    // A file's modification time when the send began; invalid for a stream.
    QDateTime m_fileModified;
    bool m_fillScheduled = false;
    bool m_endSent = false;
    bool m_peerEnded = false;
    std::chrono::milliseconds m_connectTimeout = ConnectTimeout;
    std::chrono::milliseconds m_slice = TimeSlice;
    std::chrono::milliseconds m_stallTimeout = StallTimeout;
    std::chrono::milliseconds m_peerCloseWait = PeerCloseWait;
    QTimer m_connectTimer;
    QTimer m_peerCloseTimer;
    QTimer m_watchTimer;
    QElapsedTimer m_sinceProgress;
    QElapsedTimer m_sinceReport;
};
