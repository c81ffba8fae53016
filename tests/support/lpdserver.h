#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A line printer daemon on loopback that takes jobs as the protocol says,
// except at one step, where it does the one wrong thing it was made for.
// Steps: 1 the job's queue, 2 the control file's size and name, 3 the
// control file, 4 the data file's size and name, 5 the data file.
class LpdServer : public QObject
{
    Q_OBJECT

public:
    enum class Fault {
        None,
        Refuse,      // answers the whole step with a refusal and closes
        Close,       // closes once part of the step has arrived
        Reset,       // resets once the whole step has arrived, before answering
        Silent,      // never answers the whole step
        AnswerEarly, // says yes once part of the step has arrived, and reads on
    };

    LpdServer(Fault fault, int step, QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // What each step brought, the file's closing zero byte included.
    QList<QByteArray> steps() const { return m_steps; }

private:
    void serve(QTcpSocket *socket);

    Fault m_fault;
    int m_faultStep;
    QTcpServer m_server;
    QByteArray m_pending;
    QList<QByteArray> m_steps;
    qint64 m_fileSize = 0;
    bool m_faulted = false;
};
