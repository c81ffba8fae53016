#include "core/tcpsendsession.h"

#include "core/localpath.h"
#include "core/endpoint.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

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
    const LocalPath::Status found = LocalPath::status(path);
    auto file = std::make_unique<QFile>();
    QString why;
    if (found.isFolder)
        why = QStringLiteral("It is a folder.");
    else if (found.exists && !found.isRegular)
        why = QStringLiteral("It is a pipe or a device, not a file.");
    else
        LocalPath::openRegularFile(*file, path, QIODevice::ReadOnly, &why);
    if (!why.isEmpty()) {
        refuse(SendOutcome::InputUnreadable, why, address);
        return;
    }
    // A plain file must go out as long as it was when the send began; one
    // that says 0 is read to its end instead, as are those of /proc and
    // /sys, whose size says nothing of their content.
    const QByteArray fileSystem = QStorageInfo(QFileInfo(path).absolutePath()).fileSystemType();
    const bool sizeSaysNothing = fileSystem == "proc" || fileSystem == "sysfs";
    const qint64 size = file->size() > 0 && !sizeSaysNothing ? file->size() : -1;
    TcpBlockSender::start(std::move(file), size, address, *port);
}
