#include "tcptransfer.h"

#include "bytesource.h"
#include "readerdevice.h"
#include "transmission/tcpblocksender.h"

TcpTransfer::TcpTransfer(const Destination &destination, int connectTimeoutMs, int waitEofMs,
                         int stallTimeoutMs, QObject *parent)
    : Transfer(destination, parent), m_sender(new TcpBlockSender(this)), m_waitEofMs(waitEofMs)
{
    m_sender->setConnectTimeout(std::chrono::milliseconds(connectTimeoutMs));
    m_sender->setStallTimeout(std::chrono::milliseconds(stallTimeoutMs));
    m_sender->setPeerCloseWait(std::chrono::milliseconds(waitEofMs));
    connect(m_sender, &TcpBlockSender::progress, this, [this](qint64 count) {
        addSent(count - m_reported);
        m_reported = count;
    });
    connect(m_sender, &TcpBlockSender::allQueued, this, [this](qint64 count) {
        addSent(count - m_reported);
        m_reported = count;
        m_sender->close();
    });
    connect(m_sender, &TcpBlockSender::finished, this, &TcpTransfer::onFinished);
}

void TcpTransfer::start(std::unique_ptr<SourceReader> reader)
{
    markStarted();
    const Destination &target = destination();
    m_sender->start(std::make_unique<ReaderDevice>(std::move(reader)), -1, target.name, target.port);
}

void TcpTransfer::cancel()
{
    m_sender->cancel();
}

void TcpTransfer::onFinished(bool ok)
{
    if (ok) {
        if (m_waitEofMs > 0 && !m_sender->peerClosed())
            setNote(QStringLiteral("the printer kept its side open; every byte was acknowledged"));
        finish(SendOutcome::Delivered);
        return;
    }
    // What reached the printer, not what we let go of.
    const qint64 acknowledged = m_sender->acknowledgedBytes();
    setSent(acknowledged >= 0 ? acknowledged : m_sender->handedOverBytes());
    if (m_sender->outcome() == SendOutcome::Cancelled)
        finish(SendOutcome::Cancelled, QStringLiteral("interrupted, the connection was closed"));
    else
        finish(m_sender->outcome(), m_sender->failureReason());
}
