#include "core/bytesource.h"
#include "core/endpoint.h"
#include "core/localpath.h"
#include "core/settingscodec.h"
#include "core/startupsettings.h"
#include "platform/platform.h"
#include "platform/printercollection.h"
#include "printerwatch.h"
#include "progressview.h"
#include "sendoptions.h"
#include "sendreport.h"
#include "sendscheduler.h"
#include "varnetversion.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <utility>

namespace {

void printError(const QString &message)
{
    std::fprintf(stderr, "varnet-send: %s\n", LocalPath::printable(message, true).toLocal8Bit().constData());
}

// "-", or a name for it such as /dev/stdin.
bool namesStandardInput(const QString &input)
{
    return input == QLatin1String("-") ||
           platform::console::isStandardInput(LocalPath::toBytes(input).toStdString());
}

// The options made whole. Without a destination, the one lp would take:
// $LPDEST, else $PRINTER, else the one saved by the Varnet window, else the
// scheduler's default printer; origin says which it was.
QString complete(SendOptions &options, QString *origin)
{
    using Kind = Destination::Kind;
    // A second reader of standard input would find it used up, and send an empty job.
    if (std::count_if(options.inputs.cbegin(), options.inputs.cend(), namesStandardInput) > 1)
        return QStringLiteral("standard input may be given only once");
    const auto choose = [&](const Destination &destination, const QString &from) {
        options.destinations.append(destination);
        *origin = from;
        return QString();
    };
    if (options.status)
        return QString();
    // As lp and nc: no file is standard input, unless that is the terminal.
    if (options.inputs.isEmpty() && platform::console::inputIsTerminal())
        return QStringLiteral("no file given (use - for standard input)");
    if (options.inputs.isEmpty())
        options.inputs << QStringLiteral("-");
    if (!options.destinations.isEmpty())
        return QString();
    // lp takes "queue/instance" as an option set of the queue, and the
    // instance does not matter for a raw job. Many systems set PRINTER=lp by
    // default for programs of old; the scheduler's own clients pass it over,
    // and so do we.
    for (const char *variable : {"LPDEST", "PRINTER"}) {
        const QString queue = qEnvironmentVariable(variable).section(u'/', 0, 0);
        if (!queue.isEmpty() && (queue != QLatin1String("lp") || qstrcmp(variable, "LPDEST") == 0))
            return choose({Kind::Printer, queue, 0}, u'$' + QLatin1String(variable));
    }
    // The window connects to its address as typed, on the default port
    // (its port is never saved).
    const bool printer = optFromText(StartupSettings::read(StartupSettings::KeyOpt)).value_or(true);
    const QString saved =
        StartupSettings::read(printer ? StartupSettings::KeyPrinter : StartupSettings::KeyIp);
    if (!saved.isEmpty())
        return choose({printer ? Kind::Printer : Kind::Tcp, saved, printer ? quint16(0) : RawPrintPort},
                      QStringLiteral("the %1 saved by the Varnet window")
                          .arg(QLatin1String(printer ? "printer" : "address")));
    const std::string name = createSystemPrinterCollection()->defaultPrinterName();
    if (!name.empty())
        return choose({Kind::Printer, QString::fromStdString(name), 0},
                      QStringLiteral("the scheduler's default printer"));
    return QStringLiteral("no destination given, and there is no default: LPDEST and PRINTER are "
                          "not set, the Varnet window saved none, and the scheduler has no "
                          "default printer");
}

// One run of the program: each file in turn, as a job of its own, to every
// destination, and what came of it all. A destination that failed gets no
// later file unless asked.
class Run
{
public:
    Run(const SendOptions &options, const QString &origin, bool inputClosed, int interrupts)
        : m_options(options), m_origin(origin), m_inputClosed(inputClosed), m_interrupts(interrupts),
          m_interruptions(m_interrupts, QSocketNotifier::Read),
          m_failedBefore(options.destinations.size(), false)
    {
        QObject::connect(&m_interruptions, &QSocketNotifier::activated, [this] { interrupt(); });
    }

