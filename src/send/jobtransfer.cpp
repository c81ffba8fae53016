#include "transfer.h"

#include "core/bytesource.h"
#include "platform/spooler.h"
#include "core/rawjob.h"

#include <QMetaObject>

#include <chrono>
#include <thread>

namespace {

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

    void start(std::unique_ptr<SourceReader> reader) override
    {
        markStarted();
        m_reader = std::move(reader);
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
    struct Outcome
    {
        SendOutcome outcome = SendOutcome::Delivered;
        QString error;
        int jobId = 0;
        QString jobState;
        QString note;
    };
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
                return {SendOutcome::Cancelled,
                        QStringLiteral("interrupted while waiting to try again after: ") + reason,
                        0, {}, {}};
        }
        if (job.outcome != SendOutcome::Delivered)
            return {job.outcome, QString::fromStdString(job.sentence), 0, {}, {}};
        // The scheduler ends a job without documents at once, as aborted; that
        // is what an empty file asks for, with or without following it.
        if (job.taken == 0 && !ipp)
            return {SendOutcome::Delivered, {}, job.jobId, {}, EmptyJobNote};
        return followed(*spooler, job.jobId, stop);
    }

    // The report of a job taken whole, after following it when asked to.
    Outcome followed(Spooler &spooler, int jobId, std::stop_token stop)
    {
        if (!m_options.waitForJob)
            return {SendOutcome::Delivered, {}, jobId, {}, {}};
        const JobEnd end = spooler.followJob(
            {m_options.waitTimeoutMs, std::move(stop), [this](const std::string &status) {
                 setStatus(QString::fromStdString(status));
             }});
        Outcome outcome{end.outcome, QString::fromStdString(end.sentence), jobId,
                        QString::fromStdString(end.state), {}};
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
    std::shared_ptr<SourceReader> m_reader; // shared with the job's thread, so cancel() can wake it
    std::jthread m_thread; // last: stopped and joined before the rest goes
};

} // namespace

Transfer *newJobTransfer(const Destination &destination, const SendOptions &options,
                         QObject *parent)
{
    return new JobTransfer(destination, options, parent);
}
