#include "app/files/localpath.h"
#include "app/printers/printercollection.h"
#include "app/varnet.h"
#include "app/windowplacement.h"
#include "platform/platform.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // Taken before QApplication, which strips the arguments it understands.
    // As bytes: a file name need not be UTF-8.
    const QString commandLine =
        LocalPath::fromBytes(QByteArray::fromStdString(platform::commandLineText(argc, argv)));

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
    // The frame's size is known only once the window manager has it.
    centerOnScreen(&window);
    return app.exec();
}
