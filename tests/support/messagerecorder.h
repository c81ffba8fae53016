#pragma once

#include "window/messageseam.h"

#include <QList>
#include <QStringList>

// Records every message box the program would show and answers it with OK,
// for as long as it lives.
class MessageRecorder
{
public:
    MessageRecorder()
    {
        MessageSeam::setHandler([this](const MessageSeam::Message &message) {
            messages.append(message);
            return QMessageBox::Ok;
        });
    }
    ~MessageRecorder() { MessageSeam::setHandler({}); }
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    QList<MessageSeam::Message> messages;

    QStringList texts() const
    {
        QStringList result;
        for (const MessageSeam::Message &message : messages)
            result.append(message.text);
        return result;
    }
    void clear() { messages.clear(); }
};
