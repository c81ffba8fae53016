#include "core/localpath.h"

#include <algorithm>

namespace LocalPath {

namespace {

constexpr char16_t EscapeBase = 0xDC00;

bool isEscapedByte(char16_t unit)
{
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

} // namespace

QString fromBytes(const QByteArray &bytes)
{
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        // The lead byte says how long a valid sequence would be; 0: none can start here.
        const auto lead = static_cast<unsigned char>(bytes.at(i));
        const qsizetype length = lead < 0x80   ? 1
                                 : lead < 0xC2 ? 0
                                 : lead < 0xE0 ? 2
                                 : lead < 0xF0 ? 3
                                 : lead < 0xF5 ? 4
                                               : 0;
        const QByteArrayView sequence =
            QByteArrayView(bytes).sliced(i, std::min(length, bytes.size() - i));
        // Qt's check refuses overlong forms, surrogates and values past Unicode.
        if (length > 0 && sequence.size() == length && sequence.isValidUtf8()) {
            name.append(QString::fromUtf8(sequence));
            i += length;
        } else {
            name.append(QChar(static_cast<char16_t>(EscapeBase + lead)));
            ++i;
        }
    }
    return name;
}

QByteArray toBytes(const QString &name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype runStart = 0;
    const auto flushRun = [&](qsizetype end) {
        if (end > runStart)
            bytes.append(QStringView(name).mid(runStart, end - runStart).toUtf8());
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name.at(i).unicode();
        if (!isEscapedByte(unit))
            continue;
        // A lone low surrogate cannot follow a high one in valid UTF-16.
        if (i > 0 && name.at(i - 1).isHighSurrogate())
            continue;
        flushRun(i);
        bytes.append(static_cast<char>(unit - EscapeBase));
        runStart = i + 1;
    }
    flushRun(name.size());
    return bytes;
}

Status status(const QString &name)
{
    return platform::file::status(toBytes(name).toStdString());
}

bool openRegularFile(QFile &file, const QString &name, QIODevice::OpenMode mode, QString *why)
{
    namespace files = platform::file;
    const std::string path = toBytes(name).toStdString();
    const files::Status found = files::status(path);
    int error = 0;
    const int fd =
        path.empty() || (found.exists && !found.isRegular) ? -1 : files::openForReading(path, &error);
    // Looked at again once open, should a pipe have taken the name since.
    files::Kind kind = files::Kind::Other;
    files::Stamp stamp;
    if (fd >= 0 && files::inspect(fd, &kind, &stamp, &error) && kind != files::Kind::Folder &&
        kind != files::Kind::Other) {
        if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
            return true;
        *why = file.errorString();
    } else {
        *why = path.empty()           ? QStringLiteral("no file was named")
               : found.isFolder       ? QStringLiteral("it is a folder")
               : fd < 0 && error != 0 ? QString::fromStdString(files::errorText(error))
                                      : QStringLiteral("it is not an ordinary file");
    }
    if (fd >= 0)
        files::close(fd);
    return false;
}

QString printable(const QString &text, bool backslashDoubled)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t unit = c.unicode();
        const bool pairStart = c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (pairStart) {
            shown.append(c).append(text.at(++i));
        } else if (unit == u'\\' && backslashDoubled) {
            shown.append(QStringLiteral("\\\\"));
        } else if (isEscapedByte(unit)) {
            shown.append(QStringLiteral("\\x") + QString::number(unit - EscapeBase, 16).rightJustified(2, u'0'));
        } else if (c.category() == QChar::Other_Control || c.isSurrogate() ||
                   unit == 0x2028 || unit == 0x2029) {
            shown.append(unit <= 0xFF ? QStringLiteral("\\x") + QString::number(unit, 16).rightJustified(2, u'0')
                                      : QStringLiteral("\\u{") + QString::number(unit, 16) + u'}');
        } else {
            shown.append(c);
        }
    }
    return shown;
}

} // namespace LocalPath
