#include "core/commandline.h"
#include "window/varnet.h"
#include "core/localpath.h"
#include "core/exitstatus.h"
#include "window/frmsocket.h"
#include "window/messageseam.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QRadioButton>

namespace {

QString whyUnreadable(const QString &path)
{
    if (path.trimmed().isEmpty())
        return QStringLiteral("no file was named");
    const LocalPath::Status info = LocalPath::status(path);
    if (!info.exists)
        return QStringLiteral("it does not exist");
    if (info.isFolder)
        return QStringLiteral("it is a folder");
    if (!info.readable)
        return QStringLiteral("it may not be read");
    return QStringLiteral("it is not an ordinary file");
}

} // namespace

int Varnet::commandLineSend()
{
    m_commandLineMode = true;
    // Closing one of the send's own windows must not end the program early.
    QApplication::setQuitOnLastWindowClosed(false);

    Text2->setText(stripDoubleQuotes(Text2->text()));

    // A file that cannot be loaded is not sent as an empty job.
    if (const SendResult loaded = OpenFi(); loaded.outcome != SendOutcome::Delivered) {
        if (loaded.sentence.empty())
            MessageSeam::show(this, QStringLiteral("Nothing was sent: the file \"%1\" cannot be read, %2.")
                                        .arg(LocalPath::printable(Text2->text()),
                                             whyUnreadable(Text2->text())));
        return SendExit::InputUnreadable;
    }

    bool tcpFinished = false;
    QEventLoop waitForTcp;
    // Tied to the loop, the connection goes with it.
    connect(this, &Varnet::tcpSendFinished, &waitForTcp, [&] {
        tcpFinished = true;
        waitForTcp.quit();
    });
    Command2_Click();
    // Not ended while bytes are still on their way.
    if (Option2->isChecked() && SocketForm && !tcpFinished)
        waitForTcp.exec();
    return m_sendStatus;
}
