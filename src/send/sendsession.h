#pragma once

#include "sendoptions.h"
#include "sendreport.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

class ByteSource;
class Transfer;

// Sends one input to every destination, at most `parallel` at a time, draws
// the progress lines and collects the results.
class SendSession : public QObject
{
    Q_OBJECT

public:
    SendSession(const SendOptions &options, std::unique_ptr<ByteSource> source,
                bool showProgress, QObject *parent = nullptr);
    ~SendSession() override;

    void start();
    // Ctrl-C: running transfers are cancelled, waiting ones never start.
    void interrupt();

    bool interrupted() const { return m_interrupted; }
    QList<DestinationResult> results() const;
    qint64 inputSize() const;

signals:
    void finished();

private:
    void startNext();
    void onTransferFinished();
    void drawProgress(bool final);

    SendOptions m_options;
    std::unique_ptr<ByteSource> m_source;
    QList<Transfer *> m_transfers;
    qsizetype m_next = 0;
    int m_running = 0;
    bool m_interrupted = false;
    bool m_drawProgress;
    int m_linesDrawn = 0;
    QTimer m_progressTimer;
    QElapsedTimer m_clock;
};
