#include "window/varnet.h"
#include "platform/spooler.h"
#include "core/exitstatus.h"
#include "core/rawjob.h"
#include "window/messageseam.h"

#include <QComboBox>
#include <QRadioButton>

void Varnet::Command2_Click()
{
    m_sendStatus = SendExit::Delivered;

    if (Option1->isChecked()) {
        const QString remembered = m_printers.currentPrinter();
        // A name that matches no installed printer: only the exit status tells.
        if (m_printers.selectPrinter(Combo1->currentText()))
            sendToCurrentPrinter();
        else
            printerNotFound(Combo1->currentText());
        m_printers.restore(remembered);
    }

    if (Option2->isChecked())
        sendTcp();
}

void Varnet::printerNotFound(const QString &printer)
{
    m_sendStatus = SendExit::ConnectionFailed;
    // A scheduler that could not be asked is worth a word, or Print would
    // seem to do nothing at all.
    const QString unreachable = m_printers.unreachableReason();
    if (printer.isEmpty() || unreachable.isEmpty())
        return;
    MessageSeam::show(this, QStringLiteral("The file was not printed on \"%1\": the print "
                                           "scheduler could not be asked for it (%2).")
                                .arg(printer, unreachable));
}

void Varnet::sendToCurrentPrinter()
{
    const std::unique_ptr<Spooler> ownSpooler = m_spooler ? nullptr : createSystemSpooler();
    const QString printer = m_printers.currentPrinter();
    const RawJobOutcome job =
        sendRawJob(m_spooler ? *m_spooler : *ownSpooler, printer.toStdString(),
                   std::string_view(Druckertext.constData(), static_cast<std::size_t>(Druckertext.size())));
    m_sendStatus = exitStatusFor(job.outcome);
    if (job.outcome == SendOutcome::Delivered) {
        MessageSeam::show(this, QStringLiteral("Executed!"), QStringLiteral("Message"));
        return;
    }
    // Only opening the queue fails for want of a connection or a printer.
    if (m_sendStatus == SendExit::ConnectionFailed) {
        MessageSeam::show(this, QStringLiteral("The Printer Name you typed wasn't recognized."));
        return;
    }
    QString reason = QString::fromStdString(job.sentence);
    if (job.taken < job.offered) {
        const QString counts =
            QStringLiteral("only %1 of %2 bytes were accepted").arg(job.taken).arg(job.offered);
        reason = reason.isEmpty() ? counts : reason + QStringLiteral(" (") + counts + u')';
    }
    MessageSeam::show(
        this, QStringLiteral("The file was not printed on \"%1\": %2").arg(printer, reason));
}
