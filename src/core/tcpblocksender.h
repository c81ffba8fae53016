#pragma once

#include "platform/tcpconnection.h"
#include "platform/waitlimits.h"
#include "core/exitstatus.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

class QHostInfo;
class SourceReader;


// Sends one file over one TCP connection, the way a raw printer port expects
// it, on the system's own socket: only that tells a reset apart from an
// orderly close, which decides whether a job arrived. The count moves by
// 20-byte blocks, but blocks go to the socket together and progress is told
// at most once per time slice, so a large file goes at network speed while
// the window stays live. What happened is told as data, not in a program's
// words.
class TcpBlockSender : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 BlockSize = 20;
    // A slow printer must not make the whole file pile up in memory: what we
    // hold plus what the system holds unsent stays below this.
    static constexpr qint64 QueueLimit = qint64{1} << 20;
    static constexpr std::chrono::milliseconds ConnectTimeout{WaitLimits::DefaultConnectTimeoutMs};
    // A printer that takes no byte for this long is given up on.
    static constexpr std::chrono::milliseconds StallTimeout{60000};
    static constexpr std::chrono::milliseconds PeerCloseWait{30000};
    static constexpr std::chrono::milliseconds TimeSlice{10};

    enum class Phase {
        Idle, LookingUp, Connecting, Sending, Queued, Closing, AwaitingPeerClose, Done
    };

    explicit TcpBlockSender(QObject *parent = nullptr);
    ~TcpBlockSender() override;

    struct Timing
    {
        std::chrono::milliseconds connect = ConnectTimeout;
        // Zero gives every block its own event pass and progress report.
        std::chrono::milliseconds slice = TimeSlice;
        std::chrono::milliseconds stall = StallTimeout;
        // After our end of stream, the printer gets this long to close its
        // side, counted again whenever it takes more; one that stays open is
        // served only if it acknowledged every byte. Zero: no wait for its
        // close, only for that acknowledgement where the system can tell.
        std::chrono::milliseconds peerCloseWait = PeerCloseWait;
    };
    void setTiming(const Timing &timing) { m_timing = timing; }

    // Tries each of the host's addresses (localhost: ::1 and 127.0.0.1)
    // until one accepts, then sends what source gives. Every outcome is
    // reported by signal, always from the event loop.
    void start(std::shared_ptr<SourceReader> source, const QString &host, quint16 port);
    // The window's send, opened at once so that a file chosen later cannot
    // change what goes out. Only a plain file: opening a pipe waits for a
    // writer that may never come, and the window would wait with it.
    void start(const QString &path, const QString &host, const QString &portText);
    QString path() const { return m_path; } // as named at the start

    // Ends the connection once the whole file is queued and taken.
    void close();
    // Stops at once with a reset; no failure is reported.
    void cancel();

    Phase phase() const { return m_phase; }
    bool isBusy() const { return m_phase > Phase::Idle && m_phase <= Phase::Sending; }
    SendOutcome outcome() const { return m_outcome; } // NotStarted until the end
    // For a connection given up on: the phase it still waited in, or Done.
    Phase gaveUpIn() const { return m_gaveUpIn; }
    qint64 count() const { return m_count; } // taken from the source
    qint64 expectedSize() const { return m_fileSize; } // -1 when unknown
    // Not on the wire yet: our own buffer plus what the system holds unsent.
    qint64 queuedBytes() const;
    qint64 acknowledgedBytes() const; // -1 where the system cannot tell
    qint64 handedOverBytes() const { return m_written; }
    // The peer's address once it is known, else the host as given.
    QString remoteAddress() const { return m_address.isEmpty() ? m_host : m_address; }
    // The address connected to or tried last; empty when there was none.
    QString peerAddress() const { return m_address; }
    QString failureReason() const { return m_reason; } // empty unless it failed
    // No socket could be made for want of a descriptor.
    bool lackedDescriptor() const { return m_lackedDescriptor; }
    // The printer ended its sending direction in order; it may still read.
    bool peerClosed() const { return m_peerEnded; }

signals:
    void progress(qint64 count);
    void allQueued(qint64 count); // the file's length
    void failed();
    void finished(bool ok); // the connection is gone; ok: delivered, closed in order

protected:
    // The connection stands. A protocol with steps of its own before the
    // file takes over here, and calls sendFile() once they are done.
    virtual void onConnected() { sendFile(); }
    // What the printer said back, empty once it ended its sending; a plain
    // printer's chatter is read only to keep it talking.
    virtual void onReceived(const QByteArray &) {}
    // The whole file is out and unchanged: false while a protocol still has
    // to hear something before our end of stream; settle() asks again.
    virtual bool readyToEnd() { return true; }
    void sendFile();
    // A protocol's own bytes, ahead of anything else, not counted as the file's.
    void say(const QByteArray &bytes);
    const Timing &timing() const { return m_timing; }
    void fail(SendOutcome outcome, const QString &reason);
    void settle();
    // "10 s", or "300 ms" where it is no whole number of seconds.
    static QString durationText(std::chrono::milliseconds duration);

private:
    using Clock = std::chrono::steady_clock;
    void onLookedUp(const QHostInfo &info);
    void connectNext();
    void onConnectTimeout();
    void onReadable();
    void onWritable();
    void giveUp(const QString &reason, Phase timedOutIn);
    bool connected() const { return m_phase > Phase::Connecting && m_phase < Phase::Done; }
    platform::tcp::Result watched(platform::tcp::Result result);
    QString socketReason(int error) const;
    void onWatch();
    enum class Step { Moved, Waiting, Ended, Failed };
    Step next(qint64 wanted);
    void fill();
    bool flushPending();
    void judgeDelivery();
    void end(SendOutcome outcome);
    void failOnSocket(int error);
    bool failedOnSocketError();
    void reportProgress(bool force);
    qint64 unacknowledgedData() const;
    void releaseSource();
    void closeConnection(bool graceful);

    platform::tcp::Socket m_socket = platform::tcp::NoSocket;
    QSocketNotifier m_readNotifier{QSocketNotifier::Read};
    QSocketNotifier m_writeNotifier{QSocketNotifier::Write};
    QList<QHostAddress> m_addresses;
    quint16 m_port = 0;
    int m_lookupId = -1;
    QString m_address; // tried last
    QString m_lastError;
    QTimer m_connectTimer;
    bool m_peerEnded = false;
    bool m_lackedDescriptor = false;
    std::shared_ptr<SourceReader> m_source;
    QByteArray m_buffer;
    qint64 m_bufferSent = 0;
    QString m_host;
    QString m_path;
    QString m_reason;
    Phase m_phase = Phase::Idle;
    SendOutcome m_outcome = SendOutcome::NotStarted;
    Phase m_gaveUpIn = Phase::Done;
    qint64 m_count = 0;
    qint64 m_written = 0;
    qint64 m_acknowledged = 0;
    qint64 m_reportedCount = 0;
    qint64 m_fileSize = -1;
    // Until the printer has them, bytes sent straight from the file are the
    // file's own pages: a change to the file changes them too.
    bool m_sentFromFile = false;
    bool m_fileStarted = false;
    bool m_saying = false; // the buffer holds a protocol's bytes
    // Sent after the file's bytes, taking places in the count: a protocol's
    // last words, our end of stream.
    qint64 m_trailing = 0;
    bool m_closeWhenQueued = false;
    Timing m_timing;
    QTimer m_watchTimer; // watches the printer's progress
    QTimer m_fillTimer; // the next time slice, or a stream that has more
    Clock::time_point m_lastProgress;
    Clock::time_point m_lastReport;
    Clock::time_point m_peerCloseDeadline;
};
