#include "transfer.h"

#include "core/bytesource.h"
#include "core/directfilesource.h"
#include "core/tcpblocksender.h"

#include <QIODevice>
#include <QMetaObject>
#include <QTimer>

#include <cstring>
#include <mutex>

namespace {

// The reader's producer may call back from another thread after a device
// is gone; the link lets it find the current one under a lock.
struct ReaderLink
{
    std::mutex mutex;
    QIODevice *device = nullptr;
};

// A reader seen as a sequential device, so the TCP sender takes a stream as
// it takes a file. readyRead comes on this object's thread whenever the
// reader may have more. The reader outlives the device: a connection that
// was refused is tried again with a new device on the same, unread reader.
class ReaderDevice final : public QIODevice, public DirectFileSource
{
public:
    ReaderDevice(std::shared_ptr<SourceReader> reader, std::shared_ptr<ReaderLink> link)
        : m_reader(std::move(reader)), m_link(std::move(link))
    {
        const std::lock_guard lock(m_link->mutex);
        m_link->device = this;
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    ~ReaderDevice() override
    {
        const std::lock_guard lock(m_link->mutex);
        if (m_link->device == this)
            m_link->device = nullptr;
    }

    // Once per reader, before its source starts.
    static void notifyThrough(SourceReader &reader, const std::shared_ptr<ReaderLink> &link)
    {
        reader.setNotify([link] {
            const std::lock_guard lock(link->mutex);
            if (link->device)
                QMetaObject::invokeMethod(
                    link->device, [device = link->device] { emit device->readyRead(); },
                    Qt::QueuedConnection);
        });
    }

    bool isSequential() const override { return true; }
    bool atEnd() const override { return m_reader->atEnd(); }

    int fileDescriptor() const override { return m_reader->fileDescriptor(); }
    qint64 fileOffset() const override { return m_reader->fileOffset(); }
    qint64 fileBytesLeft() const override { return m_reader->fileBytesLeft(); }
    void skipFileBytes(qint64 count) override { m_reader->skipFileBytes(count); }
    QString fileChange() const override { return m_reader->fileChange(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const QByteArray chunk = m_reader->readAvailable(maxSize);
        if (chunk.isEmpty() && m_reader->atEnd() && !m_reader->error().isEmpty()) {
            setErrorString(m_reader->error());
            return -1;
        }
        std::memcpy(data, chunk.constData(), static_cast<std::size_t>(chunk.size()));
        return chunk.size();
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    std::shared_ptr<SourceReader> m_reader;
    std::shared_ptr<ReaderLink> m_link;
};

// Raw TCP to a printer's port, through the same sender the window uses. A
// connection that fails before a byte went out is tried again when retries
// are asked for; one that fails later never is, as the printer may already
// be printing the first part.
class TcpTransfer final : public Transfer
{
public:
    TcpTransfer(const Destination &destination, const SendOptions &options, QObject *parent)
        : Transfer(destination, parent), m_options(options)
    {
        m_retryTimer.setSingleShot(true);
        connect(&m_retryTimer, &QTimer::timeout, this, &TcpTransfer::attempt);
    }

    void start(std::unique_ptr<SourceReader> reader) override
    {
        markStarted();
        m_reader = std::move(reader);
        ReaderDevice::notifyThrough(*m_reader, m_link);
        attempt();
    }

    void cancel() override
    {
        if (m_retryTimer.isActive()) {
            m_retryTimer.stop();
            m_reader.reset();
            finish(SendOutcome::Cancelled,
                   QStringLiteral("interrupted while waiting to try again after: ") + m_lastError);
        } else if (m_sender) {
            m_sender->cancel();
        }
    }

private:
    void attempt()
    {
        countAttempt();
        setStatus({});
        using std::chrono::milliseconds;
        m_reported = 0;
        m_sender = new TcpBlockSender(this);
        m_sender->setTiming({.connect = milliseconds(m_options.connectTimeoutMs),
                             .stall = milliseconds(m_options.stallTimeoutMs),
                             .peerCloseWait = milliseconds(m_options.waitEofMs)});
        connect(m_sender, &TcpBlockSender::progress, this, [this](qint64 count) {
            addSent(count - m_reported);
            m_reported = count;
        });
        connect(m_sender, &TcpBlockSender::allQueued, this, [this](qint64 count) {
            addSent(count - m_reported);
            m_reported = count;
            m_sender->close();
        });
        connect(m_sender, &TcpBlockSender::finished, this, &TcpTransfer::onFinished);
        m_sender->start(std::make_unique<ReaderDevice>(m_reader, m_link), -1, destination().name,
                        destination().port);
    }

    void onFinished(bool ok)
    {
        if (!ok && m_sender->outcome() == SendOutcome::ConnectionFailed &&
            m_sender->lackedDescriptor() && mayWaitForDescriptor()) {
            // Not the printer's failure: it waits for another turn, which
            // is neither an attempt shown to the user nor one of its retries.
            uncountAttempt();
            m_sender->deleteLater();
            m_sender = nullptr;
            emit waitingForDescriptor();
            return;
        }
        if (ok) {
            m_reader.reset();
            if (m_options.waitEofMs > 0 && !m_sender->peerClosed())
                setNote(
                    QStringLiteral("the printer kept its side open; every byte was acknowledged"));
            finish(SendOutcome::Delivered);
            return;
        }
        if (const int delay = retryDelay(m_options, m_sender->outcome(),
                                         m_sender->handedOverBytes() > 0, m_sender->failureReason());
            delay >= 0) {
            m_lastError = m_sender->failureReason();
            m_sender->deleteLater();
            m_sender = nullptr;
            m_retryTimer.start(delay);
            return;
        }
        // Done with the input: a stream shared with other destinations must
        // not wait for this one any longer.
        m_reader.reset();
        // What reached the printer, not what we let go of.
        const qint64 acknowledged = m_sender->acknowledgedBytes();
        setSent(acknowledged >= 0 ? acknowledged : m_sender->handedOverBytes());
        if (m_sender->outcome() == SendOutcome::Cancelled)
            finish(SendOutcome::Cancelled,
                   QStringLiteral("interrupted, the connection was reset"));
        else
            finish(m_sender->outcome(), m_sender->failureReason());
    }

    SendOptions m_options;
    std::shared_ptr<SourceReader> m_reader;
    std::shared_ptr<ReaderLink> m_link = std::make_shared<ReaderLink>();
    TcpBlockSender *m_sender = nullptr;
    QTimer m_retryTimer;
    QString m_lastError;
    qint64 m_reported = 0;
};

} // namespace

Transfer *newTcpTransfer(const Destination &destination, const SendOptions &options,
                         QObject *parent)
{
    return new TcpTransfer(destination, options, parent);
}
