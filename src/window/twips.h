#pragma once

#include <QRect>
#include <QString>

// Layouts were drawn in twips; at 96 dpi a pixel is 15 twips.
constexpr int twipsToPixels(int twips)
{
    return twips / 15;
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

// Creates a control at a fixed place, named as tests and tools look it up,
// with its caption when one is given.
template <typename T, typename Parent>
T *place(Parent *parent, const char *name, const QRect &geometry, const QString &text = {})
{
    auto *control = new T(parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    if constexpr (requires { control->setText(text); }) {
        if (!text.isNull())
            control->setText(text);
    }
    return control;
}
