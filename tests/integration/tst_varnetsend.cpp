#include "cupssandbox.h"
#include "ippprinter.h"
#include "tcpsink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QProcessEnvironment>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include "testdata.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <utility>

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run
{
    int exitCode = -1;
    QJsonObject summary;
    QByteArray out;
    QByteArray err;
};

int exitStatusOf(const QJsonObject &entry)
{
    static const QHash<QString, int> statuses{{"delivered", 0},         {"connection-failed", 4},
                                              {"transfer-failed", 5},   {"spooler-refused", 6},
                                              {"wait-timed-out", 8},    {"cancelled", 130}};
    return statuses.value(entry.value("outcome").toString(), -1);
}

QJsonObject destinationNamed(const QJsonObject &summary, const QString &label)
{
    for (const QJsonValue &entry : summary.value("destinations").toArray()) {
        if (entry.toObject().value("destination").toString() == label)
            return entry.toObject();
    }
    return {};
}

// A printer's SNMP agent: snmpd as an ordinary process on 127.0.0.1 and a
// free UDP port, with the Host Resources printer modules off and the
// printer's values served from a state file by tests/support/snmp-printer.sh.
class SnmpPrinter
{
public:
    explicit SnmpPrinter(const QString &folder) : m_folder(folder)
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        m_port = probe.localPort();
    }
    ~SnmpPrinter()
    {
        m_agent.terminate();
        m_agent.waitForFinished(5000);
    }
    quint16 port() const { return m_port; }

    // "STATE ALERTS COUNT": hrPrinterStatus, the alert octet in hex, the
    // page counter. Replaced whole, as the agent may read it at any time.
    void set(const QString &state)
    {
        QSaveFile file(path("state"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write((QString(state).replace(u' ', u'\n') + "\nModel X\n").toUtf8());
        QVERIFY(file.commit());
    }
    // What it has been asked so far, in bytes of its log.
    qint64 questions() const { return QFileInfo(path("state.log")).size(); }

    // A state after "=" never changes, and the agent serves it itself: with
    // a script behind every value, hundreds of questions at once would
    // measure the script, not the sender.
    bool start(const QString &state)
    {
        QString config = QStringLiteral("rocommunity public 127.0.0.1\n");
        const QStringList fixed = state.startsWith(u'=') ? state.mid(1).split(u' ') : QStringList();
        if (fixed.size() == 3)
            config += QStringLiteral("override .1.3.6.1.2.1.25.3.5.1.1.1 integer %1\n"
                                     "override .1.3.6.1.2.1.25.3.5.1.2.1 octet_str \"\"\n"
                                     "override .1.3.6.1.2.1.43.10.2.1.4.1.1 counter %2\n"
                                     "override .1.3.6.1.2.1.25.3.2.1.3.1 octet_str \"Model X\"\n")
                          .arg(fixed.at(0), fixed.at(2));
        else
            set(state);
        for (const char *base : {".1.3.6.1.2.1.25.3.2", ".1.3.6.1.2.1.25.3.5", ".1.3.6.1.2.1.43"})
            config += fixed.isEmpty() ? QStringLiteral("pass_persist %1 /bin/bash %2 %3\n")
                                            .arg(QLatin1String(base),
                                                 QStringLiteral(VARNET_SOURCE_DIR "/tests/support/snmp-printer.sh"),
                                                 path("state"))
                                      : QString();
        writeTestFile(path("snmpd.conf"), config.toUtf8());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SNMP_PERSISTENT_DIR", path("persistent"));
        m_agent.setProcessEnvironment(environment);
        m_agent.start(QStandardPaths::findExecutable("snmpd", {"/usr/sbin", "/usr/local/sbin"}),
                      {"-f", "-C", "-c", path("snmpd.conf"), "-Lf", path("snmpd.log"), "-I",
                       "-hr_print,hr_device,smux", QStringLiteral("udp:127.0.0.1:%1").arg(m_port)});
        // It says its version once it listens.
        for (QDeadlineTimer ready(10000); !ready.hasExpired() && m_agent.state() != QProcess::NotRunning;
             QTest::qWait(50)) {
            QFile log(path("snmpd.log"));
            if (log.open(QIODevice::ReadOnly) && log.readAll().contains("NET-SNMP version"))
                return true;
        }
        qWarning("snmpd did not start within 10 s: %s", qPrintable(m_agent.errorString()));
        return false;
    }

private:
    QString path(const char *name) const { return m_folder + u'/' + QLatin1String(name); }

    QString m_folder;
    quint16 m_port = 0;
    QProcess m_agent;
};

} // namespace

// The headless sender as scripts run it: a separate process, real sockets,
// a real scheduler.
class TestVarnetSend : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    // One scheduler for the rows of a test function, with an IPP port; each
    // row sets up the queues it uses.
    std::unique_ptr<CupsSandbox> m_sandbox;
    QString m_sandboxFor;
    quint16 m_ippPort = 0;
    int m_queues = 0;

    bool startSandbox()
    {
        if (m_sandbox && m_sandboxFor == QLatin1String(QTest::currentTestFunction()))
            return true;
        m_sandbox = std::make_unique<CupsSandbox>();
        m_sandboxFor = QLatin1String(QTest::currentTestFunction());
        m_ippPort = TcpSink::unusedPort();
        if (m_sandbox->start(m_ippPort))
            return true;
        qWarning("%s", qPrintable(m_sandbox->lastOutput()));
        m_sandbox.reset();
        return false;
    }

    // Runs varnet-send while this thread's event loop serves the sinks.
    static QByteArray shellData() { return randomBytes((1 << 20) + 100, 6); }

    Run run(const QStringList &arguments, const QString &stdinFile = QString(),
            QProcess *started = nullptr, int timeoutMs = 120000,
            const QString &program = QStringLiteral(VARNET_SEND))
    {
        QProcess local;
        QProcess &process = started ? *started : local;
        if (!stdinFile.isEmpty())
            process.setStandardInputFile(stdinFile);
        process.start(program, arguments);
        Run result;
        if (!process.waitForStarted(10000)) {
            qWarning("varnet-send did not start within 10 s: %s", qPrintable(process.errorString()));
            return result;
        }
        QSignalSpy done(&process, &QProcess::finished);
        if (!done.wait(timeoutMs)) {
            qWarning("varnet-send did not end within %d ms; killed", timeoutMs);
            process.kill();
            process.waitForFinished(5000);
        }
        // Death by a signal reads as a shell shows it: 128 + the signal.
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode()
                                                                       : 128 + process.exitCode();
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        result.summary = QJsonDocument::fromJson(result.out).object();
        return result;
    }

    // TCP printers with an SNMP agent, as printerAskedFirst gives them.
    void askedOverSnmp(QString target, const QString &prepare, int exitCode, const QString &reason,
                       TcpSink &printer)
    {
        const QByteArray data = randomBytes(300000, 12);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("snmp.bin")), data);
        QTemporaryDir folder;
        SnmpPrinter agent(folder.path());
        QStringList states = prepare.split(QStringLiteral(" > "), Qt::SkipEmptyParts);
        if (!states.isEmpty())
            QVERIFY(agent.start(states.takeFirst()));
        QProcess process;
        qint64 askedBefore = -1;
        QTimer later;
        later.setInterval(1500);
        QObject::connect(&printer, &TcpSink::dataArrived, &later, [&] {
            if (printer.totalBytes() == data.size() && !later.isActive()) {
                askedBefore = agent.questions();
                if (!states.isEmpty())
                    agent.set(states.takeFirst());
                later.start();
            }
        });
        QObject::connect(&later, &QTimer::timeout, &process, [&] {
            if (!states.isEmpty())
                agent.set(states.takeFirst());
            else if (exitCode == 130 && agent.questions() > askedBefore)
                ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        });
        const QStringList options =
            target.replace(QStringLiteral("@SINK"), QStringLiteral("127.0.0.1:%1").arg(printer.port()))
                .split(u' ');
        const Run result = run(QStringList{"--json", "--snmp-port", QString::number(agent.port())} + options +
                                   (options.first() == QLatin1String("--status") ? QStringList() : QStringList{path}),
                               QString(), &process, 60000);
        QVERIFY2(result.exitCode == exitCode, result.out.constData());
        QVERIFY2(result.out.contains(reason.toUtf8()), result.out.constData());
        // Each printer got what the summary says it was sent, over a connection of its own.
        const QJsonArray entries = result.summary.value("destinations").toArray();
        QCOMPARE(entries.size(), options.count(QStringLiteral("-H")));
        qint64 sent = 0;
        int connections = 0;
        for (const QJsonValue &entry : entries) {
            QCOMPARE(exitStatusOf(entry.toObject()), exitCode);
            sent += entry.toObject().value("bytes").toInteger();
            connections += entry.toObject().value("bytes").toInteger() > 0;
        }
        QTRY_COMPARE(printer.totalBytes(), sent);
        QCOMPARE(printer.connectionCount(), connections);
    }

