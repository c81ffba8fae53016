#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every message box of the program goes through here, so tests can record
// what would be shown and answer it without a modal loop.
namespace MessageSeam {

struct Message
{
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Returns the button that closed the box; the program's boxes have only OK.
using Handler = std::function<QMessageBox::StandardButton(const Message &)>;

// An empty title gives the application's title, "Varnet".
QMessageBox::StandardButton show(QWidget *parent, const QString &text,
                                 const QString &title = QString(),
                                 QMessageBox::Icon icon = QMessageBox::NoIcon);

void setHandler(Handler handler); // an empty one restores the real boxes

} // namespace MessageSeam
