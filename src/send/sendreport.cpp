#include "sendreport.h"

#include "core/localpath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <cmath>

int exitCodeFor(const QList<DestinationResult> &results, int signal, bool statusOnly)
{
    if (signal != 0)
        return 128 + signal;
    const auto delivered = [](const DestinationResult &result) {
        return result.outcome == SendOutcome::Delivered;
    };
    const auto failure = std::find_if_not(results.cbegin(), results.cend(), delivered);
    if (failure == results.cend())
        return SendExit::Delivered;
    return !statusOnly && std::any_of(results.cbegin(), results.cend(), delivered)
               ? SendExit::Partial
               : exitStatusFor(failure->outcome);
}

QString textSummary(const QList<DestinationResult> &results, bool statusOnly)
{
    // Names and printers' messages may hold anything; written raw, a control
    // character would act on the terminal (clear it, forge a line). Pieces
    // are joined, not substituted in turn, so a "%1" in a name stays as it is.
    const auto shown = [](const QString &text) { return LocalPath::printable(text, true); };
    qsizetype width = 0, fileWidth = 0;
    bool severalFiles = false;
    for (const DestinationResult &result : results) {
        width = std::max(width, shown(result.destination.label()).size());
        fileWidth = std::max(fileWidth, shown(result.input).size());
        severalFiles = severalFiles || result.input != results.first().input;
    }

    QString text;
    for (const DestinationResult &result : results) {
        const bool delivered = result.outcome == SendOutcome::Delivered;
        QString line = (delivered ? QStringLiteral("ok   ") : QStringLiteral("FAIL ")) +
                       result.destination.kindName().leftJustified(7) + u' ' +
                       shown(result.destination.label()).leftJustified(width) + u' ';
        const auto add = [&](const char *before, const QString &part, const char *after = ")") {
            if (!part.isEmpty())
                line += QLatin1String(before) + shown(part) + QLatin1String(after);
        };
        if (severalFiles)
            line += shown(result.input).leftJustified(fileWidth) + u' ';
        if (statusOnly)
            line += result.printerState.isEmpty() ? QStringLiteral("not answered")
                                                  : result.printerState;
        else
            line += QString::number(result.bytes) + QStringLiteral(" bytes");
        add(" (", statusOnly ? result.printerAlerts.join(QStringLiteral(", ")) : QString());
        if (statusOnly && result.pageCount >= 0)
            line += QStringLiteral(", page count ") + QString::number(result.pageCount);
        add(", ", statusOnly ? result.printerModel : QString(), "");
        if (result.attempts > 1)
            line += QStringLiteral(", %1 attempts").arg(result.attempts);
        if (result.pagesPrinted >= 0)
            line += QStringLiteral(", %1 printed")
                        .arg(result.pagesPrinted == 1 ? QStringLiteral("1 page")
                                                      : QStringLiteral("%1 pages").arg(result.pagesPrinted));
        if (result.jobId > 0)
            line += QStringLiteral(", job ") + QString::number(result.jobId);
        add(" ", result.jobState, "");
        add(" (", result.note);
        add(" (default destination, from ", result.origin);
        if (!delivered)
            line += QStringLiteral(": ") + QLatin1String(outcomeName(result.outcome));
        add(" (", delivered ? QString() : result.error);
        text += line + u'\n';
    }
    return text;
}

QByteArray jsonSummary(const QList<InputSummary> &inputs, const QList<DestinationResult> &results,
                       int exitCode, qint64 peakRssKiB, const QString &signal)
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
        // What is not known or did not happen is left out.
        for (const auto &[key, text] : {std::pair("input", result.input), {"chosenBy", result.origin},
                                        {"error", result.error}, {"jobState", result.jobState},
                                        {"note", result.note}}) {
            if (!text.isEmpty())
                entry.insert(QLatin1String(key), text);
        }
        if (result.jobId > 0)
            entry.insert(QStringLiteral("job"), result.jobId);
        if (!result.printerState.isEmpty()) {
            entry.insert(QStringLiteral("printerState"), result.printerState);
            entry.insert(QStringLiteral("printerAlerts"), QJsonArray::fromStringList(result.printerAlerts));
            if (!result.printerModel.isEmpty())
                entry.insert(QStringLiteral("printerModel"), result.printerModel);
        }
        for (const auto &[key, count] : {std::pair("pageCount", result.pageCount), {"pagesPrinted", result.pagesPrinted}})
            if (count >= 0)
                entry.insert(QLatin1String(key), count);
        destinations.append(entry);
    }
    // The first file stands at the top, as it did when there could be only one.
    QJsonObject summary{{"exitCode", exitCode}, {"destinations", destinations}};
    // None when printers were only asked how they stand.
    if (!inputs.isEmpty()) {
        summary.insert(QStringLiteral("input"), inputs.first().input);
        summary.insert(QStringLiteral("inputBytes"), inputs.first().bytes);
    }
    QJsonArray all;
    for (const InputSummary &input : inputs)
        all.append(QJsonObject{{"input", input.input}, {"inputBytes", input.bytes}});
    if (inputs.size() > 1)
        summary.insert(QStringLiteral("inputs"), all);
    if (!signal.isEmpty())
        summary.insert(QStringLiteral("signal"), signal);
    if (peakRssKiB >= 0)
        summary.insert(QStringLiteral("maxRssKiB"), peakRssKiB);
    return QJsonDocument(summary).toJson(QJsonDocument::Indented);
}

// "12.3 MiB"; below a KiB, Qt would say "bytes", too wide for a progress line.
static QString humanBytes(double bytes)
{
    return bytes < 1024 ? QStringLiteral("%1 B").arg(static_cast<qint64>(bytes))
                        : QLocale::c().formattedDataSize(static_cast<qint64>(bytes), 1);
}

QString progressLine(const QString &label, qint64 done, qint64 total, double bytesPerSecond,
                     bool running)
{
    QString line = QStringLiteral("%1  %2").arg(LocalPath::printable(label, true),
                                                humanBytes(static_cast<double>(done)));
    if (total > 0)
        line += QStringLiteral(" / %1  %2%")
                    .arg(humanBytes(static_cast<double>(total)))
                    .arg(static_cast<int>(100 * done / total), 3);
    line += QStringLiteral("  %1/s").arg(humanBytes(bytesPerSecond));
    if (running && total > 0 && bytesPerSecond > 0 && done < total) {
        const auto eta = static_cast<qint64>(std::ceil(static_cast<double>(total - done) / bytesPerSecond));
        line += QStringLiteral("  ETA %1:%2").arg(eta / 60).arg(eta % 60, 2, 10, QLatin1Char('0'));
    }
    return line;
}