private slots:
    void fanOutWithOneResetAndOneDeaf()
    {
        const QByteArray data = randomBytes(4 << 20, 1);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("fanout.bin")), data);

        std::vector<std::unique_ptr<TcpSink>> sinks;
        QStringList arguments{"--json", "--connect-timeout", "2", "--wait-eof", "10"};
        for (int i = 0; i < 16; ++i) {
            auto sink = std::make_unique<TcpSink>();
            if (i == 5)
                sink->setMode(TcpSink::Mode::ResetAfter, 100000);
            if (i == 11)
                sink->setMode(TcpSink::Mode::NeverAccept);
            QVERIFY(sink->listen());
            arguments << "-H" << QStringLiteral("127.0.0.1:%1").arg(sink->port());
            sinks.push_back(std::move(sink));
        }
        arguments << path;

        const Run result = run(arguments);
        QCOMPARE(result.exitCode, 7);
        const QJsonArray entries = result.summary.value("destinations").toArray();
        QCOMPARE(entries.size(), 16);
        for (int i = 0; i < 16; ++i) {
            const QJsonObject entry = entries.at(i).toObject();
            QCOMPARE(entry.value("destination").toString(),
                     QStringLiteral("127.0.0.1:%1").arg(sinks[static_cast<std::size_t>(i)]->port()));
            if (i == 5) {
                QCOMPARE(entry.value("outcome").toString(), QStringLiteral("transfer-failed"));
            } else if (i == 11) {
                QCOMPARE(entry.value("outcome").toString(), QStringLiteral("connection-failed"));
            } else {
                QCOMPARE(entry.value("outcome").toString(), QStringLiteral("delivered"));
                QCOMPARE(entry.value("bytes").toInteger(), data.size());
                QTRY_COMPARE(sinks[static_cast<std::size_t>(i)]->received(), data);
            }
        }
    }

    void standardInputIsStreamedWithBoundedMemory()
    {
        // Several times the input window: holding it all would show in the peak.
        const QByteArray data = randomBytes(96 << 20, 2);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("stream.bin")), data);
        TcpSink first;
        TcpSink second;
        QVERIFY(first.listen());
        QVERIFY(second.listen(QHostAddress::LocalHostIPv6));

        const Run result = run({"--json", "-H", QStringLiteral("127.0.0.1:%1").arg(first.port()),
                                "-H", QStringLiteral("[::1]:%1").arg(second.port()), "-"},
                               path);
        QCOMPARE(result.exitCode, 0);
        QTRY_COMPARE(first.totalBytes(), data.size());
        QTRY_COMPARE(second.totalBytes(), data.size());
        QVERIFY(first.received() == data);
        QVERIFY(second.received() == data);
        const qint64 peakKiB = result.summary.value("maxRssKiB").toInteger();
        QVERIFY(peakKiB > 0);
#if !defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer keeps freed memory in quarantine; the bound is
        // only meaningful in an ordinary build.
        QVERIFY2(peakKiB < 64 * 1024, qPrintable(QString::number(peakKiB)));
