#include "transfer.h"

#include "bytesource.h"
#include "transmission/directfilesource.h"
#include "transmission/tcpblocksender.h"

#include <QIODevice>
#include <QMetaObject>

#include <cstring>
#include <mutex>

namespace {

// A reader seen as a sequential device, so the TCP sender takes a stream as
// it takes a file. readyRead comes on this object's thread whenever the
// reader may have more.
class ReaderDevice final : public QIODevice, public DirectFileSource
{
public:
    explicit ReaderDevice(std::unique_ptr<SourceReader> reader)
        : m_reader(std::move(reader)), m_link(std::make_shared<Link>())
    {
        m_link->device = this;
        m_reader->setNotify([link = m_link] {
            const std::lock_guard lock(link->mutex);
            if (link->device)
                QMetaObject::invokeMethod(
                    link->device, [device = link->device] { emit device->readyRead(); },
                    Qt::QueuedConnection);
        });
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    ~ReaderDevice() override
    {
        const std::lock_guard lock(m_link->mutex);
        m_link->device = nullptr;
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
    // The reader's producer may call back from another thread after this
    // device is gone; the link lets it find out under a lock.
    struct Link
    {
        std::mutex mutex;
        ReaderDevice *device = nullptr;
    };
    std::unique_ptr<SourceReader> m_reader;
    std::shared_ptr<Link> m_link;
};

// Raw TCP to a printer's port, through the same sender the window uses.
class TcpTransfer final : public Transfer
{
public:
    TcpTransfer(const Destination &destination, const SendOptions &options, QObject *parent)
        : Transfer(destination, parent), m_options(options)
    {
        makeSender();
    }

    void start(std::unique_ptr<SourceReader> reader) override
    {
        markStarted();
        m_sender->start(std::make_unique<ReaderDevice>(std::move(reader)), -1, destination().name,
                        destination().port);
    }

    void cancel() override { m_sender->cancel(); }

private:
    void makeSender()
    {
        using std::chrono::milliseconds;
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
    }

    void onFinished(bool ok)
    {
        if (!ok && m_sender->outcome() == SendOutcome::ConnectionFailed &&
            m_sender->lackedDescriptor() && mayWaitForDescriptor()) {
            // Not the printer's failure: it waits for another turn, with a
            // sender of its own.
            m_sender->disconnect(this);
            m_sender->deleteLater();
            m_reported = 0;
            makeSender();
            emit waitingForDescriptor();
            return;
        }
        if (ok) {
            if (m_options.waitEofMs > 0 && !m_sender->peerClosed())
                setNote(
                    QStringLiteral("the printer kept its side open; every byte was acknowledged"));
            finish(SendOutcome::Delivered);
            return;
        }
        // What reached the printer, not what we let go of.
        const qint64 acknowledged = m_sender->acknowledgedBytes();
        setSent(acknowledged >= 0 ? acknowledged : m_sender->handedOverBytes());
        if (m_sender->outcome() == SendOutcome::Cancelled)
            finish(SendOutcome::Cancelled,
                   QStringLiteral("interrupted, the connection was closed"));
        else
            finish(m_sender->outcome(), m_sender->failureReason());
    }

    SendOptions m_options;
    TcpBlockSender *m_sender = nullptr;
    qint64 m_reported = 0;
};

} // namespace

Transfer *newTcpTransfer(const Destination &destination, const SendOptions &options,
                         QObject *parent)
{
    return new TcpTransfer(destination, options, parent);
}
