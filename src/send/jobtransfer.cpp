#include "jobtransfer.h"

#include "bytesource.h"
#include "platform/cups/cupsjobs.h"
#include "platform/cups/ippjob.h"
#include "transmission/spooler.h"

#include <QMetaObject>

namespace {
constexpr qint64 ChunkBytes = 256 * 1024;
using Result = DestinationResult::Outcome;
} // namespace

JobTransfer::JobTransfer(const Destination &destination, const QString &title, bool waitForJob,
                         int connectTimeoutMs, QObject *parent)
    : Transfer(destination, parent),
      m_title(title),
      m_waitForJob(waitForJob),
      m_connectTimeoutMs(connectTimeoutMs)
{
}

JobTransfer::~JobTransfer()
{
    m_stop = true;
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
                finish(outcome.outcome, outcome.error);
            },
            Qt::QueuedConnection);
    });
}

void JobTransfer::cancel()
{
    m_stop = true;
    // The job's thread may be waiting for input that never comes.
    if (m_reader)
        m_reader->stopWaiting();
}

std::optional<JobTransfer::Outcome> JobTransfer::copyInput(
    SourceReader &reader, const std::function<std::optional<Outcome>(const QByteArray &)> &write,
    const std::function<void()> &withdraw)
{
    for (;;) {
        const QByteArray chunk = m_stop ? QByteArray() : reader.readBlocking(ChunkBytes);
        if (m_stop) {
            withdraw();
            return Outcome{Result::Cancelled, QStringLiteral("cancelled, the job was withdrawn"), 0, {}};
        }
        if (chunk.isEmpty()) {
            if (reader.error().isEmpty())
                return std::nullopt;
            withdraw();
            return Outcome{Result::TransferFailed, reader.error(), 0, {}};
        }
        if (std::optional<Outcome> failure = write(chunk))
            return failure;
    }
}

JobTransfer::Outcome JobTransfer::runPrinterJob(SourceReader &reader)
{
    const std::unique_ptr<Spooler> spooler = createSystemSpooler();
    const std::string queue = destination().name.toStdString();
    const auto spoolerError = [&spooler](Result result) {
        return Outcome{result, QString::fromStdString(spooler->errorText()), 0, {}};
    };

    if (!spooler->open(queue))
        return spoolerError(Result::ConnectionFailed);
    if (!spooler->startDocument(m_title.toStdString()) || !spooler->startPage()) {
        spooler->cancelJob();
        return spoolerError(Result::SpoolerRefused);
    }
    const auto withdraw = [&spooler] { spooler->cancelJob(); };
    const auto write = [&](const QByteArray &chunk) -> std::optional<Outcome> {
        const std::size_t size = static_cast<std::size_t>(chunk.size());
        const std::size_t written = spooler->write(chunk.constData(), size);
        addSent(static_cast<qint64>(written));
        if (written == size)
            return std::nullopt;
        withdraw();
        return spoolerError(Result::TransferFailed);
    };
    if (std::optional<Outcome> failure = copyInput(reader, write, withdraw))
        return *failure;
    if (!spooler->endPage() || !spooler->endDocument()) {
        spooler->cancelJob();
        return spoolerError(Result::SpoolerRefused);
    }
    const int job = spooler->jobId();
    spooler->close();

    Outcome outcome{Result::Delivered, {}, job, {}};
    if (m_waitForJob && job > 0) {
        const std::string state = waitForCupsJob(queue, job, m_stop);
        outcome.jobState = QString::fromStdString(state);
        if (state.empty())
            outcome = {m_stop ? Result::Cancelled : Result::SpoolerRefused,
                       QStringLiteral("the job's end could not be followed"), job, {}};
        else if (state != "completed")
            outcome = {Result::SpoolerRefused, QStringLiteral("the job was %1").arg(outcome.jobState),
                       job, outcome.jobState};
    }
    return outcome;
}

JobTransfer::Outcome JobTransfer::runIppJob(SourceReader &reader)
{
    IppJob job;
    const auto ippError = [&job](Result result) {
        return Outcome{result, QString::fromStdString(job.error()), job.jobId(), {}};
    };
    if (!job.start(destination().name.toStdString(), m_title.toStdString(), m_connectTimeoutMs))
        return ippError(Result::ConnectionFailed);
    const auto withdraw = [&job] { job.cancel(); };
    const auto write = [&](const QByteArray &chunk) -> std::optional<Outcome> {
        if (!job.write(chunk.constData(), static_cast<std::size_t>(chunk.size())))
            return ippError(Result::TransferFailed);
        addSent(chunk.size());
        return std::nullopt;
    };
    if (std::optional<Outcome> failure = copyInput(reader, write, withdraw))
        return *failure;
    if (!job.finish())
        return ippError(Result::SpoolerRefused);

    Outcome outcome{Result::Delivered, {}, job.jobId(), {}};
    if (m_waitForJob) {
        const std::string state = job.waitForEnd(m_stop);
        outcome.jobState = QString::fromStdString(state);
        if (state.empty())
            outcome = {m_stop ? Result::Cancelled : Result::SpoolerRefused,
                       QString::fromStdString(job.error()), job.jobId(), {}};
        else if (state != "completed")
            outcome = {Result::SpoolerRefused, QStringLiteral("the job was %1").arg(outcome.jobState),
                       job.jobId(), outcome.jobState};
    }
    return outcome;
}
