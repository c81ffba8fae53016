#include "messagerecorder.h"

#include <QStringList>

MessageRecorder::MessageRecorder()
{
    MessageSeam::setHandler([this](const MessageSeam::Message &message) {
        messages.append(message);
        return QMessageBox::Ok;
    });
}

MessageRecorder::~MessageRecorder()
{
    MessageSeam::setHandler({});
}

QStringList MessageRecorder::texts() const
{
    QStringList result;
    for (const MessageSeam::Message &message : messages)
        result.append(message.text);
    return result;
}
