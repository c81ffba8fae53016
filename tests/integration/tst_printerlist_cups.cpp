#include "window/varnet.h"
#include "cupssandbox.h"
#include "platform/printercollection.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>

// The printer list as a user sees it, against a real (sandboxed) scheduler.
class TestPrinterListCups : public QObject
{
    Q_OBJECT

private slots:
    void emptyScheduler()
    {
        CupsSandbox sandbox;
        QVERIFY2(sandbox.start(), qPrintable(sandbox.lastOutput()));
        const auto printers = createSystemPrinterCollection();
        QVERIFY(printers->deviceNames().empty());
        QCOMPARE(printers->defaultPrinterName(), std::string());

        Varnet window(*printers);
        window.Form_Load(QString());
        auto *combo = window.findChild<QComboBox *>(QStringLiteral("Combo1"));
        QCOMPARE(combo->count(), 0);
        QCOMPARE(combo->currentIndex(), -1);
        QVERIFY(!window.printers().selectPrinter(QString()));
    }

    void queuesWithDefaultNotFirst()
    {
        CupsSandbox sandbox;
        QVERIFY2(sandbox.start(), qPrintable(sandbox.lastOutput()));
        for (const char *name : {"alpha", "bravo", "charlie"})
            QVERIFY2(sandbox.addSocketQueue(QLatin1String(name), 9), qPrintable(sandbox.lastOutput()));
        QVERIFY(sandbox.setDefault(QStringLiteral("charlie")));

        const auto printers = createSystemPrinterCollection();
        QCOMPARE(printers->deviceNames(), (std::vector<std::string>{"alpha", "bravo", "charlie"}));
        QCOMPARE(printers->defaultPrinterName(), std::string("charlie"));

        Varnet window(*printers);
        window.Form_Load(QString());
        auto *combo = window.findChild<QComboBox *>(QStringLiteral("Combo1"));
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->currentText(), QStringLiteral("charlie"));

        combo->setCurrentIndex(0);
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("Command3")),
                          Qt::LeftButton);
        QCOMPARE(combo->currentText(), QStringLiteral("charlie"));

        QVERIFY(!window.printers().selectPrinter(QStringLiteral("Bravo")));
        QCOMPARE(window.printers().currentPrinter(), QStringLiteral("charlie"));
        QVERIFY(window.printers().selectPrinter(QStringLiteral("bravo")));
        QCOMPARE(window.printers().currentPrinter(), QStringLiteral("bravo"));

        // A queue deleted while the program runs stays in the list but can
        // no longer be selected.
        QVERIFY(sandbox.deleteQueue(QStringLiteral("alpha")));
        QVERIFY(!window.printers().selectPrinter(QStringLiteral("alpha")));
        QCOMPARE(combo->count(), 3);
    }
};

QTEST_MAIN(TestPrinterListCups)
#include "tst_printerlist_cups.moc"
