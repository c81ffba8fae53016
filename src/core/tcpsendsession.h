#pragma once

#include "core/tcpblocksender.h"

// The window's TCP send: the file named there, to the address and port
// typed there. The file is opened at once, so a file chosen later cannot
// change what goes out.
class TcpSendSession : public TcpBlockSender
{
    Q_OBJECT

public:
    using TcpBlockSender::TcpBlockSender;

    // Only a plain file is sent: opening a pipe waits for a writer that may
    // never come, and the window would wait with it. Every failure, a bad
    // port or an unreadable file too, is reported from the event loop.
    void start(const QString &path, const QString &host, const QString &portText);
    // The file as it was named at the start.
    QString path() const { return m_path; }

private:
    QString m_path;
};
