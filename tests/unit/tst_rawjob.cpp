#include "fakespooler.h"
#include "platform/waitlimits.h"
#include "transmission/rawjob.h"

#include <QTest>

Q_DECLARE_METATYPE(RawJobOutcome::Step)
Q_DECLARE_METATYPE(SendOutcome)

// The raw-job sequence against a spooler that fails where told: what is
// called, what is withdrawn, and what the caller is told.
class TestRawJob : public QObject
{
    Q_OBJECT

private slots:
    void failingStep_data()
    {
        using Step = RawJobOutcome::Step;
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<int>("acceptBytes");
        QTest::addColumn<QString>("spoolerSays");
        QTest::addColumn<bool>("lost"); // the spooler lost its connection, rather than refused
        QTest::addColumn<SendOutcome>("outcome");
        QTest::addColumn<Step>("step");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("calls");

        const QStringList opened{"open:Laser"};
        const QStringList started = opened + QStringList{"startDocument:Command Print"};
        const QStringList paged = started + QStringList{"startPage"};
        const QStringList wrote = paged + QStringList{"write:1000"};
        const QStringList ended = wrote + QStringList{"endPage", "endDocument"};
        const QStringList withdrawn{"cancelJob", "close"};
        const auto refused = SendOutcome::SpoolerRefused;

        QTest::newRow("everything accepted") << "" << 0 << "" << false << SendOutcome::Delivered
                                             << Step::None << "" << ended + QStringList{"close"};
        QTest::newRow("open refused") << "open" << 0 << "Unknown printer" << false
                                      << SendOutcome::ConnectionFailed << Step::Open
                                      << "Unknown printer" << opened;
        QTest::newRow("open refused, spooler silent")
            << "open" << 0 << "" << true << SendOutcome::ConnectionFailed << Step::Open
            << "the queue could not be opened" << opened;
        QTest::newRow("start of document refused")
            << "startDocument" << 0 << "Not accepting jobs" << false << refused
            << Step::StartDocument << "Not accepting jobs" << started + withdrawn;
        QTest::newRow("start of document, connection lost")
            << "startDocument" << 0 << "the scheduler did not answer within 1 s" << true
            << SendOutcome::TransferFailed << Step::StartDocument
            << "the scheduler did not answer within 1 s" << started + withdrawn;
        QTest::newRow("start of page refused")
            << "startPage" << 0 << "Access denied" << false << refused << Step::StartPage
            << "Access denied" << paged + withdrawn;
        QTest::newRow("short write, spooler silent")
            << "write" << 400 << "" << true << SendOutcome::TransferFailed << Step::Write << ""
            << wrote + withdrawn;
        QTest::newRow("write refused with a reason")
            << "write" << 0 << "Document too large" << false << refused << Step::Write
            << "Document too large" << wrote + withdrawn;
        QTest::newRow("end of page refused") << "endPage" << 0 << "Disk full" << false << refused
                                             << Step::EndPage << "Disk full"
                                             << wrote + QStringList{"endPage"} + withdrawn;
        QTest::newRow("end of document refused")
            << "endDocument" << 0 << "Document rejected" << false << refused << Step::EndDocument
            << "Document rejected" << ended + withdrawn;
        QTest::newRow("end of document refused, spooler silent")
            << "endDocument" << 0 << "" << false << refused << Step::EndDocument
            << "the job could not be finished" << ended + withdrawn;
        // The job is already complete; a close failure is told but must not
        // withdraw it.
        QTest::newRow("close refused") << "close" << 0 << "Invalid handle" << false << refused
                                       << Step::Close << "Invalid handle"
                                       << ended + QStringList{"close"};
    }

    void failingStep()
    {
        QFETCH(QString, failAt);
        QFETCH(int, acceptBytes);
        QFETCH(QString, spoolerSays);
        QFETCH(bool, lost);
        QFETCH(SendOutcome, outcome);
        QFETCH(RawJobOutcome::Step, step);
        QFETCH(QString, reason);
        QFETCH(QStringList, calls);

        FakeSpooler spooler;
        spooler.failAt = failAt;
        spooler.acceptBytes = static_cast<std::size_t>(acceptBytes);
        spooler.failureText = spoolerSays.toStdString();
        spooler.failureKind = lost ? Spooler::Failure::Lost : Spooler::Failure::Refused;

        const RawJobOutcome job = sendRawJob(spooler, QStringLiteral("Laser"), QByteArray(1000, 'x'));
        QCOMPARE(spooler.calls, calls);
        QCOMPARE(job.outcome, outcome);
        QCOMPARE(job.failedStep, step);
        QCOMPARE(job.reason, reason);
        QCOMPARE(job.jobId, outcome == SendOutcome::Delivered ? 1 : 0);
        if (failAt == QLatin1String("write"))
            QCOMPARE(job.taken, qint64(acceptBytes));
    }

