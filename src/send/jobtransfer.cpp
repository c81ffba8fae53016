#include "jobtransfer.h"

#include "bytesource.h"
#include "platform/cups/cupsjobs.h"
#include "platform/cups/ippjob.h"
#include "platform/spooler.h"

#include <QMetaObject>

namespace {
constexpr qint64 ChunkBytes = 256 * 1024;
using Result = SendOutcome;

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
        const Outcome outcome = destination().kind == Destination::Kind::Ipp
                                    ? runIppJob(*reader)
                                    : runPrinterJob(*reader);
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

std::optional<JobTransfer::Outcome> JobTransfer::copyInput(
    SourceReader &reader, const std::function<std::optional<Outcome>(const QByteArray &)> &write,
    const std::function<void()> &withdraw)
{
    for (;;) {
        const QByteArray chunk = m_stop.isSet() ? QByteArray() : reader.readBlocking(ChunkBytes);
        if (m_stop.isSet()) {
            withdraw();
            return Outcome{Result::Cancelled, QStringLiteral("cancelled, the job was withdrawn"), 0, {}, {}};
        }
        if (chunk.isEmpty()) {
            if (reader.error().isEmpty())
                return std::nullopt;
            withdraw();
            return Outcome{Result::TransferFailed, reader.error(), 0, {}, {}};
        }
        if (std::optional<Outcome> failure = write(chunk))
            return failure;
    }
}

JobTransfer::Outcome JobTransfer::followed(int jobId, const std::function<JobEnd()> &follow) const
{
    Outcome outcome{Result::Delivered, {}, jobId, {}, {}};
    if (!m_waitForJob)
        return outcome;
    const JobEnd end = follow();
    switch (end.kind) {
    case JobEnd::Kind::Ended:
        outcome.jobState = QString::fromStdString(end.state);
        if (end.state != "completed") {
            outcome.outcome = Result::SpoolerRefused;
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
        outcome.outcome = Result::SpoolerRefused;
        outcome.error = QStringLiteral("the job's end could not be followed: ") +
                        QString::fromStdString(end.error);
        break;
    case JobEnd::Kind::Lost:
        outcome.outcome = Result::TransferFailed;
        outcome.error = QStringLiteral("the job's end could not be followed: ") +
                        QString::fromStdString(end.error);
        break;
    case JobEnd::Kind::Stopped:
        outcome.outcome = Result::Cancelled;
        outcome.error = QStringLiteral("interrupted while following the job, which stays queued");
        break;
    }
    return outcome;
}

JobTransfer::Outcome JobTransfer::runPrinterJob(SourceReader &reader)
{
    const std::unique_ptr<Spooler> spooler = createSystemSpooler();
    spooler->setWaitLimits(m_limits);
    const std::string queue = destination().name.toStdString();
    const auto spoolerError = [this, &spooler](Result result) {
        if (m_stop.isSet())
            return Outcome{Result::Cancelled, QStringLiteral("cancelled, the job was withdrawn"), 0,
                           {}, {}};
        if (result == Result::SpoolerRefused && spooler->lostConnection())
            result = Result::TransferFailed;
        return Outcome{result, QString::fromStdString(spooler->errorText()), 0, {}, {}};
    };

    if (!spooler->open(queue))
        return spoolerError(Result::ConnectionFailed);
    if (!spooler->startDocument(m_title.toStdString()) || !spooler->startPage()) {
        spooler->cancelJob();
        return spoolerError(Result::SpoolerRefused);
    }
    const auto withdraw = [&spooler] { spooler->cancelJob(); };
    qint64 taken = 0;
    const auto write = [&](const QByteArray &chunk) -> std::optional<Outcome> {
        const std::size_t size = static_cast<std::size_t>(chunk.size());
        const std::size_t written = spooler->write(chunk.constData(), size);
        addSent(static_cast<qint64>(written));
        taken += static_cast<qint64>(written);
        if (written == size)
            return std::nullopt;
        withdraw();
        return spoolerError(spooler->lostConnection() ? Result::TransferFailed
                                                      : Result::SpoolerRefused);
    };
    if (std::optional<Outcome> failure = copyInput(reader, write, withdraw))
        return *failure;
    if (!spooler->endPage() || !spooler->endDocument()) {
        spooler->cancelJob();
        return spoolerError(Result::SpoolerRefused);
    }
    const int job = spooler->jobId();
    spooler->close();

    // The scheduler ends a job without documents at once, as aborted; that
    // is what an empty file asks for, with or without following it.
    if (taken == 0)
        return Outcome{Result::Delivered, {}, job, {}, EmptyJobNote};
    return followed(job, [&] { return followSchedulerJob(queue, job, m_limits); });
}

JobTransfer::Outcome JobTransfer::runIppJob(SourceReader &reader)
{
    IppJob job(m_limits);
    const auto ippError = [&job]() {
        Result result = Result::TransferFailed;
        switch (job.failure()) {
        case IppJob::Failure::Connect:
            result = Result::ConnectionFailed;
            break;
        case IppJob::Failure::Refused:
            result = Result::SpoolerRefused;
            break;
        case IppJob::Failure::Stopped:
            result = Result::Cancelled;
            break;
        case IppJob::Failure::None:
        case IppJob::Failure::Lost:
            break;
        }
        if (result == Result::Cancelled)
            return Outcome{result, QStringLiteral("cancelled, the job was withdrawn"), 0, {}, {}};
        return Outcome{result, QString::fromStdString(job.error()), job.jobId(), {}, {}};
    };
    if (!job.start(destination().name.toStdString(), m_title.toStdString()))
        return ippError();
    const auto withdraw = [&job] { job.cancel(); };
    const auto write = [&](const QByteArray &chunk) -> std::optional<Outcome> {
        if (!job.write(chunk.constData(), static_cast<std::size_t>(chunk.size())))
            return ippError();
        addSent(chunk.size());
        return std::nullopt;
    };
    if (std::optional<Outcome> failure = copyInput(reader, write, withdraw))
        return *failure;
    if (!job.finish())
        return ippError();
    return followed(job.jobId(), [&job] { return job.waitForEnd(); });
}
