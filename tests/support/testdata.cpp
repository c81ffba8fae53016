#include "testdata.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSettings>

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    qsizetype i = 0;
    for (; i + 4 <= size; i += 4) {
        const quint32 word = generator.generate();
        for (int b = 0; b < 4; ++b)
            data[i + b] = static_cast<char>((word >> (8 * b)) & 0xff);
    }
    for (; i < size; ++i)
        data[i] = static_cast<char>(generator.bounded(256));
    return data;
}

QString writeTestFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString settingsFile()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Varnet/Varnet.conf");
}

void writeSettings(const QMap<QString, QString> &values)
{
    QFile::remove(settingsFile());
    QSettings file(settingsFile(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        file.setValue(QStringLiteral("STARTUP/") + it.key(), it.value());
}
