#include "fakespooler.h"
#include "transmission/rawjob.h"

#include <QTest>

Q_DECLARE_METATYPE(RawJobOutcome::Result)
Q_DECLARE_METATYPE(RawJobOutcome::Step)

// The raw-job sequence against a spooler that fails where told: what is
// called, what is withdrawn, and what the caller is told.
class TestRawJob : public QObject
{
    Q_OBJECT

private slots:
    void failingStep_data()
    {
        using Result = RawJobOutcome::Result;
        using Step = RawJobOutcome::Step;
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<int>("acceptBytes");
        QTest::addColumn<QString>("spoolerSays");
        QTest::addColumn<Result>("result");
        QTest::addColumn<Step>("step");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("calls");

        const QStringList opened{"open:Laser"};
        const QStringList started = opened + QStringList{"startDocument:Command Print"};
        const QStringList paged = started + QStringList{"startPage"};
        const QStringList wrote = paged + QStringList{"write:1000"};
        const QStringList ended = wrote + QStringList{"endPage", "endDocument"};
        const QStringList withdrawn{"cancelJob", "close"};

        QTest::newRow("everything accepted")
            << "" << 0 << "" << Result::Sent << Step::None << "" << ended + QStringList{"close"};
        QTest::newRow("open refused") << "open" << 0 << "Unknown printer" << Result::OpenFailed
                                      << Step::Open << "Unknown printer" << opened;
        QTest::newRow("start of document refused")
            << "startDocument" << 0 << "Not accepting jobs" << Result::Failed << Step::StartDocument
            << "Not accepting jobs" << started + withdrawn;
        QTest::newRow("start of page refused")
            << "startPage" << 0 << "Access denied" << Result::Failed << Step::StartPage
            << "Access denied" << paged + withdrawn;
        QTest::newRow("short write, spooler silent")
            << "write" << 400 << "" << Result::Failed << Step::Write
            << "only 400 of 1000 bytes were accepted" << wrote + withdrawn;
        QTest::newRow("write refused with a reason")
            << "write" << 0 << "Broken pipe" << Result::Failed << Step::Write
            << "Broken pipe (only 0 of 1000 bytes were accepted)" << wrote + withdrawn;
        QTest::newRow("end of page refused")
            << "endPage" << 0 << "Disk full" << Result::Failed << Step::EndPage << "Disk full"
            << wrote + QStringList{"endPage"} + withdrawn;
        QTest::newRow("end of document refused")
            << "endDocument" << 0 << "Document rejected" << Result::Failed << Step::EndDocument
            << "Document rejected" << ended + withdrawn;
        QTest::newRow("end of document refused, spooler silent")
            << "endDocument" << 0 << "" << Result::Failed << Step::EndDocument
            << "the job could not be finished" << ended + withdrawn;
        // The job is already complete; a close failure is told but must not
        // withdraw it.
        QTest::newRow("close refused")
            << "close" << 0 << "Invalid handle" << Result::Failed << Step::Close << "Invalid handle"
            << ended + QStringList{"close"};
    }

    void failingStep()
    {
        QFETCH(QString, failAt);
        QFETCH(int, acceptBytes);
        QFETCH(QString, spoolerSays);
        QFETCH(RawJobOutcome::Result, result);
        QFETCH(RawJobOutcome::Step, step);
        QFETCH(QString, reason);
        QFETCH(QStringList, calls);

        FakeSpooler spooler;
        spooler.failAt = failAt;
        spooler.acceptBytes = static_cast<std::size_t>(acceptBytes);
        spooler.failureText = spoolerSays.toStdString();

        const RawJobOutcome outcome =
            sendRawJob(spooler, QStringLiteral("Laser"), QByteArray(1000, 'x'));
        QCOMPARE(spooler.calls, calls);
        QCOMPARE(outcome.result, result);
        QCOMPARE(outcome.failedStep, step);
        QCOMPARE(outcome.reason, reason);
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
        const RawJobOutcome outcome = sendRawJob(spooler, printer, content);
        QCOMPARE(outcome.result, RawJobOutcome::Result::Sent);
        QCOMPARE(spooler.calls.first(), QStringLiteral("open:") + printer);
        QVERIFY(spooler.calls.contains(QStringLiteral("write:%1").arg(content.size())));
        QCOMPARE(spooler.written, content);
        // One write of the loaded buffer itself, not of a copy.
        QCOMPARE(spooler.calls.filter(QStringLiteral("write:")).size(), 1);
        QCOMPARE(static_cast<const void *>(spooler.lastWriteData),
                 static_cast<const void *>(content.constData()));
    }
};

QTEST_GUILESS_MAIN(TestRawJob)
#include "tst_rawjob.moc"
