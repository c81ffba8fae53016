#include "tcpsink.h"
#include "transmission/tcpblocksender.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "testdata.h"

using namespace std::chrono_literals;

namespace {

} // namespace

class TestTcpBlockSender : public QObject
{
    Q_OBJECT

private slots:
    void sendsFileExactly_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("listenOn");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QList<qint64>>("counts");

        const QList<qint64> three{20, 40, 45};
        QTest::newRow("45 bytes, IPv4") << 45 << "127.0.0.1" << "127.0.0.1" << three;
        QTest::newRow("45 bytes, IPv6") << 45 << "::1" << "::1" << three;
        QTest::newRow("45 bytes, IPv6 in brackets") << 45 << "::1" << "[::1]" << three;
        QTest::newRow("45 bytes, host name") << 45 << "127.0.0.1" << "localhost" << three;
        QTest::newRow("40 bytes") << 40 << "127.0.0.1" << "127.0.0.1" << QList<qint64>{20, 40};
        QTest::newRow("40 bytes, IPv6") << 40 << "::1" << "::1" << QList<qint64>{20, 40};
        QTest::newRow("empty") << 0 << "127.0.0.1" << "127.0.0.1" << QList<qint64>{};
        QTest::newRow("empty, IPv6") << 0 << "::1" << "::1" << QList<qint64>{};
    }

    void sendsFileExactly()
    {
        QFETCH(int, size);
        QFETCH(QString, listenOn);
        QFETCH(QString, host);
        QFETCH(QList<qint64>, counts);

        QTemporaryDir dir;
        const QByteArray bytes = randomBytes(size);
        TcpSink sink;
        QVERIFY(sink.listen(QHostAddress(listenOn)));

        TcpBlockSender sender;
        sender.setTimeSlice(0ms); // one event pass per block, as the classic loop had
        QSignalSpy progress(&sender, &TcpBlockSender::progress);
        QSignalSpy queued(&sender, &TcpBlockSender::allQueued);
        QSignalSpy finished(&sender, &TcpBlockSender::finished);
        QSignalSpy failed(&sender, &TcpBlockSender::failed);
        sender.start(writeTestFile(dir.filePath(QStringLiteral("job.prn")), bytes), host, QString::number(sink.port()));
        QCOMPARE(sender.classicState() == 4 || sender.classicState() == 6, true);

        QVERIFY2(queued.wait(), "the file was not queued within 5 s");
        QCOMPARE(queued.first().first().toLongLong(), qint64(size));
        QList<qint64> seen;
        for (const QList<QVariant> &signal : progress)
            seen.append(signal.first().toLongLong());
        QCOMPARE(seen, counts);
        QCOMPARE(sender.classicState(), 7);
        QCOMPARE(sink.closedCount(), 0);

        sender.close();
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QTRY_COMPARE(sink.closedCount(), 1);
        QCOMPARE(sink.connectionCount(), 1);
        QCOMPARE(sink.received(), bytes);
        QCOMPARE(sender.classicState(), 0);
        QVERIFY(failed.isEmpty());
    }

    void slowPeerGetsEveryByteWithBoundedQueue()
    {
        // Larger than the queue bound and the kernel's buffers together, so
        // the sender has to wait for the peer.
        const QByteArray bytes = randomBytes(12 << 20);
        QTemporaryDir dir;
        TcpSink sink;
        sink.setMode(TcpSink::Mode::Slow, 16 << 20);
        QVERIFY(sink.listen());

        TcpBlockSender sender;
        qint64 peakQueued = 0;
        qint64 lastCount = 0;
        bool countsAreBlocks = true;
        connect(&sender, &TcpBlockSender::progress, this, [&](qint64 count) {
            peakQueued = qMax(peakQueued, sender.queuedBytes());
            countsAreBlocks = countsAreBlocks && count > lastCount &&
                              (count % TcpBlockSender::BlockSize == 0 || count == bytes.size());
            lastCount = count;
        });
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this,
                [&] { peakQueued = qMax(peakQueued, sender.queuedBytes()); });
        sampler.start(1);

        QSignalSpy queued(&sender, &TcpBlockSender::allQueued);
        QSignalSpy finished(&sender, &TcpBlockSender::finished);
        sender.start(writeTestFile(dir.filePath(QStringLiteral("job.prn")), bytes), QStringLiteral("127.0.0.1"),
                     QString::number(sink.port()));
        QVERIFY2(queued.wait(60000), "the file was not queued within 60 s");
        // Closing right away must still deliver what is on its way.
        QVERIFY(sink.totalBytes() < bytes.size());
        sender.close();
        QVERIFY2(finished.wait(60000), "the send did not finish within 60 s");
        QCOMPARE(finished.first().first().toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(sink.closedCount(), 1, 60000);

        QCOMPARE(sink.received().size(), bytes.size());
        QVERIFY(sink.received() == bytes);
        QVERIFY(countsAreBlocks);
        QCOMPARE(lastCount, qint64(bytes.size()));
        QVERIFY2(peakQueued <= TcpBlockSender::QueueLimit, QByteArray::number(peakQueued));
        QVERIFY(peakQueued > 0);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("expected");

        const auto connectFailed = static_cast<int>(TcpBlockSender::Outcome::ConnectFailed);
        const auto badPort = static_cast<int>(TcpBlockSender::Outcome::BadPort);
        QTest::newRow("refused") << "refused" << "" << connectFailed
                                 << "Connection to 127.0.0.1 faild! State: 9\nConnection refused.";
        QTest::newRow("never accepts")
            << "never accepts" << "" << connectFailed
            << "Connection to 127.0.0.1 faild! State: 6\nThe printer did not accept the "
               "connection within 300 ms.";
        QTest::newRow("reset mid-transfer") << "reset" << "" << static_cast<int>(TcpBlockSender::Outcome::SendFailed)
                                            << "Connection to 127.0.0.1 faild! State: 9\n";
        QTest::newRow("missing file") << "missing" << "" << static_cast<int>(TcpBlockSender::Outcome::FileUnreadable)
                                      << "Cannot send \"";
        QTest::newRow("folder") << "folder" << "" << static_cast<int>(TcpBlockSender::Outcome::FileUnreadable)
                                << "Cannot send \"";
        QTest::newRow("pipe without a writer")
            << "fifo" << "" << static_cast<int>(TcpBlockSender::Outcome::FileUnreadable) << "Cannot send \"";
        for (const char *port : {"", "0", "65536", "abc", "-1", "91 00", "0x2000"})
            QTest::addRow("port text '%s'", port)
                << "port" << port << badPort
                << QStringLiteral("Connection to 127.0.0.1 faild! State: 9\nThe port \"%1\" is "
                                  "not a number from 1 to 65535.")
                       .arg(QLatin1String(port));
    }

    void failures()
    {
        QFETCH(QString, failure);
        QFETCH(QString, portText);
        QFETCH(int, outcome);
        QFETCH(QString, expected);

        QTemporaryDir dir;
        const QByteArray bytes = randomBytes(failure == QLatin1String("reset") ? 16 << 20 : 4096);
        QString path = writeTestFile(dir.filePath(QStringLiteral("job.prn")), bytes);
        TcpSink sink;
        if (failure == QLatin1String("never accepts"))
            sink.setMode(TcpSink::Mode::NeverAccept);
        if (failure == QLatin1String("reset"))
            sink.setMode(TcpSink::Mode::ResetAfter, 65536);
        QVERIFY(sink.listen());
        QString port = QString::number(sink.port());
        if (failure == QLatin1String("refused"))
            port = QString::number(TcpSink::unusedPort());
        if (failure == QLatin1String("port"))
            port = portText;
        if (failure == QLatin1String("missing"))
            path = dir.filePath(QStringLiteral("gone.prn"));
        if (failure == QLatin1String("folder"))
            path = dir.path();
        if (failure == QLatin1String("fifo")) {
            path = dir.filePath(QStringLiteral("fifo"));
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        }

        TcpBlockSender sender;
        sender.setConnectTimeout(300ms);
        QSignalSpy failed(&sender, &TcpBlockSender::failed);
        QSignalSpy finished(&sender, &TcpBlockSender::finished);
        QSignalSpy queued(&sender, &TcpBlockSender::allQueued);
        sender.start(path, QStringLiteral("127.0.0.1"), port);
        QVERIFY(failed.isEmpty()); // reported from the event loop, never inside start()

        QVERIFY2(failed.wait(30000), "no failure was reported within 30 s");
        QCOMPARE(static_cast<int>(sender.outcome()), outcome);
        QVERIFY2(sender.failureText().startsWith(expected), qPrintable(sender.failureText()));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY(queued.isEmpty());
        QVERIFY(!sender.isBusy());
        QCOMPARE(sender.classicState(), failure == QLatin1String("never accepts") ? 6 : 9);
        QCOMPARE(sender.queuedBytes(), qint64(0));

        if (failure == QLatin1String("reset")) {
            QVERIFY(sink.received().size() < bytes.size());
            QCOMPARE(sink.received(), bytes.left(sink.received().size()));
            QVERIFY2(sender.failureText().contains(
                         QStringLiteral("The printer acknowledged %1 of %2 bytes.")
                             .arg(sender.acknowledgedBytes())
                             .arg(bytes.size())),
                     qPrintable(sender.failureText()));
        } else {
            QCOMPARE(sink.totalBytes(), qint64(0));
        }
        if (failure == QLatin1String("missing") || failure == QLatin1String("folder") ||
            failure == QLatin1String("fifo"))
            QCOMPARE(sink.connectionCount(), 0); // the printer never sees a connection

        // Closing or cancelling after the failure changes nothing.
        sender.close();
        sender.cancel();
        QCOMPARE(finished.size(), 1);
    }

    void printerEndings_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("parameter");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("reason"); // a pattern; empty: delivered

        const auto row = [](const char *name, TcpSink::Mode mode, qint64 parameter, int size,
                            const char *reason) {
            QTest::newRow(name) << static_cast<int>(mode) << parameter << size << reason;
        };
        // A printer that closes with bytes unread resets; one that closes
        // before the rest has even arrived sends its end first.
        const char *closed = "^The printer (reset the connection|closed the connection before it "
                             "had taken every byte)\\.$";
        row("orderly close after reading all", TcpSink::Mode::Normal, 0, 3 << 20, "");
        row("half-closes at once, reads all", TcpSink::Mode::HalfClose, 0, 3 << 20, "");
        row("closes after 1000 of 200000 bytes", TcpSink::Mode::CloseAfter, 1000, 200000, closed);
        row("closes after 2.9 of 3 MB", TcpSink::Mode::CloseAfter, 2900000, 3000000, closed);
        row("resets after 2 of 3 MB", TcpSink::Mode::ResetAfter, 2000000, 3000000,
            "^The printer reset the connection\\.$");
        row("reads nothing, closes after 300 ms", TcpSink::Mode::NeverRead, 300, 200000, closed);
        row("reads nothing, stays", TcpSink::Mode::NeverRead, 0, 20 << 20,
            "^The printer took nothing for 500 ms\\.$");
    }

    void printerEndings()
    {
        QFETCH(int, mode);
        QFETCH(qint64, parameter);
        QFETCH(int, size);
        QFETCH(QString, reason);

        QTemporaryDir dir;
        const QByteArray bytes = randomBytes(size);
        TcpSink sink;
        sink.setMode(static_cast<TcpSink::Mode>(mode), parameter);
        QVERIFY(sink.listen());

        TcpBlockSender sender;
        sender.setStallTimeout(500ms);
        QSignalSpy finished(&sender, &TcpBlockSender::finished);
        connect(&sender, &TcpBlockSender::allQueued, &sender, &TcpBlockSender::close);
        sender.start(writeTestFile(dir.filePath(QStringLiteral("job.prn")), bytes),
                     QStringLiteral("127.0.0.1"), QString::number(sink.port()));
        QVERIFY2(finished.wait(30000), "the send did not end");
        QCOMPARE(finished.first().first().toBool(), reason.isEmpty());
        QVERIFY2(sender.failureReason().contains(QRegularExpression(reason)),
                 qPrintable(sender.failureReason()));
        QCOMPARE(sink.received(), bytes.left(sink.received().size()));
        if (reason.isEmpty()) {
            QVERIFY(sender.failureReason().isEmpty());
            QCOMPARE(sink.received().size(), bytes.size());
            QCOMPARE(sender.acknowledgedBytes(), qint64(size));
            return;
        }
        QCOMPARE(sender.outcome(), TcpBlockSender::Outcome::SendFailed);
        // Acknowledged is at least what the printer read, and never the
        // whole file while the printer read less.
        const qint64 acknowledged = sender.acknowledgedBytes();
        QVERIFY2(acknowledged >= sink.received().size() && acknowledged <= size,
                 qPrintable(QStringLiteral("%1 acknowledged, %2 read")
                                .arg(acknowledged)
                                .arg(sink.received().size())));
        if (mode == static_cast<int>(TcpSink::Mode::NeverRead))
            QVERIFY(acknowledged < size);
    }

    void fileChangesDuringSend_data()
    {
        QTest::addColumn<qint64>("newSize");
        QTest::addColumn<QString>("reason");

        // Larger than what the kernels take at once, so the change comes
        // while the sender still reads.
        QTest::newRow("shrinks") << qint64(24 << 20)
                                 << "The file shrank during the send: it had 33554432 bytes when "
                                    "the send began, and ended after 25165824.";
        QTest::newRow("grows") << qint64(40 << 20)
                               << "The file grew during the send beyond the 33554432 bytes it had "
                                  "when the send began.";
        QTest::newRow("rewritten in place") << qint64(32 << 20)
                                            << "The file was changed during the send.";
    }

    void fileChangesDuringSend()
    {
        QFETCH(qint64, newSize);
        QFETCH(QString, reason);

        QTemporaryDir dir;
        const QString path = writeTestFile(dir.filePath(QStringLiteral("job.prn")), randomBytes(32 << 20));
        TcpSink sink;
        sink.setMode(TcpSink::Mode::Slow, 16 << 20);
        QVERIFY(sink.listen());
        TcpBlockSender sender;
        QSignalSpy failed(&sender, &TcpBlockSender::failed);
        QSignalSpy progress(&sender, &TcpBlockSender::progress);
        sender.start(path, QStringLiteral("127.0.0.1"), QString::number(sink.port()));
        QVERIFY2(progress.wait(10000), "no progress");
        QVERIFY(sender.count() < newSize);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        // The same length: new bytes over ones already sent.
        QVERIFY(newSize == file.size() ? file.write("changed") == 7 : file.resize(newSize));
        file.close();
        QVERIFY2(failed.wait(30000), "the change went unnoticed");
        QCOMPARE(sender.failureReason(), reason);
        // The printer sees a reset, never a clean end of a truncated job.
        QTRY_COMPARE_WITH_TIMEOUT(sink.closedCount(), 1, 30000);
        QVERIFY(sink.received().size() <= qMin<qint64>(newSize, 32 << 20));
    }

    void cancelStopsTheSend()
    {
        const QByteArray bytes = randomBytes(8 << 20);
        QTemporaryDir dir;
        TcpSink sink;
        sink.setMode(TcpSink::Mode::Slow, 1 << 20);
        QVERIFY(sink.listen());

        TcpBlockSender sender;
        QSignalSpy progress(&sender, &TcpBlockSender::progress);
        QSignalSpy finished(&sender, &TcpBlockSender::finished);
        QSignalSpy failed(&sender, &TcpBlockSender::failed);
        sender.start(writeTestFile(dir.filePath(QStringLiteral("job.prn")), bytes), QStringLiteral("127.0.0.1"),
                     QString::number(sink.port()));
        QVERIFY2(progress.wait(), "no progress within 5 s");
        sender.cancel();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(sender.outcome(), TcpBlockSender::Outcome::Cancelled);
        QTRY_COMPARE(sink.closedCount(), 1);
        QVERIFY(sink.received().size() < bytes.size());
        QCOMPARE(sink.received(), bytes.left(sink.received().size()));
        QVERIFY(failed.isEmpty());
        QVERIFY(sender.failureText().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTcpBlockSender)
#include "tst_tcpblocksender.moc"
