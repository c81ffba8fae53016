#include "core/fileloader.h"

#include "core/localpath.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>

#include <new>

namespace {

constexpr char TooLarge[] =
    "it is %1 bytes long, and files of 2 GiB (2147483648 bytes) or more cannot be sent.";
constexpr char NoMemory[] = "there is not enough memory to hold its %1 bytes.";

FileLoader::Result refused(const QString &path, qint64 size, const char *why)
{
    FileLoader::Result result;
    result.outcome = SendOutcome::InputUnreadable;
    result.size = size;
    // One argument per call would let a "%2" in the name take the size.
    result.sentence = QStringLiteral("The file \"%1\" was not loaded: %2")
                          .arg(LocalPath::printable(QDir::toNativeSeparators(path)),
                               QString::fromLatin1(why).arg(size))
                          .toStdString();
    return result;
}

} // namespace

FileLoader::Result FileLoader::load(const QString &path)
{
    Result result;
    result.outcome = SendOutcome::InputUnreadable;
    QFile file;
    QString why;
    // Only plain files: opening a pipe or a device could block the window
    // for good, and a folder has no content to send.
    // Unbuffered: the whole file goes straight into its final place.
    if (path.isEmpty() ||
        !LocalPath::openRegularFile(file, path, QIODevice::ReadOnly | QIODevice::Unbuffered, &why))
        return result;
    result.size = file.size();
    if (result.size > MaxSize)
        return refused(path, result.size, TooLarge);
    QByteArray content;
    try {
        content.resize(result.size);
    } catch (const std::bad_alloc &) {
        return refused(path, result.size, NoMemory);
    }
    // Filling fresh memory page by page costs more than reading the file.
    platform::adviseLargeBuffer(content.data(), static_cast<std::size_t>(content.size()));
    // The size is only where reading starts to look for the end: a file of
    // /proc says 0 and has content, a file still being written has grown.
    // A file cut short by another program while we read is what is there now.
    qint64 total = 0;
    for (;;) {
        if (total < content.size()) {
            const qint64 got = file.read(content.data() + total, content.size() - total);
            if (got < 0)
                return result;
            if (got == 0)
                break;
            total += got;
            continue;
        }
        char more[64 * 1024];
        const qint64 got = file.read(more, sizeof more);
        if (got < 0)
            return result;
        if (got == 0)
            break;
        result.size = total + got;
        if (result.size > MaxSize)
            return refused(path, result.size, TooLarge);
        try {
            content.append(more, got);
        } catch (const std::bad_alloc &) {
            return refused(path, result.size, NoMemory);
        }
        total += got;
    }
    content.truncate(total);
    result.size = total;
    result.content = std::move(content);
    result.outcome = SendOutcome::Delivered;
    return result;
}

QString FileLoader::sizeText(qint64 size)
{
    return QString::number(size) + QStringLiteral(" bytes");
}
