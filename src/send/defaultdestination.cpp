#include "defaultdestination.h"

#include "core/endpoint.h"
#include "core/settingscodec.h"
#include "core/startupsettings.h"
#include "platform/printercollection.h"

std::optional<DefaultDestination> defaultDestination()
{
    using Kind = Destination::Kind;
    // lp takes "queue/instance" as an option set of the queue, and the
    // instance does not matter for a raw job. Many systems set PRINTER=lp by
    // default for programs of old; the scheduler's own clients pass it over,
    // and so do we.
    for (const char *variable : {"LPDEST", "PRINTER"}) {
        const QString queue = qEnvironmentVariable(variable).section(u'/', 0, 0);
        if (!queue.isEmpty() && (queue != QLatin1String("lp") || qstrcmp(variable, "LPDEST") == 0))
            return DefaultDestination{{Kind::Printer, queue, 0}, u'$' + QLatin1String(variable)};
    }
    // The window connects to its address as typed, on the default port
    // (its port is never saved).
    const bool printer = optFromText(StartupSettings::read(StartupSettings::KeyOpt)).value_or(true);
    const QString saved =
        StartupSettings::read(printer ? StartupSettings::KeyPrinter : StartupSettings::KeyIp);
    if (!saved.isEmpty())
        return DefaultDestination{{printer ? Kind::Printer : Kind::Tcp, saved, printer ? quint16(0) : RawPrintPort},
                                  QStringLiteral("the %1 saved by the Varnet window")
                                      .arg(QLatin1String(printer ? "printer" : "address"))};
    const std::string name = createSystemPrinterCollection()->defaultPrinterName();
    if (name.empty())
        return std::nullopt;
    return DefaultDestination{{Kind::Printer, QString::fromStdString(name), 0},
                              QStringLiteral("the scheduler's default printer")};
}
