#include "jobtransfer.h"

#include "bytesource.h"
#include "platform/spooler.h"
#include "transmission/rawjob.h"

#include <QMetaObject>

namespace {
constexpr qint64 ChunkBytes = 256 * 1024;

const QString EmptyJobNote =
    QStringLiteral("the file is empty: the job holds no document, so nothing is printed");
} // namespace

JobTransfer::JobTransfer(const Destination &destination, const QString &title, bool waitForJob,
                         int connectTimeoutMs, int responseTimeoutMs, QObject *parent)
    : Transfer(destination, parent),
      m_title(title),
      m_waitForJob(waitForJob),
      m_limits{connectTimeoutMs, responseTimeoutMs, &m_stop}
{
}

JobTransfer::~JobTransfer()
{
    m_stop.set();
    if (m_thread.joinable())
        m_thread.join();
}

void JobTransfer::start(std::unique_ptr<SourceReader> reader)
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

void JobTransfer::cancel()
{
    m_stop.set();
    // The job's thread may be waiting for input that never comes.
    if (m_reader)
        m_reader->stopWaiting();
}

JobTransfer::Outcome JobTransfer::run(SourceReader &reader)
{
    const bool ipp = destination().kind == Destination::Kind::Ipp;
    const std::unique_ptr<Spooler> spooler = ipp ? createIppSpooler() : createSystemSpooler();
    spooler->setWaitLimits(m_limits);
    const auto input = [&reader](QByteArray *piece, QString *error) {
        *piece = reader.readBlocking(ChunkBytes);
        *error = reader.error();
        return !piece->isEmpty();
    };
    const RawJobOutcome job = sendRawJob(*spooler, destination().name, m_title, input, &m_stop,
                                         [this](qint64 bytes) { addSent(bytes); });
    if (job.outcome != SendOutcome::Delivered)
        return {job.outcome, job.reason, 0, {}, {}};
    // The scheduler ends a job without documents at once, as aborted; that
    // is what an empty file asks for, with or without following it.
    if (job.taken == 0 && !ipp)
        return {SendOutcome::Delivered, {}, job.jobId, {}, EmptyJobNote};
    return followed(*spooler, job.jobId);
}

JobTransfer::Outcome JobTransfer::followed(Spooler &spooler, int jobId) const
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
                .arg(destination().kind == Destination::Kind::Ipp ? QStringLiteral("printer")
                                                                   : QStringLiteral("scheduler"));
        break;
    case JobEnd::Kind::Refused:
        outcome.outcome = SendOutcome::SpoolerRefused;
        outcome.error = QStringLiteral("the job's end could not be followed: ") +
                        QString::fromStdString(end.error);
        break;
    case JobEnd::Kind::Lost:
        outcome.outcome = SendOutcome::TransferFailed;
        outcome.error = QStringLiteral("the job's end could not be followed: ") +
                        QString::fromStdString(end.error);
        break;
    case JobEnd::Kind::Stopped:
        outcome.outcome = SendOutcome::Cancelled;
        outcome.error = QStringLiteral("interrupted while following the job, which stays queued");
        break;
    }
    return outcome;
}
