#include "app/varnet.h"
#include "fakeprinters.h"
#include "messagerecorder.h"
#include "tcpsink.h"
#include "transmission/frmsocket.h"
#include "transmission/tcpsendsession.h"
#include "widgets/twips.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "testdata.h"
#include <QTimer>

using namespace std::chrono_literals;

namespace {

QList<frmsocket *> progressWindows()
{
    QList<frmsocket *> forms;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *form = qobject_cast<frmsocket *>(widget))
            forms.append(form);
    return forms;
}

// A main window set up for a TCP send, as the user would leave it.
struct Setup
{
    FakePrinters printers;
    Varnet window{printers};
    QTemporaryDir dir;

    Setup(const QString &host, quint16 port, const QString &path, const QString &sizeText)
    {
        window.Form_Load(QString());
        window.findChild<QRadioButton *>(QStringLiteral("Option2"))->setChecked(true);
        edit("IP")->setText(host);
        edit("Port")->setText(QString::number(port));
        edit("Text2")->setText(path);
        edit("Text1")->setText(sizeText);
    }

    QLineEdit *edit(const char *name)
    {
        return window.findChild<QLineEdit *>(QLatin1String(name));
    }
    QTimer *timer() { return window.findChild<QTimer *>(QStringLiteral("Timer1")); }
    QString caption() const { return window.SocketForm->Label1->text(); }
};

} // namespace