    int exec()
    {
        qint64 none = 0;
        if (m_options.status)
            m_results = sendTo(m_options, noInput(), &none);
        for (const QString &input : m_options.inputs) {
            if (!send(input))
                return SendExit::InputUnreadable;
        }
        const int code = summarize(m_results);
        if (m_signal != 0)
            platform::console::endBySignal(m_signal);
        // A host name given up on may still be being looked up, and the
        // application would wait for that lookup as it ends, as long as the
        // name service takes. Every connection is closed; nothing is left to do.
        if (std::any_of(m_options.destinations.cbegin(), m_options.destinations.cend(),
                        [](const Destination &to) {
                            return !to.host().isEmpty() && !QHostAddress().setAddress(to.host());
                        })) {
            std::fflush(nullptr);
            std::_Exit(code);
        }
        return code;
    }

private:
    // False when the run ends here: its only file could not be read.
    bool send(const QString &input)
    {
        m_input = input;
        // This file's results in the destinations' order; the skipped are known now.
        QList<DestinationResult> ofFile(m_options.destinations.size());
        SendOptions file = m_options;
        QList<Destination> &destinations = file.destinations;
        destinations.clear();
        QList<qsizetype> places;
        for (qsizetype i = 0; i < ofFile.size(); ++i) {
            ofFile[i].destination = m_options.destinations.at(i);
            ofFile[i].error = m_signal != 0 ? QStringLiteral("interrupted before this file")
                                            : QStringLiteral("not tried: an earlier file failed here");
            if (m_signal == 0 && (!m_failedBefore.at(i) || m_options.keepGoing)) {
                destinations.append(m_options.destinations.at(i));
                places.append(i);
            }
        }
        qint64 length = -1;
        QString why;
        std::unique_ptr<ByteSource> source = destinations.isEmpty() ? nullptr : open(file, &why);
        const QList<DestinationResult> sent =
            source ? sendTo(file, std::move(source), &length) : QList<DestinationResult>();
        const bool unreadable = !destinations.isEmpty() && sent.isEmpty() && m_signal == 0;
        // One file: nothing was tried, and the status says why; a caller
        // that reads JSON still gets its summary.
        if (unreadable && m_options.inputs.size() == 1 && !m_options.json)
            return false;
        for (qsizetype i = 0; i < places.size(); ++i) {
            DestinationResult &result = ofFile[places.at(i)];
            if (!sent.isEmpty())
                result = sent.at(i);
            else
                std::tie(result.outcome, result.error) =
                    std::pair(unreadable ? SendOutcome::InputUnreadable : SendOutcome::NotStarted, why);
            if (!sent.isEmpty() && result.outcome != SendOutcome::Delivered)
                m_failedBefore[places.at(i)] = true;
        }
        for (DestinationResult &result : ofFile)
            result.input = input;
        m_results += ofFile;
        m_inputs.append({input, length});
        return true;
    }

    std::unique_ptr<ByteSource> open(const SendOptions &file, QString *why)
    {
        if (m_inputClosed && namesStandardInput(m_input))
            *why = QStringLiteral("standard input is closed");
        bool interrupted = false;
        // Destinations that must wait their turn need the input from its
        // start; an LPD server is told its size before the bytes.
        const auto lpd = [](const Destination &to) { return to.kind == Destination::Kind::Lpd; };
        ByteSource::OpenOptions opening;
        opening.replayable = !SendScheduler::allFitAtOnce(file) ||
                             std::any_of(file.destinations.cbegin(), file.destinations.cend(), lpd);
        opening.interruptFd = m_interrupts;
        std::unique_ptr<ByteSource> source =
            why->isEmpty() ? ByteSource::open(m_input, why, opening, &interrupted) : nullptr;
        if (interrupted) {
            const int taken = platform::console::takeInterrupt(m_interrupts);
            m_signal = taken != 0 ? taken : SIGINT;
            *why = QStringLiteral("interrupted while the input was being read");
        } else if (!source) {
            printError(*why);
        }
        return source;
    }

