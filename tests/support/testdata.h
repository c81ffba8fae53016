#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Repeatable random bytes: every value occurs, NUL and bytes above 127
// included, and a failure can be reproduced from the seed.
QByteArray randomBytes(qsizetype size, quint32 seed = 1);

// Writes content to path, replacing what was there; the test stops if it cannot.
QString writeTestFile(const QString &path, const QByteArray &content);

// The program's settings file, in the test's own settings folder.
QString settingsFile();
// Writes keys of the group STARTUP there, as the window saves them, in
// place of what was there.
void writeSettings(const QMap<QString, QString> &values);
