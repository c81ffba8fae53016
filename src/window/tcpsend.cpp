#include "window/varnet.h"
#include "core/exitstatus.h"
#include "window/frmsocket.h"
#include "core/tcpsendsession.h"
#include "window/messageseam.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

void Varnet::sendTcp()
{
    // Read once: each read of the guarded pointer may find it null again.
    if (const frmsocket *running = SocketForm; running && running->winsock->isBusy()) {
        // One window and one timer serve one send; the running one finishes
        // undisturbed.
        MessageSeam::show(this,
                          QStringLiteral("Still sending to %1. Print again when that send has "
                                         "ended.")
                              .arg(running->winsock->remoteAddress()),
                          QStringLiteral("Message"));
        return;
    }
    // The earlier send has ended and only waits for its timer: it closes now,
    // as the timer would have closed it.
    if (SocketForm)
        Timer1_Timer();

    auto *form = new frmsocket;
    SocketForm = form;
    form->show();
    // Closing, by Timer1 or at the end of an unattended send, waits until
    // the printer has taken every byte, so that only a delivered file ends
    // without a message.
    form->winsock->setTiming(m_tcpTiming);
    followTcpSend(form);
    form->winsock->start(Text2->text(), IP->text(), Port->text());
}

void Varnet::followTcpSend(frmsocket *form)
{
    TcpSendSession *sender = form->winsock;
    // Text1 is read each time: a file loaded meanwhile changes the size shown,
    // never what is sent.
    connect(sender, &TcpBlockSender::progress, form, [this, form](qint64 count) {
        form->Label1->setText(
            QStringLiteral("Sending %1 bytes / %2").arg(QString::number(count), Text1->text()));
    });
    connect(sender, &TcpBlockSender::allQueued, form, [this, form] {
        form->Label1->setText(QStringLiteral("Sending %1 / %1").arg(Text1->text()));
        // Unattended, nobody watches the window: close as soon as every block
        // is queued, rather than after the timer's pause.
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
