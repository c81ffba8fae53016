#include "transfer.h"

#include "bytesource.h"
#include "platform/spooler.h"
#include "transmission/rawjob.h"

#include <QMetaObject>

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
        : Transfer(destination, parent), m_title(options.title),
          m_waitForJob(options.waitForJob), m_limits{options.connectTimeoutMs,
                                                     options.responseTimeoutMs, &m_stop}
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
        m_thread = std::thread([this, reader = m_reader] {
            const Outcome outcome = run(*reader);
            QMetaObject::invokeMethod(
                this,
                [this, outcome] {
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
        const std::unique_ptr<Spooler> spooler = ipp ? createIppSpooler() : createSystemSpooler();
        spooler->setWaitLimits(m_limits);
        QByteArray current; // the piece the spooler is given
        const auto input = [&reader, &current](std::string_view *piece, std::string *error) {
            current = reader.readBlocking(ChunkBytes);
            *piece =
                std::string_view(current.constData(), static_cast<std::size_t>(current.size()));
            *error = reader.error().toStdString();
            return !current.isEmpty();
        };
        const RawJobOutcome job =
            sendRawJob(*spooler, destination().name.toStdString(), m_title.toStdString(), input,
                       &m_stop, [this](long long bytes) { addSent(bytes); });
        if (job.outcome != SendOutcome::Delivered)
            return {job.outcome, QString::fromStdString(job.reason), 0, {}, {}};
        // The scheduler ends a job without documents at once, as aborted; that
        // is what an empty file asks for, with or without following it.
        if (job.taken == 0 && !ipp)
            return {SendOutcome::Delivered, {}, job.jobId, {}, EmptyJobNote};
        return followed(*spooler, job.jobId);
    }

    // The report of a job taken whole, after following it when asked to.
    Outcome followed(Spooler &spooler, int jobId) const
    {
        Outcome outcome{SendOutcome::Delivered, {}, jobId, {}, {}};
        if (!m_waitForJob)
            return outcome;
        const JobEnd end = spooler.followJob();
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
        }
        return outcome;
    }

    QString m_title;
    bool m_waitForJob;
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
