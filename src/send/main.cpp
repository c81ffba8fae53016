#include "bytesource.h"
#include "common/localpath.h"
#include "common/settingscodec.h"
#include "common/startupsettings.h"
#include "platform/platform.h"
#include "platform/tcpconnection.h"
#include "progressview.h"
#include "sendoptions.h"
#include "sendreport.h"
#include "sendscheduler.h"
#include "transmission/endpoint.h"
#include "varnetversion.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

void printError(const QString &message)
{
    std::fprintf(stderr, "varnet-send: %s\n", LocalPath::printable(message).toLocal8Bit().constData());
}

// "-", or a name for it such as /dev/stdin.
bool namesStandardInput(const QString &input)
{
    return input == QLatin1String("-") ||
           platform::console::isStandardInput(LocalPath::toBytes(input).toStdString());
}

// The window's saved destination: its printer, or its address on the raw printing port.
std::optional<Destination> savedDestination()
{
    const std::optional<bool> printerQueue = optFromText(StartupSettings::read(StartupSettings::KeyOpt));
    if (printerQueue.value_or(true)) {
        const QString printer = StartupSettings::read(StartupSettings::KeyPrinter);
        if (printer.isEmpty())
            return std::nullopt;
        return Destination{Destination::Kind::Printer, printer, 0};
    }
    const QString ip = StartupSettings::read(StartupSettings::KeyIp);
    if (ip.isEmpty())
        return std::nullopt;
    // The window connects to the address as typed, on the default port (its port is never saved).
    return Destination{Destination::Kind::Tcp, ip, RawPrintPort};
}

// Every destination reported as never reached, for an input given up on.
QList<DestinationResult> nothingStarted(const QList<Destination> &destinations)
{
    QList<DestinationResult> results;
    for (const Destination &destination : destinations) {
        DestinationResult result; // not started
        result.destination = destination;
        result.error = QStringLiteral("interrupted while the input was being read");
        results.append(result);
    }
    return results;
}

void printSummary(const SendOptions &options, qint64 inputBytes,
                  const QList<DestinationResult> &results, int code)
{
    if (options.json)
        std::fputs(jsonSummary(options.input, inputBytes, results, code,
                               platform::console::peakMemoryKiB())
                       .constData(),
                   stdout);
    else
        std::fputs(textSummary(results).toLocal8Bit().constData(), stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything else can open a descriptor.
    const bool inputClosed = platform::console::holdStandardDescriptors();
    // As bytes: a file name need not be UTF-8.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << LocalPath::fromBytes(QByteArray(argv[i]));

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnet-send"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNET_VERSION));

    const ParsedArguments parsed = parseSendArguments(arguments);
    if (parsed.showHelp) {
        std::fputs(sendUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.showVersion) {
        std::puts("varnet-send " VARNET_VERSION);
        return 0;
    }
    if (!parsed.options) {
        printError(parsed.error);
        std::fputs(sendUsage().toLocal8Bit().constData(), stderr);
        return SendExit::Usage;
    }
    SendOptions options = *parsed.options;
    if (options.destinations.isEmpty()) {
        const std::optional<Destination> saved = savedDestination();
        if (!saved) {
            printError(QStringLiteral("no destination given, and the Varnet window has saved none"));
            return SendExit::Usage;
        }
        options.destinations.append(*saved);
    }

    if (inputClosed && namesStandardInput(options.input)) {
        printError(QStringLiteral("standard input is closed"));
        return SendExit::InputUnreadable;
    }

    // A connection to each printer at once may need more descriptors than
    // the soft limit gives; the hard limit is what the system allows. Raised
    // first, so that what is done when the program is killed covers them all.
    platform::console::raiseOpenFileLimit();
    // The signals handled below cancel cleanly; this covers the rest (SIGQUIT).
    platform::tcp::resetConnectionsWhenKilled();
    // Set up before the input is opened: keeping a stream that never comes
    // must still give way to Ctrl-C.
    const int interrupts = platform::console::catchInterrupts();

    QString error;
    bool interrupted = false;
    // Destinations that must wait their turn need the input from its start.
    ByteSource::OpenOptions opening;
    opening.replayable = (options.parallel > 0 && options.parallel < options.destinations.size()) ||
                         !SendScheduler::allFitAtOnce(options.destinations);
    opening.interruptFd = interrupts;
    std::unique_ptr<ByteSource> source = ByteSource::open(options.input, &error, opening, &interrupted);
    if (interrupted) {
        const QList<DestinationResult> results = nothingStarted(options.destinations);
        const int code = exitCodeFor(results, true);
        printSummary(options, -1, results, code);
        return code;
    }
    if (!source) {
        printError(error);
        return SendExit::InputUnreadable;
    }

    SendScheduler scheduler(options, std::move(source));
    ProgressView progress(scheduler);
    if (!options.quiet && !options.json && platform::console::errorIsTerminal())
        progress.start();

    // A call into the printing library that cannot be interrupted (a TLS
    // handshake with a printer that trickles or says nothing) must not keep
    // the program from ending: a second Ctrl-C, or this long after the first
    // (time for a withdrawal to be answered), ends it at once. What is still
    // open is reset, and the summary says what is known.
    constexpr int LastResortMs = 12000;
    const auto endNow = [&options, &scheduler] {
        const QList<DestinationResult> results = scheduler.results();
        const int code = exitCodeFor(results, true);
        printSummary(options, scheduler.knownInputLength(), results, code);
        std::fflush(nullptr);
        platform::tcp::resetConnectionsAtExit();
        std::_Exit(code);
    };
    QTimer lastResort;
    lastResort.setSingleShot(true);
    QObject::connect(&lastResort, &QTimer::timeout, &scheduler, endNow);

    QSocketNotifier interruptions(interrupts, QSocketNotifier::Read);
    QObject::connect(&interruptions, &QSocketNotifier::activated, &scheduler, [&] {
        platform::console::takeInterrupt(interrupts);
        if (scheduler.interrupted())
            endNow();
        scheduler.interrupt();
        lastResort.start(LastResortMs);
    });

    QObject::connect(&scheduler, &SendScheduler::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    scheduler.start();
    app.exec();

    const QList<DestinationResult> results = scheduler.results();
    const int code = exitCodeFor(results, scheduler.interrupted());
    printSummary(options, scheduler.knownInputLength(), results, code);
    // A host name given up on may still be being looked up, and the
    // application would wait for that lookup as it ends, as long as the name
    // service takes. Every connection is closed by now; nothing is left to do.
    const bool namedHost = std::any_of(
        options.destinations.cbegin(), options.destinations.cend(), [](const Destination &target) {
            return target.kind == Destination::Kind::Tcp && !QHostAddress().setAddress(target.name);
        });
    if (namedHost) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