    void contentAndNamePassUnchanged_data()
    {
        QTest::addColumn<QString>("printer");
        QTest::addColumn<QByteArray>("content");

        QByteArray everyByte;
        for (int round = 0; round < 4; ++round)
            for (int value = 0; value < 256; ++value)
                everyByte.append(static_cast<char>(value));
        QTest::newRow("every byte value") << "Laser" << everyByte;
        QTest::newRow("empty file is still a job") << "Laser" << QByteArray();
        QTest::newRow("name outside ASCII") << QStringLiteral("Drucker Büro ☃") << everyByte;
    }

    void contentAndNamePassUnchanged()
    {
        QFETCH(QString, printer);
        QFETCH(QByteArray, content);

        FakeSpooler spooler;
        const RawJobOutcome job = sendRawJob(spooler, printer, content);
        QCOMPARE(job.outcome, SendOutcome::Delivered);
        QCOMPARE(spooler.calls.first(), QStringLiteral("open:") + printer);
        QVERIFY(spooler.calls.contains(QStringLiteral("write:%1").arg(content.size())));
        QCOMPARE(spooler.written, content);
        // One write of the loaded buffer itself, not of a copy.
        QCOMPARE(spooler.calls.filter(QStringLiteral("write:")).size(), 1);
        QCOMPARE(static_cast<const void *>(spooler.lastWriteData),
                 static_cast<const void *>(content.constData()));
    }

    void piecesStopAndInputFailure_data()
    {
        QTest::addColumn<int>("stopAfter");  // pieces given before the stop flag is set; -1: never
        QTest::addColumn<QString>("failure"); // what the input says after its pieces
        QTest::addColumn<SendOutcome>("outcome");
        QTest::addColumn<QString>("reason");

        QTest::newRow("three pieces") << -1 << "" << SendOutcome::Delivered << "";
        QTest::newRow("stopped before the first piece")
            << 0 << "" << SendOutcome::Cancelled << "cancelled, the job was withdrawn";
        QTest::newRow("stopped after a piece")
            << 1 << "" << SendOutcome::Cancelled << "cancelled, the job was withdrawn";
        QTest::newRow("input fails") << -1 << "Input/output error" << SendOutcome::TransferFailed
                                     << "Input/output error";
    }

    void piecesStopAndInputFailure()
    {
        QFETCH(int, stopAfter);
        QFETCH(QString, failure);
        QFETCH(SendOutcome, outcome);
        QFETCH(QString, reason);

        FakeSpooler spooler;
        StopFlag stop;
        int given = 0;
        const auto input = [&](QByteArray *piece, QString *error) {
            if (given == stopAfter)
                stop.set();
            *piece = QByteArray(10, static_cast<char>('a' + given));
            *error = given == 3 ? failure : QString();
            return given++ < 3;
        };
        qint64 taken = 0;
        const RawJobOutcome job = sendRawJob(spooler, QStringLiteral("Laser"), QStringLiteral("Firmware"),
                                             input, &stop, [&taken](qint64 bytes) { taken += bytes; });
        QCOMPARE(job.outcome, outcome);
        QCOMPARE(job.reason, reason);
        QCOMPARE(job.taken, taken);
        const int written = stopAfter >= 0 ? stopAfter : 3;
        QCOMPARE(spooler.written, QByteArray("aaaaaaaaaabbbbbbbbbbcccccccccc").left(10 * written));
        QCOMPARE(spooler.calls.contains(QStringLiteral("cancelJob")), outcome != SendOutcome::Delivered);
        QCOMPARE(spooler.calls.at(1), QStringLiteral("startDocument:Firmware"));
    }
};

QTEST_GUILESS_MAIN(TestRawJob)
#include "tst_rawjob.moc"
