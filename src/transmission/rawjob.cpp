#include "rawjob.h"

#include "platform/spooler.h"

#include <QByteArray>

namespace {

QString spoolerReason(const Spooler &spooler, const QString &fallback)
{
    const QString text = QString::fromStdString(spooler.errorText()).trimmed();
    return text.isEmpty() ? fallback : text;
}

RawJobOutcome failed(RawJobOutcome::Step step, QString reason)
{
    return {RawJobOutcome::Result::Failed, step, std::move(reason)};
}

} // namespace

RawJobOutcome sendRawJob(Spooler &spooler, const QString &printerName, const QByteArray &content)
{
    using Step = RawJobOutcome::Step;

    if (!spooler.open(printerName.toStdString()))
        return {RawJobOutcome::Result::OpenFailed, Step::Open,
                spoolerReason(spooler, QStringLiteral("the queue could not be opened"))};

    // From here on the handle is closed on every path, and a failure first
    // withdraws whatever part of the job the spooler already holds (the
    // backend knows whether there is one: a failed start may still have
    // created the job).
    const auto abandon = [&spooler](Step step, const QString &reason) {
        RawJobOutcome outcome = failed(step, reason);
        spooler.cancelJob();
        spooler.close();
        return outcome;
    };

    if (!spooler.startDocument(RawJobDocumentName))
        return abandon(Step::StartDocument,
                       spoolerReason(spooler, QStringLiteral("the job could not be started")));
    if (!spooler.startPage())
        return abandon(Step::StartPage,
                       spoolerReason(spooler, QStringLiteral("the page could not be started")));

    const auto size = static_cast<std::size_t>(content.size());
    const std::size_t written = spooler.write(content.constData(), size);
    if (written != size) {
        const QString counts =
            QStringLiteral("only %1 of %2 bytes were accepted").arg(written).arg(size);
        const QString text = QString::fromStdString(spooler.errorText()).trimmed();
        return abandon(Step::Write,
                       text.isEmpty() ? counts : text + QStringLiteral(" (") + counts + u')');
    }

    if (!spooler.endPage())
        return abandon(Step::EndPage,
                       spoolerReason(spooler, QStringLiteral("the page could not be ended")));
    if (!spooler.endDocument())
        return abandon(Step::EndDocument,
                       spoolerReason(spooler, QStringLiteral("the job could not be finished")));

    // The job is complete at the spooler; a failing close is reported but
    // must not withdraw it.
    if (!spooler.close())
        return failed(Step::Close,
                      spoolerReason(spooler, QStringLiteral("the queue could not be closed")));
    return {};
}
