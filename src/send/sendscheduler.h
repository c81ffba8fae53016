#pragma once

#include "sendoptions.h"
#include "sendreport.h"

#include "core/bytesource.h"

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

    // Whether every destination can be in flight at once, as asked and
    // within the limit on open files (raised as far as it goes first). When
    // not, some wait their turn, and a stream must be kept to be sent again.
    static bool allFitAtOnce(const SendOptions &options);

    void start();
    // Ctrl-C: running transfers are cancelled, waiting ones never start.
    void interrupt();

    bool interrupted() const { return m_interrupted; }
    QList<DestinationResult> results() const;
    const ByteSource &source() const { return *m_source; }

    // One per destination, in the order given.
    const QList<Transfer *> &transfers() const { return m_transfers; }
    // False while it waits for its turn.
    bool started(const Transfer *transfer) const { return !m_queue.contains(transfer); }

signals:
    void finished();

private:
    void startWhatFits();

    SendOptions m_options;
    std::unique_ptr<ByteSource> m_source;
    QList<Transfer *> m_transfers;
    // Not yet started, or given back for want of a descriptor.
    QList<Transfer *> m_queue;
    int m_running = 0;
    // Descriptors left for more connections.
    long long m_room = 0;
    bool m_interrupted = false;
};
