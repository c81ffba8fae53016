#include "bytesource.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

class FileReader final : public SourceReader
{
public:
    explicit FileReader(const QString &path)
        : m_file(path)
    {
        if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            m_error = m_file.errorString();
    }

    QByteArray readBlocking(qint64 maxBytes) override { return readAvailable(maxBytes); }

    QByteArray readAvailable(qint64 maxBytes) override
    {
        if (!m_error.isEmpty() || m_end)
            return {};
        QByteArray data = m_file.read(maxBytes);
        if (data.isEmpty()) {
            if (m_file.error() != QFileDevice::NoError)
                m_error = m_file.errorString();
            m_end = true;
        }
        return data;
    }

    bool atEnd() const override { return m_end || !m_error.isEmpty(); }
    QString error() const override { return m_error; }
    void setNotify(std::function<void()>) override {}

private:
    QFile m_file;
    QString m_error;
    bool m_end = false;
};

class FileSource final : public ByteSource
{
public:
    explicit FileSource(const QString &path)
        : m_path(path), m_size(QFileInfo(path).size())
    {
    }

    qint64 size() const override { return m_size; }
    std::unique_ptr<SourceReader> makeReader() override
    {
        return std::make_unique<FileReader>(m_path);
    }
    void start() override {}

private:
    QString m_path;
    qint64 m_size;
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
    StreamSource(int fd, qint64 window)
        : m_fd(fd), m_shared(std::make_shared<SharedWindow>())
    {
        m_shared->window = window;
    }

    qint64 size() const override { return -1; }

    std::unique_ptr<SourceReader> makeReader() override
    {
        return std::make_unique<StreamReader>(m_shared);
    }

    void start() override
    {
        // Detached: a read() blocked on a terminal must not keep the program
        // from ending; the shared state outlives the source.
        std::thread([fd = m_fd, shared = m_shared] { pump(fd, *shared); }).detach();
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
            const ssize_t got = ::read(fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR)
                continue;
            std::vector<std::function<void()>> notifies;
            {
                const std::lock_guard lock(shared.mutex);
                if (got > 0) {
                    shared.chunks.emplace_back(chunk.data(), static_cast<qsizetype>(got));
                    shared.buffered += got;
                } else {
                    shared.end = true;
                    if (got < 0)
                        shared.error = QString::fromLocal8Bit(std::strerror(errno));
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
    std::shared_ptr<SharedWindow> m_shared;
};

} // namespace

std::unique_ptr<ByteSource> ByteSource::open(const QString &input, QString *error)
{
    if (input == QLatin1String("-"))
        return fromDescriptor(STDIN_FILENO, 4 * 1024 * 1024);
    const QFileInfo info(input);
    QFile probe(input);
    if (info.isDir()) {
        *error = QStringLiteral("%1 is a folder").arg(input);
        return nullptr;
    }
    if (!probe.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(input, probe.errorString());
        return nullptr;
    }
    return std::make_unique<FileSource>(input);
}

std::unique_ptr<ByteSource> ByteSource::fromDescriptor(int fd, qint64 windowBytes)
{
    return std::make_unique<StreamSource>(fd, windowBytes);
}
