#include "transfer.h"

Transfer::Transfer(const Destination &destination, QObject *parent)
    : QObject(parent)
{
    m_result.destination = destination;
}

Transfer::~Transfer() = default;

void Transfer::finish(SendOutcome outcome, const QString &error)
{
    if (m_done)
        return;
    m_done = true;
    m_result.outcome = outcome;
    m_result.error = error;
    m_result.bytes = m_bytes.load();
    m_result.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    emit finished();
}

void Transfer::setJob(int jobId, const QString &state)
{
    m_result.jobId = jobId;
    m_result.jobState = state;
}
