#pragma once

#include "core/tcpblocksender.h"

// The window's TCP send: the file, address and port typed there. The file
// is opened at once, so a file chosen later cannot change what goes out.
class TcpSendSession : public TcpBlockSender
{
    Q_OBJECT

public:
    using TcpBlockSender::TcpBlockSender;

    // Only a plain file is sent: opening a pipe waits for a writer that may
    // never come, and the window would wait with it.
    void start(const QString &path, const QString &host, const QString &portText);
    QString path() const { return m_path; } // as named at the start

private:
    QString m_path;
};
