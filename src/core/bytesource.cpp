#include "core/bytesource.h"

#include "core/localpath.h"
#include "platform/fileaccess.h"

#include <QDir>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace file = platform::file;
namespace tcp = platform::tcp;

namespace {

constexpr qint64 StreamWindowBytes = 4 * 1024 * 1024;

QString systemError(int error)
{
    return QString::fromStdString(file::errorText(error));
}

QString readFailed(int error)
{
    return QStringLiteral("Reading the file failed: %1.").arg(systemError(error));
}

// An input's descriptor, closed when its last user lets go.
using Descriptor = std::shared_ptr<const int>;

Descriptor own(int fd)
{
    return {new int(fd), [](const int *kept) {
                file::close(*kept);
                delete kept;
            }};
}

// The one check that a file is still the file that was asked for. Its
// length tells a cut or an append; a rewrite in place keeps the length,
// and even with the modification time put back its change time moved.
QString changeBetween(const file::Stamp &then, const file::Stamp &now)
{
    if (now.size < then.size)
        return QStringLiteral("The file shrank during the send: it had %1 bytes when the send "
                              "began, and ended after %2.")
            .arg(then.size)
            .arg(now.size);
    if (now.size > then.size)
        return QStringLiteral("The file grew during the send beyond the %1 bytes it had when the "
                              "send began.")
            .arg(then.size);
    // Another file renamed over this one (an editor's save, an atomic
    // deploy) leaves its bytes as they were: losing its last name moves only
    // its change time.
    const bool replaced = then.named && !now.named && now.modified == then.modified;
    return now == then || replaced ? QString()
                                   : QStringLiteral("The file was changed during the send.");
}

// Reads a plain file by position, each destination on its own, and hands it
// to a socket straight from the file cache where the system can.
class FileReader final : public SourceReader
{
public:
    // From start (standard input may have been read a little) to the end
    // the file had when it was opened.
    FileReader(Descriptor opened, qint64 start, file::Stamp stamp)
        : m_file(std::move(opened)), m_stamp(stamp), m_start(start), m_offset(start)
    {
    }

    QByteArray read(qint64 maxBytes, bool) override
    {
        if (!m_error.isEmpty() || m_end)
            return {};
        if (m_offset >= m_stamp.size) {
            m_error = changed();
            m_end = m_error.isEmpty();
            return {};
        }
        QByteArray data(std::min(maxBytes, m_stamp.size - m_offset), Qt::Uninitialized);
        int error = 0;
        const long long got = file::readAt(*m_file, data.data(),
                                           static_cast<std::size_t>(data.size()), m_offset, &error);
        if (got <= 0) {
            m_error = got < 0 ? readFailed(error) : changed();
            if (m_error.isEmpty())
                m_error = changeBetween(m_stamp, {m_offset, 0, 0});
            return {};
        }
        data.truncate(got);
        m_offset += got;
        return data;
    }

    tcp::Result sendTo(tcp::Socket socket, qint64 maxBytes) override
    {
        const qint64 left = m_stamp.size - m_offset;
        if (!m_direct || !m_error.isEmpty() || left <= 0)
            return {};
        const tcp::Result result = tcp::sendFromFile(socket, *m_file, m_offset,
                                                     static_cast<std::size_t>(std::min(left, maxBytes)));
        // Perhaps only this way of sending fails, or the file ends sooner
        // than it did: reading finds the real error, or the change.
        if (result.status == tcp::Status::Failed ||
            (result.status == tcp::Status::Done && result.bytes == 0)) {
            m_direct = false;
            return {};
        }
        m_offset += static_cast<qint64>(result.bytes);
        return result;
    }

    bool atEnd() const override { return m_end || !m_error.isEmpty(); }
    QString error() const override { return m_error; }
    qint64 size() const override { return m_stamp.size - m_start; }

