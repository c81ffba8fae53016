#include "core/bytesource.h"

#include "core/localpath.h"
#include "platform/platform.h"

#include <QDir>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 StreamWindowBytes = 4 * 1024 * 1024;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// An input's descriptor, closed when its last user lets go.
struct Descriptor
{
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor() { ::close(fd); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    const int fd;
};

// Waits until fd has data or its end, then reads; or until interruptFd is
// readable. A pipe opened without waiting for its writer reads as ended
// until the writer has come, so the wait is in poll(), which Linux holds
// until then; and a descriptor handed to us non-blocking waits there too.
constexpr ssize_t Interrupted = -2;
ssize_t readWhenReady(int fd, char *buffer, std::size_t size, int interruptFd = -1)
{
    for (;;) {
        pollfd waits[2] = {{fd, POLLIN, 0}, {interruptFd, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            // Reading now could take a writer that has not come for the end.
            if (errno == EINTR)
                continue;
            return -1;
        }
        // The byte stays in the pipe: whoever set it up sees it too.
        if (waits[1].revents & POLLIN)
            return Interrupted;
        const ssize_t got = ::read(fd, buffer, size);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        return got;
    }
}

// Reads a plain file by position, so every destination has its own place
// in one descriptor. A file that changes its length while it is being sent
// is no longer the file that was asked for: that is an error, not an end.
class FileReader final : public SourceReader
{
public:
    // From start (standard input may have been read a little already) to
    // the end of a file of size bytes.
    FileReader(std::shared_ptr<const Descriptor> file, qint64 start, qint64 size, timespec modified)
        : m_file(std::move(file)), m_size(size), m_modified(modified), m_offset(start)
    {
    }

    QByteArray readBlocking(qint64 maxBytes) override { return readAvailable(maxBytes); }

    QByteArray readAvailable(qint64 maxBytes) override
    {
        if (!m_error.isEmpty() || m_end)
            return {};
        if (m_offset >= m_size) {
            m_error = changeSince();
            m_end = m_error.isEmpty();
            return {};
        }
        QByteArray data(std::min(maxBytes, m_size - m_offset), Qt::Uninitialized);
        for (;;) {
            const ssize_t got = ::pread(m_file->fd, data.data(), static_cast<std::size_t>(data.size()),
                                        static_cast<off_t>(m_offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                m_error = systemError(errno);
                return {};
            }
            if (got == 0) {
                m_error = changeSince();
                if (m_error.isEmpty())
                    m_error = QStringLiteral("the file gave only %1 of its %2 bytes")
                                  .arg(QString::number(m_offset), QString::number(m_size));
                return {};
            }
            data.truncate(got);
            m_offset += got;
            return data;
        }
    }

    bool atEnd() const override { return m_end || !m_error.isEmpty(); }
    QString error() const override { return m_error; }
    void setNotify(std::function<void()>) override {}

    int fileDescriptor() const override { return m_file->fd; }
    qint64 fileOffset() const override { return m_offset; }
    qint64 fileBytesLeft() const override
    {
        return atEnd() ? 0 : std::max<qint64>(0, m_size - m_offset);
    }
    void skipFileBytes(qint64 count) override { m_offset += count; }
    QString fileChange() const override { return changeSince(); }

private:
    // Empty while the file still has the length it had when it was opened.
    QString changeSince() const
    {
        struct stat info {};
        if (::fstat(m_file->fd, &info) != 0)
            return systemError(errno);
        const qint64 now = info.st_size;
        // Rewritten in place, the file keeps its length, but what went out
        // is part old, part new.
        if (now == m_size && (info.st_mtim.tv_sec != m_modified.tv_sec ||
                              info.st_mtim.tv_nsec != m_modified.tv_nsec))
            return QStringLiteral("the file was changed during the send");
        if (now == m_size)
            return {};
        return QStringLiteral("the file %1 from %2 to %3 bytes during the send")
            .arg(now < m_size ? QStringLiteral("shrank") : QStringLiteral("grew"),
                 QString::number(m_size), QString::number(now));
    }

    std::shared_ptr<const Descriptor> m_file;
    qint64 m_size;
    timespec m_modified;
    qint64 m_offset;
    QString m_error;
    bool m_end = false;
};

class FileSource final : public ByteSource
{
public:
    // modified: the file's modification time when it was opened, so that
    // a destination whose turn comes later still sends the same file.
    FileSource(std::shared_ptr<const Descriptor> file, qint64 start, qint64 size, timespec modified)
        : m_file(std::move(file)), m_start(start), m_size(size), m_modified(modified)
    {
    }

    qint64 size() const override { return m_size - m_start; }
    std::unique_ptr<SourceReader> makeReader() override
    {
        return std::make_unique<FileReader>(m_file, m_start, m_size, m_modified);
    }
    void start() override {}

private:
    std::shared_ptr<const Descriptor> m_file;
    qint64 m_start;
    qint64 m_size;
    timespec m_modified;
};

// The bytes of a stream that every reader still needs, and where each
// reader stands. The reading thread waits while the slowest reader is a
// whole window behind, so memory stays bounded whatever the input's size.
struct SharedWindow
{
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QByteArray> chunks; // in stream order
    qint64 firstOffset = 0;        // stream offset of chunks.front()
    qint64 buffered = 0;           // bytes held in chunks
    bool end = false;
    QString error;
    std::vector<qint64 *> cursors; // one per live reader
    std::vector<std::function<void()>> notifies;
    qint64 window = 0;

    qint64 endOffset() const { return firstOffset + buffered; }

    qint64 slowest() const
    {
        qint64 lowest = endOffset();
        for (const qint64 *cursor : cursors)
            lowest = std::min(lowest, *cursor);
        return lowest;
    }

    // Chunks every reader has passed are freed at once.
    void dropConsumed()
    {
        const qint64 keepFrom = slowest();
        while (!chunks.empty() && firstOffset + chunks.front().size() <= keepFrom) {
            firstOffset += chunks.front().size();
            buffered -= chunks.front().size();
            chunks.pop_front();
        }
    }
};

class StreamReader final : public SourceReader
{
public:
    explicit StreamReader(std::shared_ptr<SharedWindow> shared)
        : m_shared(std::move(shared))
    {
        const std::lock_guard lock(m_shared->mutex);
        m_cursor = m_shared->firstOffset;
        m_shared->cursors.push_back(&m_cursor);
    }

    ~StreamReader() override
    {
        // A reader that gives up must not hold the others back.
        const std::lock_guard lock(m_shared->mutex);
        auto &cursors = m_shared->cursors;
        cursors.erase(std::remove(cursors.begin(), cursors.end(), &m_cursor), cursors.end());
        m_shared->dropConsumed();
        m_shared->changed.notify_all();
    }

    QByteArray readBlocking(qint64 maxBytes) override
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->changed.wait(lock,
                               [this] { return available() > 0 || m_shared->end || m_stopped; });
        return m_stopped ? QByteArray() : take(maxBytes);
    }

    void stopWaiting() override
    {
        const std::lock_guard lock(m_shared->mutex);
        m_stopped = true;
        m_shared->changed.notify_all();
    }

    QByteArray readAvailable(qint64 maxBytes) override
    {
        const std::lock_guard lock(m_shared->mutex);
        return take(maxBytes);
    }

    bool atEnd() const override
    {
        const std::lock_guard lock(m_shared->mutex);
        return m_shared->end && available() == 0;
    }

    QString error() const override
    {
        const std::lock_guard lock(m_shared->mutex);
        return m_shared->error;
    }

    void setNotify(std::function<void()> notify) override
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->notifies.push_back(std::move(notify));
    }

private:
    qint64 available() const { return m_shared->endOffset() - m_cursor; }

    // Called with the mutex held.
    QByteArray take(qint64 maxBytes)
    {
        QByteArray data;
        qint64 chunkStart = m_shared->firstOffset;
        for (const QByteArray &chunk : m_shared->chunks) {
            if (data.size() >= maxBytes)
                break;
            const qint64 chunkEnd = chunkStart + chunk.size();
            if (m_cursor < chunkEnd) {
                const qint64 from = m_cursor - chunkStart;
                const qint64 count = std::min(chunkEnd - m_cursor, maxBytes - data.size());
                data.append(chunk.constData() + from, count);
                m_cursor += count;
            }
            chunkStart = chunkEnd;
        }
        if (!data.isEmpty()) {
            m_shared->dropConsumed();
            m_shared->changed.notify_all();
        }
        return data;
    }

    std::shared_ptr<SharedWindow> m_shared;
    qint64 m_cursor = 0;
    bool m_stopped = false; // guarded by the shared mutex
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
                ::close(fd);
        }).detach();
    }

