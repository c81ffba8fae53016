#include "tcpsink.h"
#include "core/bytesource.h"
#include "core/endpoint.h"
#include "core/tcpblocksender.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>


#include <sys/stat.h>

#include "testdata.h"

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(SendOutcome)

namespace {

// A file of random bytes, a sink to send it to, and the sender.
// Gives its bytes up to failAt, then fails as a broken disk would.
class FailingReader final : public SourceReader
{
public:
    FailingReader(const QByteArray &bytes, qint64 failAt) : m_bytes(bytes.left(failAt)) {}
    QByteArray read(qint64 maxBytes, bool) override
    {
        const QByteArray piece = m_bytes.mid(m_at, maxBytes);
        m_at += piece.size();
        return piece;
    }
    bool atEnd() const override { return m_at == m_bytes.size(); }
    QString error() const override
    {
        return atEnd() ? QStringLiteral("Reading the file failed: Input/output error.") : QString();
    }

private:
    QByteArray m_bytes;
    qint64 m_at = 0;
};

struct Job
{
    QTemporaryDir dir;
    QByteArray bytes;
    QString path;
    TcpSink sink;
    TcpBlockSender sender;

    explicit Job(qsizetype size, TcpSink::Mode mode = TcpSink::Mode::Normal, qint64 parameter = 0)
        : bytes(randomBytes(size)),
          path(writeTestFile(dir.filePath(QStringLiteral("job.prn")), bytes))
    {
        sink.setMode(mode, parameter);
    }

    void start(const QString &host = QStringLiteral("127.0.0.1"))
    {
        sender.start(path, host, QString::number(sink.port()));
    }
};

} // namespace

class TestTcpBlockSender : public QObject
{
    Q_OBJECT

private slots:
    void endpoint_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("parsed"); // the label, or part of the error

