#include "window/varnet.h"
#include "fakeprinters.h"
#include "messagerecorder.h"
#include "tcpsink.h"
#include "window/frmsocket.h"
#include "core/tcpblocksender.h"
#include "window/twips.h"
#include "windows.h"

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

// A main window set up for a TCP send, as the user would leave it: a file
// of size random bytes chosen, host and port typed.
struct Setup
{
    MessageRecorder messages;
    FakePrinters printers;
    Varnet window{printers};
    QTemporaryDir dir;
    QByteArray bytes;

    Setup(qsizetype size, const QString &host, quint16 port) : bytes(randomBytes(size))
    {
        window.Form_Load(QString());
        window.findChild<QRadioButton *>(QStringLiteral("Option2"))->setChecked(true);
        edit("IP")->setText(host);
        edit("Port")->setText(QString::number(port));
        edit("Text2")->setText(writeTestFile(dir.filePath(QStringLiteral("a.prn")), bytes));
        edit("Text1")->setText(QString::number(size) + QStringLiteral(" bytes"));
    }

    QLineEdit *edit(const char *name)
    {
        return window.findChild<QLineEdit *>(QLatin1String(name));
    }
    QTimer *timer() { return window.findChild<QTimer *>(QStringLiteral("Timer1")); }
    QString caption() const { return window.SocketForm->Label1->text(); }
    // Prints, and waits until the send is under way.
    QPointer<frmsocket> startAndWaitForProgress()
    {
        window.Command2_Click();
        QSignalSpy progress(window.SocketForm->winsock, &TcpBlockSender::progress);
        if (!progress.wait())
            qWarning("no progress within 5 s");
        return window.SocketForm;
    }
};

} // namespace