private:
    static void pump(int fd, SharedWindow &shared)
    {
        std::vector<char> chunk(64 * 1024);
        for (;;) {
            {
                std::unique_lock lock(shared.mutex);
                shared.changed.wait(lock, [&shared] {
                    return shared.buffered < shared.window;
                });
            }
            const ssize_t got = readWhenReady(fd, chunk.data(), chunk.size());
            std::vector<std::function<void()>> notifies;
            {
                const std::lock_guard lock(shared.mutex);
                if (got > 0) {
                    shared.chunks.emplace_back(chunk.data(), static_cast<qsizetype>(got));
                    shared.buffered += got;
                } else {
                    shared.end = true;
                    if (got < 0)
                        shared.error = systemError(errno);
                }
                shared.dropConsumed();
                notifies = shared.notifies;
                shared.changed.notify_all();
            }
            for (const auto &notify : notifies)
                notify();
            if (got <= 0)
                return;
        }
    }

    int m_fd;
    bool m_ownsFd;
    std::shared_ptr<SharedWindow> m_shared;
};

// Keeps a stream whole in a temporary file that has no name from the start,
// so nothing is left behind however the program ends. Every write is
// checked: a full disk must not pass for the end of the input.
std::unique_ptr<ByteSource> spool(int fd, const QString &inputName,
                                  const ByteSource::OpenOptions &options, QString *error,
                                  bool *interrupted)
{
    const QString folder = QDir::tempPath();
    QByteArray pattern = LocalPath::toBytes(folder + QStringLiteral("/varnet-send-XXXXXX"));
    const int spoolFd = ::mkostemp(pattern.data(), O_CLOEXEC);
    const auto cannotKeep = [&](int errorNumber) {
        *error = QStringLiteral("cannot keep %1 in a temporary file in %2: %3")
                     .arg(inputName, folder, systemError(errorNumber));
        return nullptr;
    };
    if (spoolFd < 0)
        return cannotKeep(errno);
    ::unlink(pattern.constData());
    auto kept = std::make_shared<const Descriptor>(spoolFd);

    std::vector<char> chunk(1024 * 1024);
    qint64 total = 0;
    for (;;) {
        const ssize_t got = readWhenReady(fd, chunk.data(), chunk.size(), options.interruptFd);
        if (got == Interrupted) {
            *interrupted = true;
            return nullptr;
        }
        if (got < 0) {
            *error = QStringLiteral("reading %1 failed: %2").arg(inputName, systemError(errno));
            return nullptr;
        }
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(spoolFd, chunk.data() + written,
                                        static_cast<std::size_t>(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return cannotKeep(put < 0 ? errno : ENOSPC);
            written += put;
        }
        total += got;
    }
    struct stat info {};
    ::fstat(spoolFd, &info);
    return std::make_unique<FileSource>(std::move(kept), 0, total, info.st_mtim);
}

} // namespace

