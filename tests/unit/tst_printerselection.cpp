#include "core/printerselection.h"
#include "fakeprinters.h"

#include <QTest>

class TestPrinterSelection : public QObject
{
    Q_OBJECT

private slots:
    void currentStartsAsDefault()
    {
        FakePrinters printers({"A", "B", "C"}, "C");
        PrinterSelection selection(printers);
        QCOMPARE(selection.currentPrinter(), QStringLiteral("C"));
        QCOMPARE(selection.deviceNames(), QStringList({"A", "B", "C"}));
    }

    void selectPrinter_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("currentAfter");

        const QStringList three{"Laser", "Zebra", "Ink"};
        QTest::newRow("exact name") << three << "Zebra" << true << "Zebra";
        QTest::newRow("other case is not found") << three << "zebra" << false << "Ink";
        QTest::newRow("prefix is not found") << three << "Zeb" << false << "Ink";
        QTest::newRow("trailing blank is not found") << three << "Zebra " << false << "Ink";
        QTest::newRow("empty name") << three << "" << false << "Ink";
        QTest::newRow("no printers, empty name") << QStringList() << "" << false << "";
        QTest::newRow("no printers") << QStringList() << "Zebra" << false << "";
        QTest::newRow("non-ASCII name") << QStringList{"Büro-Drucker", "Ink"} << "Büro-Drucker"
                                        << true << "Büro-Drucker";
    }

    void selectPrinter()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, name);
        QFETCH(bool, found);
        QFETCH(QString, currentAfter);

        std::vector<std::string> names;
        for (const QString &printer : installed)
            names.push_back(printer.toStdString());
        FakePrinters printers(names, installed.isEmpty() ? "" : "Ink");
        PrinterSelection selection(printers);

        QCOMPARE(selection.selectPrinter(name), found);
        QCOMPARE(selection.currentPrinter(), currentAfter);
    }

    void queueRemovedAfterStartIsNotFound()
    {
        FakePrinters printers({"A", "B"}, "A");
        PrinterSelection selection(printers);
        printers.names = {"A"};
        QVERIFY(!selection.selectPrinter(QStringLiteral("B")));
        QCOMPARE(selection.currentPrinter(), QStringLiteral("A"));
    }
};

QTEST_GUILESS_MAIN(TestPrinterSelection)
#include "tst_printerselection.moc"
