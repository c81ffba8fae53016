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

    // Whether every destination can be in flight at once within the limit
    // on open files (raised as far as it goes first). When not, some wait
    // their turn, and a stream must be kept to be sent again.
    static bool allFitAtOnce(const QList<Destination> &destinations);

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
    bool canStartNext() const;
    void startNext();
    void onTransferFinished(Transfer *transfer);
    void onWaitingForDescriptor(Transfer *transfer);
    Transfer *nextToStart() const;

    SendOptions m_options;
    std::unique_ptr<ByteSource> m_source;
    QList<Transfer *> m_transfers;
    qsizetype m_next = 0;
    int m_running = 0;
    // Descriptors the running transfers hold, and how many they may hold
    // (-1: no limit).
    long long m_descriptorsHeld = 0;
    long long m_descriptorBudget = -1;
    // Started, but given back for want of a descriptor: first in line.
    QList<Transfer *> m_waiting;
    bool m_interrupted = false;
};
