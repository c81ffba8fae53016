#include "app/settingscodec.h"
#include "app/startupsettings.h"
#include "bytesource.h"
#include "sendoptions.h"
#include "sendreport.h"
#include "sendsession.h"
#include "varnetversion.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryFile>

#include <csignal>
#include <cstdio>
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
    std::fprintf(stderr, "varnet-send: %s\n", message.toLocal8Bit().constData());
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

// Standard input can be streamed to destinations that run together; ones
// that must wait their turn need it from the start, so it is kept on disk.
std::unique_ptr<ByteSource> spoolStandardInput(QTemporaryFile &spool, QString *error)
{
    QFile in;
    if (!in.open(STDIN_FILENO, QIODevice::ReadOnly) || !spool.open()) {
        *error = QStringLiteral("cannot keep standard input: %1").arg(spool.errorString());
        return nullptr;
    }
    for (;;) {
        const QByteArray chunk = in.read(1024 * 1024);
        if (chunk.isEmpty())
            break;
        if (spool.write(chunk) != chunk.size()) {
            *error = QStringLiteral("cannot keep standard input: %1").arg(spool.errorString());
            return nullptr;
        }
    }
    spool.flush();
    return ByteSource::open(spool.fileName(), error);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnet-send"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNET_VERSION));

    const ParsedArguments parsed = parseSendArguments(app.arguments().mid(1));
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

    QString error;
    QTemporaryFile spool;
    std::unique_ptr<ByteSource> source;
    if (options.input == QLatin1String("-") && options.parallel > 0 &&
        options.parallel < options.destinations.size())
        source = spoolStandardInput(spool, &error);
    else
        source = ByteSource::open(options.input, &error);
    if (!source) {
        printError(error);
        return SendExit::InputUnreadable;
    }

    const bool showProgress = !options.quiet && !options.json && ::isatty(STDERR_FILENO);
    SendSession session(options, std::move(source), showProgress);

    if (::pipe(interruptPipe) == 0) {
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
    }
    QSocketNotifier interrupts(interruptPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupts, &QSocketNotifier::activated, &session, [&session] {
        char byte = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(interruptPipe[0], &byte, 1);
        session.interrupt();
    });
    // A peer that closes on us must not kill the program before it reports.
    std::signal(SIGPIPE, SIG_IGN);

    QObject::connect(&session, &SendSession::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    session.start();
    app.exec();

    const QList<DestinationResult> results = session.results();
    const int code = exitCodeFor(results, session.interrupted());
    if (options.json) {
        std::fputs(jsonSummary(options.input, session.inputSize(), results, code, peakRssKiB())
                       .constData(),
                   stdout);
    }
    else
        std::fputs(textSummary(results).toLocal8Bit().constData(), stdout);
    return code;
}
