#include "transfer.h"

#include "core/bytesource.h"
#include "core/rawjob.h"
#include "core/lpdsender.h"
#include "platform/printerstatus.h"
#include "platform/spooler.h"
#include "printerwatch.h"

#include <QMetaObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <thread>

void Transfer::finish(SendOutcome outcome, const QString &error)
{
    if (m_done)
        return;
    m_done = true;
    m_result.outcome = outcome;
    m_result.error = error;
    m_result.bytes = m_bytes.load();
    m_result.attempts = m_attempts.load();
    m_result.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    emit finished();
}

void Transfer::setNote(const QString &note)
{
    if (!note.isEmpty())
        m_result.note += (m_result.note.isEmpty() ? QString() : QStringLiteral("; ")) + note;
}

void Transfer::setPrinter(const PrinterStatus &status, qint64 pagesPrinted)
{
    if (status.outcome != SendOutcome::Delivered)
        return;
    m_result.printerState = QString::fromStdString(status.state);
    m_result.printerAlerts.clear();
    for (const std::string &alert : status.alerts)
        m_result.printerAlerts << QString::fromStdString(alert);
    m_result.printerModel = QString::fromStdString(status.model);
    m_result.pageCount = status.pageCount;
    m_result.pagesPrinted = pagesPrinted;
}

int Transfer::retryDelay(const SendOptions &options, SendOutcome outcome, bool inputDrawn,
                         const QString &reason)
{
    if (!mayRetry(outcome, inputDrawn) || attempts() > options.retries)
        return -1;
    const int delay = retryDelayMs(options, attempts() + 1);
    setStatus(QStringLiteral("attempt %1 of %2 failed (%3); next in %4 s")
                  .arg(attempts())
                  .arg(options.retries + 1)
                  .arg(reason)
                  .arg(static_cast<double>(delay) / 1000.0));
    return delay;
}

namespace {

// Raw TCP to a printer's port, through the same sender the window uses, or
// an LPD job, the same bytes inside the server's conversation. A connection
// that fails before a byte went out is tried again when retries are asked
// for; one that fails later never is, as the printer may already be printing
// the first part. With --check or --wait a printer on its port is asked over
// SNMP first; with --wait it is followed until it has printed. An LPD server
// may be a print server in front of the printer: it is not asked, its answer
// to the queue is the check.
class TcpTransfer final : public Transfer
{
public:
    TcpTransfer(const Destination &destination, const SendOptions &options, QObject *parent)
        : Transfer(destination, parent), m_options(options)
    {
        m_retryTimer.setSingleShot(true);
        connect(&m_retryTimer, &QTimer::timeout, this, &TcpTransfer::begin);
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
    void begin() override
    {
        if ((m_options.check || m_options.waitForJob) && !m_watch && !m_lpd) {
            m_watch = new PrinterWatch(destination(), m_options, this);
            m_reader->letGo();
            m_watch->ask([this](const PrinterStatus &before) { onAsked(before); });
            return;
        }
        countAttempt();
        setStatus({});
        using std::chrono::milliseconds;
        m_reported = 0;
        const QString queue = QUrl(destination().name).path(QUrl::FullyDecoded).mid(1);
        m_sender = m_lpd ? new LpdSender(queue, m_options.title, this) : new TcpBlockSender(this);
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
        m_sender->start(m_reader, destination().host(), destination().port);
    }

    void onFinished(bool ok)
    {
        // Not the printer's failure: it waits for another turn, which is
        // neither an attempt shown to the user nor one of its retries.
        const bool lacked = !ok && m_sender->outcome() == SendOutcome::ConnectionFailed &&
                            m_sender->lackedDescriptor() && mayWaitForDescriptor();
        const int delay = ok || lacked ? -1
                                       : retryDelay(m_options, m_sender->outcome(),
                                                    m_sender->handedOverBytes() > 0,
                                                    m_sender->failureReason());
        if (lacked || delay >= 0) {
            m_lastError = m_sender->failureReason();
            m_reader->letGo();
            m_sender->deleteLater();
            m_sender = nullptr;
            if (lacked) {
                uncountAttempt();
                emit waitingForDescriptor();
            } else {
                m_retryTimer.start(delay);
            }
            return;
        }
        // Done with the input: a stream shared with other destinations must
        // not wait for this one any longer.
        m_reader.reset();
        // What reached the printer, not what we let go of.
        const qint64 acknowledged = m_sender->acknowledgedBytes();
        if (ok && m_options.waitEofMs > 0 && !m_sender->peerClosed())
            setNote(QStringLiteral("the printer kept its side open; every byte was acknowledged"));
        else if (!ok)
            setSent(acknowledged >= 0 ? acknowledged : m_sender->handedOverBytes());
        if (ok && m_lpd && m_options.waitForJob)
            setNote(QStringLiteral("not followed: an LPD server is not asked about its jobs"));
        if (ok && m_watch && m_options.waitForJob && m_before.outcome == SendOutcome::Delivered)
            return m_watch->follow(
                m_before, [this](const std::string &status) { setStatus(QString::fromStdString(status)); },
                [this](const PrinterEnd &end) { onFollowed(end); });
        finish(m_sender->outcome(), m_sender->outcome() == SendOutcome::Cancelled
                                        ? QStringLiteral("interrupted, the connection was reset")
                                        : m_sender->failureReason());
    }

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
        begin();
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

    SendOptions m_options;
    TcpBlockSender *m_sender = nullptr;
    PrinterWatch *m_watch = nullptr;
    bool m_cancelled = false; // while the printer was being asked
    const bool m_lpd = destination().kind == Destination::Kind::Lpd;
    PrinterStatus m_before;   // before the first byte
    QTimer m_retryTimer;
    QString m_lastError;
    qint64 m_reported = 0;
};

constexpr qint64 ChunkBytes = 256 * 1024;

const QString EmptyJobNote =
    QStringLiteral("the file is empty: the job holds no document, so nothing is printed");

// A raw job to a spooler queue or straight to an IPP printer. Spooler and
// IPP calls block, so the job runs on a thread of its own and reports back
// to the event loop's thread.
class JobTransfer final : public Transfer
{
public:
    JobTransfer(const Destination &destination, const SendOptions &options, QObject *parent)
        : Transfer(destination, parent), m_options(options),
          m_limits{options.connectTimeoutMs, options.responseTimeoutMs, &m_stop}
    {
    }

