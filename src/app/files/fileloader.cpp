#include "fileloader.h"

#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <new>

FileLoader::Result FileLoader::load(const QString &path)
{
    Result result;
    // Only plain files: opening a pipe or a device could block the window
    // for good, and a folder has no content to send.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return result;

    QFile file(path);
    // Unbuffered: the whole file goes straight into its final place.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
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

    qint64 total = 0;
    while (total < result.size) {
        const qint64 got = file.read(content.data() + total, result.size - total);
        if (got < 0)
            return result;
        if (got == 0)
            break; // cut short by another program while we read: what is there is the file now
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
    const QString name = QDir::toNativeSeparators(path);
    switch (result.outcome) {
    case Outcome::TooLarge:
        return QStringLiteral("The file \"%1\" was not loaded: it is %2 bytes long, and files "
                              "of 2 GiB (2147483648 bytes) or more cannot be sent.")
            .arg(name)
            .arg(result.size);
    case Outcome::OutOfMemory:
        return QStringLiteral("The file \"%1\" was not loaded: there is not enough memory to "
                              "hold its %2 bytes.")
            .arg(name)
            .arg(result.size);
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
