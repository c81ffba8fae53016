#include "core/localpath.h"

#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace LocalPath {

namespace {

constexpr char16_t EscapeBase = 0xDC00;

bool isEscapedByte(char16_t unit)
{
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

// The length of the valid UTF-8 sequence at bytes[i], or 0.
qsizetype sequenceLength(const QByteArray &bytes, qsizetype i, char32_t *codePoint)
{
    const auto byte = [&bytes](qsizetype at) { return static_cast<unsigned char>(bytes.at(at)); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    qsizetype length = 0;
    char32_t value = 0;
    char32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (qsizetype k = 1; k < length; ++k) {
        const unsigned char next = byte(i + k);
        if ((next & 0xC0u) != 0x80u)
            return 0;
        value = (value << 6) | (next & 0x3Fu);
    }
    // Overlong forms, encoded surrogates and values past Unicode are not UTF-8.
    if (value < lowest || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0;
    *codePoint = value;
    return length;
}

} // namespace

QString fromBytes(const QByteArray &bytes)
{
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t codePoint = 0;
        const qsizetype length = sequenceLength(bytes, i, &codePoint);
        if (length == 0) {
            name.append(QChar(static_cast<char16_t>(EscapeBase + static_cast<unsigned char>(bytes.at(i)))));
            ++i;
            continue;
        }
        name.append(QString::fromUcs4(&codePoint, 1));
        i += length;
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

#ifdef Q_OS_WIN

Status status(const QString &name)
{
    const QFileInfo info(name);
    Status result;
    result.exists = info.exists();
    result.isFolder = info.isDir();
    result.isRegular = info.isFile();
    result.readable = info.isReadable();
    result.size = info.size();
    return result;
}

bool openRegularFile(QFile &file, const QString &name, QIODevice::OpenMode mode, QString *why)
{
    const Status found = status(name);
    if (found.isFolder || (found.exists && !found.isRegular)) {
        *why = found.isFolder ? QStringLiteral("it is a folder") : QStringLiteral("it is not an ordinary file");
        return false;
    }
    file.setFileName(name);
    if (!file.open(mode)) {
        *why = file.errorString();
        return false;
    }
    return true;
}

#else

Status status(const QString &name)
{
    Status result;
    struct stat info {};
    const QByteArray bytes = toBytes(name);
    if (bytes.isEmpty() || ::stat(bytes.constData(), &info) != 0)
        return result;
    result.exists = true;
    result.isFolder = S_ISDIR(info.st_mode);
    result.isRegular = S_ISREG(info.st_mode);
    result.readable = ::access(bytes.constData(), R_OK) == 0;
    result.size = info.st_size;
    return result;
}

bool openRegularFile(QFile &file, const QString &name, QIODevice::OpenMode mode, QString *why)
{
    const QByteArray bytes = toBytes(name);
    // A pipe is looked at before it is opened: opening one for reading,
    // even without waiting, would release a writer blocked on its other end.
    const Status found = status(name);
    if (found.exists && !found.isRegular) {
        *why = found.isFolder ? QStringLiteral("it is a folder") : QStringLiteral("it is not an ordinary file");
        return false;
    }
    // Without waiting all the same, should a pipe have taken the name since.
    const int fd = bytes.isEmpty() ? -1 : ::open(bytes.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = bytes.isEmpty() ? QStringLiteral("no file was named")
                               : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *why = QStringLiteral("it is not an ordinary file");
        return false;
    }
    // Reads of a plain file never wait; the flag only guarded the open.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *why = file.errorString();
        return false;
    }
    return true;
}

#endif

QString printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t unit = c.unicode();
        const bool pairStart = c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (pairStart) {
            shown.append(c).append(text.at(++i));
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
