#include "window/frmsocket.h"

#include "core/localpath.h"
#include "core/tcpblocksender.h"
#include "window/classicstyle.h"
#include "window/twips.h"

#include <QCloseEvent>
#include <QLabel>

frmsocket::frmsocket(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("frmsocket"));
    setWindowTitle(QStringLiteral("Message"));
    setFixedSize(twipsToPixels(4980), twipsToPixels(1185));
    // Before it is first shown: a window manager then moves it into its frame,
    // which tells when to centre it again.
    centerOnScreen(this);

    Label1 = place<QLabel>(this, "Label1", twipsRect(720, 240, 4095, 495),
                           QStringLiteral("Sending..."));
    Label1->setFont(classicFont(9.75));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    winsock = new TcpBlockSender(this);
    winsock->setObjectName(QStringLiteral("winsock"));
    connect(winsock, &TcpBlockSender::finished, this, [this] {
        // Unloading waits for the connection to go.
        if (m_unloading)
            deleteLater();
    });
}

void frmsocket::unload()
{
    m_unloading = true;
    if (winsock->phase() == TcpBlockSender::Phase::Done)
        deleteLater();
    else
        winsock->close();
}

void frmsocket::closeEvent(QCloseEvent *event)
{
    // Closed by the user: a running send is cancelled; an ended one closes
    // its connection gracefully first and the window goes with it.
    const bool ended = winsock->phase() == TcpBlockSender::Phase::Done;
    if (!ended && !winsock->isBusy()) {
        event->ignore();
        unload();
        return;
    }
    event->accept();
    if (!ended)
        winsock->cancel();
    deleteLater();
}

int frmsocket::classicState() const
{
    switch (winsock->phase()) {
    case TcpBlockSender::Phase::Idle:
        return 0;
    case TcpBlockSender::Phase::LookingUp:
        return 4;
    case TcpBlockSender::Phase::Connecting:
        return 6;
    case TcpBlockSender::Phase::Sending:
    case TcpBlockSender::Phase::Queued:
        return 7;
    case TcpBlockSender::Phase::Closing:
    case TcpBlockSender::Phase::AwaitingPeerClose:
        return 8;
    case TcpBlockSender::Phase::Done:
        break;
    }
    if (winsock->outcome() == SendOutcome::Delivered ||
        winsock->outcome() == SendOutcome::Cancelled)
        return 0;
    // Given up on while it still waited, the control stays where it was.
    return winsock->gaveUpIn() == TcpBlockSender::Phase::LookingUp    ? 4
           : winsock->gaveUpIn() == TcpBlockSender::Phase::Connecting ? 6
                                                      : 9;
}

QString frmsocket::failureMessage() const
{
    const QString address = winsock->remoteAddress();
    if (winsock->outcome() == SendOutcome::InputUnreadable)
        return QStringLiteral("Cannot send \"%1\" to %2: %3")
            .arg(LocalPath::printable(winsock->path()), address, winsock->failureReason());
    // Without an address the classic text keeps its two blanks.
    QString text = QStringLiteral("Connection to %1 faild! State: %2\n%3")
                       .arg(winsock->peerAddress(), QString::number(classicState()),
                            winsock->failureReason());
    if (winsock->outcome() != SendOutcome::TransferFailed)
        return text;
    const qint64 acknowledged = winsock->acknowledgedBytes();
    text += acknowledged >= 0
                ? QStringLiteral("\nThe printer acknowledged ") + QString::number(acknowledged)
                : QStringLiteral("\nThe connection took ") +
                      QString::number(winsock->handedOverBytes());
    if (winsock->expectedSize() >= 0)
        text += QStringLiteral(" of ") + QString::number(winsock->expectedSize());
    return text + QStringLiteral(" bytes.");
}
