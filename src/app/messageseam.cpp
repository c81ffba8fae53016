#include "messageseam.h"

#include <QWidget>

namespace MessageSeam {

namespace {
Handler &currentHandler()
{
    static Handler handler;
    return handler;
}
} // namespace

QMessageBox::StandardButton show(QWidget *parent, const QString &text, const QString &title,
                                 QMessageBox::Icon icon)
{
    const Message message{text, title.isEmpty() ? QStringLiteral("Varnet") : title, icon};
    if (const Handler &handler = currentHandler())
        return handler(message);
    // A hidden parent (the main window during command-line sending) would
    // pin the box to its corner; without one it is centred on the screen.
    QMessageBox box(message.icon, message.title, message.text, QMessageBox::Ok,
                    parent && parent->isVisible() ? parent : nullptr);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void setHandler(Handler handler)
{
    currentHandler() = std::move(handler);
}

} // namespace MessageSeam
