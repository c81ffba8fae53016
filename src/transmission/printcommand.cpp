#include "app/messageseam.h"
#include "app/varnet.h"
#include "transmission/rawjob.h"
#include "transmission/spooler.h"

#include <QComboBox>
#include <QRadioButton>

void Varnet::Command2_Click()
{
    const QString remembered = m_printers.currentPrinter();

    if (Option1->isChecked()) {
        // A name that matches no installed printer (an empty one included)
        // sends nothing and says nothing.
        if (m_printers.selectPrinter(Combo1->currentText()))
            sendToCurrentPrinter();
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
        MessageSeam::show(this, QStringLiteral("The Printer Name you typed wasn't recognized."));
        break;
    case RawJobOutcome::Result::Failed:
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
