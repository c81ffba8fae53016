#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A network printer's IPP endpoint on loopback, speaking just enough
// HTTP/1.1 and IPP to take Print-Job and answer Get-Job-Attributes, or to
// misbehave in one chosen way instead of answering a job.
class IppPrinter : public QObject
{
    Q_OBJECT

public:
    enum class Mode {
        Accept,           // answers with a job id; the job is completed at once
        CloseUnanswered,  // reads the whole job, then closes without a word
        ResetUnanswered,  // reads the whole job, then resets
        NeverAnswer,      // reads the whole job and stays silent
        RefuseBeforeData, // answers the request's attributes with a refusal and reads no more
        AcceptBeforeData, // answers the request's attributes with a job id and reads no more
        BusyTwice,        // says it is busy when asked about itself twice, then as Accept
        Busy,             // says it is busy whenever asked about itself
        SilentOnTheJob,   // takes the job, then never answers about it
    };

    explicit IppPrinter(Mode mode, QObject *parent = nullptr);

    bool listen();
    QString uri() const;
    // RefuseBeforeData: the IPP status and the printer's message.
    void setRefusal(quint16 status, const QByteArray &message);

    // Each document received whole, in order.
    QList<QByteArray> documents() const { return m_documents; }
    int connectionCount() const { return m_connections; }

signals:
    void requestArrived();

private:
    struct Peer;
    void serve(Peer &peer);
    void answer(Peer &peer, quint16 status, const QByteArray &message, int jobId, int jobState);

    Mode m_mode;
    QTcpServer m_server;
    quint16 m_refusalStatus = 0x0400;
    QByteArray m_refusalMessage = "refused";
    QList<QByteArray> m_documents;
    int m_connections = 0;
    int m_busyAnswers = 0;
};
