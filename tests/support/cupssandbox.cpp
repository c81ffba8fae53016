#include "cupssandbox.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpSocket>
#include <QThread>

#include <cups/cups.h>

CupsSandbox::CupsSandbox()
    : m_previousServer(qgetenv("CUPS_SERVER"))
{
}

CupsSandbox::~CupsSandbox()
{
    stop();
}

QString CupsSandbox::scriptPath()
{
    return QStringLiteral(VARNET_SOURCE_DIR "/tests/support/cups-sandbox.sh");
}

bool CupsSandbox::start(quint16 ippPort, const QString &directives)
{
    m_directives = directives;
    QStringList arguments{QStringLiteral("start"), m_dir.path()};
    if (ippPort != 0)
        arguments << QString::number(ippPort);
    if (!m_dir.isValid() || !runScript(arguments))
        return false;
    m_running = true;
    qputenv("CUPS_SERVER", socketPath().toLocal8Bit());
    // libcups remembers the server it first used; make it read the variable again.
    cupsSetServer(nullptr);
    return true;
}

void CupsSandbox::stop()
{
    m_lpd.kill();
    m_lpd.waitForFinished(5000);
    if (!m_running)
        return;
    runScript({QStringLiteral("stop"), m_dir.path()});
    m_running = false;
    if (m_previousServer.isEmpty())
        qunsetenv("CUPS_SERVER");
    else
        qputenv("CUPS_SERVER", m_previousServer);
    cupsSetServer(nullptr);
}

void CupsSandbox::stopScheduler()
{
    if (m_running)
        runScript({QStringLiteral("stop"), m_dir.path()});
}

bool CupsSandbox::startLpd(quint16 port)
{
    m_lpd.kill();
    m_lpd.waitForFinished(5000);
    // CUPS_SERVER, set for this process, leads cups-lpd to the sandbox.
    m_lpd.start(QStringLiteral("socat"),
                {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port),
                 // A child that fails makes socat end at once, perhaps before
                 // it passed on the refusal the child wrote last.
                 QStringLiteral("SYSTEM:/usr/lib/cups/daemon/cups-lpd; exit 0")});
    // Ready once it takes a connection; the cups-lpd behind it ends at once.
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(50)) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(1000))
            return true;
    }
    qWarning("socat did not listen on port %d within 10 s", port);
    return false;
}

bool CupsSandbox::runClient(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CUPS_SERVER"), socketPath());
    environment.insert(QStringLiteral("CUPS_SANDBOX_DIRECTIVES"), m_directives);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(30000);
    m_lastOutput = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool CupsSandbox::runScript(const QStringList &arguments)
{
    return runClient(QStringLiteral("bash"), QStringList{scriptPath()} + arguments);
}
