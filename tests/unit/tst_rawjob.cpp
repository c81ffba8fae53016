#include "fakespooler.h"
#include "platform/waitlimits.h"
#include "core/exitstatus.h"
#include "core/rawjob.h"

#include <QTest>

Q_DECLARE_METATYPE(SendOutcome)

// The raw-job sequence against a spooler that fails where told: what is
// called, what is withdrawn, and what the caller is told.
class TestRawJob : public QObject
{
    Q_OBJECT

private slots:
    void failingStep_data()
    {
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<int>("acceptBytes");
        QTest::addColumn<QString>("spoolerSays");
        QTest::addColumn<bool>("lost"); // the spooler lost its connection, rather than refused
        QTest::addColumn<SendOutcome>("outcome");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("calls");

        const QStringList opened{"open:Laser"};
        const QStringList started = opened + QStringList{"startDocument:Command Print"};
        const QStringList wrote = started + QStringList{"write:1000"};
        const QStringList ended = wrote + QStringList{"endDocument"};
        const QStringList withdrawn{"cancelJob", "close"};
        const auto refused = SendOutcome::SpoolerRefused;

        QTest::newRow("everything accepted") << "" << 0 << "" << false << SendOutcome::Delivered
                                             << "" << ended + QStringList{"close"};
        QTest::newRow("open refused") << "open" << 0 << "Unknown printer" << false
                                      << SendOutcome::NoPrinter << "Unknown printer" << opened;
        QTest::newRow("open refused, spooler silent")
            << "open" << 0 << "" << true << SendOutcome::ConnectionFailed
            << "the queue could not be opened" << opened;
        QTest::newRow("start of document refused")
            << "startDocument" << 0 << "Not accepting jobs" << false << refused
            << "Not accepting jobs" << started + withdrawn;
        QTest::newRow("start of document, connection lost")
            << "startDocument" << 0 << "the scheduler did not answer within 1 s" << true
            << SendOutcome::TransferFailed
            << "the scheduler did not answer within 1 s" << started + withdrawn;
        QTest::newRow("short write, spooler silent")
            << "write" << 400 << "" << true << SendOutcome::TransferFailed << ""
            << wrote + withdrawn;
        QTest::newRow("write refused with a reason")
            << "write" << 0 << "Document too large" << false << refused
            << "Document too large" << wrote + withdrawn;
        QTest::newRow("end of document refused")
            << "endDocument" << 0 << "Document rejected" << false << refused
            << "Document rejected" << ended + withdrawn;
        QTest::newRow("end of document refused, spooler silent")
            << "endDocument" << 0 << "" << false << refused
            << "the job could not be finished" << ended + withdrawn;
        // The input's side: a stop, a read error.
        QTest::newRow("stopped after the first piece")
            << "stop" << 0 << "" << false << SendOutcome::Cancelled
            << "cancelled, the job was withdrawn" << wrote + withdrawn;
        QTest::newRow("input fails") << "input" << 0 << "" << false << SendOutcome::TransferFailed
                                     << "Input/output error" << wrote + withdrawn;
        // The job is already complete; a close failure is told but must not
        // withdraw it.
        QTest::newRow("close refused") << "close" << 0 << "Invalid handle" << false << refused
                                       << "Invalid handle"
                                       << ended + QStringList{"close"};
    }

    void failingStep()
    {
        QFETCH(QString, failAt);
        QFETCH(int, acceptBytes);
        QFETCH(QString, spoolerSays);
        QFETCH(bool, lost);
        QFETCH(SendOutcome, outcome);
        QFETCH(QString, reason);
        QFETCH(QStringList, calls);

        FakeSpooler spooler;
        spooler.failAt = failAt;
        spooler.acceptBytes = static_cast<std::size_t>(acceptBytes);
        spooler.failureText = spoolerSays.toStdString();
        if (lost)
            spooler.failureKind = failAt == QLatin1String("open") ? SendOutcome::ConnectionFailed
                                                                  : SendOutcome::TransferFailed;

        // One piece of 1000 bytes, then a stop or an input error where the row says.
        StopFlag stop;
        int pieces = 0;
        const std::string content(1000, 'x');
        const auto input = [&](std::string_view *piece, std::string *error) {
            *piece = content;
            if (pieces == 1 && failAt == QLatin1String("stop"))
                stop.set();
            if (pieces == 1 && failAt == QLatin1String("input"))
                *error = "Input/output error";
            return pieces++ == 0;
        };
        long long taken = 0;
        const RawJobOutcome job = sendRawJob(spooler, "Laser", RawJobDocumentName, input, &stop,
                                             [&taken](long long bytes) { taken += bytes; });
        QCOMPARE(spooler.calls, calls);
        QCOMPARE(job.outcome, outcome);
        QCOMPARE(QString::fromStdString(job.sentence), reason);
        QCOMPARE(job.jobId, outcome == SendOutcome::Delivered ? 1 : 0);
        QCOMPARE(job.taken, taken);
        if (failAt == QLatin1String("write"))
            QCOMPARE(job.taken, static_cast<long long>(acceptBytes));
    }

    // What a failure means to the caller, by the spooler's kind of failure
    // and the step: whether trying again could print anything twice.
    void failureKinds_data()
    {
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<SendOutcome>("kind");
        QTest::addColumn<SendOutcome>("outcome");
        QTest::addColumn<bool>("retryable");

        using F = SendOutcome;
        QTest::newRow("scheduler away") << "open" << F::ConnectionFailed << SendOutcome::ConnectionFailed << true;
        QTest::newRow("no such printer") << "open" << F::NoPrinter << SendOutcome::ConnectionFailed
                                         << false;
        QTest::newRow("not accepting jobs") << "open" << F::SpoolerRefused
                                            << SendOutcome::SpoolerRefused << false;
        QTest::newRow("busy, asked first") << "open" << F::Busy << SendOutcome::SpoolerRefused << true;
        QTest::newRow("busy at the job") << "startDocument" << F::Busy << SendOutcome::SpoolerRefused
                                         << true;
        QTest::newRow("lost at the job") << "startDocument" << F::TransferFailed << SendOutcome::TransferFailed
                                         << false;
        QTest::newRow("busy once data went") << "write" << F::Busy << SendOutcome::SpoolerRefused
                                             << false;
    }

    void failureKinds()
    {
        QFETCH(QString, failAt);
        QFETCH(SendOutcome, kind);
        QFETCH(SendOutcome, outcome);
        QFETCH(bool, retryable);

        FakeSpooler spooler;
        spooler.failAt = failAt;
        spooler.failureKind = kind;
        const RawJobOutcome job = sendRawJob(spooler, "Laser", "data");
        QCOMPARE(exitStatusFor(job.outcome), exitStatusFor(outcome));
        QCOMPARE(mayRetry(job.outcome, job.inputDrawn), retryable);
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
        const RawJobOutcome job = sendRawJob(
            spooler, printer.toStdString(),
            std::string_view(content.constData(), static_cast<std::size_t>(content.size())));
        QCOMPARE(job.outcome, SendOutcome::Delivered);
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
