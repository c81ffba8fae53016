#pragma once

#include "sendoptions.h"
#include "sendreport.h"

#include "bytesource.h"

#include <QList>
#include <QObject>

#include <memory>

class Transfer;

// Sends one input to every destination, at most `parallel` at a time, and
// collects the results.
class SendScheduler : public QObject
{
    Q_OBJECT

public:
    SendScheduler(const SendOptions &options, std::unique_ptr<ByteSource> source,
                  QObject *parent = nullptr);

    void start();
    // Ctrl-C: running transfers are cancelled, waiting ones never start.
    void interrupt();

    bool interrupted() const { return m_interrupted; }
    QList<DestinationResult> results() const;
    // The input's size, -1 for a stream; and its length once known.
    qint64 inputSize() const { return m_source->size(); }
    qint64 knownInputLength() const { return m_source->knownLength(); }

    // One per destination, in the order given; the first startedCount()
    // have been started.
    const QList<Transfer *> &transfers() const { return m_transfers; }
    qsizetype startedCount() const { return m_next; }

signals:
    void finished();

private:
    void startNext();
    void onTransferFinished();

    SendOptions m_options;
    std::unique_ptr<ByteSource> m_source;
    QList<Transfer *> m_transfers;
    qsizetype m_next = 0;
    int m_running = 0;
    bool m_interrupted = false;
};
