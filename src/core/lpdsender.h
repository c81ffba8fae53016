#pragma once

#include "core/tcpblocksender.h"

#include <QByteArray>
#include <QString>
#include <QTimer>

// Where line printer daemons listen unless told otherwise.
inline constexpr quint16 LpdPort = 515;

// A raw job to an LPD queue: the file goes out as the TCP sender sends any
// file, inside the line printer daemon's conversation. The server answers
// each step with one byte, zero for yes, and only its answer to the data
// file makes the job delivered; until then a failure ends in a reset, and
// the server drops the job.
class LpdSender final : public TcpBlockSender
{
    Q_OBJECT

public:
    // The job is named title; it comes from this system's host and user.
    LpdSender(const QString &queue, const QString &title, QObject *parent = nullptr);

protected:
    void onConnected() override;
    void onReceived(const QByteArray &answer) override;
    bool readyToEnd() override;

private:
    enum Step { Job, ControlHeader, ControlFile, DataHeader, DataFile, Answered };
    // Sends message and waits for the server's answer to it.
    void ask(const QByteArray &message);
    // "The server <did> <the step>"; for a refusal (a no, or a close) of
    // the first step, why a server may refuse it.
    QString sentence(const char *did, bool refusal = false) const;

    QString m_queue;
    QByteArray m_name; // the job's number and host, after "cfA" or "dfA"
    QByteArray m_control;
    Step m_step = Job;
    // Runs from a question until its answer: an answer while it stands
    // still is one that was not asked for yet.
    QTimer m_answerTimer;
};
