#include "frmsocket.h"

#include "transmission/tcpblocksender.h"
#include "widgets/classicstyle.h"
#include "widgets/twips.h"
#include "widgets/windowplacement.h"

#include <QCloseEvent>
#include <QLabel>

frmsocket::frmsocket(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("frmsocket"));
    setWindowTitle(QStringLiteral("Message"));
    setFixedSize(twipsToPixels(4980), twipsToPixels(1185));

    Label1 = place<QLabel>(this, "Label1", twipsRect(720, 240, 4095, 495),
                           QStringLiteral("Sending..."));
    Label1->setFont(classicFont(9.75));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    winsock = new TcpBlockSender(this);
    winsock->setObjectName(QStringLiteral("winsock"));
    connect(winsock, &TcpBlockSender::finished, this, [this] {
        // Unloading waits for the connection; once it is gone, so is the
        // window.
        if (m_unloading)
            deleteLater();
    });
}

frmsocket::~frmsocket() = default;

void frmsocket::unload()
{
    m_unloading = true;
    if (winsock->phase() == TcpBlockSender::Phase::Done) {
        deleteLater();
        return;
    }
    winsock->close();
}

void frmsocket::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_centred) {
        m_centred = true;
        centerOnScreen(this);
    }
}

void frmsocket::closeEvent(QCloseEvent *event)
{
    // Closed by the user: a running send is cancelled; an ended one closes
    // its connection gracefully first and the window goes with it.
    if (winsock->phase() == TcpBlockSender::Phase::Done) {
        event->accept();
        deleteLater();
        return;
    }
    if (winsock->isBusy()) {
        event->accept();
        winsock->cancel();
        deleteLater();
        return;
    }
    event->ignore();
    unload();
}
