#include "core/settingscodec.h"

std::optional<bool> optFromText(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (isNumber)
        return number != 0.0;
    return std::nullopt;
}

QString optToText(bool printerQueue)
{
    return printerQueue ? QStringLiteral("True") : QStringLiteral("False");
}
