#include "defaultdestination.h"

#include "core/settingscodec.h"
#include "core/startupsettings.h"
#include "platform/printercollection.h"
#include "core/endpoint.h"

namespace {

// A queue from the environment; lp takes "queue/instance" as an option set
// of the queue, and the instance does not matter for a raw job.
std::optional<DefaultDestination> fromVariable(const char *name)
{
    QString queue = qEnvironmentVariable(name).section(QLatin1Char('/'), 0, 0);
    // Many systems set PRINTER=lp by default for programs of old; the
    // scheduler's own clients pass it over, and so do we.
    if (queue.isEmpty() || (qstrcmp(name, "PRINTER") == 0 && queue == QLatin1String("lp")))
        return std::nullopt;
    return DefaultDestination{{Destination::Kind::Printer, queue, 0},
                              QLatin1Char('$') + QLatin1String(name)};
}

// The window's saved destination: its printer, or its address on the raw printing port.
std::optional<DefaultDestination> savedByTheWindow()
{
    const std::optional<bool> printerQueue =
        optFromText(StartupSettings::read(StartupSettings::KeyOpt));
    if (printerQueue.value_or(true)) {
        const QString printer = StartupSettings::read(StartupSettings::KeyPrinter);
        if (printer.isEmpty())
            return std::nullopt;
        return DefaultDestination{{Destination::Kind::Printer, printer, 0},
                                  QStringLiteral("the printer saved by the Varnet window")};
    }
    const QString ip = StartupSettings::read(StartupSettings::KeyIp);
    if (ip.isEmpty())
        return std::nullopt;
    // The window connects to the address as typed, on the default port (its port is never saved).
    return DefaultDestination{{Destination::Kind::Tcp, ip, RawPrintPort},
                              QStringLiteral("the address saved by the Varnet window")};
}

} // namespace

std::optional<DefaultDestination> defaultDestination()
{
    for (const char *variable : {"LPDEST", "PRINTER"}) {
        if (std::optional<DefaultDestination> found = fromVariable(variable))
            return found;
    }
    if (std::optional<DefaultDestination> saved = savedByTheWindow())
        return saved;
    const std::string name = createSystemPrinterCollection()->defaultPrinterName();
    if (name.empty())
        return std::nullopt;
    return DefaultDestination{{Destination::Kind::Printer, QString::fromStdString(name), 0},
                              QStringLiteral("the scheduler's default printer")};
}
