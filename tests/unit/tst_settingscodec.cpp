#include "core/settingscodec.h"

#include <QTest>

class TestSettingsCodec : public QObject
{
    Q_OBJECT

private slots:
    void optFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("convertible");
        QTest::addColumn<bool>("printerQueue");

        QTest::newRow("True as written") << "True" << true << true;
        QTest::newRow("False as written") << "False" << true << false;
        QTest::newRow("lower case false") << "false" << true << false;
        QTest::newRow("upper case TRUE") << "TRUE" << true << true;
        QTest::newRow("zero") << "0" << true << false;
        QTest::newRow("minus one") << "-1" << true << true;
        QTest::newRow("other number") << "42" << true << true;
        QTest::newRow("fraction") << "0.5" << true << true;
        QTest::newRow("padded") << " False " << true << false;
        QTest::newRow("empty") << "" << false << false;
        QTest::newRow("garbage") << "printer" << false << false;
        QTest::newRow("yes is not a boolean") << "yes" << false << false;
    }

    void optFromText()
    {
        QFETCH(QString, text);
        QFETCH(bool, convertible);
        QFETCH(bool, printerQueue);

        const std::optional<bool> value = ::optFromText(text);
        QCOMPARE(value.has_value(), convertible);
        if (convertible)
            QCOMPARE(*value, printerQueue);
    }

    void optRoundTrip()
    {
        for (const bool printerQueue : {true, false})
            QCOMPARE(::optFromText(optToText(printerQueue)), std::optional<bool>(printerQueue));
        QCOMPARE(optToText(true), QStringLiteral("True"));
        QCOMPARE(optToText(false), QStringLiteral("False"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsCodec)
#include "tst_settingscodec.moc"
