#include "app/printers/printercollection.h"
#include "app/varnet.h"
#include "app/windowplacement.h"
#include "platform/platform.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // Taken before QApplication, which strips the arguments it understands.
    const QString commandLine = QString::fromStdString(platform::commandLineText(argc, argv));

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnet"));
    QApplication::setOrganizationName(QStringLiteral("Varnet"));

    const std::unique_ptr<PrinterCollection> printers = createSystemPrinterCollection();
    Varnet window(*printers);
    if (window.Form_Load(commandLine)) {
        // Command-line sending is not built yet; end without sending anything.
        return 2;
    }
    centerOnScreen(&window);
    window.show();
    // The frame's size is known only once the window manager has it.
    centerOnScreen(&window);
    return app.exec();
}
