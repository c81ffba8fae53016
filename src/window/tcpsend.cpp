#include "window/varnet.h"
#include "core/exitstatus.h"
#include "window/frmsocket.h"
#include "core/tcpblocksender.h"
#include "window/messageseam.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

void Varnet::sendTcp()
{
    // One window and one timer serve one send; the running one finishes
    // undisturbed. One that has ended closes now, as its timer would. The
    // guarded pointer is read once: each read may find it null again.
    if (const frmsocket *running = SocketForm; running && running->winsock->isBusy()) {
        MessageSeam::show(this,
                          QStringLiteral("Still sending to %1. Print again when that send has "
                                         "ended.")
                              .arg(running->winsock->remoteAddress()),
                          QStringLiteral("Message"));
        return;
    }
    if (SocketForm)
        Timer1_Timer();

    auto *form = new frmsocket;
    SocketForm = form;
    form->show();
    form->winsock->setTiming(m_tcpTiming);
    followTcpSend(form);
    form->winsock->start(Text2->text(), IP->text(), Port->text());
}

void Varnet::followTcpSend(frmsocket *form)
{
    TcpBlockSender *sender = form->winsock;
    // Text1 is read each time: a file loaded meanwhile changes the size shown.
    connect(sender, &TcpBlockSender::progress, form, [this, form](qint64 count) {
        form->Label1->setText(
            QStringLiteral("Sending %1 bytes / %2").arg(QString::number(count), Text1->text()));
    });
    connect(sender, &TcpBlockSender::allQueued, form, [this, form] {
        form->Label1->setText(QStringLiteral("Sending %1 / %1").arg(Text1->text()));
        // Unattended, nobody watches the window: no pause before closing.
        if (SocketForm == form && m_commandLineMode)
            Timer1_Timer();
        else if (SocketForm == form)
            Timer1->start();
    });
    connect(sender, &TcpBlockSender::failed, this, [this, sender, form] {
        const QString text = form->failureMessage();
        m_sendStatus = exitStatusFor(sender->outcome());
        // The box runs its own event loop; it must not run inside the
        // socket's notification.
        QMetaObject::invokeMethod(
            this,
            [this, text, form = QPointer<frmsocket>(form)] {
                MessageSeam::show(this, text, QStringLiteral("Message"));
                if (form && SocketForm == form)
                    Timer1->start();
                emit tcpSendFinished(false);
            },
            Qt::QueuedConnection);
    });
    // A failure is told once its message has been answered.
    connect(sender, &TcpBlockSender::finished, this, [this, sender](bool ok) {
        if (ok || sender->outcome() == SendOutcome::Cancelled) {
            m_sendStatus = exitStatusFor(sender->outcome());
            emit tcpSendFinished(ok);
        }
    });
}

void Varnet::Timer1_Timer()
{
    Timer1->stop();
    frmsocket *form = SocketForm;
    if (!form || form->winsock->isBusy())
        return;
    SocketForm = nullptr;
    form->unload();
}
