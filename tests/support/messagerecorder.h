#pragma once

#include "widgets/messageseam.h"

#include <QList>

// Records every message box the program would show and answers it with OK,
// for as long as it lives.
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    QList<MessageSeam::Message> messages;

    QStringList texts() const;
    void clear() { messages.clear(); }
};
