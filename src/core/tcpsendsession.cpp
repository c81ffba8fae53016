#include "core/tcpsendsession.h"

#include "core/bytesource.h"
#include "core/endpoint.h"
#include "core/localpath.h"

void TcpSendSession::start(const QString &path, const QString &host, const QString &portText)
{
    m_path = path;
    const QString address = bareHost(host);
    const std::optional<quint16> port = parsePort(portText);
    if (!port) {
        refuse(SendOutcome::ConnectionFailed,
               QStringLiteral("The port \"%1\" is not a number from 1 to 65535.").arg(portText),
               address);
        return;
    }
    // A pipe is looked at before it is opened: opening one, even without
    // waiting, would release a writer blocked on its other end.
    const LocalPath::Status found = LocalPath::status(path);
    QString why = QStringLiteral("It is a pipe or a device, not a file.");
    std::unique_ptr<ByteSource> source;
    if (!found.exists || found.isRegular || found.isFolder)
        source = ByteSource::openNamed(path, &why);
    if (!source) {
        refuse(SendOutcome::InputUnreadable, why, address);
        return;
    }
    // A file that says 0, or one of /proc or /sys, is read to its end.
    std::shared_ptr<SourceReader> reader = source->makeReader();
    source->start();
    TcpBlockSender::start(std::move(reader), address, *port);
}