    QString changed() const override
    {
        file::Kind kind{};
        file::Stamp now;
        int error = 0;
        if (!file::inspect(*m_file, &kind, &now, &error))
            return readFailed(error);
        return changeBetween(m_stamp, now);
    }

private:
    Descriptor m_file;
    file::Stamp m_stamp;
    qint64 m_start;
    qint64 m_offset;
    QString m_error;
    bool m_end = false;
    bool m_direct = tcp::canSendFromFile();
};

// Every reader starts as the first did: a destination whose turn comes
// later still sends the file as it was opened.
class FileSource final : public ByteSource
{
public:
    explicit FileSource(const FileReader &first) : m_first(first) {}
    qint64 size() const override { return m_first.size(); }
    std::unique_ptr<SourceReader> makeReader() override
    {
        return std::make_unique<FileReader>(m_first);
    }

private:
    FileReader m_first;
};

std::unique_ptr<ByteSource> fileSource(Descriptor opened, qint64 start, const file::Stamp &stamp)
{
    return std::make_unique<FileSource>(FileReader(std::move(opened), start, stamp));
}

struct Place
{
    qint64 cursor = 0;
    bool detached = false; // reads from the kept copy, holding nobody back
    bool stopped = false;
    std::function<void()> notify;
};

// The bytes of a stream every attached reader still needs. The reading
// thread waits while the slowest is a whole window behind, so memory stays
// bounded. A kept copy has every byte before any reader sees it.
struct SharedWindow
{
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QByteArray> chunks; // in stream order
    qint64 firstOffset = 0;        // stream offset of chunks.front()
    qint64 buffered = 0;           // bytes held in chunks
    bool end = false;
    QString error;
    std::vector<Place *> places;
    qint64 window = 0;
    Descriptor copy;
    QString copyError; // once set, the copy stops growing

    qint64 endOffset() const { return firstOffset + buffered; }

    // Chunks every attached reader has passed are freed at once, and
    // whoever waits looks again.
    void dropConsumed()
    {
        qint64 keepFrom = endOffset();
        for (const Place *place : places)
            if (!place->detached)
                keepFrom = std::min(keepFrom, place->cursor);
        while (!chunks.empty() && firstOffset + chunks.front().size() <= keepFrom) {
            firstOffset += chunks.front().size();
            buffered -= chunks.front().size();
            chunks.pop_front();
        }
        changed.notify_all();
    }
};

class StreamReader final : public SourceReader
{
public:
    explicit StreamReader(std::shared_ptr<SharedWindow> shared)
        : m_shared(std::move(shared))
    {
        const std::lock_guard lock(m_shared->mutex);
        m_place.cursor = m_shared->firstOffset;
        m_shared->places.push_back(&m_place);
    }

    ~StreamReader() override
    {
        // A reader that gives up must not hold the others back.
        const std::lock_guard lock(m_shared->mutex);
        std::erase(m_shared->places, &m_place);
        m_shared->dropConsumed();
    }

    QByteArray read(qint64 maxBytes, bool wait) override
    {
        std::unique_lock lock(m_shared->mutex);
        if (wait)
            m_shared->changed.wait(lock, [this] {
                return available() > 0 || m_shared->end || m_place.stopped;
            });
        if (m_place.stopped || !m_ownError.isEmpty())
            return {};
        if (!m_place.detached)
            return take(maxBytes);
        if (!m_shared->copyError.isEmpty())
            m_ownError = m_shared->copyError;
        const qint64 count = std::min(maxBytes, available());
        if (count <= 0 || !m_ownError.isEmpty())
            return {};
        // The copy only grows, and only past what readers may see.
        const qint64 at = m_place.cursor;
        lock.unlock();
        QByteArray data(count, Qt::Uninitialized);
        int error = 0;
        const long long got = file::readAt(*m_shared->copy, data.data(),
                                           static_cast<std::size_t>(count), at, &error);
        lock.lock();
        if (got <= 0) {
            m_ownError = readFailed(got < 0 ? error : EIO);
            return {};
        }
        data.truncate(got);
        m_place.cursor += got;
        return data;
    }

    void stopWaiting() override
    {
        const std::lock_guard lock(m_shared->mutex);
        m_place.stopped = true;
        m_shared->changed.notify_all();
    }

    bool atEnd() const override
    {
        const std::lock_guard lock(m_shared->mutex);
        return !m_ownError.isEmpty() || (m_shared->end && available() == 0);
    }

    QString error() const override
    {
        const std::lock_guard lock(m_shared->mutex);
        return !m_ownError.isEmpty() ? m_ownError : m_shared->error;
    }

    void setNotify(std::function<void()> notify) override
    {
        const std::lock_guard lock(m_shared->mutex);
        m_place.notify = std::move(notify);
    }

