#include "send/sendoptions.h"
#include "send/sendreport.h"
#include "platform/platform.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <csignal>

using Outcome = SendOutcome;
Q_DECLARE_METATYPE(QList<Outcome>)

class TestSendOptions : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("destinations"); // kind:label, joined by blanks; empty on error
        QTest::addColumn<QString>("error");        // part of the message, empty when valid

        QTest::newRow("host default port") << QStringList{"-H", "10.1.1.1", "f"} << "tcp:10.1.1.1:9100" << "";
        QTest::newRow("host with port") << QStringList{"--host", "printer.lan:9101", "f"}
                                        << "tcp:printer.lan:9101" << "";
        QTest::newRow("host= form") << QStringList{"--host=127.0.0.1:1", "f"} << "tcp:127.0.0.1:1" << "";
        QTest::newRow("several in order")
            << QStringList{"-H", "a", "-p", "Queue One", "--ipp", "ipp://127.0.0.1:631/printers/x", "-H", "b:2", "-"}
            << "tcp:a:9100 printer:Queue One ipp:ipp://127.0.0.1:631/printers/x tcp:b:2" << "";
        QTest::newRow("no destination uses the saved one") << QStringList{"f"} << "" << "";
        QTest::newRow("options after the file") << QStringList{"f", "-H", "a"} << "tcp:a:9100" << "";
        QTest::newRow("file named like an option after --") << QStringList{"-H", "a", "--", "-q"}
                                                            << "tcp:a:9100" << "";

        QTest::newRow("port zero") << QStringList{"-H", "a:0", "f"} << "" << "port \"0\"";
        QTest::newRow("missing value") << QStringList{"f", "-H"} << "" << "needs a value";
        QTest::newRow("unknown option") << QStringList{"--colour", "f"} << "" << "unknown option";
        // Standard input then, unless it is a terminal: decided when the run starts.
        QTest::newRow("no file") << QStringList{"-H", "a"} << "tcp:a:9100" << "";
        QTest::newRow("lp and lpr spellings") << QStringList{"-d", "Q1", "-PQ2", "-t", "T", "f"}
                                              << "printer:Q1 printer:Q2" << "";
        QTest::newRow("two files") << QStringList{"-H", "a", "f", "-", "g"} << "tcp:a:9100" << "";
        QTest::newRow("standard input twice") << QStringList{"-H", "a", "-", "f", "-"} << ""
                                              << "only once";
        QTest::newRow("retries not a number") << QStringList{"--retry", "2x", "f"} << "" << "--retry";
        QTest::newRow("negative retries") << QStringList{"--retry=-1", "f"} << "" << "--retry";
        QTest::newRow("zero wait timeout") << QStringList{"--wait-timeout", "0", "f"} << ""
                                           << "--wait-timeout";
        QTest::newRow("parallel zero") << QStringList{"--parallel", "0", "f"} << "" << "--parallel";
        QTest::newRow("negative timeout") << QStringList{"--connect-timeout", "-1", "f"} << ""
                                          << "--connect-timeout";
        QTest::newRow("zero connect timeout") << QStringList{"--connect-timeout", "0", "f"} << ""
                                              << "more than 0";
        QTest::newRow("zero response timeout") << QStringList{"--response-timeout=0", "f"} << ""
                                               << "--response-timeout must be more than 0";
        QTest::newRow("zero stall timeout") << QStringList{"--stall-timeout", "0", "f"} << ""
                                            << "--stall-timeout must be more than 0";
        QTest::newRow("stall timeout not a number") << QStringList{"--stall-timeout", "soon", "f"}
                                                    << "" << "--stall-timeout needs";
        QTest::newRow("ipp needs ipp scheme") << QStringList{"--ipp", "http://x/", "f"} << "" << "ipp://";
        QTest::newRow("lpd queue") << QStringList{"--lpd", "lpd://[::1]:5515/raw%2Fq", "f"}
                                   << "lpd:lpd://[::1]:5515/raw%2Fq" << "";
        for (const char *uri : {"ipp://h/q", "lpd://h", "lpd://h:0/q", "lpd:///q", "lpd://h/a%0Ab"})
            QTest::addRow("lpd, %s", uri) << QStringList{"--lpd", uri, "f"} << "" << "--lpd needs";
        QTest::newRow("status of an lpd queue") << QStringList{"--status", "--lpd", "lpd://h/q"} << ""
                                                << "--status asks printers given with --host";
        QTest::newRow("flag with value") << QStringList{"--wait=yes", "f"} << "" << "takes no value";
        QTest::newRow("empty printer") << QStringList{"-p", "", "f"} << "" << "queue name";
        QTest::newRow("nan timeout") << QStringList{"--connect-timeout", "nan", "f"} << "" << "--connect-timeout";
        QTest::newRow("infinite wait") << QStringList{"--wait-eof", "inf", "f"} << "" << "--wait-eof";
        QTest::newRow("wait beyond double") << QStringList{"--wait-eof=1e309", "f"} << "" << "--wait-eof";
        QTest::newRow("negative wait") << QStringList{"--wait-eof", "-0.5", "f"} << "" << "--wait-eof";
        QTest::newRow("ipp without host") << QStringList{"--ipp", "ipp://", "f"} << "" << "address";
        QTest::newRow("ipp with only a port") << QStringList{"--ipp", "ipp://:631/printers/x", "f"} << ""
                                              << "address";
        QTest::newRow("a title like options") << QStringList{"--title", "-nz", "-H", "a", "f"}
                                              << "tcp:a:9100" << "";
        QTest::newRow("unknown after such a title") << QStringList{"--title", "-nz", "-z", "f"} << ""
                                                    << "unknown option -z";
        QTest::newRow("short options together") << QStringList{"-qHa:2", "-qH=b", "f"}
                                                << "tcp:a:2 tcp:b:9100" << "";
        QTest::newRow("unknown among short ones") << QStringList{"-qx", "f"} << "" << "unknown option -qx";
        QTest::newRow("no name after --") << QStringList{"--=x", "f"} << "" << "unknown option --";
        QTest::newRow("unknown before a flag with a value")
            << QStringList{"--wait=yes", "--bogus", "f"} << "" << "unknown option --bogus";
        QTest::newRow("unknown before a bad value") << QStringList{"-H", "a:0", "--bogus", "f"} << ""
                                                    << "unknown option --bogus";
        QTest::newRow("status of printers") << QStringList{"--status", "-H", "a", "-H", "b:2"}
                                            << "tcp:a:9100 tcp:b:2" << "";
        QTest::newRow("status with a file") << QStringList{"--status", "-H", "a", "f"} << "" << "--status";
        QTest::newRow("status of a queue") << QStringList{"--status", "-p", "Q"} << "" << "--status";
        QTest::newRow("status of nothing") << QStringList{"--status"} << "" << "--status";
        QTest::newRow("SNMP port zero") << QStringList{"--snmp-port", "0", "f"} << "" << "--snmp-port";
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, destinations);
        QFETCH(QString, error);
        // Where no IPP client is built in, --ipp is refused before its URI is looked at.
        if (!platform::ippDirect && arguments.contains(QLatin1String("--ipp")))
            error = QStringLiteral("--ipp is not available here");

        const SendOptions parsed = parseSendArguments(arguments);
        QVERIFY2(error.isEmpty() ? parsed.error.isEmpty() : parsed.error.contains(error),
                 qPrintable(parsed.error));
        if (!error.isEmpty())
            return;
        QStringList seen;
        for (const Destination &destination : parsed.destinations)
            seen << destination.kindName() + QLatin1Char(':') + destination.label();
        QCOMPARE(seen.join(QLatin1Char(' ')), destinations);
    }

    void parseValues()
    {
        const SendOptions parsed = parseSendArguments(
            {"--parallel", "3", "--connect-timeout", "2.5", "--wait-eof", "0", "--wait", "--json",
             "--stall-timeout", "1.5", "-q", "--title", "Firmware", "--response-timeout", "0.5",
             "--retry", "3", "--retry-delay", "0.25", "--keep-going", "-", "g"});
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        const SendOptions &options = parsed;
        QCOMPARE(options.inputs, QStringList({"-", "g"}));
        QCOMPARE(options.retries, 3);
        QCOMPARE(options.retryDelayMs, 250);
        QVERIFY(options.keepGoing);
        QCOMPARE(options.parallel, 3);
        QCOMPARE(options.connectTimeoutMs, 2500);
        QCOMPARE(options.waitEofMs, 0);
        QCOMPARE(options.responseTimeoutMs, 500);
        QCOMPARE(options.stallTimeoutMs, 1500);
        QVERIFY(options.waitForJob && options.json && options.quiet);
        QCOMPARE(options.title, QStringLiteral("Firmware"));

        const SendOptions defaults = parseSendArguments({"f"});
        QCOMPARE(defaults.connectTimeoutMs, 10000);
        QCOMPARE(defaults.waitEofMs, 30000);
        QCOMPARE(defaults.responseTimeoutMs, 60000);
        QCOMPARE(defaults.stallTimeoutMs, 60000);
        QCOMPARE(defaults.title, QStringLiteral("Command Print"));
        QCOMPARE(defaults.parallel, 0);
        QCOMPARE(defaults.retries, 0);
        QVERIFY(!defaults.waitForJob && !defaults.keepGoing);
        QCOMPARE(parseSendArguments({"--wait-timeout", "1.5", "f"}).waitTimeoutMs, 1500);
        QVERIFY(parseSendArguments({"--wait-timeout", "1.5", "f"}).waitForJob);
        // Help asked for before a mistake still wins; after it, the mistake is told.
        QVERIFY(parseSendArguments({"-H", "a:0", "--help", "--bogus"}).help);
        QVERIFY(!parseSendArguments({"--bogus", "--help"}).help);
    }

    void retryDelays_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QList<int>>("pauses"); // before attempts 2, 3, ...
        QTest::newRow("doubles") << 5000 << QList<int>{5000, 10000, 20000, 40000, 60000, 60000};
        QTest::newRow("none") << 0 << QList<int>{0, 0, 0};
        QTest::newRow("beyond the cap") << 90000 << QList<int>{60000, 60000};
    }

    void retryDelays()
    {
        QFETCH(int, delayMs);
        QFETCH(QList<int>, pauses);
        SendOptions options;
        options.retryDelayMs = delayMs;
        for (int i = 0; i < pauses.size(); ++i)
            QCOMPARE(retryDelayMs(options, i + 2), pauses.at(i));
    }

    void exitCode_data()
    {
        QTest::addColumn<QList<Outcome>>("outcomes");
        QTest::addColumn<int>("signal"); // the one that ended the run
        QTest::addColumn<int>("code");

        QTest::newRow("all delivered") << QList<Outcome>{Outcome::Delivered, Outcome::Delivered} << 0 << 0;
        QTest::newRow("one of two failed") << QList<Outcome>{Outcome::Delivered, Outcome::TransferFailed}
                                           << 0 << SendExit::Partial;
        QTest::newRow("connection") << QList<Outcome>{Outcome::ConnectionFailed} << 0
                                    << SendExit::ConnectionFailed;
        QTest::newRow("transfer") << QList<Outcome>{Outcome::TransferFailed} << 0
                                  << SendExit::TransferFailed;
        QTest::newRow("spooler") << QList<Outcome>{Outcome::SpoolerRefused} << 0
                                 << SendExit::SpoolerRefused;
        QTest::newRow("mixed failures take the first")
            << QList<Outcome>{Outcome::SpoolerRefused, Outcome::ConnectionFailed} << 0
            << SendExit::SpoolerRefused;
        QTest::newRow("interrupted wins") << QList<Outcome>{Outcome::Delivered, Outcome::Cancelled} << SIGINT
                                          << SendExit::Interrupted;
        QTest::newRow("as the shell sees SIGTERM") << QList<Outcome>{Outcome::Cancelled} << SIGTERM << 143;
    }

    void exitCode()
    {
        QFETCH(QList<Outcome>, outcomes);
        QFETCH(int, signal);
        QFETCH(int, code);
        QList<DestinationResult> results;
        for (const Outcome outcome : outcomes) {
            DestinationResult result;
            result.outcome = outcome;
            results.append(result);
        }
        QCOMPARE(exitCodeFor(results, signal), code);
    }

    void summaries()
    {
        DestinationResult good;
        good.destination = {Destination::Kind::Tcp, QStringLiteral("127.0.0.1"), 9100};
        good.outcome = Outcome::Delivered;
        good.bytes = 45;
        DestinationResult bad;
        bad.destination = {Destination::Kind::Printer, QStringLiteral("Laser"), 0};
        bad.outcome = Outcome::SpoolerRefused;
        bad.error = QStringLiteral("not accepting jobs");
        bad.jobId = 12;

        // What a name or a printer says is shown, never obeyed by the terminal.
        DestinationResult odd = bad;
        odd.destination.name = QStringLiteral("Q%1\x1b[2J\r\nok %2");
        odd.error = QStringLiteral("ready\x1b]0;title\x07");

        const QString text = textSummary({good, bad, odd});
        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[2].contains(QLatin1String(" Q%1\\x1b[2J\\x0d\\x0aok %2 0 bytes")),
                 qPrintable(lines[2]));
        QVERIFY2(lines[2].endsWith(QLatin1String("(ready\\x1b]0;title\\x07)")), qPrintable(lines[2]));
        QVERIFY(!text.contains(QChar(0x1b)) && !text.contains(QLatin1Char('\r')));
        QCOMPARE(progressLine(odd.destination.label(), 0, -1, 0), QStringLiteral("Q%1\\x1b[2J\\x0d\\x0aok %2  0 B  0 B/s"));
        QVERIFY(lines[0].startsWith(QLatin1String("ok")) && lines[0].contains(QLatin1String("127.0.0.1:9100")));
        QVERIFY(lines[1].startsWith(QLatin1String("FAIL")) && lines[1].contains(QLatin1String("not accepting jobs")));

        // Several files: each line names its file; more than one attempt is counted.
        DestinationResult later = good;
        later.input = QStringLiteral("second.prn");
        later.attempts = 3;
        later.origin = QStringLiteral("$LPDEST");
        const QStringList files = textSummary({good, later}).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(files[1].contains(QLatin1String("127.0.0.1:9100 second.prn 45 bytes, 3 attempts")) &&
                     files[1].contains(QLatin1String("from $LPDEST")),
                 qPrintable(files[1]));
        QVERIFY2(!lines[0].contains(QLatin1String("attempts")), qPrintable(lines[0]));

        // How a printer stands, as it said over SNMP; its model is its own words.
        DestinationResult asked = odd;
        asked.jobId = 0;
        asked.destination = good.destination;
        asked.printerState = QStringLiteral("printing");
        asked.printerAlerts = QStringList{"no paper", "low toner"};
        asked.pageCount = 1234;
        asked.printerModel = QStringLiteral("Model\x1b[2J X");
        QVERIFY2(textSummary({asked}, true).contains(QLatin1String(
                     "127.0.0.1:9100 printing (no paper, low toner), page count 1234, Model\\x1b[2J X: ")),
                 qPrintable(textSummary({asked}, true)));

        const QJsonObject json = QJsonDocument::fromJson(jsonSummary({{"f", 45}}, {good, bad}, 7)).object();
        QCOMPARE(json.value("exitCode").toInt(), 7);
        QCOMPARE(json.value("inputBytes").toInteger(), 45);
        const QJsonArray entries = json.value("destinations").toArray();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].toObject().value("delivered").toBool(), true);
        QCOMPARE(entries[1].toObject().value("outcome").toString(), QStringLiteral("spooler-refused"));
        QCOMPARE(entries[1].toObject().value("job").toInt(), 12);
    }

    void progress_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("label");

        QTest::newRow("half at 1 MiB/s") << qint64(2 << 20) << qint64(4 << 20) << double(1 << 20)
                                         << true << "p  2.0 MiB / 4.0 MiB   50%  1.0 MiB/s  ETA 0:02" << "p";
        QTest::newRow("unknown total") << qint64(1536) << qint64(-1) << 512.0 << true << "p  1.5 KiB  512 B/s" << "p";
        QTest::newRow("done has no ETA") << qint64(10) << qint64(10) << 10.0 << true
                                         << "p  10 B / 10 B  100%  10 B/s" << "p";
        QTest::newRow("stopped half way has no ETA")
            << qint64(2 << 20) << qint64(4 << 20) << double(1 << 20) << false
            << "p  2.0 MiB / 4.0 MiB   50%  1.0 MiB/s" << "p";
        // An escape and the same text typed into a name must not look alike.
        QTest::newRow("an ESC") << qint64(0) << qint64(-1) << 0.0 << true << "p\\x1b  0 B  0 B/s" << "p\x1b";
        QTest::newRow("the text \\x1b") << qint64(0) << qint64(-1) << 0.0 << true << "p\\\\x1b  0 B  0 B/s"
                                       << "p\\x1b";
    }

    void progress()
    {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(double, rate);
        QFETCH(bool, running);
        QFETCH(QString, expected);
        QFETCH(QString, label);
        QCOMPARE(progressLine(label, done, total, rate, running), expected);
    }
};

QTEST_GUILESS_MAIN(TestSendOptions)
#include "tst_sendoptions.moc"
