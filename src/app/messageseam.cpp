#include "messageseam.h"

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
    QMessageBox box(message.icon, message.title, message.text, QMessageBox::Ok, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void setHandler(Handler handler)
{
    currentHandler() = std::move(handler);
}

} // namespace MessageSeam
