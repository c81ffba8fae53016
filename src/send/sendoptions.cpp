#include "sendoptions.h"

#include "transmission/endpoint.h"
#include "transmission/exitstatus.h"

#include <QUrl>

#include <cmath>

namespace {

std::optional<int> seconds(const QString &text, const QString &option, QString *error)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    // nan passes every comparison, and inf or 1e309 is no time at all.
    if (!ok || !std::isfinite(value) || value < 0 || value > 86400) {
        *error = QStringLiteral("%1 needs a number of seconds from 0 to 86400, not \"%2\"")
                     .arg(option, text);
        return std::nullopt;
    }
    return static_cast<int>(value * 1000);
}

// Options that take a value, in both spellings.
bool takesValue(const QString &option)
{
    static const QStringList withValue{"-p", "--printer", "-H", "--host", "--ipp",
                                       "--parallel", "--connect-timeout", "--wait-eof",
                                       "--stall-timeout", "--title", "--response-timeout"};
    return withValue.contains(option);
}

} // namespace

QString Destination::label() const
{
    switch (kind) {
    case Kind::Printer:
    case Kind::Ipp:
        return name;
    case Kind::Tcp:
        return Endpoint{name, port}.label();
    }
    return name;
}

QString Destination::kindName() const
{
    switch (kind) {
    case Kind::Printer:
        return QStringLiteral("printer");
    case Kind::Ipp:
        return QStringLiteral("ipp");
    case Kind::Tcp:
        return QStringLiteral("tcp");
    }
    return QString();
}

ParsedArguments parseSendArguments(const QStringList &arguments)
{
    ParsedArguments result;
    SendOptions options;
    QStringList inputs;
    bool optionsEnded = false;

    const auto fail = [&result](const QString &message) {
        result.error = message;
        return result;
    };

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        QString value;
        bool hasValue = false;

        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            inputs << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument.startsWith(QLatin1String("--")) && argument.contains(QLatin1Char('='))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            value = argument.mid(equals + 1);
            argument = argument.left(equals);
            hasValue = true;
        }
        if (takesValue(argument) && !hasValue) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("%1 needs a value").arg(argument));
            value = arguments.at(++i);
            hasValue = true;
        } else if (!takesValue(argument) && hasValue) {
            return fail(QStringLiteral("%1 takes no value").arg(argument));
        }

        QString error;
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            result.showHelp = true;
        } else if (argument == QLatin1String("--version")) {
            result.showVersion = true;
        } else if (argument == QLatin1String("-p") || argument == QLatin1String("--printer")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--printer needs a queue name"));
            options.destinations.append({Destination::Kind::Printer, value, 0});
        } else if (argument == QLatin1String("-H") || argument == QLatin1String("--host")) {
            const std::optional<Endpoint> endpoint = Endpoint::parse(value, &error);
            if (!endpoint)
                return fail(error);
            options.destinations.append({Destination::Kind::Tcp, endpoint->host, endpoint->port});
        } else if (argument == QLatin1String("--ipp")) {
            const QUrl uri(value);
            if (!value.startsWith(QLatin1String("ipp://")) && !value.startsWith(QLatin1String("ipps://")))
                return fail(QStringLiteral("--ipp needs an ipp:// or ipps:// URI, not \"%1\"").arg(value));
            if (!uri.isValid() || uri.host().isEmpty())
                return fail(QStringLiteral("--ipp needs a printer's address in the URI, not \"%1\"")
                                .arg(value));
            options.destinations.append({Destination::Kind::Ipp, value, 0});
        } else if (argument == QLatin1String("--parallel")) {
            bool ok = false;
            options.parallel = value.toInt(&ok);
            if (!ok || options.parallel < 1)
                return fail(QStringLiteral("--parallel needs a whole number of at least 1"));
        } else if (argument == QLatin1String("--connect-timeout")) {
            const std::optional<int> ms = seconds(value, argument, &error);
            if (!ms || *ms == 0)
                return fail(ms ? QStringLiteral("--connect-timeout must be more than 0") : error);
            options.connectTimeoutMs = *ms;
        } else if (argument == QLatin1String("--response-timeout")) {
            const std::optional<int> ms = seconds(value, argument, &error);
            if (!ms || *ms == 0)
                return fail(ms ? QStringLiteral("--response-timeout must be more than 0") : error);
            options.responseTimeoutMs = *ms;
        } else if (argument == QLatin1String("--wait-eof")) {
            const std::optional<int> ms = seconds(value, argument, &error);
            if (!ms)
                return fail(error);
            options.waitEofMs = *ms;
        } else if (argument == QLatin1String("--stall-timeout")) {
            const std::optional<int> ms = seconds(value, argument, &error);
            if (!ms || *ms == 0)
                return fail(ms ? QStringLiteral("--stall-timeout must be more than 0") : error);
            options.stallTimeoutMs = *ms;
        } else if (argument == QLatin1String("--wait")) {
            options.waitForJob = true;
        } else if (argument == QLatin1String("--title")) {
            options.title = value;
        } else if (argument == QLatin1String("-q") || argument == QLatin1String("--quiet")) {
            options.quiet = true;
        } else if (argument == QLatin1String("--json")) {
            options.json = true;
        } else {
            return fail(QStringLiteral("unknown option %1").arg(argument));
        }
    }

    if (result.showHelp || result.showVersion)
        return result;
    if (inputs.isEmpty())
        return fail(QStringLiteral("no file given (use - for standard input)"));
    if (inputs.size() > 1)
        return fail(QStringLiteral("one file at a time, got %1").arg(inputs.size()));
    options.input = inputs.first();
    result.options = options;
    return result;
}

QString sendUsage()
{
    const auto seconds = [](auto duration) {
        return QString::number(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
    };
    return QStringLiteral(
               "Usage: varnet-send [options] FILE|-\n"
               "Sends FILE (or standard input) unchanged to printers.\n"
               "\n"
               "  -p, --printer NAME        raw job to a spooler queue\n"
               "  -H, --host HOST[:PORT]    raw TCP to HOST, port %1 unless given; repeat for several\n"
               "      --ipp URI             raw job straight to an IPP printer\n"
               "      --parallel N          how many destinations at once (default: all)\n"
               "      --connect-timeout S   seconds to wait for a connection (default %2)\n"
               "      --wait-eof S          TCP: after the last byte, wait up to S seconds for the\n"
               "                            printer to close its side (default %3; 0 = wait only\n"
               "                            until every byte is acknowledged)\n"
               "      --stall-timeout S     TCP: give up when the printer takes no byte for S seconds\n"
               "                            (default %4)\n"
               "      --wait                spooler/IPP: wait until the job has ended and report it\n"
               "      --response-timeout S  spooler/IPP: give up when the scheduler or printer has\n"
               "                            neither answered nor taken data for S seconds (default %5)\n"
               "      --title TEXT          job name (default \"%6\")\n"
               "  -q, --quiet               no progress\n"
               "      --json                no progress; a JSON summary on standard output\n"
               "  -h, --help                this text\n"
               "      --version             the version\n"
               "\n"
               "A FILE of - reads standard input.\n"
               "Without a destination the one saved by the Varnet window is used (TCP: port %1).\n"
               "\n")
               .arg(RawPrintPort)
               .arg(seconds(TcpBlockSender::ConnectTimeout), seconds(TcpBlockSender::PeerCloseWait),
                    seconds(TcpBlockSender::StallTimeout),
                    seconds(std::chrono::milliseconds(WaitLimits::DefaultResponseTimeoutMs)),
                    QLatin1String(RawJobDocumentName)) +
           exitStatusHelp(ExitStatusReader::Sender);
}