std::unique_ptr<ByteSource> ByteSource::open(const QString &input, QString *error,
                                             const OpenOptions &options, bool *interrupted)
{
    bool stopped = false;
    if (!interrupted)
        interrupted = &stopped;
    *interrupted = false;
    if (input == QLatin1String("-")) {
        // A plain file given with < is read from where standard input
        // stands, by position, and checked as a named file is: a file cut
        // short or rewritten during the send must not pass for its end.
        struct stat info {};
        const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
        if (::fstat(STDIN_FILENO, &info) == 0 && S_ISREG(info.st_mode) && at >= 0 &&
            info.st_size > at && !platform::console::sizeSaysNothing(STDIN_FILENO)) {
            const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
            if (fd >= 0)
                return std::make_unique<FileSource>(std::make_shared<const Descriptor>(fd), at,
                                                    info.st_size, info.st_mtim);
        }
        if (options.replayable)
            return spool(STDIN_FILENO, QStringLiteral("standard input"), options, error, interrupted);
        return fromDescriptor(STDIN_FILENO, StreamWindowBytes);
    }

    // Opened once, and without waiting: a FIFO whose writer has not come
    // yet must not hold the program in open(), deaf to Ctrl-C.
    const QByteArray path = LocalPath::toBytes(input);
    const int fd = path.isEmpty() ? -1 : ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = input + QStringLiteral(": ") + systemError(path.isEmpty() ? ENOENT : errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        *error = S_ISDIR(info.st_mode) ? input + QStringLiteral(" is a folder")
                                       : input + QStringLiteral(": ") + systemError(errno);
        ::close(fd);
        return nullptr;
    }
    if (S_ISREG(info.st_mode) && info.st_size > 0 && !platform::console::sizeSaysNothing(fd))
        return std::make_unique<FileSource>(std::make_shared<const Descriptor>(fd), 0, info.st_size,
                                            info.st_mtim);

    // A pipe, a device, or a file whose size says nothing: read once, to its end.
    if (!options.replayable)
        return fromDescriptor(fd, StreamWindowBytes, true);
    std::unique_ptr<ByteSource> kept = spool(fd, input, options, error, interrupted);
    ::close(fd);
    return kept;
}

std::unique_ptr<ByteSource> ByteSource::fromDescriptor(int fd, qint64 windowBytes, bool ownsFd)
{
    return std::make_unique<StreamSource>(fd, windowBytes, ownsFd);
}
