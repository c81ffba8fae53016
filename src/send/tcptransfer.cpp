#include "transfer.h"

#include "core/bytesource.h"
#include "core/tcpblocksender.h"
#include "printerwatch.h"

#include <QTimer>

namespace {

// Raw TCP to a printer's port, through the same sender the window uses. A
// connection that fails before a byte went out is tried again when retries
// are asked for; one that fails later never is, as the printer may already
// be printing the first part. With --check or --wait the printer is asked
// over SNMP first; with --wait it is followed until it has printed.
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
        if (!m_options.check && !m_options.waitForJob) {
            attempt();
            return;
        }
        if (!m_watch)
            m_watch = new PrinterWatch(destination(), m_options, this);
        m_reader->letGo();
        m_watch->ask([this](const PrinterStatus &before) { onAsked(before); });
    }

    void cancel() override
    {
        if (m_watch && m_watch->busy()) {
            // Its answer may be on its way already: it must not start the send.
            m_cancelled = true;
            m_watch->cancel();
        } else if (m_retryTimer.isActive()) {
            m_retryTimer.stop();
            m_reader.reset();
            finish(SendOutcome::Cancelled,
                   QStringLiteral("interrupted while waiting to try again after: ") + m_lastError);
        } else if (m_sender) {
            m_sender->cancel();
        }
    }

private:
    void onAsked(const PrinterStatus &before)
    {
        m_before = before;
        setPrinter(before);
        const QString refusal = QString::fromStdString(before.refusal());
        if (m_cancelled || before.outcome == SendOutcome::Cancelled) {
            m_reader.reset();
            finish(SendOutcome::Cancelled, QStringLiteral("interrupted while asking the printer over SNMP"));
            return;
        }
        if (m_options.check && !refusal.isEmpty()) {
            m_reader.reset();
            finish(SendOutcome::SpoolerRefused, refusal);
            return;
        }
        if (before.outcome != SendOutcome::Delivered)
            setNote(QLatin1String(m_options.check ? m_options.waitForJob ? "sent unchecked, not followed: "
                                                                         : "sent unchecked: "
                                                  : "not followed: ") +
                    QString::fromStdString(before.sentence));
        attempt();
    }

    void onFollowed(const PrinterEnd &end)
    {
        setPrinter(end.last, end.pagesPrinted);
        QString sentence = QString::fromStdString(end.sentence);
        if (end.outcome == SendOutcome::Delivered)
            setNote(std::exchange(sentence, QString()));
        if (end.outcome == SendOutcome::WaitTimedOut)
            sentence = QStringLiteral("the printer had not finished within %1 s (%2)")
                           .arg(static_cast<double>(m_options.waitTimeoutMs) / 1000.0)
                           .arg(sentence);
        finish(end.outcome, sentence);
    }

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
        m_sender->start(m_reader, destination().name, destination().port);
    }

    void onFinished(bool ok)
    {
        if (!ok && m_sender->outcome() == SendOutcome::ConnectionFailed &&
            m_sender->lackedDescriptor() && mayWaitForDescriptor()) {
            // Not the printer's failure: it waits for another turn, which
            // is neither an attempt shown to the user nor one of its retries.
            uncountAttempt();
            m_reader->letGo();
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
            if (m_watch && m_options.waitForJob && m_before.outcome == SendOutcome::Delivered)
                m_watch->follow(
                    m_before,
                    [this](const std::string &status) { setStatus(QString::fromStdString(status)); },
                    [this](const PrinterEnd &end) { onFollowed(end); });
            else
                finish(SendOutcome::Delivered);
            return;
        }
        if (const int delay = retryDelay(m_options, m_sender->outcome(),
                                         m_sender->handedOverBytes() > 0, m_sender->failureReason());
            delay >= 0) {
            m_lastError = m_sender->failureReason();
            m_reader->letGo();
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
    TcpBlockSender *m_sender = nullptr;
    PrinterWatch *m_watch = nullptr;
    bool m_cancelled = false; // while the printer was being asked
    PrinterStatus m_before; // before the first byte
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
