#pragma once

#include "transfer.h"

class TcpBlockSender;

// Raw TCP to a printer's port, through the same sender the window uses.
class TcpTransfer : public Transfer
{
    Q_OBJECT

public:
    TcpTransfer(const Destination &destination, int connectTimeoutMs, int waitEofMs,
                int stallTimeoutMs, QObject *parent = nullptr);

    void start(std::unique_ptr<SourceReader> reader) override;
    void cancel() override;

private:
    void onFinished(bool ok);

    TcpBlockSender *m_sender;
    qint64 m_reported = 0;
    int m_waitEofMs;
};