    void begin() override
    {
        m_thread = std::jthread([this, reader = m_reader](std::stop_token stop) mutable {
            // The printing library's calls watch the flag.
            const std::stop_callback stopping(stop, [this] { m_stop.set(); });
            const Outcome outcome = run(*reader, stop);
            // A stream shared with other destinations must not wait for this one.
            reader.reset();
            QMetaObject::invokeMethod(
                this,
                [this, outcome] {
                    m_reader.reset();
                    setJob(outcome.jobId, outcome.jobState);
                    setNote(outcome.note);
                    finish(outcome.outcome, outcome.error);
                },
                Qt::QueuedConnection);
        });
    }

    void cancel() override
    {
        m_stop.set();
        m_thread.request_stop();
        // The job's thread may be waiting for input that never comes.
        if (m_reader)
            m_reader->stopWaiting();
    }

private:
    // Only the outcome, error, job and note are filled in.
    using Outcome = DestinationResult;
    Outcome run(SourceReader &reader, std::stop_token stop)
    {
        const bool ipp = destination().kind == Destination::Kind::Ipp;
        QByteArray current; // the piece the spooler is given
        const auto input = [&reader, &current](std::string_view *piece, std::string *error) {
            current = reader.read(ChunkBytes, true);
            *piece =
                std::string_view(current.constData(), static_cast<std::size_t>(current.size()));
            *error = reader.error().toStdString();
            return !current.isEmpty();
        };
        std::unique_ptr<Spooler> spooler;
        RawJobOutcome job;
        // Tried again only while nothing of the input was drawn, so nothing
        // can be printed twice.
        for (;;) {
            countAttempt();
            setStatus({});
            spooler = ipp ? createIppSpooler() : createSystemSpooler();
            spooler->setWaitLimits(m_limits);
            job = sendRawJob(*spooler, destination().name.toStdString(),
                             m_options.title.toStdString(), input, &m_stop,
                             [this](long long bytes) { addSent(bytes); });
            const QString reason = QString::fromStdString(job.sentence);
            const int delay = retryDelay(m_options, job.outcome, job.inputDrawn, reason);
            if (delay < 0)
                break;
            reader.letGo();
            if (!waitUnlessStopped(stop, std::chrono::milliseconds(delay)))
                return {.outcome = SendOutcome::Cancelled,
                        .error = QStringLiteral("interrupted while waiting to try again after: ") + reason};
        }
        if (job.outcome != SendOutcome::Delivered)
            return {.outcome = job.outcome, .error = QString::fromStdString(job.sentence)};
        // The scheduler ends a job without documents at once, as aborted; that
        // is what an empty file asks for, with or without following it.
        if (job.taken == 0 && !ipp)
            return {.outcome = SendOutcome::Delivered, .jobId = job.jobId, .note = EmptyJobNote};
        return followed(*spooler, job.jobId, stop);
    }

    // The report of a job taken whole, after following it when asked to.
    Outcome followed(Spooler &spooler, int jobId, std::stop_token stop)
    {
        if (!m_options.waitForJob)
            return {.outcome = SendOutcome::Delivered, .jobId = jobId};
        const JobEnd end = spooler.followJob(
            {m_options.waitTimeoutMs, std::move(stop), [this](const std::string &status) {
                 setStatus(QString::fromStdString(status));
             }});
        Outcome outcome{.outcome = end.outcome, .error = QString::fromStdString(end.sentence),
                        .jobId = jobId, .jobState = QString::fromStdString(end.state)};
        if (end.outcome == SendOutcome::Delivered)
            std::swap(outcome.error, outcome.note);
        if (end.outcome == SendOutcome::WaitTimedOut)
            outcome.error = QStringLiteral("the job did not end within %1 s and stays queued")
                                .arg(static_cast<double>(m_options.waitTimeoutMs) / 1000.0) +
                            (end.sentence.empty() ? QString()
                                                  : QStringLiteral("; printer ") + outcome.error);
        return outcome;
    }

    SendOptions m_options;
    StopFlag m_stop;
    WaitLimits m_limits;
    std::jthread m_thread; // last: stopped and joined before the rest goes
};

} // namespace

Transfer *newTransfer(const Destination &destination, const SendOptions &options, QObject *parent)
{
    if (options.status)
        return newStatusTransfer(destination, options, parent);
    if (!destination.host().isEmpty())
        return new TcpTransfer(destination, options, parent);
    return new JobTransfer(destination, options, parent);
}