class TestTcpSend : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        // Every test leaves no progress window behind.
        QTRY_VERIFY(progressWindows().isEmpty());
    }

    void progressWindow()
    {
        frmsocket form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Message"));
        QCOMPARE(form.size(), QSize(332, 79));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form.parentWidget() == nullptr);
        QCOMPARE(form.Label1->objectName(), QStringLiteral("Label1"));
        QCOMPARE(form.Label1->geometry(), twipsRect(720, 240, 4095, 495));
        QCOMPARE(form.Label1->text(), QStringLiteral("Sending..."));
        QCOMPARE(form.Label1->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(form.Label1->font().pointSizeF(), 9.75);
        QVERIFY(!form.Label1->font().bold());
        QCOMPARE(form.frameGeometry().center(), form.screen()->availableGeometry().center());
        QCOMPARE(form.findChild<TcpBlockSender *>(QStringLiteral("winsock")), form.winsock);
        QCOMPARE(form.classicState(), 0);
    }

    void sendsFile_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("captions");

        const QStringList three{"Sending 20 bytes / 45 bytes", "Sending 40 bytes / 45 bytes",
                                "Sending 45 bytes / 45 bytes"};
        QTest::newRow("45 bytes, IPv4") << 45 << "127.0.0.1" << three;
        QTest::newRow("45 bytes, IPv6") << 45 << "::1" << three;
        QTest::newRow("40 bytes, IPv4")
            << 40 << "127.0.0.1"
            << QStringList{"Sending 20 bytes / 40 bytes", "Sending 40 bytes / 40 bytes"};
        QTest::newRow("empty, IPv6") << 0 << "::1" << QStringList{};
    }

    void sendsFile()
    {
        QFETCH(int, size);
        QFETCH(QString, address);
        QFETCH(QStringList, captions);

        MessageRecorder messages;
        TcpSink sink;
        QVERIFY(sink.listen(QHostAddress(address)));
        QTemporaryDir dir;
        const QByteArray bytes = randomBytes(size);
        const QString sizeText = QString::number(size) + QStringLiteral(" bytes");
        Setup setup(address, sink.port(), writeTestFile(dir.filePath(QStringLiteral("a.prn")), bytes),
                    sizeText);
        setup.window.setTcpTuning(TcpBlockSender::ConnectTimeout, 0ms);
        QSignalSpy finished(&setup.window, &Varnet::tcpSendFinished);

        setup.window.Command2_Click();
        QPointer<frmsocket> form = setup.window.SocketForm;
        QVERIFY(form);
        QVERIFY(form->isVisible());
        QCOMPARE(form->Label1->text(), QStringLiteral("Sending..."));
        QCOMPARE(form->classicState(), 6); // connecting to an address
        QStringList seen;
        connect(form->winsock, &TcpBlockSender::progress, this,
                [&] { seen.append(form->Label1->text()); });

        QTimer *timer = setup.timer();
        QCOMPARE(timer->interval(), 5000);
        QVERIFY(!timer->isActive());
        QTRY_VERIFY(timer->isActive());
        QCOMPARE(seen, captions);
        QCOMPARE(setup.caption(), QStringLiteral("Sending %1 / %1").arg(sizeText));
        // The connection stays open until the timer lets it go.
        QCOMPARE(sink.closedCount(), 0);
        QCOMPARE(form->classicState(), 7);

        timer->setInterval(10);
        timer->start();
        QTRY_VERIFY(!form);
        QVERIFY(setup.window.SocketForm.isNull());
        QVERIFY(!timer->isActive());
        QTRY_COMPARE(sink.closedCount(), 1);
        QCOMPARE(sink.connectionCount(), 1);
        QCOMPARE(sink.received(), bytes);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(messages.messages.isEmpty());
    }

    void failures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("expected");

        QTest::newRow("refused") << "refused"
                                 << "Connection to 127.0.0.1 faild! State: 9\nConnection refused.";
        QTest::newRow("never accepts")
            << "never accepts"
            << "Connection to 127.0.0.1 faild! State: 6\nThe printer did not accept the "
               "connection within 250 ms.";
        QTest::newRow("reset mid-transfer")
            << "reset" << "Connection to 127.0.0.1 faild! State: 9\n";
        QTest::newRow("unreadable file") << "missing" << "Cannot send \"";
        QTest::newRow("bad port") << "port"
                                  << "Connection to 127.0.0.1 faild! State: 9\nThe port \"70000\" "
                                     "is not a number from 1 to 65535.";
    }

    void failures()
    {
        QFETCH(QString, failure);
        QFETCH(QString, expected);

        MessageRecorder messages;
        TcpSink sink;
        if (failure == QLatin1String("never accepts"))
            sink.setMode(TcpSink::Mode::NeverAccept);
        if (failure == QLatin1String("reset"))
            sink.setMode(TcpSink::Mode::ResetAfter, 100000);
        QVERIFY(sink.listen());
        QTemporaryDir dir;
        const QByteArray bytes = randomBytes(failure == QLatin1String("reset") ? 16 << 20 : 100);
        QString path = writeTestFile(dir.filePath(QStringLiteral("a.prn")), bytes);
        if (failure == QLatin1String("missing"))
            path = dir.filePath(QStringLiteral("missing.prn"));
        Setup setup(QStringLiteral("127.0.0.1"),
                    failure == QLatin1String("refused") ? TcpSink::unusedPort() : sink.port(), path,
                    QStringLiteral("100 bytes"));
        if (failure == QLatin1String("port"))
            setup.edit("Port")->setText(QStringLiteral("70000"));
        setup.window.setTcpTuning(250ms, TcpBlockSender::TimeSlice);
        QSignalSpy finished(&setup.window, &Varnet::tcpSendFinished);

        setup.window.Command2_Click();
        QPointer<frmsocket> form = setup.window.SocketForm;
        QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 1, 30000);
        QVERIFY2(messages.messages.first().text.startsWith(expected),
                 qPrintable(messages.messages.first().text));
        QCOMPARE(messages.messages.first().title, QStringLiteral("Message"));
        QCOMPARE(messages.messages.first().icon, QMessageBox::NoIcon);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);

        // The window stays until the timer, as after a successful send.
        QVERIFY(form);
        QVERIFY(setup.timer()->isActive());
        setup.window.Timer1_Timer();
        QTRY_VERIFY(!form);
        QVERIFY(setup.window.SocketForm.isNull());
        QVERIFY(!setup.timer()->isActive());
        if (failure == QLatin1String("reset")) {
            QCOMPARE(sink.received(), bytes.left(sink.received().size()));
            QVERIFY2(messages.messages.first().text.contains(QRegularExpression(
                         "\\nThe printer acknowledged \\d+ of 16777216 bytes\\.$")),
                     qPrintable(messages.messages.first().text));
        }
        else
            QCOMPARE(sink.totalBytes(), qint64(0));

        // The program goes on: the next send works.
        TcpSink good;
        QVERIFY(good.listen());
        setup.edit("Port")->setText(QString::number(good.port()));
        const QByteArray next = randomBytes(64, 7);
        setup.edit("Text2")->setText(writeTestFile(dir.filePath(QStringLiteral("b.prn")), next));
        setup.window.Command2_Click();
        QTRY_VERIFY(setup.timer()->isActive());
        setup.window.Timer1_Timer();
        QTRY_COMPARE(good.closedCount(), 1);
        QCOMPARE(good.received(), next);
        QCOMPARE(messages.messages.size(), 1);
    }

    void printerDoesNotTakeEverything_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("parameter");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("reason");

        const QString closed = QStringLiteral("The printer (reset the connection|closed the "
                                              "connection before it had taken every byte)");
        QTest::newRow("reads 1000 bytes and closes")
            << static_cast<int>(TcpSink::Mode::CloseAfter) << qint64(1000) << 200000 << closed;
        QTest::newRow("resets after 1 of 3 MB") << static_cast<int>(TcpSink::Mode::ResetAfter)
                                                << qint64(1 << 20) << (3 << 20) << closed;
        QTest::newRow("never reads") << static_cast<int>(TcpSink::Mode::NeverRead) << qint64(0)
                                     << (20 << 20) << "The printer took nothing for 300 ms";
    }

    void printerDoesNotTakeEverything()
    {
        QFETCH(int, mode);
        QFETCH(qint64, parameter);
        QFETCH(int, size);
        QFETCH(QString, reason);

        MessageRecorder messages;
        TcpSink sink;
        sink.setMode(static_cast<TcpSink::Mode>(mode), parameter);
        QVERIFY(sink.listen());
        QTemporaryDir dir;
        Setup setup(QStringLiteral("127.0.0.1"), sink.port(),
                    writeTestFile(dir.filePath(QStringLiteral("a.prn")), randomBytes(size)),
                    QString::number(size) + QStringLiteral(" bytes"));
        setup.window.setTcpWaits(300ms, 5000ms);
        QSignalSpy finished(&setup.window, &Varnet::tcpSendFinished);

        setup.window.Command2_Click();
        QPointer<frmsocket> form = setup.window.SocketForm;
        // The failure shows during the send, or when Timer1 closes the
        // connection and finds that the printer did not take everything.
        QTRY_VERIFY2_WITH_TIMEOUT(setup.timer()->isActive() || !messages.messages.isEmpty(),
                                  "neither the send's end nor a failure came", 30000);
        if (messages.messages.isEmpty())
            setup.window.Timer1_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 1, 30000);
        const QString text = messages.messages.first().text;
        QVERIFY2(text.startsWith(QStringLiteral("Connection to 127.0.0.1 faild! State: 9\n")) &&
                     text.contains(QRegularExpression(reason)),
                 qPrintable(text));
        QCOMPARE(messages.messages.first().title, QStringLiteral("Message"));
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        if (setup.timer()->isActive())
            setup.window.Timer1_Timer();
        QTRY_VERIFY(!form);
    }

    void fileLoadedDuringSendChangesOnlyTheSizeText()
    {
        MessageRecorder messages;
        TcpSink sink;
        sink.setMode(TcpSink::Mode::Slow, 16 << 20);
        QVERIFY(sink.listen());
        QTemporaryDir dir;
        const QByteArray bytes = randomBytes(12 << 20);
        const QString first = writeTestFile(dir.filePath(QStringLiteral("first.prn")), bytes);
        const QString second = writeTestFile(dir.filePath(QStringLiteral("second.prn")), randomBytes(10, 3));
        Setup setup(QStringLiteral("127.0.0.1"), sink.port(), first, QStringLiteral("12582912 bytes"));
        setup.window.Druckertext = bytes;

        setup.window.Command2_Click();
        QSignalSpy progress(setup.window.SocketForm->winsock, &TcpBlockSender::progress);
        QVERIFY2(progress.wait(), "no progress within 5 s");
        // What loading another file changes, done while the send yields.
        setup.edit("Text2")->setText(second);
        setup.edit("Text1")->setText(QStringLiteral("10 bytes"));
        setup.window.Druckertext = QByteArrayLiteral("0123456789");
        QVERIFY2(progress.wait(), "no progress within 5 s");
        QVERIFY(setup.caption().endsWith(QStringLiteral(" bytes / 10 bytes")));

        QTRY_VERIFY_WITH_TIMEOUT(setup.timer()->isActive(), 30000);
        QCOMPARE(setup.caption(), QStringLiteral("Sending 10 bytes / 10 bytes"));
        setup.window.Timer1_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(sink.closedCount(), 1, 30000);
        QVERIFY(sink.received() == bytes);
        QCOMPARE(setup.window.Druckertext, QByteArrayLiteral("0123456789"));
        QVERIFY(messages.messages.isEmpty());
    }

    void secondPrint()
    {
        MessageRecorder messages;
        TcpSink sink;
        sink.setMode(TcpSink::Mode::Slow, 16 << 20);
        QVERIFY(sink.listen());
        QTemporaryDir dir;
        const QByteArray bytes = randomBytes(12 << 20);
        Setup setup(QStringLiteral("127.0.0.1"), sink.port(),
                    writeTestFile(dir.filePath(QStringLiteral("a.prn")), bytes), QStringLiteral("12582912 bytes"));

        // While the first send runs, a second Print is refused and the first
        // goes on undisturbed.
        setup.window.Command2_Click();
        QPointer<frmsocket> first = setup.window.SocketForm;
        QSignalSpy progress(first->winsock, &TcpBlockSender::progress);
        QVERIFY2(progress.wait(), "no progress within 5 s");
        setup.window.Command2_Click();
        QCOMPARE(messages.texts(),
                 QStringList{"Still sending to 127.0.0.1. Print again when that send has ended."});
        QCOMPARE(messages.messages.first().title, QStringLiteral("Message"));
        QCOMPARE(setup.window.SocketForm, first);
        QCOMPARE(progressWindows().size(), 1);

        // In the wait after it, Print closes the first connection at once and
        // starts a new one.
        QTRY_VERIFY_WITH_TIMEOUT(setup.timer()->isActive(), 30000);
        QCOMPARE(sink.connectionCount(), 1);
        setup.window.Command2_Click();
        QVERIFY(setup.window.SocketForm != first);
        QTRY_VERIFY_WITH_TIMEOUT(!first, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(setup.timer()->isActive(), 30000);
        setup.window.Timer1_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(sink.closedCount(), 2, 30000);
        QCOMPARE(sink.connectionCount(), 2);
        QVERIFY(sink.received(0) == bytes);
        QVERIFY(sink.received(1) == bytes);
        QCOMPARE(messages.messages.size(), 1);
    }

    void closingTheWindowCancelsTheSend()
    {
        MessageRecorder messages;
        TcpSink sink;
        sink.setMode(TcpSink::Mode::Slow, 1 << 20);
        QVERIFY(sink.listen());
        QTemporaryDir dir;
        const QByteArray bytes = randomBytes(8 << 20);
        Setup setup(QStringLiteral("127.0.0.1"), sink.port(),
                    writeTestFile(dir.filePath(QStringLiteral("a.prn")), bytes), QStringLiteral("8388608 bytes"));
        QSignalSpy finished(&setup.window, &Varnet::tcpSendFinished);

        setup.window.Command2_Click();
        QPointer<frmsocket> form = setup.window.SocketForm;
        QSignalSpy progress(form->winsock, &TcpBlockSender::progress);
        QVERIFY2(progress.wait(), "no progress within 5 s");
        QVERIFY(form->close());
        QTRY_VERIFY(!form);
        QVERIFY(setup.window.SocketForm.isNull());
        QTRY_COMPARE(sink.closedCount(), 1);
        QVERIFY(sink.received().size() < bytes.size());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY(!setup.timer()->isActive());
        QVERIFY(messages.messages.isEmpty());

        // Closed after its send has ended, the window closes the connection
        // gracefully first.
        TcpSink fast;
        QVERIFY(fast.listen());
        setup.edit("Port")->setText(QString::number(fast.port()));
        setup.window.Command2_Click();
        form = setup.window.SocketForm;
        QTRY_VERIFY(setup.timer()->isActive());
        QVERIFY(!form->close());
        QTRY_VERIFY(!form);
        QTRY_COMPARE(fast.closedCount(), 1);
        QVERIFY(fast.received() == bytes);
        // The timer finds nothing left to close.
        setup.window.Timer1_Timer();
        QVERIFY(!setup.timer()->isActive());
    }
};

QTEST_MAIN(TestTcpSend)
#include "tst_tcpsend.moc"
