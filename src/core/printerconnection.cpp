#include "core/printerconnection.h"

#include "core/bytesource.h"

#include <QHostInfo>

namespace tcp = platform::tcp;

static QString errorText(int error)
{
    return QString::fromStdString(tcp::errorText(error));
}

QString durationText(std::chrono::milliseconds duration)
{
    const auto ms = duration.count();
    if (ms % 1000 == 0)
        return QString::number(ms / 1000) + QStringLiteral(" s");
    return QString::number(ms) + QStringLiteral(" ms");
}

PrinterConnection::PrinterConnection(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PrinterConnection::onTimeout);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, &PrinterConnection::onReadable);
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &PrinterConnection::onWritable);
}

PrinterConnection::~PrinterConnection()
{
    close(false);
}

void PrinterConnection::open(const QString &host, quint16 port, std::chrono::milliseconds timeout)
{
    m_port = port;
    m_timeout = timeout;
    m_timer.start(timeout);
    QHostAddress literal;
    if (literal.setAddress(host)) {
        m_stage = Stage::Connecting;
        m_addresses = {literal};
        // Even a refusal comes from the event loop, never from inside open().
        QMetaObject::invokeMethod(this, &PrinterConnection::connectNext, Qt::QueuedConnection);
        return;
    }
    m_stage = Stage::LookingUp;
    m_lookupId = QHostInfo::lookupHost(host, this, &PrinterConnection::onLookedUp);
}

void PrinterConnection::onLookedUp(const QHostInfo &info)
{
    m_lookupId = -1;
    if (m_stage != Stage::LookingUp)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        giveUp(info.errorString() + QLatin1Char('.'), Stage::Closed);
        return;
    }
    m_stage = Stage::Connecting;
    m_addresses = info.addresses();
    connectNext();
}

void PrinterConnection::connectNext()
{
    if (m_stage != Stage::Connecting)
        return;
    while (!m_addresses.isEmpty()) {
        m_address = m_addresses.takeFirst().toString();
        tcp::Result result;
        const tcp::Socket socket = tcp::startConnect(m_address.toStdString(), m_port, &result);
        if (socket == tcp::NoSocket) {
            m_lastError = errorText(result.error);
            // No other address would fare better.
            if (tcp::isOutOfDescriptors(result.error)) {
                m_lackedDescriptor = true;
                m_addresses.clear();
            }
            continue;
        }
        m_socket = socket;
        m_readNotifier.setSocket(socket);
        m_writeNotifier.setSocket(socket);
        if (result.status == tcp::Status::Done)
            onWritable();
        else
            m_writeNotifier.setEnabled(true);
        return;
    }
    giveUp(m_lastError + QLatin1Char('.'), Stage::Closed);
}

void PrinterConnection::onTimeout()
{
    if (m_stage == Stage::LookingUp)
        giveUp(QStringLiteral("The printer's name could not be looked up within %1.")
                   .arg(durationText(m_timeout)),
               Stage::LookingUp);
    else if (m_stage == Stage::Connecting)
        giveUp(QStringLiteral("The printer did not accept the connection within %1.")
                   .arg(durationText(m_timeout)),
               Stage::Connecting);
}

void PrinterConnection::onWritable()
{
    m_writeNotifier.setEnabled(false);
    if (m_socket == tcp::NoSocket)
        return;
    if (m_stage == Stage::Connected) {
        emit readyWrite();
        return;
    }
    const tcp::Result result = tcp::finishConnect(m_socket);
    if (result.status == tcp::Status::WouldBlock) {
        m_writeNotifier.setEnabled(true);
        return;
    }
    if (result.status != tcp::Status::Done) {
        m_lastError = errorText(result.error);
        m_readNotifier.setEnabled(false);
        tcp::closeAbortively(m_socket);
        m_socket = tcp::NoSocket;
        connectNext();
        return;
    }
    m_timer.stop();
    m_stage = Stage::Connected;
    m_readNotifier.setEnabled(true);
    emit connected();
}

void PrinterConnection::onReadable()
{
    // Whatever a printer says back (status, echoes) is not ours to keep, but
    // it must be read, or a talkative printer stops taking our bytes.
    if (m_socket == tcp::NoSocket)
        return;
    char scratch[16384];
    for (int round = 0; round < 64; ++round) {
        const tcp::Result result = tcp::receive(m_socket, scratch, sizeof scratch);
        switch (result.status) {
        case tcp::Status::Done:
            continue;
        case tcp::Status::WouldBlock:
            return;
        case tcp::Status::EndOfStream:
            // Only the printer's sending direction has ended; it may still be
            // reading ours. Whether it read everything shows by what follows.
            m_peerEnded = true;
            m_readNotifier.setEnabled(false);
            emit peerEndedSending();
            return;
        case tcp::Status::Reset:
        case tcp::Status::Failed:
            emit failed(reason(result.error));
            return;
        }
    }
}

tcp::Result PrinterConnection::send(const char *data, qint64 size)
{
    const tcp::Result result = tcp::send(m_socket, data, static_cast<std::size_t>(size));
    // The notification brings the caller back once the system has room.
    if (result.status == tcp::Status::WouldBlock)
        m_writeNotifier.setEnabled(true);
    return result;
}

tcp::Result PrinterConnection::sendFrom(SourceReader &source, qint64 size)
{
    const tcp::Result result = source.sendTo(m_socket, size);
    if (result.status == tcp::Status::WouldBlock)
        m_writeNotifier.setEnabled(true);
    return result;
}

QString PrinterConnection::reason(int error) const
{
    if (!tcp::isResetError(error))
        return errorText(error) + QLatin1Char('.');
    // A printer that closes with our bytes unread resets the connection.
    return m_peerEnded ? QStringLiteral("The printer closed the connection before it had taken "
                                        "every byte.")
                       : QStringLiteral("The printer reset the connection.");
}

void PrinterConnection::giveUp(const QString &reason, Stage timedOutIn)
{
    close(false);
    emit connectFailed(reason, timedOutIn);
}

void PrinterConnection::close(bool graceful)
{
    m_timer.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    if (m_stage != Stage::Idle)
        m_stage = Stage::Closed;
    if (m_socket == tcp::NoSocket)
        return;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    if (graceful)
        tcp::closeGracefully(m_socket);
    else
        tcp::closeAbortively(m_socket);
    m_socket = tcp::NoSocket;
}
