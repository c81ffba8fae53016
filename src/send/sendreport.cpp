#include "sendreport.h"

#include "core/localpath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

int exitCodeFor(const QList<DestinationResult> &results, bool interrupted)
{
    if (interrupted)
        return SendExit::Interrupted;
    qsizetype delivered = 0;
    const DestinationResult *firstFailure = nullptr;
    for (const DestinationResult &result : results) {
        if (result.outcome == SendOutcome::Delivered)
            ++delivered;
        else if (!firstFailure)
            firstFailure = &result;
    }
    if (!firstFailure)
        return SendExit::Delivered;
    if (delivered > 0)
        return SendExit::Partial;
    return exitStatusFor(firstFailure->outcome);
}

QString textSummary(const QList<DestinationResult> &results)
{
    // Names and printers' messages may hold anything; written raw, a control
    // character would act on the terminal (clear it, forge a line). Pieces
    // are joined, not substituted in turn, so a "%1" in a name stays as it is.
    const auto shown = [](const QString &text) { return LocalPath::printable(text); };
    qsizetype width = 0;
    qsizetype fileWidth = 0;
    bool severalFiles = false;
    for (const DestinationResult &result : results) {
        width = std::max(width, shown(result.destination.label()).size());
        fileWidth = std::max(fileWidth, shown(result.input).size());
        severalFiles = severalFiles || result.input != results.first().input;
    }

    QString text;
    for (const DestinationResult &result : results) {
        QString line = (result.outcome == SendOutcome::Delivered ? QStringLiteral("ok  ")
                                                             : QStringLiteral("FAIL")) +
                       QLatin1Char(' ') + result.destination.kindName().leftJustified(7) +
                       QLatin1Char(' ') + shown(result.destination.label()).leftJustified(width) +
                       QLatin1Char(' ');
        if (severalFiles)
            line += shown(result.input).leftJustified(fileWidth) + QLatin1Char(' ');
        line += QString::number(result.bytes) + QStringLiteral(" bytes");
        if (result.attempts > 1)
            line += QStringLiteral(", %1 attempts").arg(result.attempts);
        if (result.jobId > 0)
            line += QStringLiteral(", job ") + QString::number(result.jobId);
        if (!result.jobState.isEmpty())
            line += QLatin1Char(' ') + shown(result.jobState);
        if (!result.note.isEmpty())
            line += QStringLiteral(" (") + shown(result.note) + QLatin1Char(')');
        if (!result.origin.isEmpty())
            line += QStringLiteral(" (default destination, from ") +
                    shown(result.origin) + QLatin1Char(')');
        if (result.outcome != SendOutcome::Delivered) {
            line += QStringLiteral(": ") + QLatin1String(outcomeName(result.outcome));
            if (!result.error.isEmpty())
                line += QStringLiteral(" (") + shown(result.error) + QLatin1Char(')');
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

QByteArray jsonSummary(const QList<InputSummary> &inputs, const QList<DestinationResult> &results,
                       int exitCode, qint64 peakRssKiB)
{
    QJsonArray destinations;
    for (const DestinationResult &result : results) {
        QJsonObject entry{
            {"destination", result.destination.label()},
            {"kind", result.destination.kindName()},
            {"delivered", result.outcome == SendOutcome::Delivered},
            {"outcome", QLatin1String(outcomeName(result.outcome))},
            {"bytes", result.bytes},
            {"seconds", static_cast<double>(result.elapsedMs) / 1000.0},
            {"attempts", result.attempts},
        };
        if (!result.input.isEmpty())
            entry.insert(QStringLiteral("input"), result.input);
        if (!result.origin.isEmpty())
            entry.insert(QStringLiteral("chosenBy"), result.origin);
        if (!result.error.isEmpty())
            entry.insert(QStringLiteral("error"), result.error);
        if (result.jobId > 0)
            entry.insert(QStringLiteral("job"), result.jobId);
        if (!result.jobState.isEmpty())
            entry.insert(QStringLiteral("jobState"), result.jobState);
        if (!result.note.isEmpty())
            entry.insert(QStringLiteral("note"), result.note);
        destinations.append(entry);
    }
    // The first file stands at the top, as it did when there could be only one.
    const InputSummary first = inputs.value(0);
    QJsonObject summary{{"input", first.input},
                        {"inputBytes", first.bytes},
                        {"exitCode", exitCode},
                        {"destinations", destinations}};
    if (inputs.size() > 1) {
        QJsonArray all;
        for (const InputSummary &input : inputs)
            all.append(QJsonObject{{"input", input.input}, {"inputBytes", input.bytes}});
        summary.insert(QStringLiteral("inputs"), all);
    }
    if (peakRssKiB >= 0)
        summary.insert(QStringLiteral("maxRssKiB"), peakRssKiB);
    return QJsonDocument(summary).toJson(QJsonDocument::Indented);
}

QString humanBytes(double bytes)
{
    static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    return unit == 0 ? QStringLiteral("%1 B").arg(static_cast<qint64>(bytes))
                     : QStringLiteral("%1 %2").arg(bytes, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString progressLine(const QString &label, qint64 done, qint64 total, double bytesPerSecond,
                     bool running)
{
    QString line = QStringLiteral("%1  %2").arg(LocalPath::printable(label),
                                                humanBytes(static_cast<double>(done)));
    if (total > 0)
        line += QStringLiteral(" / %1  %2%")
                    .arg(humanBytes(static_cast<double>(total)))
                    .arg(static_cast<int>(100 * done / total), 3);
    line += QStringLiteral("  %1/s").arg(humanBytes(bytesPerSecond));
    if (running && total > 0 && bytesPerSecond > 0 && done < total) {
        const auto eta = static_cast<qint64>(std::ceil(static_cast<double>(total - done) / bytesPerSecond));
        line += QStringLiteral("  ETA %1:%2")
                    .arg(eta / 60)
                    .arg(eta % 60, 2, 10, QLatin1Char('0'));
    }
    return line;
}
