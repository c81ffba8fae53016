#include "app/files/localpath.h"
#include "app/settingscodec.h"
#include "app/startupsettings.h"
#include "platform/tcpconnection.h"
#include "bytesource.h"
#include "sendoptions.h"
#include "sendreport.h"
#include "sendsession.h"
#include "varnetversion.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int interruptPipe[2] = {-1, -1};

void onInterrupt(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t ignored = ::write(interruptPipe[1], &byte, 1);
}

void printError(const QString &message)
{
    std::fprintf(stderr, "varnet-send: %s\n", LocalPath::printable(message).toLocal8Bit().constData());
}

// A standard descriptor the caller closed would be the number the next
// open() gets, and reading standard input would then read, or the summary
// be written into, whatever took it. They are held instead: the outputs on
// /dev/null, standard input on a folder, which /dev/stdin cannot pass off
// as an empty input as /dev/null would. Returns whether it was closed.
bool holdStandardDescriptors()
{
    bool inputClosed = false;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1)
            continue;
        if (fd == STDIN_FILENO)
            inputClosed = true;
        // The lowest free number is this one, the lower ones being open.
        ::open(fd == STDIN_FILENO ? "/" : "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
    return inputClosed;
}

// "-", or a name for it such as /dev/stdin.
bool namesStandardInput(const QString &input)
{
    if (input == QLatin1String("-"))
        return true;
    struct stat held {};
    struct stat named {};
    return ::fstat(STDIN_FILENO, &held) == 0 &&
           ::stat(LocalPath::toBytes(input).constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// The window's saved destination: its printer, or its address on port 9100.
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
    // The window connects to the address as typed, on port 9100 (its port is never saved).
    return Destination{Destination::Kind::Tcp, ip, 9100};
}

// This process's own peak memory. getrusage() would also count what a
// parent held before exec, so the kernel's high-water mark is read instead.
qint64 peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Every destination reported as never reached, for an input given up on.
QList<DestinationResult> nothingStarted(const QList<Destination> &destinations)
{
    QList<DestinationResult> results;
    for (const Destination &destination : destinations) {
        DestinationResult result;
        result.destination = destination;
        result.outcome = DestinationResult::Outcome::NotStarted;
        result.error = QStringLiteral("interrupted while the input was being read");
        results.append(result);
    }
    return results;
}

void printSummary(const SendOptions &options, qint64 inputBytes,
                  const QList<DestinationResult> &results, int code)
{
    if (options.json)
        std::fputs(jsonSummary(options.input, inputBytes, results, code, peakRssKiB()).constData(),
                   stdout);
    else
        std::fputs(textSummary(results).toLocal8Bit().constData(), stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything else can open a descriptor.
    const bool inputClosed = holdStandardDescriptors();
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

    // The signals handled below cancel cleanly; this covers the rest (SIGQUIT).
    platform::tcp::resetConnectionsWhenKilled();
    // Set up before the input is opened: keeping a stream that never comes
    // must still give way to Ctrl-C.
    if (::pipe(interruptPipe) == 0) {
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        // A closed terminal would otherwise end the program with an orderly
        // close of every connection, and a printer would take a cut-off job
        // for a whole one. Started with it ignored (nohup), the send goes on.
        struct sigaction hangUp {};
        if (::sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN)
            std::signal(SIGHUP, onInterrupt);
    }
    // A peer that closes on us must not kill the program before it reports.
    std::signal(SIGPIPE, SIG_IGN);
    // Nor a file size limit while the input is kept: the write fails instead.
    std::signal(SIGXFSZ, SIG_IGN);

    QString error;
    bool interrupted = false;
    // Destinations that must wait their turn need the input from its start.
    ByteSource::OpenOptions opening;
    opening.replayable = options.parallel > 0 && options.parallel < options.destinations.size();
    opening.interruptFd = interruptPipe[0];
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

    const bool showProgress = !options.quiet && !options.json && ::isatty(STDERR_FILENO);
    SendSession session(options, std::move(source), showProgress);

    // A call into the printing library that cannot be interrupted (a TLS
    // handshake with a printer that trickles or says nothing) must not keep
    // the program from ending: a second Ctrl-C, or this long after the first
    // (time for a withdrawal to be answered), ends it at once. What is still
    // open is reset, and the summary says what is known.
    constexpr int LastResortMs = 12000;
    const auto endNow = [&options, &session] {
        const QList<DestinationResult> results = session.results();
        const int code = exitCodeFor(results, true);
        printSummary(options, session.inputSize(), results, code);
        std::fflush(nullptr);
        platform::tcp::resetConnectionsAtExit();
        std::_Exit(code);
    };
    QTimer lastResort;
    lastResort.setSingleShot(true);
    QObject::connect(&lastResort, &QTimer::timeout, &session, endNow);

    QSocketNotifier interrupts(interruptPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupts, &QSocketNotifier::activated, &session, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(interruptPipe[0], &byte, 1);
        if (session.interrupted())
            endNow();
        session.interrupt();
        lastResort.start(LastResortMs);
    });

    QObject::connect(&session, &SendSession::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    session.start();
    app.exec();

    const QList<DestinationResult> results = session.results();
    const int code = exitCodeFor(results, session.interrupted());
    printSummary(options, session.inputSize(), results, code);
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
