#include "sendoptions.h"

#include <QHostAddress>
#include <QUrl>

#include <cmath>

namespace {

constexpr quint16 RawPrintPort = 9100;

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

std::optional<quint16> portNumber(const QString &text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

// Options that take a value, in both spellings.
bool takesValue(const QString &option)
{
    static const QStringList withValue{"-p", "--printer", "-H", "--host", "--ipp",
                                       "--parallel", "--connect-timeout", "--wait-eof", "--title"};
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
        // Joined, not substituted: a scope such as "%1" in an IPv6 address stays.
        if (name.contains(QLatin1Char(':')))
            return QLatin1Char('[') + name + QStringLiteral("]:") + QString::number(port);
        return name + QLatin1Char(':') + QString::number(port);
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

std::optional<Destination> parseHostPort(const QString &text, QString *error)
{
    Destination destination;
    destination.kind = Destination::Kind::Tcp;
    destination.port = RawPrintPort;
    QString host = text;
    QString portText;

    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            *error = QStringLiteral("missing ] in host \"%1\"").arg(text);
            return std::nullopt;
        }
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':'))) {
                *error = QStringLiteral("unexpected text after ] in host \"%1\"").arg(text);
                return std::nullopt;
            }
            portText = rest.mid(1);
        }
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        host = text.left(colon);
        portText = text.mid(colon + 1);
    }
    // Several colons without brackets: an IPv6 literal, default port.

    if (host.isEmpty()) {
        *error = QStringLiteral("no host in \"%1\"").arg(text);
        return std::nullopt;
    }
    if (host.contains(QLatin1Char(':')) && QHostAddress(host).protocol() != QHostAddress::IPv6Protocol) {
        *error = QStringLiteral("\"%1\" is not an IPv6 address").arg(host);
        return std::nullopt;
    }
    if (!portText.isNull()) {
        const std::optional<quint16> port = portNumber(portText);
        if (!port) {
            *error = QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(portText);
            return std::nullopt;
        }
        destination.port = *port;
    }
    destination.name = host;
    return destination;
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
            const std::optional<Destination> destination = parseHostPort(value, &error);
            if (!destination)
                return fail(error);
            options.destinations.append(*destination);
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
        } else if (argument == QLatin1String("--wait-eof")) {
            const std::optional<int> ms = seconds(value, argument, &error);
            if (!ms)
                return fail(error);
            options.waitEofMs = *ms;
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
    return QStringLiteral(
        "Usage: varnet-send [options] FILE|-\n"
        "Sends FILE (or standard input) unchanged to printers.\n"
        "\n"
        "  -p, --printer NAME        raw job to a spooler queue\n"
        "  -H, --host HOST[:PORT]    raw TCP to HOST, port 9100 unless given; repeat for several\n"
        "      --ipp URI             raw job straight to an IPP printer\n"
        "      --parallel N          how many destinations at once (default: all)\n"
        "      --connect-timeout S   seconds to wait for a connection (default 10)\n"
        "      --wait-eof S          TCP: after the last byte, wait up to S seconds for the\n"
        "                            printer to close its side (default 30; 0 = don't wait)\n"
        "      --wait                spooler/IPP: wait until the job has ended and report it\n"
        "      --title TEXT          job name (default \"Command Print\")\n"
        "  -q, --quiet               no progress\n"
        "      --json                no progress; a JSON summary on standard output\n"
        "  -h, --help                this text\n"
        "      --version             the version\n"
        "\n"
        "A FILE of - reads standard input.\n"
        "Without a destination the one saved by the Varnet window is used (TCP: port 9100).\n"
        "\n"
        "Exit status:\n"
        "  0    all delivered\n"
        "  2    usage error\n"
        "  3    unreadable input\n"
        "  4    connection failure (also an unknown queue)\n"
        "  5    transfer failure\n"
        "  6    spooler refusal (with --wait also a job aborted or canceled)\n"
        "  7    partly delivered\n"
        "  130  interrupted\n");
}
