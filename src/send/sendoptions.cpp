#include "sendoptions.h"

#include "core/endpoint.h"
#include "core/exitstatus.h"
#include "core/lpdsender.h"
#include "platform/platform.h"

#include <QUrl>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <tuple>

namespace {

// What an option does with its value (empty for a flag), named as "--name"
// in what it says; the error, or empty when the value is usable.
using Apply = std::function<QString(SendOptions &, const QString &value, const QString &name)>;

struct Option
{
    QString shortName; // empty: none; one letter per spelling (lp's -d, lpr's -P)
    QString longName;
    QString valueName;   // empty: a flag
    QString description; // a line break is where --help breaks the line
    Apply apply;
};

QString seconds(std::chrono::milliseconds duration)
{
    return QString::number(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

Apply text(QString SendOptions::*field)
{
    return [field](SendOptions &options, const QString &value, const QString &) {
        options.*field = value;
        return QString();
    };
}

Apply flag(bool SendOptions::*field)
{
    return [field](SendOptions &options, const QString &, const QString &) {
        options.*field = true;
        return QString();
    };
}

// Seconds, kept in milliseconds; a usable value also sets `implied`.
Apply duration(int SendOptions::*field, bool zeroAllowed, bool SendOptions::*implied = nullptr)
{
    return [=](SendOptions &options, const QString &value, const QString &name) {
        bool ok = false;
        const double number = value.toDouble(&ok);
        // nan passes every comparison, and inf or 1e309 is no time at all.
        if (!ok || !std::isfinite(number) || number < 0 || number > 86400)
            return QStringLiteral("%1 needs a number of seconds from 0 to 86400, not \"%2\"").arg(name, value);
        if (number * 1000 < 1 && !zeroAllowed)
            return QStringLiteral("%1 must be more than 0").arg(name);
        options.*field = static_cast<int>(number * 1000);
        if (implied)
            options.*implied = true;
        return QString();
    };
}

Apply wholeNumber(int SendOptions::*field, int lowest, int highest, const char *range)
{
    return [=](SendOptions &options, const QString &value, const QString &name) {
        bool ok = false;
        options.*field = value.toInt(&ok);
        if (ok && options.*field >= lowest && options.*field <= highest)
            return QString();
        return QStringLiteral("%1 needs a whole number %2").arg(name, QLatin1String(range));
    };
}

// Checked as far as it can be before anything is sent.
Apply destination(Destination::Kind kind)
{
    return [kind](SendOptions &options, const QString &value, const QString &) {
        QString error;
        Destination found{kind, value, 0};
        if (kind == Destination::Kind::Printer && value.isEmpty()) {
            error = QStringLiteral("--printer needs a queue name");
        } else if (kind == Destination::Kind::Tcp) {
            const Endpoint endpoint = Endpoint::parse(value, &error).value_or(Endpoint());
            found = {kind, endpoint.host, endpoint.port};
        } else if (kind == Destination::Kind::Ipp && !platform::ippDirect) {
            error = QStringLiteral("--ipp is not available here: add the printer to the system's "
                                   "spooler and use --printer");
        } else if (kind == Destination::Kind::Ipp && !value.startsWith(QLatin1String("ipp://")) &&
                   !value.startsWith(QLatin1String("ipps://"))) {
            error = QStringLiteral("--ipp needs an ipp:// or ipps:// URI, not \"%1\"").arg(value);
        } else if (const QUrl uri(value);
                   kind == Destination::Kind::Ipp && (!uri.isValid() || uri.host().isEmpty())) {
            error = QStringLiteral("--ipp needs a printer's address in the URI, not \"%1\"").arg(value);
        } else if (kind == Destination::Kind::Lpd) {
            // The server is asked for the queue on a line of its own.
            const QString queue = uri.path(QUrl::FullyDecoded).mid(1);
            const auto blank = [](QChar c) { return c.unicode() <= u' '; };
            found.port = static_cast<quint16>(uri.port(LpdPort));
            if (uri.scheme() != QLatin1String("lpd") || !uri.isValid() || uri.host().isEmpty() ||
                found.port == 0 || queue.isEmpty() ||
                std::any_of(queue.cbegin(), queue.cend(), blank))
                error = QStringLiteral("--lpd needs lpd://HOST[:PORT]/QUEUE, not \"%1\"")
                            .arg(value);
        }
        if (error.isEmpty())
            options.destinations.append(found);
        return error;
    };
}

// In the order --help lists them: parsing, --help and the usage errors all
// come from here.
const QList<Option> &sendOptions()
{
    using Kind = Destination::Kind;
    static const QList<Option> table{
        {"pdP", "printer", "NAME", "raw job to a spooler queue; repeat for several",
         destination(Kind::Printer)},
        {"H", "host", "HOST[:PORT]",
         QStringLiteral("raw TCP to HOST, port %1 unless given; repeat for several").arg(RawPrintPort),
         destination(Kind::Tcp)},
        {"", "ipp", "URI",
         platform::ippDirect ? "raw job straight to an IPP printer"
                             : "not on Windows: add the printer to the spooler",
         destination(Kind::Ipp)},
        {"", "lpd", "URI",
         QStringLiteral("raw job to an LPD queue, lpd://HOST[:PORT]/QUEUE,\nport %1 unless given")
             .arg(LpdPort),
         destination(Kind::Lpd)},
        {"", "parallel", "N", "how many destinations at once (default: all)",
         wholeNumber(&SendOptions::parallel, 1, std::numeric_limits<int>::max(), "of at least 1")},
        {"", "connect-timeout", "S",
         "seconds to wait for a connection (default " + seconds(TcpBlockSender::ConnectTimeout) + ")",
         duration(&SendOptions::connectTimeoutMs, false)},
        {"", "wait-eof", "S",
         QStringLiteral("TCP/LPD: after the last byte, wait up to S seconds\nfor the printer to "
                        "close its side (default %1;\n0 = wait only until every byte is acknowledged)")
             .arg(seconds(TcpBlockSender::PeerCloseWait)),
         duration(&SendOptions::waitEofMs, true)},
        {"", "stall-timeout", "S",
         "TCP/LPD: give up when the printer takes no byte, or an\nLPD server gives no answer, "
         "for S seconds\n(default " + seconds(TcpBlockSender::StallTimeout) + ")",
         duration(&SendOptions::stallTimeoutMs, false)},
        {"", "wait", "",
         platform::snmpAgent ? "wait until the job has ended and report it; TCP:\nfollow the printer over SNMP until it "
                               "is idle again,\nand count the pages it printed"
                             : "wait until the job has ended and report it; not for\nTCP on Windows (no SNMP there)",
         flag(&SendOptions::waitForJob)},
        {"", "wait-timeout", "S",
         "stop following the job or printer after S seconds\n(implies --wait); a queued job stays queued",
         duration(&SendOptions::waitTimeoutMs, false, &SendOptions::waitForJob)},
        {"", "check", "",
         platform::snmpAgent ? "TCP: ask the printer over SNMP first; send nothing to\none that reports it cannot "
                               "print (no paper, jammed, ...)"
                             : "not on Windows (no SNMP there): the file goes unchecked",
         flag(&SendOptions::check)},
        {"", "status", "",
         platform::snmpAgent ? "no FILE: ask each --host printer over SNMP for its state,\nalerts, page counter and model"
                             : "not on Windows (no SNMP there)",
         flag(&SendOptions::status)},
        {"", "snmp-community", "NAME", "SNMP community (default public)", text(&SendOptions::snmpCommunity)},
        {"", "snmp-port", "N", "the printers' SNMP port (default 161)",
         wholeNumber(&SendOptions::snmpPort, 1, 65535, "from 1 to 65535")},
        {"", "retry", "N",
         "try a destination up to N more times while nothing\nwent out to it: refused, timed "
         "out, not found, busy,\nscheduler away (default 0)",
         wholeNumber(&SendOptions::retries, 0, 1000, "from 0 to 1000")},
        {"", "retry-delay", "S",
         QStringLiteral("seconds before the first retry, doubled for each\nfurther one up to %1 (default 5)")
             .arg(RetryDelayCapMs / 1000),
         duration(&SendOptions::retryDelayMs, true)},
        {"", "keep-going", "", "several files: a destination that failed still gets\nthe later ones",
         flag(&SendOptions::keepGoing)},
        {"", "response-timeout", "S",
         "spooler/IPP: give up when the scheduler or printer has\nneither answered nor taken data "
         "for S seconds (default " + seconds(std::chrono::milliseconds(WaitLimits::DefaultResponseTimeoutMs)) + ")",
         duration(&SendOptions::responseTimeoutMs, false)},
        {"t", "title", "TEXT", QStringLiteral("job name (default \"%1\")").arg(QLatin1String(RawJobDocumentName)),
         text(&SendOptions::title)},
        {"", "server", "SERVER",
         "the scheduler for queues and the default destination:\nHOST[:PORT] or a socket, as CUPS_SERVER",
         text(&SendOptions::server)},
        {"q", "quiet", "", "nothing on success: no progress, no summary; failures\nstill go to standard error",
         flag(&SendOptions::quiet)},
        {"", "json", "", "no progress; a JSON summary on standard output", flag(&SendOptions::json)},
        {"h", "help", "", "this text", flag(&SendOptions::help)},
        {"", "version", "", "the version", flag(&SendOptions::version)},
    };
    return table;
}

// By either name, as given after - or --.
const Option *named(QStringView name)
{
    const QList<Option> &options = sendOptions();
    const auto found = std::find_if(options.cbegin(), options.cend(), [name](const Option &option) {
        return option.longName == name || (name.size() == 1 && option.shortName.contains(name));
    });
    return found == options.cend() ? nullptr : &*found;
}

// Short options run together; one that takes a value takes the rest of
// the argument (after an optional =), else the next one.
template <typename Take, typename Mistake>
void readShortOptions(const QString &argument, const Take &take, const Mistake &mistake)
{
    for (qsizetype letter = 1; letter < argument.size(); ++letter) {
        const Option *option = named(QStringView(argument).sliced(letter, 1));
        const bool assigned = argument.indexOf(u'=') == letter + 1;
        // Worded as it always was, unlike the other mistakes.
        if (option && option->valueName.isEmpty() && assigned) {
            mistake(3, QStringLiteral("Unexpected value after '%1'.").arg(argument.left(letter + 1)));
            return;
        }
        if (option && !option->valueName.isEmpty()) {
            take(option, letter + 1 == argument.size()
                             ? std::nullopt
                             : std::optional(argument.sliced(letter + 1 + assigned)));
            return;
        }
        take(option, std::nullopt);
    }
}

} // namespace

QString Destination::label() const
{
    return kind == Kind::Tcp ? Endpoint{name, port}.label() : name;
}

QString Destination::host() const
{
    return kind == Kind::Tcp ? name : kind == Kind::Lpd ? QUrl(name).host() : QString();
}

QString Destination::kindName() const
{
    static const char *const names[] = {"printer", "tcp", "ipp", "lpd"}; // in Kind's order
    return QLatin1String(names[static_cast<int>(kind)]);
}

SendOptions parseSendArguments(const QStringList &arguments)
{
    SendOptions options;
    // The first mistake of the worst kind: an unknown name, a value given to
    // a flag, one missing, one given to a flag among short options, one not
    // usable. Help or the version asked for before it still wins.
    struct Mistake { std::size_t kind = 5; QString text; bool help = false; bool version = false; };
    Mistake worst;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const Mistake before{0, QString(), options.help, options.version};
        const auto mistake = [&](std::size_t kind, const QString &text) {
            if (kind < worst.kind)
                worst = {kind, text, before.help, before.version};
        };
        // Later values win; destinations keep the order given.
        const auto take = [&](const Option *option, const std::optional<QString> &attached) {
            const QString name = argument.section(u'=', 0, 0);
            const bool flag = option && option->valueName.isEmpty();
            if (!option)
                mistake(0, QStringLiteral("unknown option ") + name);
            else if (flag && attached)
                mistake(1, name + QStringLiteral(" takes no value"));
            else if (!flag && !attached && i + 1 == arguments.size())
                mistake(2, argument + QStringLiteral(" needs a value"));
            else if (const QString error =
                         option->apply(options, flag ? QString() : attached ? *attached : arguments.at(++i),
                                       QStringLiteral("--") + option->longName);
                     !error.isEmpty())
                mistake(4, error);
        };
        if (argument == QLatin1String("--")) {
            options.inputs += arguments.mid(i + 1);
            break;
        }
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(u'=');
            take(named(QStringView(argument).sliced(2, (equals < 0 ? argument.size() : equals) - 2)),
                 equals < 0 ? std::nullopt : std::optional(argument.sliced(equals + 1)));
            continue;
        }
        if (argument.startsWith(u'-') && argument.size() > 1)
            readShortOptions(argument, take, mistake);
        else
            options.inputs << argument;
    }
    const bool toDo = !options.help && !options.version;
    const bool onlyHosts = std::all_of(options.destinations.cbegin(), options.destinations.cend(),
                                       [](const Destination &to) { return to.kind == Destination::Kind::Tcp; });
    if (worst.kind < 5)
        std::tie(options.error, options.help, options.version) =
            std::tuple(worst.text, worst.help, worst.version);
    else if (toDo && options.status &&
             (!options.inputs.isEmpty() || options.destinations.isEmpty() || !onlyHosts))
        options.error = QStringLiteral("--status asks printers given with --host, and takes no file");
    else if (toDo && options.inputs.count(QStringLiteral("-")) > 1)
        options.error = QStringLiteral("- (standard input) may be given only once");
    return options;
}

