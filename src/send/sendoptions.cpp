#include "sendoptions.h"

#include "core/endpoint.h"
#include "core/exitstatus.h"

#include <QCommandLineParser>
#include <QHash>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

QString seconds(std::chrono::milliseconds duration)
{
    return QString::number(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

// In the order --help lists them; a line break in a description is where
// --help breaks the line.
const QList<QCommandLineOption> &sendOptions()
{
    static const QList<QCommandLineOption> options{
        {{"p", "printer"}, "raw job to a spooler queue", "NAME"},
        {{"H", "host"},
         QStringLiteral("raw TCP to HOST, port %1 unless given; repeat for several").arg(RawPrintPort),
         "HOST[:PORT]"},
        {"ipp", "raw job straight to an IPP printer", "URI"},
        {"parallel", "how many destinations at once (default: all)", "N"},
        {"connect-timeout",
         QStringLiteral("seconds to wait for a connection (default %1)")
             .arg(seconds(TcpBlockSender::ConnectTimeout)),
         "S"},
        {"wait-eof",
         QStringLiteral("TCP: after the last byte, wait up to S seconds for the\nprinter to close "
                        "its side (default %1; 0 = wait only\nuntil every byte is acknowledged)")
             .arg(seconds(TcpBlockSender::PeerCloseWait)),
         "S"},
        {"stall-timeout",
         QStringLiteral("TCP: give up when the printer takes no byte for S seconds\n(default %1)")
             .arg(seconds(TcpBlockSender::StallTimeout)),
         "S"},
        {"wait", "spooler/IPP: wait until the job has ended and report it"},
        {"wait-timeout",
         "spooler/IPP: stop following the job after S seconds\n(implies --wait); the job "
         "stays queued",
         "S"},
        {"retry",
         "try a destination up to N more times while nothing\nwent out to it: refused, timed "
         "out, not found, busy,\nscheduler away (default 0)",
         "N"},
        {"retry-delay",
         QStringLiteral("seconds before the first retry, doubled for each\nfurther one up to "
                        "%1 (default 5)")
             .arg(RetryDelayCapMs / 1000),
         "S"},
        {"keep-going", "several files: a destination that failed still gets\nthe later ones"},
        {"response-timeout",
         QStringLiteral("spooler/IPP: give up when the scheduler or printer has\nneither answered "
                        "nor taken data for S seconds (default %1)")
             .arg(seconds(std::chrono::milliseconds(WaitLimits::DefaultResponseTimeoutMs))),
         "S"},
        {"title", QStringLiteral("job name (default \"%1\")").arg(QLatin1String(RawJobDocumentName)),
         "TEXT"},
        {{"q", "quiet"}, "no progress"},
        {"json", "no progress; a JSON summary on standard output"},
        {{"h", "help"}, "this text"},
        {"version", "the version"},
    };
    return options;
}

// The option a name found on the command line belongs to, by its last
// (long) name.
QString longName(const QString &name)
{
    for (const QCommandLineOption &option : sendOptions()) {
        if (option.names().contains(name))
            return option.names().constLast();
    }
    return name;
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Sends FILE (or standard input) unchanged to printers."));
    parser.addOptions(sendOptions());
    parser.addPositionalArgument(
        QStringLiteral("FILE..."),
        QStringLiteral("the files to send, each as a job of its own; - reads standard input"));
}

// Worded as the other usage errors are, naming the argument as it was
// given (at: its place); Qt's own texts drop the dashes.
QString usageError(const QCommandLineParser &parser, const QStringList &arguments, qsizetype *at)
{
    const QStringList unknown = parser.unknownOptionNames();
    for (*at = 0; *at < arguments.size(); ++*at) {
        const QString &argument = arguments.at(*at);
        if (argument == QLatin1String("--"))
            break;
        const QString name = argument.section(QLatin1Char('='), 0, 0);
        const bool isLong = argument.startsWith(QLatin1String("--"));
        if (!unknown.isEmpty() &&
            (isLong ? name.mid(2) == unknown.first()
                    : argument.startsWith(QLatin1Char('-')) && unknown.first().size() == 1 &&
                          argument.contains(unknown.first())))
            return QStringLiteral("unknown option %1").arg(name);
        if (unknown.isEmpty() && isLong && argument.contains(QLatin1Char('='))) {
            for (const QCommandLineOption &option : sendOptions()) {
                if (option.valueName().isEmpty() && option.names().contains(name.mid(2)))
                    return QStringLiteral("%1 takes no value").arg(name);
            }
        }
    }
    *at = arguments.size() - 1;
    if (unknown.isEmpty() && !arguments.isEmpty() && arguments.last().startsWith(QLatin1Char('-')))
        return QStringLiteral("%1 needs a value").arg(arguments.last());
    return parser.errorText();
}

std::optional<int> milliseconds(const QString &text, const QString &option, bool zeroAllowed,
                                QString *error)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    // nan passes every comparison, and inf or 1e309 is no time at all.
    if (!ok || !std::isfinite(value) || value < 0 || value > 86400) {
        *error = QStringLiteral("%1 needs a number of seconds from 0 to 86400, not \"%2\"")
                     .arg(option, text);
        return std::nullopt;
    }
    if (value * 1000 < 1 && !zeroAllowed) {
        *error = QStringLiteral("%1 must be more than 0").arg(option);
        return std::nullopt;
    }
    return static_cast<int>(value * 1000);
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
    static const char *const names[] = {"printer", "tcp", "ipp"}; // in Kind's order
    return QLatin1String(names[static_cast<int>(kind)]);
}

ParsedArguments parseSendArguments(const QStringList &arguments)
{
    ParsedArguments result;
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(QStringList{QStringLiteral("varnet-send")} + arguments)) {
        qsizetype at = 0;
        result.error = usageError(parser, arguments, &at);
        // Help or the version asked for before the mistake still wins.
        for (const QString &argument : arguments.mid(0, at)) {
            result.showHelp = result.showHelp || argument == QLatin1String("-h") ||
                              argument == QLatin1String("--help");
            result.showVersion = result.showVersion || argument == QLatin1String("--version");
        }
        return result;
    }

    // Option by option in the order given, so destinations keep their order
    // across -p, -H and --ipp, and a later value wins.
    SendOptions options;
    QHash<QString, qsizetype> used;
    for (const QString &found : parser.optionNames()) {
        const QString name = longName(found);
        const QString option = QStringLiteral("--") + name;
        const QString value = parser.values(name).value(used[name]++);
        QString error;
        const auto timeout = [&](int *ms, bool zeroAllowed) {
            const std::optional<int> given = milliseconds(value, option, zeroAllowed, &error);
            if (given)
                *ms = *given;
            return given.has_value();
        };
        if (name == QLatin1String("help")) {
            result.showHelp = true;
        } else if (name == QLatin1String("version")) {
            result.showVersion = true;
        } else if (name == QLatin1String("printer")) {
            if (value.isEmpty())
                error = QStringLiteral("--printer needs a queue name");
            else
                options.destinations.append({Destination::Kind::Printer, value, 0});
        } else if (name == QLatin1String("host")) {
            if (const std::optional<Endpoint> endpoint = Endpoint::parse(value, &error))
                options.destinations.append({Destination::Kind::Tcp, endpoint->host, endpoint->port});
        } else if (name == QLatin1String("ipp")) {
            if (!value.startsWith(QLatin1String("ipp://")) && !value.startsWith(QLatin1String("ipps://")))
                error = QStringLiteral("--ipp needs an ipp:// or ipps:// URI, not \"%1\"").arg(value);
            else if (const QUrl uri(value); !uri.isValid() || uri.host().isEmpty())
                error = QStringLiteral("--ipp needs a printer's address in the URI, not \"%1\"").arg(value);
            else
                options.destinations.append({Destination::Kind::Ipp, value, 0});
        } else if (name == QLatin1String("parallel")) {
            bool ok = false;
            options.parallel = value.toInt(&ok);
            if (!ok || options.parallel < 1)
                error = QStringLiteral("--parallel needs a whole number of at least 1");
        } else if (name == QLatin1String("connect-timeout")) {
            timeout(&options.connectTimeoutMs, false);
        } else if (name == QLatin1String("response-timeout")) {
            timeout(&options.responseTimeoutMs, false);
        } else if (name == QLatin1String("wait-eof")) {
            timeout(&options.waitEofMs, true);
        } else if (name == QLatin1String("stall-timeout")) {
            timeout(&options.stallTimeoutMs, false);
        } else if (name == QLatin1String("wait")) {
            options.waitForJob = true;
        } else if (name == QLatin1String("wait-timeout")) {
            options.waitForJob = timeout(&options.waitTimeoutMs, false);
        } else if (name == QLatin1String("retry")) {
            bool ok = false;
            options.retries = value.toInt(&ok);
            if (!ok || options.retries < 0 || options.retries > 1000)
                error = QStringLiteral("--retry needs a whole number from 0 to 1000");
        } else if (name == QLatin1String("retry-delay")) {
            timeout(&options.retryDelayMs, true);
        } else if (name == QLatin1String("keep-going")) {
            options.keepGoing = true;
        } else if (name == QLatin1String("title")) {
            options.title = value;
        } else if (name == QLatin1String("quiet")) {
            options.quiet = true;
        } else if (name == QLatin1String("json")) {
            options.json = true;
        }
        if (!error.isEmpty()) {
            result.error = error;
            return result;
        }
    }

    if (result.showHelp || result.showVersion)
        return result;
    const QStringList inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        result.error = QStringLiteral("no file given (use - for standard input)");
    else if (inputs.count(QStringLiteral("-")) > 1)
        result.error = QStringLiteral("- (standard input) may be given only once");
    if (!result.error.isEmpty())
        return result;
    options.inputs = inputs;
    options.input = inputs.first();
    result.options = options;
    return result;
}

