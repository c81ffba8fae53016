#include "window/varnet.h"
#include "core/fileloader.h"
#include "core/localpath.h"
#include "cupssandbox.h"
#include "messagerecorder.h"
#include "platform/printercollection.h"
#include "tcpsink.h"
#include "testdata.h"
#include "window/frmsocket.h"
#include "core/tcpblocksender.h"
#include "varnetversion.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void saveSettings(const QString &printer, const QString &ip, const QString &opt)
{
    writeSettings({{"Drucker", printer}, {"IP", ip}, {"Opt", opt}});
}

QByteArray settingsBytes()
{
    QFile file(settingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Started with a file name, the program sends it once, unattended, and says
// by its exit status how that went. The window's own code runs here as main()
// runs it; only the message boxes are answered by the test.
class TestCommandLine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_spacedPath;
    QByteArray m_oddPath; // not UTF-8, so Qt could not remove it by its name
    QByteArray m_content = randomBytes(600 * 256, 9);
    TcpSink m_queueDevice;
    CupsSandbox m_sandbox;

    // Runs start-up and command-line sending as main() does; tcpPort stands
    // in for 9100, which a test cannot count on having.
    int runCommandLine(const QString &commandLine, quint16 tcpPort, bool *windowShown,
                       std::chrono::milliseconds stallTimeout = std::chrono::minutes(1))
    {
        const auto printers = createSystemPrinterCollection();
        Varnet window(*printers);
        if (!window.Form_Load(commandLine))
            return -1;
        window.setTcpTiming({.stall = stallTimeout});
        window.findChild<QLineEdit *>(QStringLiteral("Port"))->setText(QString::number(tcpPort));
        // The program's own time-outs end every send; should they fail to,
        // the send is cancelled here so the case fails instead of hanging.
        bool gaveUp = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, &window, [&] {
            gaveUp = true;
            if (window.SocketForm)
                window.SocketForm->winsock->cancel();
        });
        deadline.start(90000);
        const int status = window.commandLineSend();
        *windowShown = window.isVisible();
        if (gaveUp) {
            qWarning("the unattended send did not end within 90 s; it was cancelled");
            return -2;
        }
        return status;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("with spaces")));
        m_spacedPath = m_dir.filePath(QStringLiteral("with spaces/job file.prn"));
        QFile file(m_spacedPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(m_content);
        file.close();
        m_oddPath = QFile::encodeName(m_dir.path()) + "/job\xe4\xff.prn";
        const int fd = ::open(m_oddPath.constData(), O_WRONLY | O_CREAT, 0600);
        QVERIFY(fd >= 0 && ::write(fd, m_content.constData(), static_cast<size_t>(m_content.size())) ==
                               m_content.size());
        ::close(fd);

        QVERIFY(m_queueDevice.listen());
        QVERIFY2(m_sandbox.start(), qPrintable(m_sandbox.lastOutput()));
        QVERIFY(m_sandbox.addSocketQueue(QStringLiteral("sink"), m_queueDevice.port()));
        QVERIFY(m_sandbox.addSocketQueue(QStringLiteral("closed"), m_queueDevice.port()));
        QVERIFY(m_sandbox.rejectJobs(QStringLiteral("closed")));
        QVERIFY(m_sandbox.setDefault(QStringLiteral("sink")));
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void sendsTheNamedFile_data()
    {
        QTest::addColumn<bool>("toPrinter");
        QTest::addColumn<QString>("commandLine");

        const QString spaced = m_dir.filePath(QStringLiteral("with spaces/job file.prn"));
        const QString quoted = QLatin1Char('"') + spaced + QLatin1Char('"');
        // Quotes in the middle group the blanks just as well.
        QString inner = spaced;
        inner.replace(QStringLiteral("with spaces"), QStringLiteral("with\" \"spaces"));
        for (const bool toPrinter : {true, false}) {
            const char *kind = toPrinter ? "printer" : "tcp";
            QTest::addRow("%s, quoted path with spaces", kind) << toPrinter << quoted;
            QTest::addRow("%s, quote inside the path", kind) << toPrinter << inner;
            // As main() takes it from the bytes of the command line.
            QTest::addRow("%s, name not UTF-8", kind) << toPrinter << LocalPath::fromBytes(m_oddPath);
        }
    }

    void sendsTheNamedFile()
    {
        QFETCH(bool, toPrinter);
        QFETCH(QString, commandLine);

        TcpSink tcpSink;
        QVERIFY(tcpSink.listen());
        saveSettings(QStringLiteral("sink"), QStringLiteral("127.0.0.1"),
                     toPrinter ? QStringLiteral("True") : QStringLiteral("False"));
        const QByteArray settingsBefore = settingsBytes();
        const int jobsBefore = m_queueDevice.connectionCount();

        MessageRecorder messages;
        bool shown = true;
        QCOMPARE(runCommandLine(commandLine, tcpSink.port(), &shown), 0);
        QVERIFY(!shown);
        QCOMPARE(settingsBytes(), settingsBefore);
        if (toPrinter) {
            QCOMPARE(messages.texts(), QStringList{QStringLiteral("Executed!")});
            QTRY_COMPARE(m_queueDevice.connectionCount(), jobsBefore + 1);
            QTRY_COMPARE(m_queueDevice.received(jobsBefore), m_content);
        } else {
            // Everything has reached the peer and the connection is closed
            // before the program may end.
            QCOMPARE(messages.texts(), QStringList());
            QCOMPARE(tcpSink.connectionCount(), 1);
            QTRY_COMPARE(tcpSink.closedCount(), 1);
            QCOMPARE(tcpSink.received(), m_content);
        }
    }

    void failuresSendNothing_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("opt");
        QTest::addColumn<QString>("printer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // part of the one message shown

        const QString spaced = m_dir.filePath(QStringLiteral("with spaces/job file.prn"));
        QTest::newRow("missing file") << m_dir.filePath("nothing.prn") << "False" << "sink" << 3
                                      << "does not exist";
        QTest::newRow("folder") << m_dir.filePath("with spaces") << "True" << "sink" << 3
                                << "is a folder";
        QTest::newRow("only quotes") << "\"\"" << "True" << "sink" << 3 << "no file was named";
        QTest::newRow("two names run together") << spaced + QLatin1Char(' ') + spaced << "True"
                                                << "sink" << 3 << "does not exist";
        QTest::newRow("queue rejecting jobs") << spaced << "True" << "closed" << 6 << "not accepting";
        QTest::newRow("nothing listening") << spaced << "False" << "sink" << 4 << "faild! State:";
        QString words = m_dir.path() + QLatin1Char('/');
        for (int i = 0; i < 5000; ++i)
            words += QStringLiteral("word%1 ").arg(i);
        const QString fifo = m_dir.filePath("fifo");
        QVERIFY(QFile::exists(fifo) || ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        // Opening it to read would wait for a writer that never comes.
        QTest::newRow("FIFO") << fifo << "False" << "sink" << 3 << "not an ordinary file";
        QTest::newRow("thousands of words") << words << "True" << "sink" << 3 << "does not exist";
    }

    void failuresSendNothing()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, opt);
        QFETCH(QString, printer);
        QFETCH(int, status);
        QFETCH(QString, message);

        const quint16 deadPort = TcpSink::unusedPort();
        saveSettings(printer, QStringLiteral("127.0.0.1"), opt);
        const QByteArray settingsBefore = settingsBytes();
        const int jobsBefore = m_queueDevice.connectionCount();

        MessageRecorder messages;
        bool shown = true;
        QCOMPARE(runCommandLine(commandLine, deadPort, &shown), status);
        QVERIFY(!shown);
        QCOMPARE(messages.texts().size(), 1);
        QVERIFY2(messages.texts().first().contains(message), qPrintable(messages.texts().first()));
        // A box that fits on a screen.
        QVERIFY(messages.texts().first().size() <= 1001);
        QVERIFY(!messages.texts().contains(QStringLiteral("Executed!")));
        QCOMPARE(settingsBytes(), settingsBefore);
        QCOMPARE(m_queueDevice.connectionCount(), jobsBefore);
    }

    void tcpDeliveryIsChecked_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("parameter");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // part of the one message; empty: none

        QTest::newRow("never reads, closes after 1 s") << static_cast<int>(TcpSink::Mode::NeverRead)
                                                        << qint64(1000) << 0 << 5 << "faild! State: 9";
        QTest::newRow("never reads a large file") << static_cast<int>(TcpSink::Mode::NeverRead)
                                                  << qint64(0) << (20 << 20) << 5
                                                  << "The printer took nothing for 1 s.";
        QTest::newRow("reads 1000 bytes and closes") << static_cast<int>(TcpSink::Mode::CloseAfter)
                                                     << qint64(1000) << 0 << 5 << "faild! State: 9";
        QTest::newRow("ends its own side at once, reads all")
            << static_cast<int>(TcpSink::Mode::HalfClose) << qint64(0) << 0 << 0 << "";
        // Its size says a page; its content is a few bytes.
        QTest::newRow("a file of /sys") << static_cast<int>(TcpSink::Mode::Normal) << qint64(0) << -1
                                        << 0 << "";
    }

    void tcpDeliveryIsChecked()
    {
        QFETCH(int, mode);
        QFETCH(qint64, parameter);
        QFETCH(int, size);
        QFETCH(int, status);
        QFETCH(QString, message);

        TcpSink sink;
        sink.setMode(static_cast<TcpSink::Mode>(mode), parameter);
        QVERIFY(sink.listen());
        saveSettings(QStringLiteral("sink"), QStringLiteral("127.0.0.1"), QStringLiteral("False"));
        QString path = m_spacedPath;
        QByteArray content = m_content;
        if (size < 0) {
            path = QStringLiteral("/sys/devices/system/cpu/online");
            QFile kernelFile(path);
            if (!kernelFile.open(QIODevice::ReadOnly))
                QSKIP("this machine has no /sys/devices/system/cpu/online");
            content = kernelFile.readAll();
        } else if (size > 0) {
            content = QByteArray(size, 'x');
            path = m_dir.filePath(QStringLiteral("large.prn"));
            QFile large(path);
            QVERIFY(large.open(QIODevice::WriteOnly) && large.write(content) == size);
        }

        MessageRecorder messages;
        bool shown = true;
        QCOMPARE(runCommandLine(path, sink.port(), &shown, std::chrono::seconds(1)), status);
        if (message.isEmpty()) {
            QCOMPARE(messages.texts(), QStringList());
            // Acknowledged by the printer's system; its reading may lag.
            QTRY_COMPARE(sink.received(), content);
        } else {
            QCOMPARE(messages.texts().size(), 1);
            QVERIFY2(messages.texts().first().contains(message), qPrintable(messages.texts().first()));
            QVERIFY(sink.received().size() < content.size());
        }
    }

    // "--open FILE" from a file manager's desktop entry: the window comes up
    // with the file chosen, as File > Open leaves it, and nothing is sent,
    // whatever destination was saved.
    void openChoosesTheFile_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("chosen"); // Text2; empty: the file is sent instead
        QTest::addColumn<QString>("size");   // Text1

        const QString size = FileLoader::sizeText(m_content.size());
        QTest::newRow("path with spaces") << "--open " + m_spacedPath << m_spacedPath << size;
        QTest::newRow("quoted") << "--open \"" + m_spacedPath + '"' << m_spacedPath << size;
        QTest::newRow("name not UTF-8") << "--open " + LocalPath::fromBytes(m_oddPath)
                                        << LocalPath::fromBytes(m_oddPath) << size;
        // Nothing loaded: the size a new window shows stays.
        const QString none = FileLoader::sizeText(0);
        QTest::newRow("missing file") << "--open " + m_dir.filePath("nothing.prn")
                                      << m_dir.filePath("nothing.prn") << none;
        QTest::newRow("no file") << "--open" << QString() << none;
        // Opening it to read would hang the window before it is shown.
        const QString fifo = m_dir.filePath("fifo");
        QVERIFY(QFile::exists(fifo) || ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QTest::newRow("FIFO") << "--open " + fifo << fifo << none;
        // The command line names a file first; only when there is none is it an option.
        QTest::newRow("a file named --open ...") << "--open job" << QString() << QString();
    }

    void openChoosesTheFile()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, chosen);
        QFETCH(QString, size);

        const QString namedLikeOption = QDir::current().filePath(QStringLiteral("--open job"));
        QFile file(namedLikeOption);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(m_content) == m_content.size());
        file.close();
        const auto cleanup = qScopeGuard([&] { QFile::remove(namedLikeOption); });
        // Whether main() sends is Form_Load's answer, for a saved printer and address alike.
        for (const char *opt : {"True", "False"}) {
            saveSettings(QStringLiteral("sink"), QStringLiteral("127.0.0.1"), QLatin1String(opt));
            const auto printers = createSystemPrinterCollection();
            Varnet window(*printers);
            MessageRecorder messages;
            const bool sends = window.Form_Load(commandLine);
            QCOMPARE(sends, chosen.isEmpty() && commandLine != QLatin1String("--open"));
            if (sends)
                continue; // the send itself is sendsTheNamedFile's
            QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("Text2"))->text(), chosen);
            QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("Text1"))->text(), size);
            QCOMPARE(messages.texts(), QStringList());
        }
    }

    void cleanupTestCase()
    {
        ::unlink(m_oddPath.constData());
    }

    void theProgramItself_data()
    {
        QTest::addColumn<bool>("silentScheduler");
        QTest::addColumn<int>("killedBy"); // a signal sent once the printer has the bytes; 0: none
        QTest::newRow("scheduler answers") << false << 0;
        // A TCP send needs no scheduler, so one that never answers must not hold it up.
        QTest::newRow("scheduler never answers") << true << 0;
        // Killed mid-send: the printer must see the connection reset, never
        // an orderly end of a cut-off job.
        QTest::newRow("killed by SIGTERM") << false << SIGTERM;
        QTest::newRow("interrupted by Ctrl-C") << false << SIGINT;
        QTest::newRow("killed by SIGKILL") << false << SIGKILL;
    }

    void theProgramItself()
    {
        QFETCH(bool, silentScheduler);
        QFETCH(int, killedBy);
        // The real executable, arguments split at the blank as a shell
        // passes them: they are joined again into one path.
        TcpSink sink;
        // A printer that drains slowly: a fast one may have read the whole
        // file and its end before the signal lands, and then the job was whole.
        if (killedBy != 0)
            sink.setMode(TcpSink::Mode::Slow, 1 << 20);
        if (!sink.listen(QHostAddress::LocalHost, 9100))
            QSKIP("port 9100 on 127.0.0.1 is taken on this machine");
        saveSettings(QString(), QStringLiteral("127.0.0.1"), QStringLiteral("False"));
        const QByteArray settingsBefore = settingsBytes();
        QTcpServer scheduler; // takes connections, never reads or answers
        QVERIFY(scheduler.listen(QHostAddress::LocalHost));

        QProcess varnet;
        if (silentScheduler) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("CUPS_SERVER"),
                               QStringLiteral("127.0.0.1:%1").arg(scheduler.serverPort()));
            varnet.setProcessEnvironment(environment);
        }
        if (killedBy != 0) {
            // Far more than the kernels hold, so the first bytes arrive long before the last.
            const QString large = m_dir.filePath(QStringLiteral("killed.prn"));
            QFile file(large);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(32 << 20, 'k')) == 32 << 20);
            file.close();
            connect(&sink, &TcpSink::dataArrived, &varnet, [&varnet, killedBy] {
                if (varnet.state() == QProcess::Running)
                    ::kill(static_cast<pid_t>(varnet.processId()), killedBy);
            });
            varnet.start(QStringLiteral(VARNET_EXE), {large});
            QVERIFY(varnet.waitForStarted());
            QTRY_COMPARE_WITH_TIMEOUT(varnet.state(), QProcess::NotRunning, 20000);
            QCOMPARE(varnet.exitStatus(), QProcess::CrashExit);
            QTRY_COMPARE_WITH_TIMEOUT(sink.resetCount(), 1, 20000);
            QVERIFY(sink.received().size() < file.size());
            return;
        }
        varnet.start(QStringLiteral(VARNET_EXE), m_spacedPath.split(QLatin1Char(' ')));
        QVERIFY(varnet.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(varnet.state(), QProcess::NotRunning, 60000);
        QCOMPARE(varnet.exitStatus(), QProcess::NormalExit);
        QCOMPARE(varnet.exitCode(), 0);
        QTRY_COMPARE(sink.received(), m_content);
        QCOMPARE(settingsBytes(), settingsBefore);
        QVERIFY2(!scheduler.hasPendingConnections() && !scheduler.waitForNewConnection(0),
                 "the scheduler was asked");
    }

    void helpAndVersion_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("fileOfThatName");
        QTest::addColumn<QByteArray>("output"); // how standard output starts

        QTest::newRow("--help") << "--help" << false << QByteArray("Usage: varnet [FILE]\n");
        QTest::newRow("--version") << "--version" << false << QByteArray("varnet " VARNET_VERSION "\n");
        // The command line names a file; only when there is none is it an option.
        QTest::newRow("a file named --help") << "--help" << true << QByteArray();
        QTest::newRow("a file named --version") << "--version" << true << QByteArray();
    }

    void helpAndVersion()
    {
        QFETCH(QString, argument);
        QFETCH(bool, fileOfThatName);
        QFETCH(QByteArray, output);

        QTemporaryDir dir;
        QProcess varnet;
        varnet.setWorkingDirectory(dir.path());
        TcpSink sink;
        if (fileOfThatName) {
            if (!sink.listen(QHostAddress::LocalHost, 9100))
                QSKIP("port 9100 on 127.0.0.1 is taken on this machine");
            saveSettings(QString(), QStringLiteral("127.0.0.1"), QStringLiteral("False"));
            QFile file(dir.filePath(argument));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(m_content);
        } else {
            // Answered without a display: a program that opened one would fail here.
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                environment.remove(QLatin1String(name));
            varnet.setProcessEnvironment(environment);
        }

        varnet.start(QStringLiteral(VARNET_EXE), {argument});
        QVERIFY(varnet.waitForStarted());
        QTRY_VERIFY2_WITH_TIMEOUT(varnet.state() == QProcess::NotRunning,
                                  "varnet did not end within 60 s", 60000);
        const QByteArray printed = varnet.readAllStandardOutput();
        QCOMPARE(varnet.exitStatus(), QProcess::NormalExit);
        QCOMPARE(varnet.exitCode(), 0);
        QVERIFY2(printed.startsWith(output), printed.constData());
        if (fileOfThatName) {
            QCOMPARE(printed, QByteArray());
            QTRY_COMPARE(sink.received(), m_content);
        }
    }
};

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
