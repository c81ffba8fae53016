#include "window/varnet.h"
#include "fakeprinters.h"
#include "fakespooler.h"
#include "messagerecorder.h"
#include "windows.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

// A window with two printers, "Laser" the system default, "Zebra" chosen.
struct Setup
{
    FakePrinters printers{{"Laser", "Zebra"}, "Laser"};
    FakeSpooler spooler;
    MessageRecorder recorder;
    Varnet window{printers};

    Setup()
    {
        window.Form_Load(QString());
        window.setSpooler(&spooler);
        control<QComboBox>(&window, "Combo1")->setCurrentText(QStringLiteral("Zebra"));
        window.Druckertext = QByteArray("\x1b%-12345X@PJL\r\n\0\xff", 17);
    }
};

} // namespace

// The Print command on the printer path, with faults a real scheduler does
// not produce on demand.
class TestPrintCommand : public QObject
{
    Q_OBJECT

private slots:
    void outcomeMessages_data()
    {
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<QString>("spoolerSays");
        QTest::addColumn<QString>("text");

        const QString notPrinted = QStringLiteral("The file was not printed on \"Zebra\": ");
        QTest::newRow("accepted") << "" << "" << "Executed!";
        QTest::newRow("open refused") << "open" << "Unknown printer"
                                      << "The Printer Name you typed wasn't recognized.";
        QTest::newRow("job refused") << "startDocument" << "Not accepting jobs"
                                     << notPrinted + "Not accepting jobs";
        QTest::newRow("short write") << "write" << "Broken pipe"
                                     << notPrinted + "Broken pipe (only 3 of 17 bytes were accepted)";
        QTest::newRow("short write, spooler silent")
            << "write" << "" << notPrinted + "only 3 of 17 bytes were accepted";
        QTest::newRow("end of document refused, silent")
            << "endDocument" << "" << notPrinted + "the job could not be finished";
    }

    void outcomeMessages()
    {
        QFETCH(QString, failAt);
        QFETCH(QString, spoolerSays);
        QFETCH(QString, text);

        Setup setup;
        setup.spooler.failAt = failAt;
        setup.spooler.failureText = spoolerSays.toStdString();
        setup.spooler.acceptBytes = 3;
        QTest::mouseClick(control<QPushButton>(&setup.window, "Command2"), Qt::LeftButton);

        QCOMPARE(setup.recorder.texts(), QStringList{text});
        QCOMPARE(setup.recorder.messages.first().title,
                 failAt.isEmpty() ? QStringLiteral("Message") : QStringLiteral("Varnet"));
        QCOMPARE(setup.recorder.messages.first().icon, QMessageBox::NoIcon);
        QCOMPARE(setup.spooler.calls.first(), QStringLiteral("open:Zebra"));
        if (failAt.isEmpty())
            QCOMPARE(setup.spooler.written, setup.window.Druckertext);
        QCOMPARE(setup.window.printers().currentPrinter(), QStringLiteral("Laser"));
    }

    void nothingSent_data()
    {
        QTest::addColumn<QStringList>("installedAtPrint");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("tcpChosen");

        QTest::newRow("no printer chosen") << QStringList{"Laser", "Zebra"} << "" << false;
        QTest::newRow("chosen printer removed since start")
            << QStringList{"Laser"} << "Zebra" << false;
        QTest::newRow("no printer installed any more") << QStringList{} << "Zebra" << false;
        QTest::newRow("TCP destination chosen") << QStringList{"Laser", "Zebra"} << "Zebra" << true;
    }

    void nothingSent()
    {
        QFETCH(QStringList, installedAtPrint);
        QFETCH(QString, chosen);
        QFETCH(bool, tcpChosen);

        Setup setup;
        auto *combo = control<QComboBox>(&setup.window, "Combo1");
        if (chosen.isEmpty())
            combo->setCurrentIndex(-1);
        if (tcpChosen)
            QTest::mouseClick(control<QRadioButton>(&setup.window, "Option2"), Qt::LeftButton);
        setup.printers.names.clear();
        for (const QString &name : installedAtPrint)
            setup.printers.names.push_back(name.toStdString());

        QTest::mouseClick(control<QPushButton>(&setup.window, "Command2"), Qt::LeftButton);
        QVERIFY(setup.spooler.calls.isEmpty());
        QVERIFY(setup.recorder.messages.isEmpty());
        QCOMPARE(setup.window.printers().currentPrinter(), QStringLiteral("Laser"));
    }

    void menuEntryAndRepeatSendAgain()
    {
        Setup setup;
        auto *print = setup.window.findChild<QAction *>(QStringLiteral("Print"));
        QVERIFY(print);
        print->trigger();
        QTest::mouseClick(control<QPushButton>(&setup.window, "Command2"), Qt::LeftButton);
        QCOMPARE(setup.recorder.texts(), (QStringList{"Executed!", "Executed!"}));
        QCOMPARE(setup.spooler.written, setup.window.Druckertext + setup.window.Druckertext);
    }

    void currentPrinterRestoredWhenThereWasNone()
    {
        // No system default: afterwards there is again no current printer,
        // not the one just used.
        Setup setup;
        setup.printers.defaultName.clear();
        Varnet window(setup.printers);
        window.Form_Load(QString());
        window.setSpooler(&setup.spooler);
        control<QComboBox>(&window, "Combo1")->setCurrentText(QStringLiteral("Zebra"));
        window.Command2_Click();
        QCOMPARE(setup.recorder.texts(), QStringList{"Executed!"});
        QCOMPARE(window.printers().currentPrinter(), QString());
    }
};

QTEST_MAIN(TestPrintCommand)
#include "tst_printcommand.moc"