QString sendUsage()
{
    // Laid out by hand as it always was: the manual page and the shell
    // completion are made from it.
    QString text = QStringLiteral("Usage: varnet-send [options] [FILE...]\n"
                                  "Sends each FILE (or standard input) unchanged to printers.\n\n");
    const QString indent(28, u' ');
    for (const Option &option : sendOptions()) {
        QString line = QStringLiteral("  ");
        for (const QChar letter : option.shortName)
            line += u'-' + letter + QStringLiteral(", ");
        line = line.leftJustified(6) + QStringLiteral("--") + option.longName;
        if (!option.valueName.isEmpty())
            line += u' ' + option.valueName;
        // Too wide for the column: the text starts on a line of its own.
        text += (line.size() < indent.size() ? line.leftJustified(indent.size()) : line + u'\n' + indent) +
                QString(option.description).replace(u'\n', u'\n' + indent) + u'\n';
    }
    return text +
           QStringLiteral("\nEach FILE is a job of its own; a FILE of - reads standard input "
                          "(once), as does\nno FILE when standard input is not a terminal.\n"
                          "Without a destination, as for lp: $LPDEST, else $PRINTER, "
                          "else the one saved\nby the Varnet window (TCP: port %1), else the "
                          "scheduler's default printer.\nWhat was delivered is told on standard "
                          "output, every failure on standard error.\n\n"
                          "Examples:\n"
                          "  varnet-send -H 192.0.2.10 -H 192.0.2.11:9101 firmware.bin\n"
                          "  some-generator | varnet-send -q -d Labels -t \"Shipping labels\"\n"
                          "  varnet-send --retry 4 --retry-delay 4 -H 192.0.2.10 first.pcl second.pcl\n"
                          "  varnet-send --json --ipp ipp://printer.local/ipp/print --wait job.pcl\n"
                          "  varnet-send --lpd lpd://printserver.local/raw label.zpl\n"
                          "  varnet-send --status -H 192.0.2.10 -H 192.0.2.11\n"
                          "  varnet-send --check --wait -H 192.0.2.10 labels.zpl\n\n")
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
