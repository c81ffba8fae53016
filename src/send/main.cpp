#include "core/bytesource.h"
#include "defaultdestination.h"
#include "core/localpath.h"
#include "platform/platform.h"
#include "progressview.h"
#include "sendoptions.h"
#include "sendreport.h"
#include "sendscheduler.h"
#include "core/endpoint.h"
#include "varnetversion.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
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

// What is wrong, and where to learn more; the whole usage would bury the first.
int usageError(const QString &message)
{
    printError(message);
    std::fputs("Try 'varnet-send --help' for more information.\n", stderr);
    return SendExit::Usage;
}

// Every destination reported as never tried with input, for the reason given.
QList<DestinationResult> notTried(const QList<Destination> &destinations, const QString &input,
                                  SendOutcome outcome, const QString &why)
{
    QList<DestinationResult> results;
    for (const Destination &destination : destinations) {
        DestinationResult result;
        result.destination = destination;
        result.outcome = outcome;
        result.input = input;
        result.error = why;
        results.append(result);
    }
    return results;
}

void printSummary(const SendOptions &options, const QList<InputSummary> &inputs,
                  const QList<DestinationResult> &results, int code)
{
    if (options.json)
        std::fputs(jsonSummary(inputs, results, code, platform::console::peakMemoryKiB())
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
    if (!parsed.options)
        return usageError(parsed.error);
    SendOptions options = *parsed.options;
    // A second reader of standard input would find it used up, and send an empty job.
    if (std::count_if(options.inputs.cbegin(), options.inputs.cend(), namesStandardInput) > 1)
        return usageError(QStringLiteral("standard input may be given only once"));
    QString origin; // why the destination, when none was given
    if (options.destinations.isEmpty()) {
        const std::optional<DefaultDestination> chosen = defaultDestination();
        if (!chosen)
            return usageError(QStringLiteral(
                "no destination given, and there is no default: LPDEST and PRINTER are not set, "
                "the Varnet window saved none, and the scheduler has no default printer"));
        options.destinations.append(chosen->destination);
        origin = chosen->origin;
    }

    // A connection to each printer at once may need more descriptors than
    // the soft limit gives; the hard limit is what the system allows.
    platform::console::raiseOpenFileLimit();
    // Set up before the input is opened: keeping a stream that never comes
    // must still give way to Ctrl-C.
    const int interrupts = platform::console::catchInterrupts();
    int signal = 0; // the one that interrupted, ended by once the summary is out
    SendScheduler *running = nullptr;
    QList<DestinationResult> results;
    QList<InputSummary> inputs;
    const auto summarize = [&](QList<DestinationResult> known) {
        for (DestinationResult &result : known)
            result.origin = origin;
        const int code = exitCodeFor(known, signal != 0);
        printSummary(options, inputs, known, code);
        return code;
    };

    // A call into the printing library that cannot be interrupted (a TLS
    // handshake with a printer that trickles or says nothing) must not keep
    // the program from ending: a second Ctrl-C, or this long after the first
    // (time for a withdrawal to be answered), ends it at once. What is still
    // open is reset, the summary says what is known, and the program ends by
    // the signal as it would otherwise.
    constexpr int LastResortMs = 12000;
    const auto endNow = [&] {
        QList<DestinationResult> known = results;
        if (running)
            known += running->results();
        summarize(known);
        platform::console::endBySignal(signal);
    };
    QTimer lastResort;
    lastResort.setSingleShot(true);
    QObject::connect(&lastResort, &QTimer::timeout, &app, endNow);

    QSocketNotifier interruptions(interrupts, QSocketNotifier::Read);
    QObject::connect(&interruptions, &QSocketNotifier::activated, &app, [&] {
        const int taken = platform::console::takeInterrupt(interrupts);
        if (taken == 0)
            return;
        if (signal != 0)
            endNow();
        signal = taken;
        if (running)
            running->interrupt();
        lastResort.start(LastResortMs);
    });

    // Each file is a job of its own at every destination, one file after
    // the other; a destination that failed gets no later file unless asked.
    QList<bool> failedBefore(options.destinations.size(), false);
    for (const QString &input : std::as_const(options.inputs)) {
        SendOptions file = options;
        file.input = input;
        file.destinations.clear();
        // This file's results in the destinations' order; the skipped are known now.
        QList<DestinationResult> ofFile =
            notTried(options.destinations, input, SendOutcome::NotStarted,
                     QStringLiteral("not tried: an earlier file failed here"));
        QList<qsizetype> indices;
        for (qsizetype i = 0; i < options.destinations.size(); ++i) {
            if (!failedBefore.at(i) || options.keepGoing) {
                file.destinations.append(options.destinations.at(i));
                indices.append(i);
            }
        }
        if (signal != 0) {
            inputs.append({input, -1});
            results += notTried(options.destinations, input, SendOutcome::NotStarted,
                                QStringLiteral("interrupted before this file"));
            continue;
        }
        if (file.destinations.isEmpty()) {
            inputs.append({input, -1});
            results += ofFile;
            continue;
        }

        QString error;
        if (inputClosed && namesStandardInput(input))
            error = QStringLiteral("standard input is closed");
        bool interrupted = false;
        // Destinations that must wait their turn need the input from its start.
        ByteSource::OpenOptions opening;
        opening.replayable = (file.parallel > 0 && file.parallel < file.destinations.size()) ||
                             !SendScheduler::allFitAtOnce(file.destinations);
        opening.interruptFd = interrupts;
        std::unique_ptr<ByteSource> source =
            error.isEmpty() ? ByteSource::open(input, &error, opening, &interrupted) : nullptr;
        if (interrupted) {
            const int taken = platform::console::takeInterrupt(interrupts);
            signal = taken != 0 ? taken : SIGINT;
            inputs.append({input, -1});
            for (const qsizetype i : indices)
                ofFile[i].error = QStringLiteral("interrupted while the input was being read");
            results += ofFile;
            continue;
        }
        if (!source) {
            printError(error);
            // One file: nothing was tried, and the status says why; a
            // caller that reads JSON still gets its summary.
            if (options.inputs.size() == 1 && !options.json)
                return SendExit::InputUnreadable;
            inputs.append({input, -1});
            for (const qsizetype i : indices) {
                ofFile[i].outcome = SendOutcome::InputUnreadable;
                ofFile[i].error = error;
            }
            results += ofFile;
            continue;
        }

        SendScheduler scheduler(file, std::move(source));
        ProgressView progress(scheduler);
        if (!options.quiet && !options.json && platform::console::errorIsTerminal())
            progress.start();
        QEventLoop loop;
        QObject::connect(&scheduler, &SendScheduler::finished, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection);
        running = &scheduler;
        scheduler.start();
        loop.exec();
        running = nullptr;

        const QList<DestinationResult> sent = scheduler.results();
        for (qsizetype i = 0; i < sent.size(); ++i) {
            ofFile[indices.at(i)] = sent.at(i);
            if (sent.at(i).outcome != SendOutcome::Delivered)
                failedBefore[indices.at(i)] = true;
        }
        results += ofFile;
        inputs.append({input, scheduler.knownInputLength()});
    }

    const int code = summarize(results);
    if (signal != 0)
        platform::console::endBySignal(signal);
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
