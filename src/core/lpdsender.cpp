#include "core/lpdsender.h"

#include "platform/platform.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSysInfo>

namespace {

// A line of the control file ends at a line feed: a title or a user name
// must not start lines of its own. Servers count the limit in bytes; a
// character cut in two would leave the rest of the name unreadable.
QByteArray field(QString text, qsizetype limit)
{
    static const QRegularExpression control(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    QByteArray bytes = text.replace(control, QStringLiteral(" ")).toUtf8();
    // A character goes on in bytes 10xxxxxx: the cut moves back to its start.
    while (bytes.size() > limit && (bytes.at(limit) & 0xc0) == 0x80)
        --limit;
    return bytes.left(limit);
}

// 000 to 999, one for each job of a run, from where another run is not
// likely to be: the server may keep the files of both under these names.
int nextJobNumber()
{
    static qint64 next = QCoreApplication::applicationPid();
    return static_cast<int>(next++ % 1000);
}

} // namespace

LpdSender::LpdSender(const QString &queue, const QString &title, QObject *parent)
    : TcpBlockSender(parent), m_queue(queue)
{
    // The host is part of the files' names: letters, digits, dots and dashes.
    QString host = QSysInfo::machineHostName()
                       .remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9.-]")))
                       .left(31);
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    m_name = QStringLiteral("A%1").arg(nextJobNumber(), 3, 10, QLatin1Char('0')).toLatin1() +
             host.toLatin1();
    // Services, cron jobs and containers often name no one in the environment.
    QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
    if (user.isEmpty())
        user = QString::fromStdString(platform::userName());
    // l: the data file printed as it is, control characters and all.
    m_control = 'H' + host.toLatin1() + "\nP" + field(user, 31) + "\nJ" + field(title, 99) +
                "\nldf" + m_name + '\n';
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        fail(SendOutcome::TransferFailed, sentence("did not acknowledge") +
                                              QStringLiteral(" within ") +
                                              durationText(timing().stall) + u'.');
    });
}

void LpdSender::onConnected()
{
    // "Receive a printer job"; its answer leads on to the next step.
    ask('\2' + m_queue.toUtf8() + '\n');
}

bool LpdSender::readyToEnd()
{
    // The data file is out and still what it was: its end, a zero byte, asks
    // for the server's answer, and our end of stream waits for it.
    if (m_step == DataFile && !m_answerTimer.isActive())
        ask(QByteArray(1, '\0'));
    return m_step == Answered;
}

void LpdSender::ask(const QByteArray &message)
{
    m_answerTimer.start(timing().stall);
    say(message);
}

void LpdSender::onReceived(const QByteArray &answer)
{
    if (m_step == Answered)
        return;
    if (answer.isEmpty())
        return fail(SendOutcome::TransferFailed,
                    sentence("closed the connection before it acknowledged", true) + u'.');
    if (answer.at(0) != 0) {
        // Some servers say why after the refusing byte.
        const QString said = QString::fromUtf8(answer.mid(1, 200)).trimmed();
        return fail(SendOutcome::SpoolerRefused,
                    sentence("refused", true) + (said.isEmpty() ? QStringLiteral(".") : ": " + said));
    }
    // An answer for bytes the server cannot have read vouches for nothing.
    if (!m_answerTimer.isActive() || queuedBytes() > 0 || answer.size() > 1)
        return fail(SendOutcome::TransferFailed, sentence("answered before it had read") + u'.');
    m_answerTimer.stop();
    switch (m_step = static_cast<Step>(m_step + 1)) {
    case ControlHeader:
        return ask('\2' + QByteArray::number(m_control.size()) + " cf" + m_name + '\n');
    case ControlFile:
        return ask(m_control + '\0');
    case DataHeader:
        return ask('\3' + QByteArray::number(expectedSize()) + " df" + m_name + '\n');
    case DataFile:
        return sendFile();
    default:
        return settle();
    }
}

QString LpdSender::sentence(const char *did, bool refusal) const
{
    static const char *const steps[] = {"the job for queue", "the control file's size and name",
                                        "the control file", "the data file's size and name",
                                        "the data file"};
    QString text =
        QStringLiteral("The server ") + QLatin1String(did) + u' ' + QLatin1String(steps[m_step]);
    if (m_step == Job)
        text += QStringLiteral(" \"") + m_queue + u'"';
    if (m_step == Job && refusal)
        text += QStringLiteral(" (no such queue, it takes no jobs, or only from privileged ports, "
                               "which this program does not use)");
    return text;
}
