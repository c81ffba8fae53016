#include "rawjob.h"

#include "platform/spooler.h"

#include <QByteArray>

#include <utility>

RawJobOutcome sendRawJob(Spooler &spooler, const QString &printer, const QString &documentName,
                         const RawJobInput &input, const StopFlag *stop,
                         const std::function<void(qint64)> &taken)
{
    using Step = RawJobOutcome::Step;
    RawJobOutcome outcome;
    const auto stopped = [stop] { return stop != nullptr && stop->isSet(); };
    const auto failed = [&](Step step, const char *fallback) {
        outcome.failedStep = step;
        outcome.reason = QString::fromStdString(spooler.errorText()).trimmed();
        if (outcome.reason.isEmpty() && step != Step::Write)
            outcome.reason = QString::fromLatin1(fallback);
        if (stopped()) {
            outcome.outcome = SendOutcome::Cancelled;
            outcome.reason = QStringLiteral("cancelled, the job was withdrawn");
        } else if (step == Step::Open) {
            outcome.outcome = SendOutcome::ConnectionFailed;
        } else {
            switch (spooler.failure()) {
            case Spooler::Failure::Refused:
                outcome.outcome = SendOutcome::SpoolerRefused;
                break;
            case Spooler::Failure::Lost:
                outcome.outcome = SendOutcome::TransferFailed;
                break;
            case Spooler::Failure::NoPrinter:
                outcome.outcome = SendOutcome::ConnectionFailed;
                break;
            }
        }
        return outcome;
    };
    // From here on the handle is closed on every path, and a failure first
    // withdraws whatever part of the job the spooler already holds (the
    // backend knows whether there is one: a failed start may still have
    // created the job).
    const auto abandon = [&](Step step, const char *fallback) {
        failed(step, fallback);
        spooler.cancelJob();
        spooler.close();
        return outcome;
    };

    if (!spooler.open(printer.toStdString()))
        return failed(Step::Open, "the queue could not be opened");
    if (!spooler.startDocument(documentName.toStdString()))
        return abandon(Step::StartDocument, "the job could not be started");
    if (!spooler.startPage())
        return abandon(Step::StartPage, "the page could not be started");

    // Every piece is written, an empty first one too: the Windows spooler
    // keeps an empty job as one empty page.
    QByteArray piece;
    QString inputError;
    while (!stopped() && input(&piece, &inputError) && !stopped()) {
        const auto size = static_cast<std::size_t>(piece.size());
        const auto written = static_cast<qint64>(spooler.write(piece.constData(), size));
        outcome.taken += written;
        outcome.offered += piece.size();
        if (taken)
            taken(written);
        if (written != piece.size())
            return abandon(Step::Write, nullptr);
    }
    if (stopped())
        return abandon(Step::Write, nullptr);
    if (!inputError.isEmpty()) {
        abandon(Step::Write, nullptr);
        outcome.outcome = SendOutcome::TransferFailed;
        outcome.reason = inputError;
        return outcome;
    }

    if (!spooler.endPage())
        return abandon(Step::EndPage, "the page could not be ended");
    if (!spooler.endDocument())
        return abandon(Step::EndDocument, "the job could not be finished");
    outcome.jobId = spooler.jobId();

    // The job is complete at the spooler; a failing close is reported but
    // must not withdraw it.
    if (!spooler.close()) {
        outcome.jobId = 0;
        return failed(Step::Close, "the queue could not be closed");
    }
    return outcome;
}

RawJobOutcome sendRawJob(Spooler &spooler, const QString &printer, const QByteArray &content)
{
    bool given = false;
    return sendRawJob(spooler, printer, QString::fromLatin1(RawJobDocumentName),
                      [&content, &given](QByteArray *piece, QString *) {
                          *piece = content;
                          return !std::exchange(given, true);
                      });
}