    QList<DestinationResult> sendTo(const SendOptions &file, std::unique_ptr<ByteSource> source,
                                    qint64 *length)
    {
        SendScheduler scheduler(file, std::move(source));
        if (!m_options.quiet && !m_options.json && !m_options.status &&
            platform::console::errorIsTerminal())
            showProgress(scheduler);
        QEventLoop loop;
        QObject::connect(&scheduler, &SendScheduler::finished, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection);
        m_running = &scheduler;
        scheduler.start();
        loop.exec();
        m_running = nullptr;
        *length = scheduler.source().knownLength();
        return scheduler.results();
    }

    void interrupt()
    {
        const int taken = platform::console::takeInterrupt(m_interrupts);
        if (taken == 0)
            return;
        if (m_signal != 0)
            endNow();
        m_signal = taken;
        if (m_running)
            m_running->interrupt();
        // A call into the printing library that cannot be interrupted (a TLS
        // handshake with a printer that trickles or says nothing) must not
        // keep the program from ending: a second Ctrl-C, or this long after
        // the first (time for a withdrawal to be answered), ends it at once.
        QTimer::singleShot(std::chrono::seconds(12), [this] { endNow(); });
    }

    // What is still open is reset, the summary says what is known, and the
    // program ends by the signal as it would otherwise.
    [[noreturn]] void endNow()
    {
        QList<DestinationResult> known = m_results;
        for (DestinationResult result : m_running ? m_running->results() : QList<DestinationResult>()) {
            result.input = m_input;
            known.append(result);
        }
        summarize(known);
        platform::console::endBySignal(m_signal);
    }

    int summarize(QList<DestinationResult> results) const
    {
        for (DestinationResult &result : results)
            result.origin = m_origin;
        const int code = exitCodeFor(results, m_signal, m_options.status);
        if (m_options.json) {
            const std::string signal = m_signal != 0 ? platform::console::signalName(m_signal) : "";
            std::fputs(jsonSummary(m_inputs, results, code, platform::console::peakMemoryKiB(),
                                   QString::fromStdString(signal))
                           .constData(),
                       stdout);
            return code;
        }
        // What was delivered on standard output, unless asked to be quiet;
        // every failure on standard error, where a script's log takes it.
        const QStringList lines = textSummary(results, m_options.status).split(u'\n');
        for (qsizetype i = 0; i < results.size(); ++i) {
            const bool delivered = results.at(i).outcome == SendOutcome::Delivered;
            if (!delivered || !m_options.quiet)
                std::fputs(qPrintable(lines.at(i) + u'\n'), delivered ? stdout : stderr);
        }
        return code;
    }

    const SendOptions m_options;
    const QString m_origin; // why the destination, when none was given
    const bool m_inputClosed;
    const int m_interrupts;
    QSocketNotifier m_interruptions;
    int m_signal = 0; // the one that interrupted, ended by once the summary is out
    QString m_input;  // the file being sent
    SendScheduler *m_running = nullptr;
    QList<bool> m_failedBefore;
    QList<DestinationResult> m_results;
    QList<InputSummary> m_inputs;
};

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

    SendOptions options = parseSendArguments(arguments);
    if (options.help || options.version) {
        std::fputs(options.help ? qPrintable(sendUsage()) : "varnet-send " VARNET_VERSION "\n", stdout);
        return 0;
    }
    // As lp -h: the scheduler for the queues and for finding the default.
    if (!options.server.isEmpty())
        qputenv("CUPS_SERVER", LocalPath::toBytes(options.server));
    QString origin;
    if (options.error.isEmpty())
        options.error = complete(options, &origin);
    // What is wrong, and where to learn more; the whole usage would bury the first.
    if (!options.error.isEmpty()) {
        printError(options.error);
        std::fputs("Try 'varnet-send --help' for more information.\n", stderr);
        // A caller that reads JSON still gets an object to read.
        if (options.json)
            std::fputs(QJsonDocument(QJsonObject{{"outcome", "usage"},
                                                 {"exitCode", SendExit::Usage},
                                                 {"error", options.error}})
                           .toJson()
                           .constData(),
                       stdout);
        return SendExit::Usage;
    }
    // A connection to each printer at once may need more descriptors than
    // the soft limit gives. Caught before the input is opened: a stream that
    // never comes must give way to Ctrl-C.
    platform::console::raiseOpenFileLimit();
    return Run(options, origin, inputClosed, platform::console::catchInterrupts()).exec();
}
