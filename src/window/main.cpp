#include "core/commandline.h"
#include "window/classicstyle.h"
#include "window/varnet.h"
#include "core/localpath.h"
#include "platform/platform.h"
#include "platform/printercollection.h"
#include "core/endpoint.h"
#include "core/exitstatus.h"
#include "varnetversion.h"

#include <QApplication>

#include <cstdio>

namespace {

void printUsage()
{
    std::printf(
        "Usage: varnet [FILE]\n"
        "  or:  varnet --open [FILE]\n"
        "Without FILE, opens the window. With FILE, sends it unchanged to the destination\n"
        "saved by the window (its printer, or its IP address on port %d), without\n"
        "showing the window, and ends. With --open, opens the window with FILE chosen,\n"
        "as File > Open would, and sends nothing until Print is pressed.\n"
        "\n"
        "The command line is one file name: its arguments are joined by single blanks\n"
        "and every double quote is removed. A file really named --help or --version is\n"
        "sent, not taken as an option.\n"
        "\n"
        "      --open     open the window with FILE chosen; nothing is sent\n"
        "      --help     this text\n"
        "      --version  the version\n"
        "\n%s",
        static_cast<int>(RawPrintPort), exitStatusHelp(ExitStatusReader::Window).c_str());
}

} // namespace

int main(int argc, char **argv)
{
    // As bytes, before QApplication strips the arguments it understands.
    const QString commandLine =
        LocalPath::fromBytes(QByteArray::fromStdString(platform::commandLineText(argc, argv)));

    // Answered without a display, so they work wherever the program is installed.
    const QString path = stripDoubleQuotes(commandLine);
    if ((path == QLatin1String("--help") || path == QLatin1String("--version")) &&
        !LocalPath::status(path).exists) {
        if (path == QLatin1String("--help"))
            printUsage();
        else
            std::puts("varnet " VARNET_VERSION);
        return 0;
    }

    // Qt would abort with a core dump, in words meant for another reader.
    if (platform::noDisplay()) {
        std::fputs("varnet: no display to show the window on; varnet-send sends without one\n",
                   stderr);
        return SendExit::Usage;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnet"));
    QApplication::setOrganizationName(QStringLiteral("Varnet"));

    const std::unique_ptr<PrinterCollection> printers = createSystemPrinterCollection();
    Varnet window(*printers);
    // With a file named, the window is never shown and nothing is saved.
    if (window.Form_Load(commandLine))
        return window.commandLineSend();
    centerOnScreen(&window);
    window.show();
    return app.exec();
}
