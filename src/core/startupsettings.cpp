#include "core/startupsettings.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

namespace StartupSettings {

namespace {
QString fullKey(const char *key)
{
    return QStringLiteral("STARTUP/") + QLatin1String(key);
}

QSettings store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Varnet"),
                     QStringLiteral("Varnet"));
}

// QSettings only says that writing failed; the file system says why.
QString whyNotWritable(const QString &fileName)
{
    if (platform::settingsInRegistry)
        return QStringLiteral("access was denied");
    const QFileInfo file(fileName);
    if (file.isDir())
        return QStringLiteral("a folder has that name");
    const QString folder = file.absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("its folder cannot be made");
    // The new content is written beside the file and then put in its place.
    QTemporaryFile probe(folder + QStringLiteral("/.varnet-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    QFile existing(fileName);
    if (file.exists() && !existing.open(QIODevice::ReadWrite))
        return existing.errorString();
    return QStringLiteral("the settings store reported an error");
}

QtMessageHandler passOn = nullptr;

void withoutUnknownTypeWarning(QtMsgType type, const QMessageLogContext &context,
                               const QString &message)
{
    if (!message.startsWith(QLatin1String("QVariant::load: unknown user type")))
        passOn(type, context, message);
}
} // namespace

QString read(const char *key)
{
    // A value of a type this program does not know reads as none, and the
    // caller's default applies; Qt's warning about it would only alarm.
    passOn = qInstallMessageHandler(&withoutUnknownTypeWarning);
    QString value = store().value(fullKey(key)).toString();
    qInstallMessageHandler(passOn);
    return value;
}

QString save(const QList<std::pair<const char *, QString>> &values)
{
    QSettings settings = store();
    for (const auto &[key, value] : values)
        settings.setValue(fullKey(key), value);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return QString();
    const QString name = QDir::toNativeSeparators(settings.fileName());
    return QStringLiteral("The settings could not be saved to \"%1\": %2.")
        .arg(name, whyNotWritable(settings.fileName()));
}

} // namespace StartupSettings
