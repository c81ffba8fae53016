#include "window/classicstyle.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QFont classicFont(qreal pointSize)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    return font;
}

QString picturePath(const char *name)
{
    // The pictures live in a static library, whose resources are not
    // registered by themselves; whichever window comes first does it.
    static const bool registered = [] {
        Q_INIT_RESOURCE(varnet);
        return true;
    }();
    Q_UNUSED(registered)
    return QStringLiteral(":/varnet/") + QLatin1String(name);
}

namespace {
void centre(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

// A window manager puts its frame around the window only after it is shown,
// and moves it then; once the frame is known the window is centred again.
struct CentreWhenFramed : QObject
{
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = static_cast<QWidget *>(watched);
        if (event->type() == QEvent::Move && window->frameGeometry() != window->geometry()) {
            window->removeEventFilter(this);
            deleteLater();
            centre(window);
        }
        return false;
    }
};
} // namespace

void centerOnScreen(QWidget *window)
{
    centre(window);
    window->installEventFilter(new CentreWhenFramed(window));
}
