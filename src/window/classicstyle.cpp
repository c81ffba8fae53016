#include "window/classicstyle.h"

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
