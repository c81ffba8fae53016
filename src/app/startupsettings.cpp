#include "startupsettings.h"

#include <QSettings>

#include <memory>

namespace StartupSettings {

namespace {
QString fullKey(const char *key)
{
    return QStringLiteral("STARTUP/") + QLatin1String(key);
}

std::unique_ptr<QSettings> store()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Varnet"), QStringLiteral("Varnet"));
}
} // namespace

QString read(const char *key)
{
    return store()->value(fullKey(key)).toString();
}

bool write(const char *key, const QString &value)
{
    const auto settings = store();
    settings->setValue(fullKey(key), value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

} // namespace StartupSettings
