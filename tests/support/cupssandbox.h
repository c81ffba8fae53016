#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private cupsd for one test program, driven through cups-sandbox.sh.
// Starting it points this process's CUPS clients (libcups, lpstat, lpadmin)
// at it through CUPS_SERVER; stopping it ends only the cupsd it started.
class CupsSandbox
{
public:
    CupsSandbox();
    ~CupsSandbox();
    CupsSandbox(const CupsSandbox &) = delete;
    CupsSandbox &operator=(const CupsSandbox &) = delete;

    // ippPort: also listen on 127.0.0.1:ippPort (0: Unix socket only);
    // directives: lines added to cupsd.conf, overriding the defaults.
    bool start(quint16 ippPort = 0, const QString &directives = QString());
    void stop();
    // Ends the scheduler but keeps this process pointed at its socket, so
    // clients meet an unreachable scheduler rather than the system's.
    void stopScheduler();
    bool isRunning() const { return m_running; }

    bool addRawQueue(const QString &name, const QString &deviceUri)
    {
        return runScript({QStringLiteral("add-queue"), m_dir.path(), name, deviceUri});
    }
    bool addSocketQueue(const QString &name, quint16 sinkPort)
    {
        return addRawQueue(name, QStringLiteral("socket://127.0.0.1:%1").arg(sinkPort));
    }
    bool setDefault(const QString &name)
    {
        return runScript({QStringLiteral("default"), m_dir.path(), name});
    }
    bool deleteQueue(const QString &name)
    {
        return runClient(QStringLiteral("lpadmin"), {QStringLiteral("-x"), name});
    }
    bool rejectJobs(const QString &name) { return runClient(QStringLiteral("cupsreject"), {name}); }

    QString socketPath() const { return m_dir.filePath(QStringLiteral("cups.sock")); }
    QString directory() const { return m_dir.path(); }
    QString lastOutput() const { return m_lastOutput; }

    // The scheduler's own LPD server on 127.0.0.1:port until stop() or the
    // next start: socat starts a cups-lpd for each connection.
    bool startLpd(quint16 port);

    // Runs a CUPS client program against the sandbox; true on exit status 0.
    bool runClient(const QString &program, const QStringList &arguments);

    // Path of the sandbox script in the source tree.
    static QString scriptPath();

private:
    bool runScript(const QStringList &arguments);

    QTemporaryDir m_dir;
    bool m_running = false;
    QString m_lastOutput;
    QProcess m_lpd;
    QString m_directives;
    QByteArray m_previousServer;
};
