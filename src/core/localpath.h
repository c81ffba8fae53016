#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include "platform/fileaccess.h"

// File names as the system spells them. On Unix a name is a string of bytes
// that need not be UTF-8, and Qt's own conversion replaces what is not; such
// a name could then be shown but never opened. Here every byte outside a
// valid UTF-8 sequence travels in the QString as a lone low surrogate
// (U+DC80 + byte) and becomes that byte again when the file is opened.
namespace LocalPath {

QString fromBytes(const QByteArray &bytes);
QByteArray toBytes(const QString &name);

using Status = platform::file::Status;
Status status(const QString &name);

// Opens a plain file for reading, never waiting on a pipe or device: those
// are refused, as are folders. why says what went wrong.
bool openRegularFile(QFile &file, const QString &name, QIODevice::OpenMode mode, QString *why);

// Text for people: control characters, and bytes that are not UTF-8, shown
// as \xNN (\u{NNNN} beyond Latin-1), so a name or a printer's message can
// neither move the cursor nor end a line on a terminal.
// backslashDoubled: so that every escape reads back as what it stands for (a
// name holding the text \x1b is then told from one holding an ESC); the
// window keeps them single, as Windows paths are full of them.
QString printable(const QString &text, bool backslashDoubled = false);

} // namespace LocalPath