    void letGo() override
    {
        const std::lock_guard lock(m_shared->mutex);
        if (!m_shared->copy || m_place.detached)
            return;
        if (!m_shared->copyError.isEmpty()) {
            m_ownError = m_shared->copyError;
            return;
        }
        m_place.detached = true;
        m_shared->dropConsumed();
    }

private:
    // The rest need the shared mutex held.
    qint64 available() const { return m_shared->endOffset() - m_place.cursor; }

    QByteArray take(qint64 maxBytes)
    {
        QByteArray data;
        qint64 chunkStart = m_shared->firstOffset;
        for (const QByteArray &chunk : m_shared->chunks) {
            if (data.size() >= maxBytes)
                break;
            const qint64 chunkEnd = chunkStart + chunk.size();
            if (m_place.cursor < chunkEnd) {
                const qint64 from = m_place.cursor - chunkStart;
                const qint64 count = std::min(chunkEnd - m_place.cursor, maxBytes - data.size());
                data.append(chunk.constData() + from, count);
                m_place.cursor += count;
            }
            chunkStart = chunkEnd;
        }
        if (!data.isEmpty())
            m_shared->dropConsumed();
        return data;
    }

    std::shared_ptr<SharedWindow> m_shared;
    Place m_place;    // guarded by the shared mutex
    QString m_ownError; // likewise
};

class StreamSource final : public ByteSource
{
public:
    StreamSource(int fd, qint64 window, bool ownsFd)
        : m_fd(fd), m_ownsFd(ownsFd), m_shared(std::make_shared<SharedWindow>())
    {
        m_shared->window = window;
    }

    qint64 size() const override { return -1; }

    qint64 knownLength() const override
    {
        const std::lock_guard lock(m_shared->mutex);
        return m_shared->end && m_shared->error.isEmpty() ? m_shared->endOffset() : -1;
    }

    // Where no copy can be made, readers that wait hold the others as before.
    void keepCopy() override
    {
        int error = 0;
        const int fd = file::makeUnnamed(LocalPath::toBytes(QDir::tempPath()).toStdString(), &error);
        if (fd >= 0)
            m_shared->copy = own(fd);
    }

    std::unique_ptr<SourceReader> makeReader() override
    {
        return std::make_unique<StreamReader>(m_shared);
    }

    void start() override
    {
        // Detached: a read() blocked on a terminal must not keep the program
        // from ending; the shared state outlives the source.
        std::thread([fd = m_fd, ownsFd = m_ownsFd, shared = m_shared] {
            pump(fd, *shared);
            if (ownsFd)
                file::close(fd);
        }).detach();
    }

private:
    static void pump(int fd, SharedWindow &shared)
    {
        std::vector<char> chunk(64 * 1024);
        for (;;) {
            {
                std::unique_lock lock(shared.mutex);
                shared.changed.wait(lock, [&shared] { return shared.buffered < shared.window; });
            }
            int error = 0;
            const long long got = file::readWhenReady(fd, chunk.data(), chunk.size(), -1, &error);
            const auto size = static_cast<std::size_t>(std::max(0LL, got));
            int copyError = 0;
            const bool copied = !shared.copy || !shared.copyError.isEmpty() ||
                                file::writeAll(*shared.copy, chunk.data(), size, &copyError);
            const std::lock_guard lock(shared.mutex);
            if (!copied)
                shared.copyError = QStringLiteral("Keeping the input in a temporary file failed: %1.")
                                       .arg(systemError(copyError));
            if (got > 0) {
                shared.chunks.emplace_back(chunk.data(), static_cast<qsizetype>(got));
                shared.buffered += got;
            } else {
                shared.end = true;
                if (got < 0)
                    shared.error = readFailed(error);
            }
            shared.dropConsumed();
            for (const Place *place : shared.places)
                if (place->notify)
                    place->notify();
            if (got <= 0)
                return;
        }
    }