class TestTcpSend : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        // Every test leaves no progress window behind.
        QTRY_VERIFY(topLevels<frmsocket>().isEmpty());
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

        TcpSink sink;
        QVERIFY(sink.listen(QHostAddress(address)));
        Setup setup(size, address, sink.port());
        const QString sizeText = QString::number(size) + QStringLiteral(" bytes");
        setup.window.setTcpTiming({.slice = 0ms});
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
        QCOMPARE(sink.received(), setup.bytes);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(setup.messages.messages.isEmpty());
    }

    void failures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<int>("mode"); // of the sink
        QTest::addColumn<qint64>("parameter");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("expected"); // a pattern

        const auto row = [](const char *name, TcpSink::Mode mode, qint64 parameter, int size,
                            const QString &expected) {
            QTest::newRow(name) << QString::fromLatin1(name) << static_cast<int>(mode) << parameter
                                << size << expected;
        };
        const QString lost = QStringLiteral("^Connection to 127\\.0\\.0\\.1 faild! State: 9\\n");
        const QString closed = lost + QStringLiteral("The printer (reset the connection|closed the "
                                                     "connection before it had taken every byte)");
        row("refused", TcpSink::Mode::Normal, 0, 100, lost + "Connection refused\\.$");
        row("never accepts", TcpSink::Mode::NeverAccept, 0, 100,
            "^Connection to 127\\.0\\.0\\.1 faild! State: 6\\nThe printer did not accept the "
            "connection within 250 ms\\.$");
        row("bad port", TcpSink::Mode::Normal, 0, 100,
            "^Connection to  faild! State: 9\\nThe port \"70000\" is not a number from 1 to 65535\\.$");
        row("unreadable file", TcpSink::Mode::Normal, 0, 100,
            "^Cannot send \".*missing\\.prn\" to 127\\.0\\.0\\.1: No such file or directory$");
        row("reset mid-transfer", TcpSink::Mode::ResetAfter, 100000, 16 << 20,
            closed + "\\.\\nThe printer acknowledged \\d+ of 16777216 bytes\\.$");
        row("reads 1000 bytes and closes", TcpSink::Mode::CloseAfter, 1000, 200000, closed);
        row("resets after 1 of 3 MB", TcpSink::Mode::ResetAfter, 1 << 20, 3 << 20, closed);
        row("never reads", TcpSink::Mode::NeverRead, 0, 20 << 20,
            lost + "The printer took nothing for 300 ms");
    }

    void failures()
    {
        QFETCH(QString, failure);
        QFETCH(int, mode);
        QFETCH(qint64, parameter);
        QFETCH(int, size);
        QFETCH(QString, expected);

        TcpSink sink;
        sink.setMode(static_cast<TcpSink::Mode>(mode), parameter);
        QVERIFY(sink.listen());
        Setup setup(size, QStringLiteral("127.0.0.1"),
                    failure == QLatin1String("refused") ? TcpSink::unusedPort() : sink.port());
        if (failure == QLatin1String("unreadable file"))
            setup.edit("Text2")->setText(setup.dir.filePath(QStringLiteral("missing.prn")));
        if (failure == QLatin1String("bad port"))
            setup.edit("Port")->setText(QStringLiteral("70000"));
        setup.window.setTcpTiming({.connect = 250ms, .stall = 300ms, .peerCloseWait = 5000ms});
        QSignalSpy finished(&setup.window, &Varnet::tcpSendFinished);
        const QList<MessageSeam::Message> &messages = setup.messages.messages;

        setup.window.Command2_Click();
        QPointer<frmsocket> form = setup.window.SocketForm;
        // The failure shows during the send, or when Timer1 closes the
        // connection and finds that the printer did not take everything.
        QTRY_VERIFY2_WITH_TIMEOUT(setup.timer()->isActive() || !messages.isEmpty(),
                                  "neither the send's end nor a failure came", 30000);
        const bool duringSend = !messages.isEmpty();
        if (!duringSend)
            setup.window.Timer1_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 30000);
        QVERIFY2(messages.first().text.contains(QRegularExpression(expected)),
                 qPrintable(messages.first().text));
        QCOMPARE(messages.first().title, QStringLiteral("Message"));
        QCOMPARE(messages.first().icon, QMessageBox::NoIcon);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);

        // The window stays until the timer, as after a successful send.
        QVERIFY(!duringSend || (form && setup.timer()->isActive()));
        if (setup.timer()->isActive())
            setup.window.Timer1_Timer();
        QTRY_VERIFY(!form);
        QVERIFY(setup.window.SocketForm.isNull());
        QVERIFY(!setup.timer()->isActive());
        QCOMPARE(sink.received(), setup.bytes.left(sink.received().size()));
        QVERIFY(sink.received().size() < size);

        // The program goes on: the next send works.
        TcpSink good;
        QVERIFY(good.listen());
        setup.edit("Port")->setText(QString::number(good.port()));
        const QByteArray next = randomBytes(64, 7);
        setup.edit("Text2")->setText(writeTestFile(setup.dir.filePath(QStringLiteral("b.prn")), next));
        setup.window.Command2_Click();
        QTRY_VERIFY(setup.timer()->isActive());
        setup.window.Timer1_Timer();
        QTRY_COMPARE(good.closedCount(), 1);
        QCOMPARE(good.received(), next);
        QCOMPARE(messages.size(), 1);
    }

    void fileLoadedDuringSendChangesOnlyTheSizeText()
    {
        TcpSink sink;
        sink.setMode(TcpSink::Mode::Slow, 16 << 20);
        QVERIFY(sink.listen());
        Setup setup(12 << 20, QStringLiteral("127.0.0.1"), sink.port());
        const QString second = writeTestFile(setup.dir.filePath(QStringLiteral("second.prn")), randomBytes(10, 3));
        setup.window.Druckertext = setup.bytes;

        QVERIFY(setup.startAndWaitForProgress());
        QSignalSpy progress(setup.window.SocketForm->winsock, &TcpBlockSender::progress);
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
        QVERIFY(sink.received() == setup.bytes);
        QCOMPARE(setup.window.Druckertext, QByteArrayLiteral("0123456789"));
        QVERIFY(setup.messages.messages.isEmpty());
    }

    void secondPrint()
    {
        TcpSink sink;
        sink.setMode(TcpSink::Mode::Slow, 16 << 20);
        QVERIFY(sink.listen());
        Setup setup(12 << 20, QStringLiteral("127.0.0.1"), sink.port());
        const MessageRecorder &messages = setup.messages;

        // While the first send runs, a second Print is refused and the first
        // goes on undisturbed.
        QPointer<frmsocket> first = setup.startAndWaitForProgress();
        setup.window.Command2_Click();
        QCOMPARE(messages.texts(),
                 QStringList{"Still sending to 127.0.0.1. Print again when that send has ended."});
        QCOMPARE(messages.messages.first().title, QStringLiteral("Message"));
        QCOMPARE(setup.window.SocketForm, first);
        QCOMPARE(topLevels<frmsocket>().size(), 1);

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
        QVERIFY(sink.received(0) == setup.bytes);
        QVERIFY(sink.received(1) == setup.bytes);
        QCOMPARE(messages.messages.size(), 1);
    }

    void closingTheWindowCancelsTheSend()
    {
        TcpSink sink;
        sink.setMode(TcpSink::Mode::Slow, 1 << 20);
        QVERIFY(sink.listen());
        Setup setup(8 << 20, QStringLiteral("127.0.0.1"), sink.port());
        QSignalSpy finished(&setup.window, &Varnet::tcpSendFinished);

        QPointer<frmsocket> form = setup.startAndWaitForProgress();
        QVERIFY(form->close());
        QTRY_VERIFY(!form);
        QVERIFY(setup.window.SocketForm.isNull());
        QTRY_COMPARE_WITH_TIMEOUT(sink.closedCount(), 1, 30000);
        // The printer is told the job broke off, not that it ended.
        QCOMPARE(sink.resetCount(), 1);
        QVERIFY(sink.received().size() < setup.bytes.size());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY(!setup.timer()->isActive());
        QVERIFY(setup.messages.messages.isEmpty());

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
        QVERIFY(fast.received() == setup.bytes);
        // The timer finds nothing left to close.
        setup.window.Timer1_Timer();
        QVERIFY(!setup.timer()->isActive());
    }
};

QTEST_MAIN(TestTcpSend)
#include "tst_tcpsend.moc"