        const auto row = [](const char *text, bool valid, const char *parsed) {
            QTest::addRow("%s", text)
                << QString::fromUtf8(text) << valid << QString::fromUtf8(parsed);
        };
        row("10.0.0.5", true, "10.0.0.5:9100");
        row("printer.lan:9101", true, "printer.lan:9101");
        row("[::1]", true, "[::1]:9100");
        row("[::1]:9101", true, "[::1]:9101");
        row("::1", true, "[::1]:9100");
        row("[fe80::1%1]:9101", true, "[fe80::1%1]:9101");
        for (const char *port : {"0", "65536", "x", "", "-1", "91 00", "0x2000", " 20999", "+20999", "20999 "})
            row(qPrintable(QStringLiteral("h:") + QLatin1String(port)), false,
                qPrintable(QStringLiteral("port \"%1\" is not a number from 1 to 65535")
                               .arg(QLatin1String(port))));
        row("", false, "no host");
        row(":9100", false, "no host");
        row("[::1", false, "missing ]");
        row("[::1]x", false, "unexpected text after ]");
        row("a:b:c", false, "\"a:b:c\" is not an IPv6 address");
    }

    void endpoint()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, parsed);

        QString error;
        const std::optional<Endpoint> endpoint = Endpoint::parse(text, &error);
        QCOMPARE(endpoint.has_value(), valid);
        if (valid)
            QCOMPARE(endpoint->label(), parsed);
        else
            QVERIFY2(error.contains(parsed), qPrintable(error));
    }

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

        Job job(size);
        QVERIFY(job.sink.listen(QHostAddress(listenOn)));
        TcpBlockSender &sender = job.sender;
        sender.setTiming({.slice = 0ms}); // one event pass per block, as the classic loop had
        QSignalSpy progress(&sender, &TcpBlockSender::progress);
        QSignalSpy queued(&sender, &TcpBlockSender::allQueued);
        QSignalSpy finished(&sender, &TcpBlockSender::finished);
        QSignalSpy failed(&sender, &TcpBlockSender::failed);
        job.start(host);
        QCOMPARE(sender.phase(), host == QLatin1String("localhost") ? TcpBlockSender::Phase::LookingUp
                                                                   : TcpBlockSender::Phase::Connecting);

        QVERIFY2(queued.wait(), "the file was not queued within 5 s");
        QCOMPARE(queued.first().first().toLongLong(), qint64(size));
        QList<qint64> seen;
        for (const QList<QVariant> &signal : progress)
            seen.append(signal.first().toLongLong());
        QCOMPARE(seen, counts);
        QCOMPARE(sender.phase(), TcpBlockSender::Phase::Queued);
        QCOMPARE(job.sink.closedCount(), 0);

        sender.close();
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QTRY_COMPARE(job.sink.closedCount(), 1);
        QCOMPARE(job.sink.connectionCount(), 1);
        QCOMPARE(job.sink.received(), job.bytes);
        QCOMPARE(sender.outcome(), SendOutcome::Delivered);
        QVERIFY(failed.isEmpty());
    }

    void slowPeerGetsEveryByteWithBoundedQueue()
    {
        // Larger than the queue bound and the kernel's buffers together, so
        // the sender has to wait for the peer.
        Job job(12 << 20, TcpSink::Mode::Slow, 16 << 20);
        QVERIFY(job.sink.listen());
        TcpBlockSender &sender = job.sender;
        qint64 peakQueued = 0;
        qint64 lastCount = 0;
        bool countsAreBlocks = true;
        connect(&sender, &TcpBlockSender::progress, this, [&](qint64 count) {
            peakQueued = qMax(peakQueued, sender.queuedBytes());
            countsAreBlocks = countsAreBlocks && count > lastCount &&
                              (count % TcpBlockSender::BlockSize == 0 || count == job.bytes.size());
            lastCount = count;
        });
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this,
                [&] { peakQueued = qMax(peakQueued, sender.queuedBytes()); });
        sampler.start(1);

        QSignalSpy queued(&sender, &TcpBlockSender::allQueued);
        QSignalSpy finished(&sender, &TcpBlockSender::finished);
        job.start();
        // Closed while it sends: it ends once everything is queued, and
        // what is still on its way is delivered all the same.
        sender.close();
        QCOMPARE(sender.phase(), TcpBlockSender::Phase::Connecting);
        QVERIFY2(queued.wait(60000), "the file was not queued within 60 s");
        QVERIFY(job.sink.totalBytes() < job.bytes.size());
        QVERIFY2(!finished.isEmpty() || finished.wait(60000), "the send did not finish within 60 s");
        QCOMPARE(finished.first().first().toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(job.sink.closedCount(), 1, 60000);

        QVERIFY(job.sink.received() == job.bytes);
        QVERIFY(countsAreBlocks);
        QCOMPARE(lastCount, qint64(job.bytes.size()));
        QVERIFY2(peakQueued <= TcpBlockSender::QueueLimit, QByteArray::number(peakQueued));
        QVERIFY(peakQueued > 0);
    }

    void endings_data()
    {
        QTest::addColumn<QString>("failure"); // what the test breaks besides the sink
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("parameter");
        QTest::addColumn<int>("size");
        QTest::addColumn<SendOutcome>("outcome");
        QTest::addColumn<QString>("reason"); // a pattern; empty: delivered

        const auto row = [](const char *name, const char *failure, TcpSink::Mode mode,
                            qint64 parameter, int size, SendOutcome outcome, const char *reason) {
            QTest::newRow(name) << QString::fromLatin1(failure) << static_cast<int>(mode)
                                << parameter << size << outcome << QString::fromUtf8(reason);
        };
        using Mode = TcpSink::Mode;
        const auto connection = SendOutcome::ConnectionFailed;
        const auto transfer = SendOutcome::TransferFailed;
        const auto input = SendOutcome::InputUnreadable;
        // A printer that closes with bytes unread resets; one that closes
        // before the rest has even arrived sends its end first.
        const char *closed = "^The printer (reset the connection|closed the connection before it "
                             "had taken every byte)\\.$";
        row("orderly close after reading all", "", Mode::Normal, 0, 3 << 20, SendOutcome::Delivered,
            "");
        row("half-closes at once, reads all", "", Mode::HalfClose, 0, 3 << 20,
            SendOutcome::Delivered, "");
        row("refused", "refused", Mode::Normal, 0, 4096, connection, "^Connection refused\\.$");
        row("never accepts", "", Mode::NeverAccept, 0, 4096, connection,
            "^The printer did not accept the connection within 300 ms\\.$");
        row("bad port", "port", Mode::Normal, 0, 4096, connection,
            "^The port \"91 00\" is not a number from 1 to 65535\\.$");
        row("missing file", "missing", Mode::Normal, 0, 4096, input, "^No such file or directory$");
        row("folder", "folder", Mode::Normal, 0, 4096, input, "^It is a folder\\.$");
        row("pipe without a writer", "fifo", Mode::Normal, 0, 4096, input,
            "^It is a pipe or a device, not a file\\.$");
        row("resets at once", "", Mode::ResetAfter, 65536, 16 << 20, transfer, closed);
        row("closes after 1000 of 200000 bytes", "", Mode::CloseAfter, 1000, 200000, transfer,
            closed);
        row("closes after 2.9 of 3 MB", "", Mode::CloseAfter, 2900000, 3000000, transfer, closed);
        row("resets after 2 of 3 MB", "", Mode::ResetAfter, 2000000, 3000000, transfer,
            "^The printer reset the connection\\.$");
        row("reads nothing, closes after 300 ms", "", Mode::NeverRead, 300, 200000, transfer,
            closed);
        row("reads nothing, stays", "", Mode::NeverRead, 0, 20 << 20, transfer,
            "^The printer took nothing for 500 ms\\.$");
        // Cancelled once bytes flow: a reset, and no failure to tell.
        row("cancelled", "cancel", Mode::Slow, 1 << 20, 8 << 20, SendOutcome::Cancelled, "");
        // The source fails half way: the printer must not take the half for a job.
        row("read error", "readerror", Mode::Slow, 4 << 20, 8 << 20, transfer,
            "^Reading the file failed: Input/output error\\.$");
    }

    void endings()
    {
        QFETCH(QString, failure);
        QFETCH(int, mode);
        QFETCH(qint64, parameter);
        QFETCH(int, size);
        QFETCH(SendOutcome, outcome);
        QFETCH(QString, reason);

        Job job(size, static_cast<TcpSink::Mode>(mode), parameter);
        QVERIFY(job.sink.listen());
        QString path = job.path;
        QString port = QString::number(job.sink.port());
        if (failure == QLatin1String("refused"))
            port = QString::number(TcpSink::unusedPort());
        if (failure == QLatin1String("port"))
            port = QStringLiteral("91 00");
        if (failure == QLatin1String("missing"))
            path = job.dir.filePath(QStringLiteral("gone.prn"));
        if (failure == QLatin1String("folder"))
            path = job.dir.path();
        if (failure == QLatin1String("fifo")) {
            path = job.dir.filePath(QStringLiteral("fifo"));
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        }

        TcpBlockSender &sender = job.sender;
        sender.setTiming({.connect = 300ms, .stall = 500ms});
        QSignalSpy failed(&sender, &TcpBlockSender::failed);
        QSignalSpy finished(&sender, &TcpBlockSender::finished);
        QSignalSpy queued(&sender, &TcpBlockSender::allQueued);
        connect(&sender, &TcpBlockSender::allQueued, &sender, &TcpBlockSender::close);
        if (failure == QLatin1String("readerror"))
            sender.TcpBlockSender::start(std::make_shared<FailingReader>(job.bytes, size / 2),
                                         QStringLiteral("127.0.0.1"), job.sink.port());
        else
            sender.start(path, QStringLiteral("127.0.0.1"), port);
        QVERIFY(finished.isEmpty()); // reported from the event loop, never inside start()

        if (failure == QLatin1String("cancel")) {
            QSignalSpy progress(&sender, &TcpBlockSender::progress);
            QVERIFY2(progress.wait(), "no progress within 5 s");
            sender.cancel();
        }
        QVERIFY2(!finished.isEmpty() || finished.wait(30000), "the send did not end within 30 s");
        QCOMPARE(sender.outcome(), outcome);
        QCOMPARE(finished.first().first().toBool(), outcome == SendOutcome::Delivered);
        QCOMPARE(failed.size(), reason.isEmpty() ? 0 : 1);
        QVERIFY2(sender.failureReason().contains(QRegularExpression(reason)),
                 qPrintable(sender.failureReason()));
        QVERIFY(!sender.isBusy());
        QCOMPARE(sender.queuedBytes(), qint64(0));
        // Given up while still waiting for the connection, or ended by an error.
        QCOMPARE(sender.gaveUpIn(), failure.isEmpty() && mode == int(TcpSink::Mode::NeverAccept)
                                        ? TcpBlockSender::Phase::Connecting
                                        : TcpBlockSender::Phase::Done);
        const QByteArray received = job.sink.received();
        QCOMPARE(received, job.bytes.left(received.size()));
        const qint64 acknowledged = sender.acknowledgedBytes();
        if (outcome == SendOutcome::Delivered) {
            QVERIFY(sender.failureReason().isEmpty());
            QCOMPARE(received.size(), job.bytes.size());
            QCOMPARE(acknowledged, qint64(size));
        } else if (outcome == SendOutcome::TransferFailed) {
            // Acknowledged is never the whole file while the printer read
            // less, and at least what it read when the printer ended the
            // connection. When we end it (the input failed), the printer
            // still reads what was in flight, whose acknowledgement may not
            // have come back yet.
            const bool weEnded = failure == QLatin1String("readerror");
            QVERIFY2((weEnded || acknowledged >= received.size()) && acknowledged <= size,
                     qPrintable(QStringLiteral("%1 acknowledged, %2 read")
                                    .arg(acknowledged)
                                    .arg(received.size())));
            if (mode == static_cast<int>(TcpSink::Mode::NeverRead) ||
                mode == static_cast<int>(TcpSink::Mode::ResetAfter))
                QVERIFY(acknowledged < size);
        } else if (outcome == SendOutcome::Cancelled) {
            QTRY_COMPARE(job.sink.closedCount(), 1);
            QVERIFY(received.size() < size);
        } else {
            QVERIFY(queued.isEmpty());
            QCOMPARE(job.sink.totalBytes(), qint64(0));
            // A file that cannot be sent never costs the printer a connection.
            if (outcome == SendOutcome::InputUnreadable)
                QCOMPARE(job.sink.connectionCount(), 0);
        }

        // Every send that stops early ends in a reset, never in an orderly end.
        if (mode == static_cast<int>(TcpSink::Mode::Slow)) {
            QTRY_COMPARE_WITH_TIMEOUT(job.sink.closedCount(), 1, 30000);
            QCOMPARE(job.sink.resetCount(), 1);
            QVERIFY(job.sink.received().size() < size);
        }

        // Closing or cancelling after the end changes nothing.
        sender.close();
        sender.cancel();
        QCOMPARE(finished.size(), 1);
    }

    void fileChangesDuringSend_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("rate"); // the printer's, bytes/s
        QTest::addColumn<qint64>("newSize");
        QTest::addColumn<QString>("reason");

        // Larger than what the kernels take at once, so the change comes
        // while the sender still reads.
        const qint64 large = 32 << 20;
        QTest::newRow("shrinks") << large << qint64(16 << 20) << qint64(24 << 20)
                                 << "The file shrank during the send: it had 33554432 bytes when "
                                    "the send began, and ended after 25165824.";
        QTest::newRow("grows") << large << qint64(16 << 20) << qint64(40 << 20)
                               << "The file grew during the send beyond the 33554432 bytes it had "
                                  "when the send began.";
        QTest::newRow("rewritten in place") << large << qint64(16 << 20) << large
                                            << "The file was changed during the send.";
        // Handed over whole at once; the printer then reads from the file's pages.
        QTest::newRow("rewritten once all was handed over")
            << qint64(200000) << qint64(100000) << qint64(200000)
            << "The file was changed during the send.";
    }

    void fileChangesDuringSend()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, rate);
        QFETCH(qint64, newSize);
        QFETCH(QString, reason);

        Job job(size, TcpSink::Mode::Slow, rate);
        QVERIFY(job.sink.listen());
        QSignalSpy failed(&job.sender, &TcpBlockSender::failed);
        QSignalSpy progress(&job.sender, &TcpBlockSender::progress);
        job.start();
        QVERIFY2(progress.wait(10000), "no progress");
        QVERIFY(job.sender.count() < newSize || newSize == size);
        // The file system stamps times by the clock tick, a few ms; a change
        // in the tick that made the file would leave its time as it was.
        QTest::qSleep(30);
        QFile file(job.path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        // The same length: new bytes over ones already sent.
        QVERIFY(newSize == file.size() ? file.write("changed") == 7 : file.resize(newSize));
        file.close();
        job.sender.close();
        QVERIFY2(failed.wait(30000), "the change went unnoticed");
        QCOMPARE(job.sender.failureReason(), reason);
        // The printer sees a reset, never a clean end of a truncated job.
        QTRY_COMPARE_WITH_TIMEOUT(job.sink.closedCount(), 1, 30000);
        QVERIFY(job.sink.received().size() <= qMin(newSize, size));
    }
};

QTEST_GUILESS_MAIN(TestTcpBlockSender)
#include "tst_tcpblocksender.moc"
