#include "core/settingscodec.h"

std::optional<bool> optFromText(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const bool nonZero = trimmed.toDouble(&isNumber) != 0.0;
    return isNumber ? std::optional(nonZero) : std::nullopt;
}

QString optToText(bool printerQueue)
{
    return printerQueue ? QStringLiteral("True") : QStringLiteral("False");
}
