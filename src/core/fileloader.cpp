#include "core/fileloader.h"

#include "core/localpath.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>

#include <new>

FileLoader::Result FileLoader::load(const QString &path)
{
    Result result;
    QFile file;
    QString why;
    // Only plain files: opening a pipe or a device could block the window
    // for good, and a folder has no content to send.
    // Unbuffered: the whole file goes straight into its final place.
    if (path.isEmpty() ||
        !LocalPath::openRegularFile(file, path, QIODevice::ReadOnly | QIODevice::Unbuffered, &why))
        return result;
    result.size = file.size();
    if (result.size > MaxSize) {
        result.outcome = Outcome::TooLarge;
        return result;
    }

    QByteArray content;
    try {
        content.resize(result.size);
    } catch (const std::bad_alloc &) {
        result.outcome = Outcome::OutOfMemory;
        return result;
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
        if (total + got > MaxSize) {
            result.size = total + got;
            result.outcome = Outcome::TooLarge;
            return result;
        }
        try {
            content.append(more, got);
        } catch (const std::bad_alloc &) {
            result.size = total + got;
            result.outcome = Outcome::OutOfMemory;
            return result;
        }
        total += got;
    }
    content.truncate(total);
    result.size = total;
    result.content = std::move(content);
    result.outcome = Outcome::Loaded;
    return result;
}

QString FileLoader::refusal(const QString &path, const Result &result)
{
    // One argument per call would let a "%2" in the name take the size.
    const QString name = LocalPath::printable(QDir::toNativeSeparators(path));
    const QString size = QString::number(result.size);
    switch (result.outcome) {
    case Outcome::TooLarge:
        return QStringLiteral("The file \"%1\" was not loaded: it is %2 bytes long, and files "
                              "of 2 GiB (2147483648 bytes) or more cannot be sent.")
            .arg(name, size);
    case Outcome::OutOfMemory:
        return QStringLiteral("The file \"%1\" was not loaded: there is not enough memory to "
                              "hold its %2 bytes.")
            .arg(name, size);
    case Outcome::Loaded:
    case Outcome::Unreadable:
        break;
    }
    return QString();
}

QString FileLoader::sizeText(qint64 size)
{
    return QString::number(size) + QStringLiteral(" bytes");
}