QString sendUsage()
{
    // Laid out by hand as it always was: the manual page and the shell
    // completion are made from it.
    QString text = QStringLiteral("Usage: varnet-send [options] FILE...\n"
                                  "Sends each FILE (or standard input) unchanged to printers.\n\n");
    for (const QCommandLineOption &option : sendOptions()) {
        const QStringList names = option.names();
        QString line = names.size() > 1 ? QStringLiteral("  -%1, --%2").arg(names.first(), names.last())
                                        : QStringLiteral("      --") + names.first();
        if (!option.valueName().isEmpty())
            line += u' ' + option.valueName();
        const QString indent(28, u' ');
        text += line.leftJustified(indent.size()) +
                option.description().replace(u'\n', u'\n' + indent) + u'\n';
    }
    return text +
           QStringLiteral("\nEach FILE is a job of its own; a FILE of - reads standard input "
                          "(once).\nWithout a destination, as for lp: $LPDEST, else $PRINTER, "
                          "else the one saved\nby the Varnet window (TCP: port %1), else the "
                          "scheduler's default printer.\n\n")
               .arg(RawPrintPort) +
           QString::fromStdString(exitStatusHelp(ExitStatusReader::Sender));
}

int retryDelayMs(const SendOptions &options, int attempt)
{
    qint64 delay = options.retryDelayMs;
    for (int retry = 2; retry < attempt && delay < RetryDelayCapMs; ++retry)
        delay *= 2;
    return static_cast<int>(std::min<qint64>(delay, RetryDelayCapMs));
}