#endif
    }

    void waitForPrinterToClose_data()
    {
        QTest::addColumn<qint64>("holdMs");   // how long the sink keeps its side open (0: never)
        QTest::addColumn<QString>("waitEof"); // seconds
        QTest::addColumn<bool>("noteExpected");

        QTest::newRow("closes late, within the wait") << qint64(800) << "10" << false;
        QTest::newRow("never closes") << qint64(0) << "1" << true;
    }

    void waitForPrinterToClose()
    {
        QFETCH(qint64, holdMs);
        QFETCH(QString, waitEof);
        QFETCH(bool, noteExpected);

        const QByteArray data = randomBytes(256 * 1024, 3);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("eof.bin")), data);
        TcpSink sink;
        sink.setMode(TcpSink::Mode::HoldOpen, holdMs);
        QVERIFY(sink.listen());

        const Run result = run({"--json", "--wait-eof", waitEof, "-H",
                                QStringLiteral("127.0.0.1:%1").arg(sink.port()), path});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(sink.received(), data);
        const QJsonObject entry = result.summary.value("destinations").toArray().at(0).toObject();
        QCOMPARE(entry.value("outcome").toString(), QStringLiteral("delivered"));
        QCOMPARE(entry.contains("note"), noteExpected);
        if (holdMs > 0)
            QCOMPARE(sink.closedCount(), 1);
    }

    void printerDoesNotTakeEverything_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("parameter");
        QTest::addColumn<int>("exitCode");

        QTest::newRow("reads 1000 bytes and closes")
            << static_cast<int>(TcpSink::Mode::CloseAfter) << qint64(1000) << 5;
        QTest::newRow("resets after 1 MB") << static_cast<int>(TcpSink::Mode::ResetAfter)
                                           << qint64(1 << 20) << 5;
        QTest::newRow("never reads") << static_cast<int>(TcpSink::Mode::NeverRead) << qint64(0) << 5;
        QTest::newRow("ends its own side at once, reads all")
            << static_cast<int>(TcpSink::Mode::HalfClose) << qint64(0) << 0;
    }

    void printerDoesNotTakeEverything()
    {
        QFETCH(int, mode);
        QFETCH(qint64, parameter);
        QFETCH(int, exitCode);

        // More than the kernels on both sides hold, so a printer that stops
        // early cannot have acknowledged it all.
        const QByteArray data = randomBytes(20 << 20, 5);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("large.bin")), data);
        TcpSink sink;
        sink.setMode(static_cast<TcpSink::Mode>(mode), parameter);
        QVERIFY(sink.listen());

        const Run result = run({"--json", "--stall-timeout", "1", "-H",
                                QStringLiteral("127.0.0.1:%1").arg(sink.port()), path});
        QCOMPARE(result.exitCode, exitCode);
        const QJsonObject entry = result.summary.value("destinations").toArray().at(0).toObject();
        const qint64 bytes = entry.value("bytes").toInteger();
        if (exitCode == 0) {
            QCOMPARE(bytes, data.size());
            QTRY_COMPARE(sink.received(), data);
            return;
        }
        QCOMPARE(entry.value("outcome").toString(), QStringLiteral("transfer-failed"));
        // The count is what the printer acknowledged: all it read, not all we wrote.
        QVERIFY2(bytes >= sink.received().size() && bytes < data.size(), qPrintable(QString::number(bytes)));
        QCOMPARE(sink.received(), data.left(sink.received().size()));
    }

    void spoolerAndIppJobsAreFollowedToTheirEnd()
    {
        TcpSink queueDevice;
        QVERIFY(queueDevice.listen());
        const quint16 ippPort = TcpSink::unusedPort();
        CupsSandbox sandbox;
        QVERIFY2(sandbox.start(ippPort), qPrintable(sandbox.lastOutput()));
        QVERIFY(sandbox.addSocketQueue(QStringLiteral("sink"), queueDevice.port()));

        QByteArray data;
        for (int round = 0; round < 8192; ++round)
            for (int value = 0; value < 256; ++value)
                data.append(static_cast<char>(value));
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("job.bin")), data);

        const Run queued = run({"--json", "--wait", "-p", "sink", path});
        QVERIFY2(queued.exitCode == 0, queued.out.constData());
        const QJsonObject job = queued.summary.value("destinations").toArray().at(0).toObject();
        QCOMPARE(job.value("jobState").toString(), QStringLiteral("completed"));
        QVERIFY(job.value("job").toInt() > 0);
        QTRY_COMPARE(queueDevice.totalBytes(), data.size());
        QCOMPARE(queueDevice.received(0), data);

        const QString uri = QStringLiteral("ipp://127.0.0.1:%1/printers/sink").arg(ippPort);
        const Run direct = run({"--json", "--wait", "--title", "Firmware", "--ipp", uri, path});
        QVERIFY2(direct.exitCode == 0, direct.out.constData());
        QCOMPARE(destinationNamed(direct.summary, uri).value("jobState").toString(),
                 QStringLiteral("completed"));
        QTRY_COMPARE(queueDevice.connectionCount(), 2);
        QTRY_COMPARE(queueDevice.received(1), data);
        QVERIFY(sandbox.runClient("lpstat", {"-W", "completed", "-l", "-o", "sink"}));

        // Through the scheduler's LPD server: the file, the same from a pipe,
        // then the file to an LPD queue, a TCP port and an IPP printer at once.
        const quint16 lpdPort = TcpSink::unusedPort();
        QVERIFY(sandbox.startLpd(lpdPort));
        const QString lpd = QStringLiteral("lpd://127.0.0.1:%1/sink").arg(lpdPort);
        const Run viaLpd = run({"--json", "--title", "Label run", "--lpd", lpd, path});
        QVERIFY2(viaLpd.exitCode == 0, viaLpd.out.constData());
        QCOMPARE(destinationNamed(viaLpd.summary, lpd).value("kind").toString(), QStringLiteral("lpd"));
        QTRY_COMPARE(queueDevice.connectionCount(), 3);
        QTRY_COMPARE(queueDevice.received(2), data);
        const auto pageLog = [&sandbox] {
            QFile log(sandbox.directory() + QStringLiteral("/log/page_log"));
            return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        };
        QTRY_VERIFY2(pageLog().contains(" Label run "), pageLog().constData());
        QProcess writer;
        QProcess piped;
        writer.setStandardOutputProcess(&piped);
        writer.start(QStringLiteral("cat"), {path});
        QVERIFY2(run({"-q", "--lpd", lpd}, QString(), &piped).exitCode == 0, "from a pipe");
        QTRY_COMPARE(queueDevice.connectionCount(), 4);
        QTRY_COMPARE(queueDevice.received(3), data);
        TcpSink port;
        QVERIFY(port.listen());
        const Run all = run({"--json", "--lpd", lpd, "-H", QStringLiteral("127.0.0.1:%1").arg(port.port()),
                             "--ipp", uri, path});
        QVERIFY2(all.exitCode == 0, all.out.constData());
        QTRY_COMPARE(port.received(), data);
        QTRY_COMPARE(queueDevice.connectionCount(), 6);
        QTRY_VERIFY(queueDevice.received(4) == data && queueDevice.received(5) == data);

        QVERIFY(sandbox.rejectJobs(QStringLiteral("sink")));
        // The server answers for the queue before any of the file goes.
        QCOMPARE(run({"--check", "--lpd", lpd, path}).exitCode, 6);
        QCOMPARE(run({"--lpd", QString(lpd).replace("/sink", "/nosuch"), path}).exitCode, 6);
        const Run refused = run({"--json", "-p", "sink", path});
        QCOMPARE(refused.exitCode, 6);
        const Run unknown = run({"--json", "-p", "nosuchqueue", path});
        QCOMPARE(unknown.exitCode, 4);
    }

    void ippPrinterAnswers_data()
    {
        QTest::addColumn<IppPrinter::Mode>("mode");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("asScheduler"); // the fake stands in for the scheduler (-p)
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("reason"); // part of the error
        QTest::addColumn<QStringList>("more"); // further options; a later value wins

        using Mode = IppPrinter::Mode;
        // More than the socket buffers hold, so a printer that stops
        // reading holds the sender up.
        const int large = 8 << 20;
        QTest::newRow("takes the job") << Mode::Accept << large << false << 0 << "delivered"
                                       << "" << QStringList();
        QTest::newRow("closes without an answer")
            << Mode::CloseUnanswered << large << false << 5 << "transfer-failed"
            << "closed" << QStringList();
        QTest::newRow("resets without an answer")
            << Mode::ResetUnanswered << large << false << 5 << "transfer-failed"
            << "the job was not confirmed" << QStringList();
        QTest::newRow("never answers")
            << Mode::NeverAnswer << large << false << 5 << "transfer-failed"
            << "the printer did not answer within 1 s" << QStringList();
        QTest::newRow("refuses before the data")
            << Mode::RefuseBeforeData << large << false << 6 << "spooler-refused"
            << "Toner low, job refused" << QStringList();
        // Small enough for the sender's system to take at once, so no write
        // waits: only what the printer's system acknowledged shows that it
        // never took the job it claims.
        QTest::newRow("takes the job before the data")
            << Mode::AcceptBeforeData << 100000 << false << 5 << "transfer-failed"
            << "answered before it had" << QStringList();
        QTest::newRow("scheduler takes the job before the data")
            << Mode::AcceptBeforeData << 100000 << true << 5 << "transfer-failed"
            << "answered before it had" << QStringList();
        // Busy is asked before the data and tried again (--retry 2).
        QTest::newRow("busy twice, then takes the job")
            << Mode::BusyTwice << large << false << 0 << "delivered"
            << "" << QStringList();
        QTest::newRow("busy for good") << Mode::Busy << large << false << 6 << "spooler-refused"
                                       << "busy printing another job" << QStringList();
        // The wait ends when it said, not when the printer's silence would.
        QTest::newRow("silent on the job, --wait-timeout")
            << Mode::SilentOnTheJob << 1000 << false << 8 << "wait-timed-out"
            << "stays queued" << QStringList{"--wait-timeout", "1", "--response-timeout", "60"};
    }

    void ippPrinterAnswers()
    {
        QFETCH(IppPrinter::Mode, mode);
        QFETCH(int, size);
        QFETCH(bool, asScheduler);
        QFETCH(int, exitCode);
        QFETCH(QString, outcome);
        QFETCH(QString, reason);
        QFETCH(QStringList, more);

        const QByteArray data = randomBytes(size, 5);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("ipp.bin")), data);
        IppPrinter printer(mode);
        printer.setRefusal(0x0400, "Toner low, job refused");
        QVERIFY(printer.listen());

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CUPS_SERVER"), printer.uri().section(QLatin1Char('/'), 2, 2));
        process.setProcessEnvironment(environment);
        const Run result = run(QStringList{"--json", "--wait", "--response-timeout", "1", "--retry",
                                           "2", "--retry-delay", "0.1"} +
                                   more +
                                   QStringList{asScheduler ? "-p" : "--ipp",
                                               asScheduler ? "Q" : printer.uri(), path},
                               QString(), asScheduler ? &process : nullptr);
        QCOMPARE(result.exitCode, exitCode);
        const QJsonObject entry = result.summary.value("destinations").toArray().at(0).toObject();
        QCOMPARE(entry.value("outcome").toString(), outcome);
        QVERIFY2(entry.value("error").toString().contains(reason), result.out.constData());
        // Only a printer that never took a byte is asked again.
        const bool busy = mode == IppPrinter::Mode::BusyTwice || mode == IppPrinter::Mode::Busy;
        QCOMPARE(entry.value("attempts").toInt(), busy ? 3 : 1);
        if (mode == IppPrinter::Mode::Accept || mode == IppPrinter::Mode::BusyTwice) {
            QCOMPARE(entry.value("job").toInt(), 7);
            QCOMPARE(entry.value("jobState").toString(), QStringLiteral("completed"));
            QCOMPARE(printer.documents(), QList<QByteArray>{data});
        } else if (mode == IppPrinter::Mode::SilentOnTheJob) {
            QCOMPARE(entry.value("job").toInt(), 7);
            QCOMPARE(printer.documents(), QList<QByteArray>{data});
        } else if (!asScheduler) {
            QVERIFY(!entry.contains("job"));
        }
    }

    // A line printer daemon on loopback that does one wrong thing (refuse,
    // close, reset, silent, early: says yes before reading) at one step: 1
    // the queue, 2 and 3 the control file's size and name and the file, 4
    // and 5 the data file's.
    void lpdServerAnswers_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("reason"); // part of the error

        QTest::newRow("takes the job") << "" << 0 << 0 << "";
        const char *const steps[] = {"the job for queue \"Q\" (no such queue",
                                     "the control file's size and name: no, thank you",
                                     "the control file: no, thank you",
                                     "the data file's size and name: no, thank you",
                                     "the data file: no, thank you"};
        for (int step = 1; step <= 5; ++step)
            QTest::addRow("refuses step %d", step) << "refuse" << step << 6
                                                   << QStringLiteral("refused ") + steps[step - 1];
        // Bytes left unread make the close a reset.
        QTest::newRow("closes in the data file") << "close" << 5 << 5 << "the connection";
        QTest::newRow("resets before answering the data file") << "reset" << 5 << 5 << "reset the connection";
        QTest::newRow("silent at the queue")
            << "silent" << 1 << 5 << "did not acknowledge the job for queue \"Q\" within 1 s.";
        QTest::newRow("silent after the data file")
            << "silent" << 5 << 5 << "did not acknowledge the data file within 1 s";
        QTest::newRow("answers before reading the data file")
            << "early" << 5 << 5 << "answered before it had read the data file";
    }

    void lpdServerAnswers()
    {
        QFETCH(QString, fault);
        QFETCH(int, step);
        QFETCH(int, exitCode);
        QFETCH(QString, reason);

        QList<QByteArray> steps; // what each brought, a file's closing zero byte included
        QByteArray pending;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                pending += socket->readAll();
                for (int at = int(steps.size()) + 1; at <= 5; at = int(steps.size()) + 1) {
                    if (at == step && !pending.isEmpty() && (fault == "close" || fault == "early"))
                        return fault == "close" ? socket->close() : void(socket->write("", 1));
                    // "\2123 cfA001host\n": the size of the file that follows.
                    const qsizetype end = at == 3 || at == 5 ? steps.last().mid(1).split(' ')[0].toLongLong() + 1
                                                             : pending.indexOf('\n') + 1;
                    if (end <= 0 || pending.size() < end || (at > step && step > 0))
                        return;
                    steps.append(pending.left(end));
                    pending.remove(0, end);
                    const linger hard{1, 0};
                    if (at != step) {
                        socket->write("", 1);
                    } else if (fault == "refuse") {
                        socket->write("\1no, thank you\n");
                        socket->disconnectFromHost();
                    } else if (fault == "reset") {
                        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                        socket->abort();
                    }
                }
            });
        });
        // More than the socket buffers hold, so a server that stops
        // reading holds the sender up.
        const QByteArray data = randomBytes(8 << 20, 12);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("lpd.bin")), data);
        // No user in the environment: the account's name is asked of the system.
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("USER"));
        environment.remove(QStringLiteral("USERNAME"));
        process.setProcessEnvironment(environment);
        const QString check(QChar(0x2713));
        // Silence is waited for briefly; a server slowed by a busy machine is not silent.
        const Run result = run({"--json", "--stall-timeout", fault == "silent" ? "1" : "30",
                                "--retry", "2", "--retry-delay", "0.1", "--title", "Two\nlines " + check.repeated(40),
                                "--lpd", QStringLiteral("lpd://127.0.0.1:%1/Q").arg(server.serverPort()), path},
                               QString(), &process);
        QVERIFY2(result.exitCode == exitCode, result.out.constData());
        const QJsonObject entry = result.summary.value("destinations").toArray().at(0).toObject();
        QVERIFY2(entry.value("error").toString().contains(reason), result.out.constData());
        // Never tried again once the server took the connection; nothing
        // called delivered that the server did not acknowledge.
        QCOMPARE(entry.value("attempts").toInt(), 1);
        QCOMPARE(entry.value("delivered").toBool(), exitCode == 0);
        if (exitCode != 0)
            return;
        QCOMPARE(steps.size(), 5);
        QCOMPARE(steps.at(0), QByteArray("\2Q\n"));
        // Each line of its own: a title cannot add commands. Its limit is 99
        // bytes, and the cut leaves whole characters.
        const QByteArray name = steps.at(1).mid(steps.at(1).indexOf(" cf") + 3).trimmed();
        const passwd *account = getpwuid(geteuid());
        QVERIFY(account);
        QVERIFY2(steps.at(2).contains("\nP" + QByteArray(account->pw_name) + "\nJTwo lines " +
                                      check.repeated(29).toUtf8() + "\nldf" + name + QByteArray("\n\0", 2)),
                 steps.at(2).constData());
        QCOMPARE(steps.at(3), "\3" + QByteArray::number(data.size()) + " df" + name + '\n');
        QVERIFY(steps.at(4) == data + '\0');
    }

    void silentPeersAndCtrlC_data()
    {
        QTest::addColumn<QString>("kind");     // "-p" through the scheduler, "--ipp" or "--lpd"
        QTest::addColumn<QString>("scheme");   // of the printer's URI
        QTest::addColumn<int>("interrupts");   // SIGINTs sent; 0: the time-out ends it

        QTest::newRow("scheduler, time-out") << "-p" << "" << 0;
        QTest::newRow("scheduler, Ctrl-C") << "-p" << "" << 1;
        QTest::newRow("printer, Ctrl-C") << "--ipp" << "ipp" << 1;
        QTest::newRow("LPD server, Ctrl-C") << "--lpd" << "lpd" << 1;
        // The library's TLS handshake cannot be interrupted; a second Ctrl-C
        // still ends the program at once.
        QTest::newRow("printer over TLS, Ctrl-C twice") << "--ipp" << "ipps" << 2;
    }

    void silentPeersAndCtrlC()
    {
        QFETCH(QString, kind);
        QFETCH(QString, scheme);
        QFETCH(int, interrupts);
        const bool interrupt = interrupts > 0;

        // A listener that takes connections and never reads or answers.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QString address = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("silent.bin")),
                                           randomBytes(200000, 6));
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CUPS_SERVER"), address);
        process.setProcessEnvironment(environment);
        const QString target = kind == "-p" ? QStringLiteral("Q")
                                            : QStringLiteral("%1://%2/ipp/print").arg(scheme, address);
        const QStringList arguments{"--json", "--response-timeout", interrupt ? "60" : "1", kind,
                                    target, path};
        if (interrupt) {
            process.start(QStringLiteral(VARNET_SEND), arguments);
            QVERIFY(process.waitForStarted());
            QTRY_VERIFY2_WITH_TIMEOUT(silent.hasPendingConnections(), "varnet-send connecting",
                                      20000);
            for (int i = 0; i < interrupts; ++i) {
                if (i > 0)
                    QTest::qWait(300);
                ::kill(static_cast<pid_t>(process.processId()), SIGINT);
            }
            // Well inside the response time-out: the blocked call noticed.
            QVERIFY2(process.waitForFinished(5000), "varnet-send ending after SIGINT");
            // Cleaned up, then ended by the signal itself, as callers expect.
            QCOMPARE(process.exitStatus(), QProcess::CrashExit);
            QCOMPARE(process.exitCode(), SIGINT);
            QVERIFY2(process.readAllStandardOutput().contains("\"cancelled\""), "no summary");
            // The server waited for our next word: it hears a reset, not an end.
            const std::unique_ptr<QTcpSocket> peer(silent.nextPendingConnection());
            char byte = 0;
            if (kind == "--lpd")
                QVERIFY(::recv(static_cast<int>(peer->socketDescriptor()), &byte, 1, 0) < 0 &&
                        errno == ECONNRESET);
            return;
        }
        const Run result = run(arguments, QString(), &process, 30000);
        QCOMPARE(result.exitCode, 4);
        const QJsonObject entry = result.summary.value("destinations").toArray().at(0).toObject();
        QCOMPARE(entry.value("error").toString(), QStringLiteral("the scheduler did not answer within 1 s"));
    }

    void jobsWithoutAKnownEnd_data()
    {
        QTest::addColumn<QString>("directives"); // for the scheduler's configuration
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("wait");
        QTest::addColumn<QString>("note");

        QTest::newRow("no job history, --wait") << "PreserveJobHistory No" << 300000 << true
                                                << "no record";
        QTest::newRow("empty file") << "" << 0 << false << "empty";
        QTest::newRow("empty file, --wait") << "" << 0 << true << "empty";
    }

    void jobsWithoutAKnownEnd()
    {
        QFETCH(QString, directives);
        QFETCH(int, size);
        QFETCH(bool, wait);
        QFETCH(QString, note);

        TcpSink queueDevice;
        QVERIFY(queueDevice.listen());
        CupsSandbox sandbox;
        QVERIFY2(sandbox.start(0, directives), qPrintable(sandbox.lastOutput()));
        QVERIFY(sandbox.addSocketQueue(QStringLiteral("sink"), queueDevice.port()));
        const QByteArray data = randomBytes(size, 7);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("end.bin")), data);

        QStringList arguments{"--json", "-p", "sink", path};
        if (wait)
            arguments.prepend(QStringLiteral("--wait"));
        const Run result = run(arguments);
        QVERIFY2(result.exitCode == 0, result.out.constData());
        const QJsonObject entry = result.summary.value("destinations").toArray().at(0).toObject();
        QVERIFY(entry.value("job").toInt() > 0);
        QVERIFY2(entry.value("note").toString().contains(note), result.out.constData());
        if (size > 0)
            QTRY_COMPARE(queueDevice.received(), data);
        else
            QCOMPARE(queueDevice.connectionCount(), 0);
    }

    void interruptWhileTheInputStalls()
    {
        // Standard input that never ends (a terminal, a stalled producer):
        // Ctrl-C must still end the program and withdraw the started job.
        TcpSink queueDevice;
        QVERIFY(queueDevice.listen());
        CupsSandbox sandbox;
        QVERIFY2(sandbox.start(), qPrintable(sandbox.lastOutput()));
        QVERIFY(sandbox.addSocketQueue(QStringLiteral("stall"), queueDevice.port()));

        QProcess process;
        process.start(QStringLiteral(VARNET_SEND), {"--json", "-p", "stall", "-"});
        QVERIFY2(process.waitForStarted(10000), "varnet-send did not start within 10 s");
        process.write("first bytes, then nothing more");
        // The job exists at the scheduler once the sender waits for more input.
        QTRY_VERIFY_WITH_TIMEOUT(sandbox.runClient("lpstat", {"-o", "stall"}) &&
                                     !sandbox.lastOutput().trimmed().isEmpty(),
                                 20000);
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        QVERIFY2(process.waitForFinished(20000), "varnet-send did not end within 20 s of SIGINT");
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(process.exitCode(), SIGINT);
        const QJsonObject entry = QJsonDocument::fromJson(process.readAllStandardOutput())
                                      .object()
                                      .value("destinations")
                                      .toArray()
                                      .at(0)
                                      .toObject();
        QCOMPARE(entry.value("outcome").toString(), QStringLiteral("cancelled"));
        QTRY_VERIFY(sandbox.runClient("lpstat", {"-o", "stall"}) &&
                    sandbox.lastOutput().trimmed().isEmpty());
        QCOMPARE(queueDevice.totalBytes(), 0);
    }

    void failuresAndUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");

        const QString refused = QStringLiteral("127.0.0.1:%1").arg(TcpSink::unusedPort());
        QTest::newRow("unknown option") << QStringList{"--bogus", "f"} << 2;
        QTest::newRow("bad port") << QStringList{"-H", "127.0.0.1:0", "f"} << 2;
        QTest::newRow("no file, and standard input not a terminal") << QStringList{"-H", refused} << 4;
        QTest::newRow("usage, --json") << QStringList{"--json", "--bogus"} << 2;
        QTest::newRow("missing input") << QStringList{"-H", refused, "/nonexistent/job.prn"} << 3;
        QTest::newRow("missing input, --json")
            << QStringList{"--json", "-H", refused, "/nonexistent/job.prn"} << 3;
        QTest::newRow("folder as input") << QStringList{"-H", refused, "/tmp"} << 3;
        QTest::newRow("connection refused") << QStringList{"-H", refused, "@FILE@"} << 4;
        QTest::newRow("lpd, connection refused")
            << QStringList{"--lpd", "lpd://" + refused + "/Q", "@FILE@"} << 4;
    }

    void failuresAndUsage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("small.bin")), "abc");
        arguments.replaceInStrings(QStringLiteral("@FILE@"), path);
        const Run result = run(arguments);
        QCOMPARE(result.exitCode, exitCode);
        if (arguments.contains(QStringLiteral("--json")))
            QVERIFY2(result.summary.value("exitCode").toInt(-1) == exitCode, result.out.constData());
        // What is wrong and where to read more; never the whole help.
        if (exitCode == 2)
            QVERIFY2(result.err.count('\n') == 2 && result.err.startsWith("varnet-send: ") &&
                         result.err.endsWith("\nTry 'varnet-send --help' for more information.\n"),
                     result.err.constData());
    }

    // The sender as part of a script: a signal ends it by that signal, after
    // its clean-up and summary, so the shell stops too. $VS, $A (a slow
    // sink) and $DATA as in inputsFromTheShell.
    void signalsReachTheScript_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("ctrlC");       // SIGINT to the whole group once bytes flow
        QTest::addColumn<int>("exitCode");     // of the script
        QTest::addColumn<QByteArray>("shown"); // part of its output
        QTest::newRow("Ctrl-C stops a loop")
            << "for f in 1 2; do \"$VS\" -H \"$A\" \"$DATA\"; echo \"after $f: $?\"; done" << true
            << 128 + SIGINT << QByteArray("FAIL tcp");
        // SIGTERM is handled; SIGUSR1 is not, and SIGKILL cannot be: the
        // printer must see a reset all the same.
        for (const auto &[name, status] : {std::pair{"TERM", "143"}, {"KILL", "137"}, {"USR1", "138"}})
            QTest::addRow("SIG%s ends the sender by it", name)
                << QStringLiteral("\"$VS\" -q -H \"$A\" \"$DATA\" & p=$!; sleep 0.5; kill -%1 $p; "
                                  "wait $p; echo \"status $?\"")
                       .arg(QLatin1String(name))
                << false << 0 << QByteArray("status ") + status;
        QTest::newRow("JSON tells the status the shell sees")
            << "{ \"$VS\" --json -H \"$A\" \"$DATA\" & p=$!; sleep 0.5; kill -TERM $p; wait $p; "
               "echo \"status $?\"; } | grep -E 'exitCode|signal|status' | tr -d ' \\n'"
            << false << 0 << QByteArray("\"exitCode\":143,\"signal\":\"SIGTERM\"status143");
    }

    void signalsReachTheScript()
    {
        QFETCH(QString, script);
        QFETCH(bool, ctrlC);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, shown);

        TcpSink slow;
        slow.setMode(TcpSink::Mode::Slow, 200000);
        QVERIFY(slow.listen());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VS", QStringLiteral(VARNET_SEND));
        environment.insert("A", QStringLiteral("127.0.0.1:%1").arg(slow.port()));
        environment.insert("DATA", writeTestFile(m_dir.filePath("loop.bin"), shellData()));
        process.setProcessEnvironment(environment);
        // A group of its own, as a terminal's foreground job: Ctrl-C goes to all of it.
        QObject::connect(&slow, &TcpSink::dataArrived, &process, [&process, ctrlC] {
            static qint64 signalled = 0;
            if (ctrlC && signalled != process.processId() && process.processId() > 0) {
                signalled = process.processId();
                ::kill(-static_cast<pid_t>(process.processId()), SIGINT);
            }
        });
        const Run result = run({"bash", "-c", "exec 2>&1; " + script}, QString(), &process, 30000,
                               "setsid");
        QVERIFY2(result.exitCode == exitCode, result.out.constData());
        QVERIFY2(result.out.contains(shown), result.out.constData());
        // The loop went no further, and the printer saw the job broken off.
        QVERIFY2(!result.out.contains("after"), result.out.constData());
        QCOMPARE(slow.connectionCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(slow.closedCount(), 1, 30000);
        QCOMPARE(slow.resetCount(), 1);
    }

    void retriesBeforeAnyByte_data()
    {
        QTest::addColumn<QString>("sink");     // "late": listens after two refusals; "resets"; "refused"
        QTest::addColumn<QString>("retries");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<bool>("piped"); // the input comes through a pipe, shared by both
        QTest::newRow("accepted at the third attempt") << "late" << "3" << 0 << 3 << false;
        QTest::newRow("no retries by default") << "late" << "" << 4 << 1 << false;
        QTest::newRow("never after bytes went out") << "resets" << "3" << 5 << 1 << false;
        // Larger than the window of a shared stream.
        QTest::newRow("piped, the one waiting holds nobody") << "refused" << "2" << 4 << 3 << true;
    }

    void retriesBeforeAnyByte()
    {
        QFETCH(QString, sink);
        QFETCH(QString, retries);
        QFETCH(int, exitCode);
        QFETCH(int, attempts);
        QFETCH(bool, piped);

        const QByteArray data = randomBytes(piped ? 16 << 20 : 2 << 20, 8);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("retry.bin")), data);
        // The first destination tells when the sender began; the second
        // opens between the second attempt (after 1.5 s) and the third
        // (4.5 s: the pause doubles).
        TcpSink clock;
        QVERIFY(clock.listen());
        QElapsedTimer sinceFirstByte;
        qint64 wholeAfterMs = -1;
        QObject::connect(&clock, &TcpSink::dataArrived, &clock, [&] {
            if (!sinceFirstByte.isValid())
                sinceFirstByte.start();
            if (wholeAfterMs < 0 && clock.totalBytes() == data.size())
                wholeAfterMs = sinceFirstByte.elapsed();
        });
        TcpSink printer;
        quint16 port = TcpSink::unusedPort();
        if (sink == QLatin1String("resets")) {
            printer.setMode(TcpSink::Mode::ResetAfter, 100000);
            QVERIFY(printer.listen());
            port = printer.port();
        } else if (sink == QLatin1String("late")) {
            QObject::connect(&clock, &TcpSink::dataArrived, &printer, [&printer, port] {
                QTimer::singleShot(2500, &printer, [&printer, port] {
                    if (!printer.listen(QHostAddress::LocalHost, port))
                        qWarning("port %d was taken meanwhile", port);
                });
            }, Qt::SingleShotConnection);
        }
        QStringList arguments{"--json", "--retry-delay", "1.5", "-H",
                              QStringLiteral("127.0.0.1:%1").arg(clock.port()), "-H",
                              QStringLiteral("127.0.0.1:%1").arg(port), piped ? "-" : path};
        if (!retries.isEmpty())
            arguments << "--retry" << retries;
        QProcess writer;
        QProcess process;
        if (piped) {
            writer.setStandardOutputProcess(&process);
            writer.start(QStringLiteral("cat"), {path});
        }
        const Run result = run(arguments, QString(), &process);
        const QJsonObject entry = destinationNamed(result.summary, QStringLiteral("127.0.0.1:%1").arg(port));
        QVERIFY2(result.exitCode == (exitCode == 0 ? 0 : 7), result.out.constData());
        QCOMPARE(exitStatusOf(entry), exitCode);
        QCOMPARE(entry.value("attempts").toInt(), attempts);
        if (exitCode == 0)
            QTRY_COMPARE(printer.received(), data);
        else
            QVERIFY(printer.connectionCount() <= 1);
        QTRY_COMPARE(clock.received(), data);
        // The working printer runs at its own pace, not held until the
        // other's first pause is over.
        QVERIFY2(!piped || (wholeAfterMs >= 0 && wholeAfterMs < 1500), qPrintable(QString::number(wholeAfterMs)));
    }

    // Asked before the first byte: nothing is streamed to a printer that is
    // not there or takes no jobs; and a job that waits says why. A TCP
    // printer is asked over SNMP, and followed until it has printed.
    void printerAskedFirst_data()
    {
        // -p QUEUE, --ipp PATH at the scheduler, or the options for TCP
        // printers, each -H @SINK
        QTest::addColumn<QString>("target");
        // "reject", "disable", or nothing; for TCP the agent's "STATE ALERTS
        // COUNT" at the start, once the printer has the file and every 1.5 s
        // from then on, joined by " > "; none: no agent (and see SnmpPrinter::start)
        QTest::addColumn<QString>("prepare");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("reason"); // part of the error
        QTest::newRow("ipp, no such printer") << "--ipp /printers/nosuch" << "" << 4 << "";
        QTest::newRow("ipp, not accepting") << "--ipp /printers/sink" << "reject" << 6
                                            << "not accepting jobs";
        QTest::newRow("queue not accepting") << "-p sink" << "reject" << 6 << "not accepting jobs";
        QTest::newRow("unknown queue") << "-p nosuch" << "" << 4 << "";
        QTest::newRow("stopped with a reason, --wait-timeout")
            << "-p sink" << "disable" << 8 << "stays queued; printer stopped (paused): out of paper";
        QTest::newRow("tcp, ready, --check") << "-H @SINK --check" << "3 00 1234" << 0
                                             << "\"printerState\": \"idle\"";
        QTest::newRow("tcp, no paper, --check") << "-H @SINK --check" << "3 40 1234" << 6
                                                << "the printer reports: no paper";
        QTest::newRow("tcp, no agent, --check") << "-H @SINK --check" << "" << 0
                                                << "sent unchecked: no answer over SNMP";
        QTest::newRow("tcp, --wait, 2 pages") << "-H @SINK --wait" << "3 00 1234 > 4 00 1235 > 3 00 1236"
                                              << 0 << "\"pagesPrinted\": 2";
        QTest::newRow("tcp, jammed during --wait") << "-H @SINK --wait" << "3 00 1234 > 4 04 1236" << 6
                                                   << "the printer reports: jammed after 2 pages";
        QTest::newRow("tcp, still printing, --wait-timeout")
            << "-H @SINK --wait-timeout 3" << "3 00 1234 > 4 00 1235" << 8
            << "had not finished within 3 s (printing, 1 page printed)";
        // 130: Ctrl-C once the printer was asked after it had the file.
        QTest::newRow("tcp, Ctrl-C during --wait") << "-H @SINK --wait" << "3 00 1234 > 4 00 1235"
                                                   << 130 << "interrupted while following the printer";
        QTest::newRow("--status, no paper") << "--status -H @SINK" << "4 40 1234" << 6
                                            << "the printer reports: no paper";
        QTest::newRow("--status, 200 printers, one agent")
            << "--status" + QStringLiteral(" -H @SINK").repeated(200) << "=3 00 1234" << 0
            << "\"pageCount\": 1234";
    }

    void printerAskedFirst()
    {
        QFETCH(QString, target);
        QFETCH(QString, prepare);
        QFETCH(int, exitCode);
        QFETCH(QString, reason);

        TcpSink queueDevice;
        QVERIFY(queueDevice.listen());
        if (!target.startsWith(QLatin1String("-p")) && !target.startsWith(QLatin1String("--ipp"))) {
            askedOverSnmp(target, prepare, exitCode, reason, queueDevice);
            return;
        }
        QVERIFY(startSandbox());
        CupsSandbox &sandbox = *m_sandbox;
        // A queue of its own for each row: what a row does to it stays there.
        const QString queue = QStringLiteral("asked%1").arg(++m_queues);
        target.replace(QStringLiteral("sink"), queue);
        QVERIFY(sandbox.addSocketQueue(queue, queueDevice.port()));
        if (prepare == QLatin1String("reject"))
            QVERIFY(sandbox.rejectJobs(queue));
        if (prepare == QLatin1String("disable"))
            QVERIFY(sandbox.runClient("cupsdisable", {"-r", "out of paper", queue}));
        // Far more than the buffers on the way hold: streamed, it would show.
        const QString path =
            writeTestFile(m_dir.filePath(QStringLiteral("asked.bin")), randomBytes(24 << 20, 9));
        QStringList arguments{"--json", "--wait-timeout", "2", target.section(' ', 0, 0)};
        arguments << (target.startsWith("--ipp")
                          ? QStringLiteral("ipp://127.0.0.1:%1%2").arg(m_ippPort).arg(target.section(' ', 1))
                          : target.section(' ', 1));
        arguments << path;

        const Run result = run(arguments);
        QVERIFY2(result.exitCode == exitCode, result.out.constData());
        const QJsonObject entry = result.summary.value("destinations").toArray().at(0).toObject();
        QVERIFY2(entry.value("error").toString().contains(reason), result.out.constData());
        QVERIFY(sandbox.runClient("lpstat", {"-o", queue}));
        if (exitCode == 8) {
            // Handed over whole, and still there for the printer to take up.
            QCOMPARE(entry.value("outcome").toString(), QStringLiteral("wait-timed-out"));
            QCOMPARE(entry.value("jobState").toString(), QStringLiteral("pending"));
            QVERIFY2(!sandbox.lastOutput().trimmed().isEmpty(), "the job is no longer queued");
            return;
        }
        QCOMPARE(entry.value("bytes").toInteger(), 0);
        QVERIFY2(sandbox.lastOutput().trimmed().isEmpty(), qPrintable(sandbox.lastOutput()));
        QCOMPARE(queueDevice.totalBytes(), 0);
    }

    // No destination given: found as lp finds one, and said where from.
    void defaultDestination_data()
    {
        QTest::addColumn<QStringList>("environment"); // NAME=value
        QTest::addColumn<QString>("saved");           // the window's settings, Key=value\n...
        QTest::addColumn<bool>("schedulerDefault");
        QTest::addColumn<QString>("destination");     // empty: a usage error
        QTest::addColumn<QString>("chosenBy");

        const QString window = QStringLiteral("Drucker=other\nOpt=True");
        QTest::newRow("LPDEST first") << QStringList{"LPDEST=sink/instance", "PRINTER=other"}
                                      << window << true << "sink" << "$LPDEST";
        QTest::newRow("then PRINTER") << QStringList{"PRINTER=sink"} << window << true << "sink"
                                      << "$PRINTER";
        QTest::newRow("PRINTER=lp is passed over") << QStringList{"PRINTER=lp"}
                                                   << "Drucker=sink\nOpt=True" << true << "sink"
                                                   << "the printer saved by the Varnet window";
        QTest::newRow("then the window's printer") << QStringList{} << "Drucker=sink\nOpt=True"
                                                   << true << "sink"
                                                   << "the printer saved by the Varnet window";
        QTest::newRow("the window's address") << QStringList{} << "IP=::1\nOpt=False" << false
                                              << "[::1]:9100"
                                              << "the address saved by the Varnet window";
        QTest::newRow("then the scheduler's default") << QStringList{} << "" << true << "sink"
                                                      << "the scheduler's default printer";
        QTest::newRow("saved as a type unknown here")
            << QStringList{} << "Drucker=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x5\\x42ogus)\nOpt=True" << true
            << "sink" << "the scheduler's default printer";
        QTest::newRow("none at all") << QStringList{} << "" << false << "" << "";
    }

    void defaultDestination()
    {
        QFETCH(QStringList, environment);
        QFETCH(QString, saved);
        QFETCH(bool, schedulerDefault);
        QFETCH(QString, destination);
        QFETCH(QString, chosenBy);

        TcpSink queueDevice;
        QVERIFY(queueDevice.listen());
        QVERIFY(startSandbox());
        CupsSandbox &sandbox = *m_sandbox;
        QVERIFY(sandbox.addSocketQueue(QStringLiteral("sink"), queueDevice.port()));
        QVERIFY(sandbox.addSocketQueue(QStringLiteral("other"), TcpSink::unusedPort()));
        // The scheduler forgets its default with the queue that was it.
        if (!schedulerDefault)
            QVERIFY(sandbox.deleteQueue(QStringLiteral("sink")) &&
                    sandbox.addSocketQueue(QStringLiteral("sink"), queueDevice.port()));
        else
            QVERIFY(sandbox.setDefault(QStringLiteral("sink")));
        // The window's address goes to port 9100, which no test may take
        // over; that row checks only what was chosen.
        QVERIFY(QDir().mkpath(QFileInfo(settingsFile()).absolutePath()));
        writeTestFile(settingsFile(), "[STARTUP]\n" + saved.toUtf8());

        QTemporaryDir home;
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LPDEST", "PRINTER"})
            variables.remove(QString::fromLatin1(name));
        variables.insert("HOME", home.path()); // no lpoptions of the user's
        for (const QString &pair : environment)
            variables.insert(pair.section('=', 0, 0), pair.section('=', 1));
        QProcess process;
        process.setProcessEnvironment(variables);
        const QString path = writeTestFile(m_dir.filePath("default.bin"), "to the default");
        const Run result = run({"--json", "--connect-timeout", "0.5", path}, QString(), &process);
        if (destination.isEmpty()) {
            QCOMPARE(result.exitCode, 2);
            QVERIFY2(result.err.contains("no destination given"), result.err.constData());
            return;
        }
        QVERIFY2(!result.err.contains("QVariant"), result.err.constData());
        const QJsonObject entry = result.summary.value("destinations").toArray().at(0).toObject();
        QCOMPARE(entry.value("destination").toString(), destination);
        QCOMPARE(entry.value("chosenBy").toString(), chosenBy);
        if (destination == QLatin1String("sink")) {
            QVERIFY2(result.exitCode == 0, result.out.constData());
            QTRY_COMPARE(queueDevice.received(), QByteArray("to the default"));
        }
    }

    // Each file a job of its own at every destination, in order; a
    // destination that failed gets no later file unless --keep-going.
    void severalFiles_data()
    {
        QTest::addColumn<bool>("secondRefuses");
        QTest::addColumn<bool>("keepGoing");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("outcomes"); // destination by file, in the summary's order
        QTest::newRow("two files to two sinks") << false << false << 0
            << QStringList{"delivered", "delivered", "delivered", "delivered"};
        QTest::newRow("a failed destination gets no more") << true << false << 7
            << QStringList{"delivered", "connection-failed", "delivered", "not-started"};
        QTest::newRow("--keep-going tries it again") << true << true << 7
            << QStringList{"delivered", "connection-failed", "delivered", "connection-failed"};
    }

    void severalFiles()
    {
        QFETCH(bool, secondRefuses);
        QFETCH(bool, keepGoing);
        QFETCH(int, exitCode);
        QFETCH(QStringList, outcomes);

        const QByteArray first = randomBytes(300000, 10);
        const QByteArray second = randomBytes(200000, 11);
        const QString one = writeTestFile(m_dir.filePath(QStringLiteral("one.bin")), first);
        const QString two = writeTestFile(m_dir.filePath(QStringLiteral("two.bin")), second);
        TcpSink a;
        TcpSink b;
        QVERIFY(a.listen());
        QVERIFY(b.listen());
        const QString bAddress = QStringLiteral("127.0.0.1:%1")
                                     .arg(secondRefuses ? TcpSink::unusedPort() : b.port());
        QStringList arguments{"-H", QStringLiteral("127.0.0.1:%1").arg(a.port()), "-H", bAddress,
                              one, two};
        if (keepGoing)
            arguments.prepend(QStringLiteral("--keep-going"));
        const Run text = run(arguments);
        QVERIFY2(text.exitCode == exitCode, text.out.constData());
        // Deliveries on standard output, failures on standard error.
        const QStringList lines = QString::fromLocal8Bit(text.out + text.err).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines.filter(one).size() == 2 && lines.filter(two).size() == 2 &&
                     text.err.count("FAIL") == outcomes.size() - outcomes.count("delivered") &&
                     !text.out.contains("FAIL"),
                 (text.out + text.err).constData());
        // Each sink got one connection per file, the first file first.
        QTRY_COMPARE(a.connections(), QList<QByteArray>({first, second}));
        if (!secondRefuses)
            QTRY_COMPARE(b.connections(), QList<QByteArray>({first, second}));

        const Run json = run(QStringList{"--json"} + arguments);
        const QJsonArray entries = json.summary.value("destinations").toArray();
        QStringList seen;
        for (const QJsonValue &entry : entries)
            seen << entry.toObject().value("outcome").toString();
        QCOMPARE(seen, outcomes);
        QCOMPARE(entries.at(3).toObject().value("input").toString(), two);
        QCOMPARE(json.summary.value("inputs").toArray().at(1).toObject().value("inputBytes").toInteger(),
                 second.size());
    }

    // Inputs as a shell hands them over. The script runs in bash with $VS
    // (the program), $A and $B (two sinks), $DEAD (a refused port), $DATA
    // (a file of `content`) and $DIR (a scratch folder); 77 skips the row.
    void inputsFromTheShell_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("content"); // what both sinks get when delivered
        QTest::addColumn<QByteArray>("shown");   // part of what is written out
        QTest::addColumn<int>("interruptMs");    // SIGINT this long after the start; 0: none

        const QByteArray data = shellData();
        QFile version(QStringLiteral("/proc/version"));
        QVERIFY(version.open(QIODevice::ReadOnly));
        const QByteArray proc = version.readAll();
        const QString two = QStringLiteral("exec \"$VS\" --json -H \"$A\" -H \"$B\" ");
        QTest::newRow("pipe, both at once") << two + "<(cat \"$DATA\")" << 0 << data << QByteArray() << 0;
        QTest::newRow("pipe, one after the other")
            << two + "--parallel 1 <(cat \"$DATA\")" << 0 << data << QByteArray() << 0;
        // More than the window the destinations share: the refused one must not hold it.
        QTest::newRow("pipe, one destination refused")
            << two + "-H 127.0.0.1:\"$DEAD\" <(for i in 1 2 3 4 5; do cat \"$DATA\"; done)" << 7
            << data.repeated(5) << QByteArray("connection-failed") << 0;
        QTest::newRow("file of /proc") << two + "/proc/version" << 0 << proc << QByteArray() << 0;
        QTest::newRow("name not UTF-8")
            << "cp \"$DATA\" \"$DIR\"/$'a\\xffb.bin' && " + two.mid(5) +
                   "\"$DIR\"/$'a\\xffb.bin'; s=$?; rm \"$DIR\"/$'a\\xffb.bin'; exit $s" << 0 << data
            << QByteArray() << 0;
        QTest::newRow("FIFO without writer")
            << "rm -f \"$DIR/fifo\" && mkfifo \"$DIR/fifo\" && " + two + "\"$DIR/fifo\"" << 130
            << QByteArray() << QByteArray("cancelled") << 500;
        QTest::newRow("FIFO without writer, kept for turns")
            << "rm -f \"$DIR/fifo\" && mkfifo \"$DIR/fifo\" && " + two + "--parallel 1 \"$DIR/fifo\""
            << 130 << QByteArray() << QByteArray("not-started") << 500;
        QTest::newRow("terminal hung up mid-send")
            << "sleep 5 2>/dev/null | \"$VS\" --json -H \"$A\" -H \"$B\" - & p=$!; for i in $(seq 100); do "
               "c=$(sed -n 's/^SigCgt:\\s*//p' /proc/$p/status); (( 0x$c & 1 )) && break; sleep 0.1; "
               "done; sleep 0.3; kill -HUP $p; wait $p"
            << 128 + SIGHUP << QByteArray() << QByteArray("cancelled") << 0;
        QTest::newRow("standard input closed") << two + "- <&-" << 3 << QByteArray()
                                               << QByteArray("standard input is closed") << 0;
        QTest::newRow("standard input closed, named") << two + "/dev/stdin <&-" << 3 << QByteArray()
                                                      << QByteArray("standard input is closed") << 0;
        QTest::newRow("standard input twice, by two names")
            << two + "- /dev/stdin < <(cat \"$DATA\")" << 2 << QByteArray()
            << QByteArray("standard input may be given only once") << 0;
        QTest::newRow("a file twice, standard input being it")
            << "exec \"$VS\" --json -H 127.0.0.1:\"$DEAD\" \"$DATA\" /dev/stdin < \"$DATA\"" << 4
            << QByteArray() << QByteArray("connection-failed") << 0;
        QTest::newRow("spool on a full disk")
            << "unshare -rm true 2>/dev/null || exit 77; mkdir -p \"$DIR/tiny\" && exec unshare -rm sh -c "
               "'mount -t tmpfs -o size=256k none \"$DIR/tiny\" && TMPDIR=\"$DIR/tiny\" exec \"$@\"' sh " +
                   two.mid(5) + "--parallel 1 - < <(cat \"$DATA\")"
            << 3 << QByteArray() << QByteArray("No space left on device") << 0;
        QTest::newRow("spool over the file size limit")
            << "ulimit -f 256; " + two + "--parallel 1 - < <(cat \"$DATA\")" << 3 << QByteArray()
            << QByteArray("File too large") << 0;
        // The hard limit too, so the program cannot raise it: at most a few
        // connections fit at a time, and the rest wait their turn.
        QTest::newRow("more printers than open files allow")
            << "ulimit -n 24 && exec \"$VS\" --json $(for i in $(seq 30); do echo -H \"$A\" -H \"$B\"; "
               "done) \"$DATA\""
            << 0 << data << QByteArray() << 0;
        QTest::newRow("no file: standard input") << "printf x | exec \"$VS\" --json -H \"$A\" -H \"$B\"" << 0
                                                << QByteArray("x") << QByteArray() << 0;
        QTest::newRow("IPv6 in brackets") << "exec \"$VS\" --ipp \"ipp://[::1]:$DEAD/ipp/print\" \"$DATA\""
                                          << 4 << QByteArray() << QByteArray("connect to [::1]:") << 0;
        QTest::newRow("IPP port refused") << "exec \"$VS\" --ipp \"ipp://127.0.0.1:$DEAD/ipp/print\" \"$DATA\""
                                          << 4 << QByteArray() << QByteArray(": Connection refused.)") << 0;
        QTest::newRow("control characters in names")
            << "exec \"$VS\" --ipp $'ipp://127.0.0.1:'\"$DEAD\"$'/Q%1\\e[2J\\r\\nok' \"$DATA\"" << 4
            << QByteArray() << QByteArray("/Q%1\\x1b[2J\\x0d\\x0aok ") << 0;
    }

    void inputsFromTheShell()
    {
        QFETCH(QString, script);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, shown);
        QFETCH(int, interruptMs);

        TcpSink first;
        TcpSink second;
        QVERIFY(first.listen());
        QVERIFY(second.listen());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VS", QStringLiteral(VARNET_SEND));
        environment.insert("A", QStringLiteral("127.0.0.1:%1").arg(first.port()));
        environment.insert("B", QStringLiteral("127.0.0.1:%1").arg(second.port()));
        environment.insert("DEAD", QString::number(TcpSink::unusedPort()));
        environment.insert("DATA", writeTestFile(m_dir.filePath("shell.bin"), shellData()));
        environment.insert("DIR", m_dir.path());
        process.setProcessEnvironment(environment);
        if (interruptMs > 0)
            QTimer::singleShot(interruptMs, &process, [&process] {
                ::kill(static_cast<pid_t>(process.processId()), SIGINT);
            });
        const Run result = run({"-c", "exec 2>&1; " + script}, QString(), &process, 20000, "bash");
        if (result.exitCode == 77)
            QSKIP("this machine lets no test mount a file system");
        QVERIFY2(result.exitCode == exitCode, result.out.constData());
        QVERIFY2(result.out.contains(shown), result.out.constData());
        QVERIFY2(!result.out.contains('\x1b') && !result.out.contains('\r'), result.out.constData());
        if (exitCode != 0 && exitCode != 7) {
            QCOMPARE(first.totalBytes() + second.totalBytes(), 0);
            return;
        }
        QCOMPARE(result.summary.value("inputBytes").toInteger(), content.size());
        // Every connection one destination's, and each got the whole content.
        const QJsonArray entries = result.summary.value("destinations").toArray();
        for (TcpSink *sink : {&first, &second}) {
            const QString label = QStringLiteral("127.0.0.1:%1").arg(sink->port());
            const auto expected = std::count_if(entries.begin(), entries.end(), [&](const QJsonValue &entry) {
                return entry.toObject().value("destination").toString() == label;
            });
            QVERIFY(expected > 0);
            QTRY_COMPARE(sink->totalBytes(), content.size() * expected);
            QCOMPARE(sink->connectionCount(), expected);
            for (const QByteArray &got : sink->connections())
                QVERIFY(got == content);
        }
    }

    void fileChangedDuringSend_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("newSize");
        QTest::addColumn<bool>("asStandardInput"); // given with <, as "-"
        QTest::addColumn<bool>("timePutBack");     // the old modification time set again
        QTest::addColumn<QString>("reason");
        const qint64 large = 16 << 20;
        const QString cut = "it had 16777216 bytes when the send began, and ended after 1048576.";
        const QString changed = "The file was changed during the send.";
        QTest::newRow("cut short") << large << qint64(1 << 20) << false << false << cut;
        QTest::newRow("grown") << large << large + 10 << false << false
                               << "The file grew during the send beyond the 16777216 bytes";
        QTest::newRow("rewritten in place") << large << large << false << false << changed;
        QTest::newRow("rewritten in place, time put back") << large << large << false << true << changed;
        QTest::newRow("cut short, given with <") << large << qint64(1 << 20) << true << false << cut;
        // All of it handed over before the printer reads: the system still
        // sends from the file's pages.
        QTest::newRow("rewritten once all was handed over") << qint64(200000) << qint64(200000)
                                                            << false << false << changed;
        // newSize -1: another file renamed over it; what was opened is still whole.
        QTest::newRow("replaced by rename") << large << qint64(-1) << false << false << QString();
    }

    void fileChangedDuringSend()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, newSize);
        QFETCH(bool, asStandardInput);
        QFETCH(bool, timePutBack);
        QFETCH(QString, reason);
        const QByteArray content = randomBytes(size, 7);
        const QString path = writeTestFile(m_dir.filePath("changing.bin"), content);
        TcpSink slow;
        slow.setMode(TcpSink::Mode::Slow, 8 << 20);
        QVERIFY(slow.listen());
        QProcess process;
        // Changed while the first bytes arrive: far from the end the sender has read.
        bool changed = false;
        QObject::connect(&slow, &TcpSink::dataArrived, &process, [&changed, path, size, newSize, timePutBack] {
            if (!std::exchange(changed, true)) {
                if (newSize < 0) {
                    const QString other = writeTestFile(path + ".new", randomBytes(size, 8));
                    QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
                    return;
                }
                struct stat before {};
                QVERIFY(::stat(QFile::encodeName(path).constData(), &before) == 0);
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadWrite));
                // The same length: new bytes over ones already sent.
                QVERIFY(newSize == file.size() ? file.write("changed") == 7 : file.resize(newSize));
                file.close();
                const timespec times[2] = {before.st_atim, before.st_mtim};
                QVERIFY(!timePutBack || ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
            }
        });
        const Run result = run({"--json", "-H", QStringLiteral("127.0.0.1:%1").arg(slow.port()),
                                asStandardInput ? QStringLiteral("-") : path},
                               asStandardInput ? path : QString(), &process, 60000);
        if (reason.isEmpty()) {
            QVERIFY2(result.exitCode == 0, result.out.constData());
            QTRY_COMPARE(slow.totalBytes(), size);
            QVERIFY(slow.connections().value(0) == content);
            return;
        }
        QCOMPARE(result.exitCode, 5);
        const QJsonObject entry = result.summary.value("destinations").toArray().at(0).toObject();
        QCOMPARE(entry.value("outcome").toString(), QStringLiteral("transfer-failed"));
        QVERIFY2(entry.value("error").toString().contains(reason), result.out.constData());
    }

    void interruptCancelsCleanly()
    {
        const QByteArray data = randomBytes(8 << 20, 4);
        const QString path = writeTestFile(m_dir.filePath(QStringLiteral("slow.bin")), data);
        TcpSink slow;
        slow.setMode(TcpSink::Mode::Slow, 2 << 20);
        QVERIFY(slow.listen());

        QProcess process;
        QObject::connect(&slow, &TcpSink::dataArrived, &process, [&process] {
            // Interrupt once bytes are flowing, as a user pressing Ctrl-C would.
            static bool sent = false;
            if (!sent && process.processId() > 0) {
                sent = true;
                ::kill(static_cast<pid_t>(process.processId()), SIGINT);
            }
        });
        // The second destination waits for the first and so is never reached.
        const QString unreached = QStringLiteral("127.0.0.1:%1").arg(TcpSink::unusedPort());
        const Run result = run({"--json", "--parallel", "1", "-H",
                                QStringLiteral("127.0.0.1:%1").arg(slow.port()), "-H", unreached, path},
                               QString(), &process);
        QCOMPARE(result.exitCode, 130);
        const QJsonArray entries = result.summary.value("destinations").toArray();
        const QJsonObject entry = entries.at(0).toObject();
        QCOMPARE(entry.value("outcome").toString(), QStringLiteral("cancelled"));
        QVERIFY(entry.value("bytes").toInteger() < data.size());
        QCOMPARE(destinationNamed(result.summary, unreached).value("outcome").toString(),
                 QStringLiteral("not-started"));
        // What the kernels still hold drains first, at the sink's pace.
        QTRY_COMPARE_WITH_TIMEOUT(slow.closedCount(), 1, 30000);
    }
};

QTEST_GUILESS_MAIN(TestVarnetSend)
#include "tst_varnetsend.moc"
