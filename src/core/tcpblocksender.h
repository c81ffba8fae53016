#pragma once

#include "platform/waitlimits.h"
#include "core/exitstatus.h"
#include "core/printerconnection.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

class SourceReader;

// Sends one file over one TCP connection in 20-byte blocks, the way a raw
// printer port expects it: the file's bytes and nothing else, closed
// gracefully once the caller says so and the printer has taken them all.
//
// Everything is driven by the event loop; the sender never blocks. Blocks are
// counted one by one, but consecutive blocks are handed to the socket
// together and progress is reported at most once per time slice, so a large
// file goes out at network speed while the window stays live.
//
// What happened is told as data: phases, an outcome, byte counts, and for a
// failure a sentence saying why. How a program words it is its own affair.
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
    static constexpr std::chrono::milliseconds ConnectTimeout{WaitLimits::DefaultConnectTimeoutMs};
    // A printer that takes no byte for this long is given up on, so that a
    // send always ends.
    static constexpr std::chrono::milliseconds StallTimeout{60000};
    // After our last byte, how long the printer has to close its side.
    static constexpr std::chrono::milliseconds PeerCloseWait{30000};
    static constexpr std::chrono::milliseconds TimeSlice{10};

    enum class Phase { Idle, Connecting, Sending, Queued, Closing, AwaitingPeerClose, Done };

    explicit TcpBlockSender(QObject *parent = nullptr);
    ~TcpBlockSender() override;

    // How long the send waits for what.
    struct Timing
    {
        std::chrono::milliseconds connect = ConnectTimeout;
        // Zero gives every block its own event pass and progress report.
        std::chrono::milliseconds slice = TimeSlice;
        std::chrono::milliseconds stall = StallTimeout;
        // After the last byte and our end of stream, the printer gets this
        // long to close its side, counted again whenever it takes more
        // bytes; a printer that stays open counts as served only if it
        // acknowledged every byte. Zero: no wait for the printer's close,
        // only for that acknowledgement (where the system cannot tell, not
        // even for that).
        std::chrono::milliseconds peerCloseWait = PeerCloseWait;
    };
    void setTiming(const Timing &timing) { m_timing = timing; }

    // Connects, then sends what source gives until its end; a source that
    // fails or changes fails the send. A stream may have nothing for a
    // while; its notification brings the sender back. Every outcome is
    // reported later, by signal.
    void start(std::shared_ptr<SourceReader> source, const QString &host, quint16 port);
    // A send that cannot even begin (a bad port, a file that cannot be
    // read): its failure is reported from the event loop like every other,
    // so callers may connect to the signals after this returns.
    void refuse(SendOutcome outcome, const QString &reason, const QString &host);

    // Ends the connection once the whole file is queued and the printer has
    // taken it.
    void close();
    // Stops at once with a reset and drops what is still queued; no failure
    // is reported.
    void cancel();

    Phase phase() const { return m_phase; }
    // Connecting or still queueing blocks.
    bool isBusy() const { return m_phase == Phase::Connecting || m_phase == Phase::Sending; }
    // NotStarted until the send has ended.
    SendOutcome outcome() const { return m_outcome; }
    // Where the connection stands: while connecting, whether the name is
    // still being looked up.
    PrinterConnection::Stage connectionStage() const { return m_connection.stage(); }
    // For a connection given up on: the stage it was still waiting in, or
    // Closed when an error ended it.
    PrinterConnection::Stage gaveUpIn() const { return m_gaveUpIn; }
    // Bytes taken from the source and queued for sending.
    qint64 count() const { return m_count; }
    // What the file was to hold, -1 when unknown.
    qint64 expectedSize() const { return m_fileSize; }
    // What waits for the printer and is not on the wire yet: our own buffer
    // plus what the system holds unsent.
    qint64 queuedBytes() const;
    // Bytes the printer acknowledged, or -1 where the system cannot tell.
    qint64 acknowledgedBytes() const;
    // Bytes handed to the system for sending.
    qint64 handedOverBytes() const { return m_written; }
    // The peer's address once it is known, else the host as given.
    QString remoteAddress() const
    {
        return m_connection.address().isEmpty() ? m_host : m_connection.address();
    }
    // The address connected to or tried last; empty when there was none.
    QString peerAddress() const { return m_connection.address(); }
    // Why the send failed, as a sentence; empty unless it failed.
    QString failureReason() const { return m_reason; }
    // The connection could not be made for want of a descriptor.
    bool lackedDescriptor() const { return m_connection.lackedDescriptor(); }
    // Whether the printer closed its side before the send ended.
    bool peerClosed() const { return m_connection.peerEnded(); }

signals:
    void progress(qint64 count);
    // Every block is queued; count is the file's length.
    void allQueued(qint64 count);
    // The send stopped on an error; failureReason() says why.
    void failed();
    // The connection is gone. ok: the printer took every byte and the
    // connection closed gracefully.
    void finished(bool ok);

private:
    using Clock = std::chrono::steady_clock;
    void onConnected();
    void onConnectFailed(const QString &reason, PrinterConnection::Stage timedOutIn);
    void onReadyWrite();
    void onWatch();
    // What putting the next piece on its way gave.
    enum class Step { Moved, Waiting, Ended, Failed };
    Step next(qint64 wanted);
    void fill();
    bool flushPending();
    void settle();
    // Our end of stream, once every byte is out (and, from the file,
    // acknowledged and unchanged); false while that is not yet so.
    bool sendEnd();
    // Whether the printer has every byte, once our end was sent.
    void judgeDelivery();
    void scheduleFill();
    void fail(SendOutcome outcome, const QString &reason);
    // Stops everything and lets go of the source and the connection, which
    // ends in order only for a delivered send.
    void end(SendOutcome outcome);
    void failOnSocket(int error);
    // Fails the send with the error the connection holds, if any.
    bool failedOnSocketError();
    void reportProgress(bool force);
    qint64 unacknowledgedData() const;
    void releaseSource();
    // Every failed or cancelled send ends with a reset, never a clean close.
    void dropConnection(bool graceful);

    PrinterConnection m_connection;
    std::shared_ptr<SourceReader> m_source;
    QByteArray m_buffer;
    qint64 m_bufferSent = 0;
    QString m_host;
    QString m_reason;
    Phase m_phase = Phase::Idle;
    SendOutcome m_outcome = SendOutcome::NotStarted;
    PrinterConnection::Stage m_gaveUpIn = PrinterConnection::Stage::Closed;
    qint64 m_count = 0;
    qint64 m_written = 0;
    qint64 m_acknowledged = 0;
    qint64 m_reportedCount = 0;
    qint64 m_fileSize = -1;
    // Some bytes went from the file to the socket without passing through
    // our buffer: until the printer has them, the system's buffer holds the
    // file's own pages, so a change to the file changes them too.
    bool m_sentFromFile = false;
    bool m_fillScheduled = false;
    bool m_endSent = false;
    bool m_closeWhenQueued = false;
    Timing m_timing;
    // Looks at the printer's progress, and decides the end of the send.
    QTimer m_watchTimer;
    Clock::time_point m_lastProgress;
    Clock::time_point m_lastReport;
    Clock::time_point m_peerCloseDeadline;
};
