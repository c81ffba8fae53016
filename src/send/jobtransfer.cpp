#include "transfer.h"

#include "core/bytesource.h"
#include "platform/spooler.h"
#include "core/rawjob.h"

#include <QMetaObject>

#include <algorithm>
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

    ~JobTransfer() override
    {
        m_stop.set();
        if (m_thread.joinable())
            m_thread.join();
    }

    void start(std::unique_ptr<SourceReader> reader) override
    {
        markStarted();
        m_reader = std::move(reader);
        m_thread = std::thread([this, reader = m_reader]() mutable {
            const Outcome outcome = run(*reader);
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
    Outcome run(SourceReader &reader)
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
            if (!job.retryable || attempts() > m_options.retries)
                break;
            const int delay = retryDelayMs(m_options, attempts() + 1);
            const QString reason = QString::fromStdString(job.reason);
            setStatus(retryStatus(attempts(), m_options.retries + 1, delay, reason));
            reader.letGo();
            if (!pause(delay))
                return {SendOutcome::Cancelled,
                        QStringLiteral("interrupted while waiting to try again after: ") + reason,
                        0, {}, {}};
        }
        if (job.outcome != SendOutcome::Delivered)
            return {job.outcome, QString::fromStdString(job.reason), 0, {}, {}};
        // The scheduler ends a job without documents at once, as aborted; that
        // is what an empty file asks for, with or without following it.
        if (job.taken == 0 && !ipp)
            return {SendOutcome::Delivered, {}, job.jobId, {}, EmptyJobNote};
        return followed(*spooler, job.jobId);
    }

    // False when stopped before the time was up.
    bool pause(int ms) const
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_stop.isSet()) {
            const auto left = until - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero())
                return true;
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                left, std::chrono::milliseconds(50)));
        }
        return false;
    }

    // The report of a job taken whole, after following it when asked to.
    Outcome followed(Spooler &spooler, int jobId)
    {
        Outcome outcome{SendOutcome::Delivered, {}, jobId, {}, {}};
        if (!m_options.waitForJob)
            return outcome;
        JobWatch watch;
        watch.timeoutMs = m_options.waitTimeoutMs;
        watch.onStatus = [this](const std::string &status) {
            setStatus(QString::fromStdString(status));
        };
        const JobEnd end = spooler.followJob(watch);
        switch (end.kind) {
        case JobEnd::Kind::Ended:
            outcome.jobState = QString::fromStdString(end.state);
            if (end.state != "completed") {
                outcome.outcome = SendOutcome::SpoolerRefused;
                outcome.error = QStringLiteral("the job was ") + outcome.jobState;
            }
            break;
        case JobEnd::Kind::Forgotten:
            outcome.note =
                QStringLiteral("the job was taken whole, but the %1 kept no record of how it ended")
                    .arg(destination().kind == Destination::Kind::Ipp
                             ? QStringLiteral("printer")
                             : QStringLiteral("scheduler"));
            break;
        case JobEnd::Kind::Refused:
        case JobEnd::Kind::Lost:
            outcome.outcome = end.kind == JobEnd::Kind::Refused ? SendOutcome::SpoolerRefused
                                                                : SendOutcome::TransferFailed;
            outcome.error = QStringLiteral("the job's end could not be followed: ") +
                            QString::fromStdString(end.error);
            break;
        case JobEnd::Kind::Stopped:
            outcome.outcome = SendOutcome::Cancelled;
            outcome.error =
                QStringLiteral("interrupted while following the job, which stays queued");
            break;
        case JobEnd::Kind::TimedOut:
            outcome.outcome = SendOutcome::WaitTimedOut;
            outcome.jobState = QString::fromStdString(end.state);
            outcome.error = QStringLiteral("the job did not end within %1 s and stays queued")
                                .arg(static_cast<double>(m_options.waitTimeoutMs) / 1000.0);
            if (!end.error.empty())
                outcome.error += QStringLiteral("; printer ") + QString::fromStdString(end.error);
            break;
        }
        return outcome;
    }

    SendOptions m_options;
    StopFlag m_stop;
    WaitLimits m_limits;
    std::shared_ptr<SourceReader> m_reader; // shared with the job's thread, so cancel() can wake it
    std::thread m_thread;
};

} // namespace

Transfer *newJobTransfer(const Destination &destination, const SendOptions &options,
                         QObject *parent)
{
    return new JobTransfer(destination, options, parent);
}
