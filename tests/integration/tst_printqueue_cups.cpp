#include "window/varnet.h"
#include "cupssandbox.h"
#include "fakeprinters.h"
#include "messagerecorder.h"
#include "platform/printercollection.h"
#include "platform/spooler.h"
#include "tcpsink.h"
#include "testdata.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <cups/cups.h>

namespace {

constexpr int DeliveryTimeout = 60000;

struct JobInfo
{
    QString title;
    ipp_jstate_t state;
};

QList<JobInfo> jobsOf(const QString &queue)
{
    cups_job_t *jobs = nullptr;
    const QByteArray name = queue.toUtf8();
    const int count =
        cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, name.constData(), 0, CUPS_WHICHJOBS_ALL);
    QList<JobInfo> result;
    for (int i = 0; i < count; ++i)
        result.append({QString::fromUtf8(jobs[i].title), jobs[i].state});
    cupsFreeJobs(count, jobs);
    return result;
}

void click(Varnet &window)
{
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
}

void choose(Varnet &window, const QString &printer)
{
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("Combo1"));
    combo->setCurrentIndex(combo->findText(printer, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

} // namespace

// The printer path against a real (sandboxed) scheduler whose raw queues
// deliver to TCP sinks in this process: what arrives is what a printer gets.
class TestPrintQueueCups : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sandbox.start(), qPrintable(m_sandbox.lastOutput()));
        QVERIFY(m_sink.listen());
        QVERIFY2(m_sandbox.addSocketQueue(QStringLiteral("Sink"), m_sink.port()),
                 qPrintable(m_sandbox.lastOutput()));
        QVERIFY(m_sandbox.setDefault(QStringLiteral("Sink")));
    }

    void fileArrivesWholeEveryTime_data()
    {
        QTest::addColumn<QString>("queue");
        QTest::newRow("plain name") << "Plotter";
        QTest::newRow("name outside ASCII") << QStringLiteral("Drücker-Büro");
    }

    void fileArrivesWholeEveryTime()
    {
        QFETCH(QString, queue);
        TcpSink sink;
        QVERIFY(sink.listen());
        QVERIFY2(m_sandbox.addSocketQueue(queue, sink.port()), qPrintable(m_sandbox.lastOutput()));

        const auto printers = createSystemPrinterCollection();
        MessageRecorder recorder;
        Varnet window(*printers);
        window.Form_Load(QString());
        choose(window, queue);
        QTemporaryDir folder;
        // A few MiB in which every byte value occurs many times.
        const QByteArray content = randomBytes(3 * 1024 * 1024 + 17, 9);
        window.findChild<QLineEdit *>(QStringLiteral("Text2"))
            ->setText(writeTestFile(folder.filePath(QStringLiteral("job.bin")), content));
        window.OpenFi();
        QCOMPARE(window.Druckertext, content);

        click(window);
        click(window);

        QCOMPARE(recorder.texts(), (QStringList{"Executed!", "Executed!"}));
        QCOMPARE(recorder.messages.first().title, QStringLiteral("Message"));
        QTRY_COMPARE_WITH_TIMEOUT(sink.closedCount(), 2, DeliveryTimeout);
        QCOMPARE(sink.connectionCount(), 2);
        QVERIFY(sink.received(0) == content);
        QVERIFY(sink.received(1) == content);

        const QList<JobInfo> jobs = jobsOf(queue);
        QCOMPARE(jobs.size(), 2);
        for (const JobInfo &job : jobs)
            QCOMPARE(job.title, QStringLiteral("Command Print"));
        QTRY_VERIFY_WITH_TIMEOUT(jobsOf(queue).last().state == IPP_JSTATE_COMPLETED,
                                 DeliveryTimeout);
        QCOMPARE(window.printers().currentPrinter(), QStringLiteral("Sink"));
    }

    void emptyFileIsStillAJob()
    {
        const int before = static_cast<int>(jobsOf(QStringLiteral("Sink")).size());
        const auto printers = createSystemPrinterCollection();
        MessageRecorder recorder;
        Varnet window(*printers);
        window.Form_Load(QString());
        click(window);

        QCOMPARE(recorder.texts(), QStringList{"Executed!"});
        const QList<JobInfo> jobs = jobsOf(QStringLiteral("Sink"));
        QCOMPARE(jobs.size(), before + 1);
        QCOMPARE(jobs.last().title, QStringLiteral("Command Print"));
        // With no bytes to deliver the scheduler ends the job at once; it
        // must not wait for a document that never comes.
        QTRY_VERIFY_WITH_TIMEOUT(jobsOf(QStringLiteral("Sink")).last().state > IPP_JSTATE_STOPPED,
                                 DeliveryTimeout);
    }

    void refusedJobIsReported()
    {
        QVERIFY(m_sandbox.addSocketQueue(QStringLiteral("Closed"), m_sink.port()));
        QVERIFY2(m_sandbox.rejectJobs(QStringLiteral("Closed")),
                 qPrintable(m_sandbox.lastOutput()));
        const auto printers = createSystemPrinterCollection();
        MessageRecorder recorder;
        Varnet window(*printers);
        window.Form_Load(QString());
        choose(window, QStringLiteral("Closed"));
        window.Druckertext = QByteArray("data for a closed queue");
        click(window);

        QCOMPARE(recorder.messages.size(), 1);
        const QString text = recorder.messages.first().text;
        QVERIFY2(text.contains(QStringLiteral("\"Closed\"")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("not accepting jobs")), qPrintable(text));
        QVERIFY(jobsOf(QStringLiteral("Closed")).isEmpty());
        QCOMPARE(window.printers().currentPrinter(), QStringLiteral("Sink"));
    }

    void unknownQueueOpenFails()
    {
        // The list still offers a queue the scheduler does not know: the
        // open is what fails, and the earlier printer is current again.
        FakePrinters printers({"Sink", "Ghost"}, "Sink");
        MessageRecorder recorder;
        Varnet window(printers);
        window.Form_Load(QString());
        choose(window, QStringLiteral("Ghost"));
        window.Druckertext = QByteArray("lost");
        click(window);

        QCOMPARE(recorder.texts(), QStringList{"The Printer Name you typed wasn't recognized."});
        QCOMPARE(recorder.messages.first().title, QStringLiteral("Varnet"));
        QCOMPARE(window.printers().currentPrinter(), QStringLiteral("Sink"));
        window.Command3_Click();
        QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("Combo1"))->currentText(),
                 QStringLiteral("Sink"));
    }

    void silentWithoutAPrinter_data()
    {
        QTest::addColumn<bool>("deleteChosen");
        QTest::newRow("no printer chosen") << false;
        QTest::newRow("queue deleted after the list was filled") << true;
    }

    void silentWithoutAPrinter()
    {
        QFETCH(bool, deleteChosen);
        QVERIFY(m_sandbox.addSocketQueue(QStringLiteral("Brief"), m_sink.port()));
        const auto printers = createSystemPrinterCollection();
        MessageRecorder recorder;
        Varnet window(*printers);
        window.Form_Load(QString());
        choose(window, deleteChosen ? QStringLiteral("Brief") : QString());
        QVERIFY(m_sandbox.deleteQueue(QStringLiteral("Brief")));
        window.Druckertext = QByteArray("nobody gets this");
        const int connections = m_sink.connectionCount();
        click(window);

        QVERIFY(recorder.messages.isEmpty());
        QCOMPARE(m_sink.connectionCount(), connections);
        QCOMPARE(window.printers().currentPrinter(), QStringLiteral("Sink"));
    }

    void schedulerStopped_data()
    {
        QTest::addColumn<bool>("listKept");
        QTest::addColumn<bool>("silent"); // the scheduler takes connections but never answers
        QTest::addColumn<QStringList>("messages");
        // The printer list asks the scheduler again and cannot: Print says
        // which queue it could not use and why, instead of nothing at all.
        QTest::newRow("list asked again")
            << false << false
            << QStringList{"The file was not printed on \"Away\": the print scheduler could not "
                           "be asked for it (nothing answers at @SOCKET@)."};
        QTest::newRow("list remembered")
            << true << false << QStringList{"The Printer Name you typed wasn't recognized."};
        QTest::newRow("list remembered, scheduler silent")
            << true << true << QStringList{"The Printer Name you typed wasn't recognized."};
    }

    void schedulerStopped()
    {
        QFETCH(bool, listKept);
        QFETCH(bool, silent);
        QFETCH(QStringList, messages);

        CupsSandbox sandbox;
        QVERIFY2(sandbox.start(), qPrintable(sandbox.lastOutput()));
        QVERIFY(sandbox.addSocketQueue(QStringLiteral("Away"), m_sink.port()));
        QVERIFY(sandbox.setDefault(QStringLiteral("Away")));
        FakePrinters kept({"Away"}, "Away");
        const auto system = createSystemPrinterCollection();
        MessageRecorder recorder;
        Varnet window(listKept ? static_cast<PrinterCollection &>(kept) : *system);
        window.Form_Load(QString());
        window.Druckertext = QByteArray("never sent");
        QTcpServer silentScheduler;
        const std::unique_ptr<Spooler> spooler = createSystemSpooler();
        if (silent) {
            // The sandbox puts the variable back when it goes.
            QVERIFY(silentScheduler.listen(QHostAddress::LocalHost));
            qputenv("CUPS_SERVER", "127.0.0.1:" + QByteArray::number(silentScheduler.serverPort()));
            cupsSetServer(nullptr);
            spooler->setWaitLimits({2000, 1000, nullptr});
            window.setSpooler(spooler.get());
        } else {
            sandbox.stopScheduler();
        }
        click(window);

        messages.replaceInStrings(QStringLiteral("@SOCKET@"), sandbox.socketPath());
        QCOMPARE(recorder.texts(), messages);
        QCOMPARE(window.printers().currentPrinter(), QStringLiteral("Away"));
    }

private:
    CupsSandbox m_sandbox;
    TcpSink m_sink;
};

QTEST_MAIN(TestPrintQueueCups)
#include "tst_printqueue_cups.moc"
