#include "window/classicstyle.h"

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

void centerOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
