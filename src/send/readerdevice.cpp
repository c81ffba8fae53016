#include "readerdevice.h"

#include "bytesource.h"

#include <QMetaObject>

#include <cstring>
#include <mutex>

// The reader's producer may call back from another thread after this device
// is gone; the link lets it find out under a lock.
struct ReaderDevice::Link
{
    std::mutex mutex;
    ReaderDevice *device = nullptr;
};

ReaderDevice::ReaderDevice(std::unique_ptr<SourceReader> reader, QObject *parent)
    : QIODevice(parent), m_reader(std::move(reader)), m_link(std::make_shared<Link>())
{
    m_link->device = this;
    m_reader->setNotify([link = m_link] {
        const std::lock_guard lock(link->mutex);
        if (link->device)
            QMetaObject::invokeMethod(
                link->device, [device = link->device] { emit device->readyRead(); },
                Qt::QueuedConnection);
    });
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

ReaderDevice::~ReaderDevice()
{
    const std::lock_guard lock(m_link->mutex);
    m_link->device = nullptr;
}

bool ReaderDevice::atEnd() const
{
    return m_reader->atEnd();
}

qint64 ReaderDevice::readData(char *data, qint64 maxSize)
{
    const QByteArray chunk = m_reader->readAvailable(maxSize);
    if (chunk.isEmpty() && m_reader->atEnd() && !m_reader->error().isEmpty()) {
        setErrorString(m_reader->error());
        return -1;
    }
    std::memcpy(data, chunk.constData(), static_cast<std::size_t>(chunk.size()));
    return chunk.size();
}
