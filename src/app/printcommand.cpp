#include "app/varnet.h"
#include "platform/spooler.h"
#include "transmission/exitstatus.h"
#include "transmission/rawjob.h"
#include "widgets/messageseam.h"

#include <QComboBox>
#include <QRadioButton>

void Varnet::Command2_Click()
{
    m_sendStatus = SendExit::Delivered;

    if (Option1->isChecked()) {
        const QString remembered = m_printers.currentPrinter();
        // A name that matches no installed printer (an empty one included)
        // sends nothing and says nothing; only the exit status tells.
        if (m_printers.selectPrinter(Combo1->currentText()))
            sendToCurrentPrinter();
        else
            m_sendStatus = SendExit::ConnectionFailed;
        m_printers.restore(remembered);
    }

    if (Option2->isChecked())
        sendTcp();
}

void Varnet::sendToCurrentPrinter()
{
    std::unique_ptr<Spooler> ownSpooler;
    Spooler *spooler = m_spooler;
    if (spooler == nullptr) {
        ownSpooler = createSystemSpooler();
        spooler = ownSpooler.get();
    }

    const QString printer = m_printers.currentPrinter();
    const RawJobOutcome outcome = sendRawJob(*spooler, printer, Druckertext);
    switch (outcome.result) {
    case RawJobOutcome::Result::Sent:
        MessageSeam::show(this, QStringLiteral("Executed!"), QStringLiteral("Message"));
        break;
    case RawJobOutcome::Result::OpenFailed:
        m_sendStatus = SendExit::ConnectionFailed;
        MessageSeam::show(this, QStringLiteral("The Printer Name you typed wasn't recognized."));
        break;
    case RawJobOutcome::Result::Failed:
        m_sendStatus = outcome.failedStep == RawJobOutcome::Step::Write ? SendExit::TransferFailed
                                                                       : SendExit::SpoolerRefused;
        // Never "Executed!" for a job the spooler did not take whole: say
        // which queue failed and in the spooler's own words why.
        MessageSeam::show(
            this,
            QStringLiteral("The file was not printed on \"%1\": %2").arg(printer, outcome.reason));
        break;
    }
}

void Varnet::setSpooler(Spooler *spooler)
{
    m_spooler = spooler;
}