    int m_fd;
    bool m_ownsFd;
    std::shared_ptr<SharedWindow> m_shared;
};

// Keeps a stream whole in a temporary file before anything is sent; a full
// disk must not pass for the end of the input.
std::unique_ptr<ByteSource> spool(int fd, const QString &inputName,
                                  const ByteSource::OpenOptions &options, QString *error,
                                  bool *interrupted)
{
    const QString folder = QDir::tempPath();
    int failure = 0;
    const auto cannotKeep = [&] {
        *error = QStringLiteral("cannot keep %1 in a temporary file in %2: %3")
                     .arg(inputName, folder, systemError(failure));
        return nullptr;
    };
    const int spoolFd = file::makeUnnamed(LocalPath::toBytes(folder).toStdString(), &failure);
    if (spoolFd < 0)
        return cannotKeep();
    Descriptor kept = own(spoolFd);
    std::vector<char> chunk(1024 * 1024);
    for (;;) {
        const long long got =
            file::readWhenReady(fd, chunk.data(), chunk.size(), options.interruptFd, &failure);
        if (got == file::Interrupted) {
            if (interrupted)
                *interrupted = true;
            return nullptr;
        }
        if (got < 0) {
            *error = QStringLiteral("reading %1 failed: %2").arg(inputName, systemError(failure));
            return nullptr;
        }
        if (got == 0)
            break;
        if (!file::writeAll(spoolFd, chunk.data(), static_cast<std::size_t>(got), &failure))
            return cannotKeep();
    }
    file::Kind kind{};
    file::Stamp stamp;
    if (!file::inspect(spoolFd, &kind, &stamp, &failure))
        return cannotKeep();
    return fileSource(std::move(kept), 0, stamp);
}

// A plain file given with < is read from where standard input stands, by
// position, and checked as a named file is.
std::unique_ptr<ByteSource> fileOnStandardInput()
{
    file::Kind kind{};
    file::Stamp stamp;
    int error = 0;
    const long long at = file::position(file::StandardInput);
    if (!file::inspect(file::StandardInput, &kind, &stamp, &error) || kind != file::Kind::Regular ||
        at < 0 || stamp.size <= at)
        return nullptr;
    const int fd = file::duplicate(file::StandardInput);
    return fd < 0 ? nullptr : fileSource(own(fd), at, stamp);
}

// Opened once, without waiting; -1 with why. A pipe, a device, an empty
// file or one whose size says nothing is a stream, read once to its end.
int openInput(const QString &path, file::Stamp *stamp, bool *stream, QString *why)
{
    int error = 0;
    file::Kind kind{};
    const int fd = file::openForReading(LocalPath::toBytes(path).toStdString(), &error);
    if (fd >= 0 && file::inspect(fd, &kind, stamp, &error) && kind != file::Kind::Folder) {
        *stream = kind != file::Kind::Regular || stamp->size == 0;
        return fd;
    }
    if (fd >= 0)
        file::close(fd);
    *why = fd >= 0 ? QStringLiteral("It is a folder.") : systemError(error);
    return -1;
}

} // namespace

std::unique_ptr<ByteSource> ByteSource::openNamed(const QString &path, QString *why)
{
    file::Stamp stamp;
    bool stream = false;
    const int fd = openInput(path, &stamp, &stream, why);
    if (fd < 0)
        return nullptr;
    return stream ? fromDescriptor(fd, StreamWindowBytes, true) : fileSource(own(fd), 0, stamp);
}

std::unique_ptr<ByteSource> ByteSource::open(const QString &input, QString *error,
                                             const OpenOptions &options, bool *interrupted)
{
    const bool named = input != QLatin1String("-");
    int fd = file::StandardInput;
    if (!named) {
        if (auto plain = fileOnStandardInput())
            return plain;
    } else {
        QString why;
        file::Stamp stamp;
        bool stream = false;
        fd = openInput(input, &stamp, &stream, &why);
        if (fd < 0) {
            *error = why == QLatin1String("It is a folder.") ? input + QStringLiteral(" is a folder")
                                                            : input + QStringLiteral(": ") + why;
            return nullptr;
        }
        if (!stream)
            return fileSource(own(fd), 0, stamp);
    }
    if (!options.replayable)
        return fromDescriptor(fd, StreamWindowBytes, named);
    auto kept = spool(fd, named ? input : QStringLiteral("standard input"), options, error,
                      interrupted);
    if (named)
        file::close(fd);
    return kept;
}

std::unique_ptr<ByteSource> ByteSource::fromDescriptor(int fd, qint64 windowBytes, bool ownsFd)
{
    return std::make_unique<StreamSource>(fd, windowBytes, ownsFd);
}
