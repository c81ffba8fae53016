#include "window/messageseam.h"

#include <QWidget>

namespace MessageSeam {

namespace {
Handler currentHandler;

// Where text is cut, a surrogate pair stays whole.
qsizetype pairSafe(const QString &text, qsizetype at)
{
    return at > 0 && at < text.size() && text.at(at).isLowSurrogate() ? at - 1 : at;
}

QString fitToScreen(const QString &text)
{
    // A box grows with its text; a command line of thousands of words, or a
    // printer's endless message, would make it taller than any screen. The
    // middle goes: the start says what happened, the end usually why.
    constexpr qsizetype MaxLines = 24;
    constexpr qsizetype MaxChars = 1000;
    const QString mark = QStringLiteral("\u2026");
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() > MaxLines) {
        const QStringList head = lines.mid(0, MaxLines / 2);
        const QStringList tail = lines.mid(lines.size() - (MaxLines / 2 - 1));
        lines = head + QStringList{mark} + tail;
    }
    QString fitted = lines.join(QLatin1Char('\n'));
    if (fitted.size() > MaxChars) {
        const qsizetype headEnd = pairSafe(fitted, MaxChars / 2);
        const qsizetype tailStart = pairSafe(fitted, fitted.size() - MaxChars / 2);
        fitted = fitted.left(headEnd) + mark + fitted.mid(tailStart);
    }
    return fitted;
}
} // namespace

QMessageBox::StandardButton show(QWidget *parent, const QString &text, const QString &title,
                                 QMessageBox::Icon icon)
{
    const Message message{fitToScreen(text), title.isEmpty() ? QStringLiteral("Varnet") : title,
                          icon};
    if (currentHandler)
        return currentHandler(message);
    // A hidden parent (the main window during command-line sending) would
    // pin the box to its corner; without one it is centred on the screen.
    QMessageBox box(message.icon, message.title, message.text, QMessageBox::Ok,
                    parent && parent->isVisible() ? parent : nullptr);
    // Names and printers' messages are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void setHandler(Handler handler)
{
    currentHandler = std::move(handler);
}

} // namespace MessageSeam
