#include "sendsession.h"

#include "bytesource.h"
#include "jobtransfer.h"
#include "tcptransfer.h"

#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

SendSession::SendSession(const SendOptions &options, std::unique_ptr<ByteSource> source,
                         bool showProgress, QObject *parent)
    : QObject(parent), m_options(options), m_source(std::move(source)), m_drawProgress(showProgress)
{
    for (const Destination &destination : m_options.destinations) {
        Transfer *transfer = nullptr;
        if (destination.kind == Destination::Kind::Tcp)
            transfer = new TcpTransfer(destination, m_options.connectTimeoutMs,
                                       m_options.waitEofMs, m_options.stallTimeoutMs, this);
        else
            transfer = new JobTransfer(destination, m_options.title, m_options.waitForJob,
                                       m_options.connectTimeoutMs, m_options.responseTimeoutMs,
                                       this);
        connect(transfer, &Transfer::finished, this, &SendSession::onTransferFinished);
        m_transfers.append(transfer);
    }
    // Redrawn at most ten times a second, so a fast transfer is not slowed by its own display.
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { this->drawProgress(false); });
}

SendSession::~SendSession() = default;

void SendSession::start()
{
    m_clock.start();
    if (m_drawProgress)
        m_progressTimer.start();
    const qsizetype parallel = m_options.parallel > 0 ? m_options.parallel : m_transfers.size();
    // Every reader of a shared stream must exist before it starts flowing.
    while (m_next < m_transfers.size() && m_running < parallel)
        startNext();
    m_source->start();
    if (m_transfers.isEmpty())
        emit finished();
}

void SendSession::startNext()
{
    Transfer *transfer = m_transfers.at(m_next++);
    ++m_running;
    transfer->start(m_source->makeReader());
}

void SendSession::interrupt()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    // Those not yet started stay so, and are reported as never reached.
    for (qsizetype i = 0; i < m_next; ++i) {
        if (!m_transfers.at(i)->isDone())
            m_transfers.at(i)->cancel();
    }
    if (m_running == 0)
        emit finished();
}

void SendSession::onTransferFinished()
{
    --m_running;
    const qsizetype parallel = m_options.parallel > 0 ? m_options.parallel : m_transfers.size();
    while (!m_interrupted && m_next < m_transfers.size() && m_running < parallel)
        startNext();
    if (m_running == 0) {
        m_progressTimer.stop();
        if (m_drawProgress)
            drawProgress(true);
        emit finished();
    }
}

QList<DestinationResult> SendSession::results() const
{
    QList<DestinationResult> results;
    for (qsizetype i = 0; i < m_transfers.size(); ++i) {
        const Transfer *transfer = m_transfers.at(i);
        DestinationResult result = transfer->result();
        if (!transfer->isDone() && i < m_next) {
            // Given up on while a call it made could not be interrupted.
            result.outcome = DestinationResult::Outcome::Cancelled;
            result.error = QStringLiteral("interrupted; it did not stop in time, so its connection "
                                          "was reset");
            result.bytes = transfer->bytesSent();
        } else if (!transfer->isDone()) {
            result.outcome = DestinationResult::Outcome::NotStarted;
            result.error = QStringLiteral("interrupted before its turn");
        }
        results.append(result);
    }
    return results;
}

qint64 SendSession::inputSize() const
{
    return m_source->knownLength();
}

double SendSession::recentRate(qsizetype index, qint64 nowMs)
{
    constexpr qint64 WindowMs = 3000;
    const Transfer *transfer = m_transfers.at(index);
    if (transfer->isDone()) {
        // Its own average, fixed once it has ended.
        const DestinationResult result = transfer->result();
        return result.elapsedMs > 0
                   ? static_cast<double>(result.bytes) * 1000.0 / static_cast<double>(result.elapsedMs)
                   : 0.0;
    }
    std::deque<std::pair<qint64, qint64>> &samples = m_samples[index];
    samples.emplace_back(nowMs, transfer->bytesSent());
    while (samples.size() > 2 && samples.front().first < nowMs - WindowMs)
        samples.pop_front();
    const auto [firstMs, firstBytes] = samples.front();
    if (nowMs <= firstMs)
        return 0.0;
    return static_cast<double>(samples.back().second - firstBytes) * 1000.0 /
           static_cast<double>(nowMs - firstMs);
}

void SendSession::drawProgress(bool final)
{
    // Lines longer than the terminal would wrap, and one taller than it
    // would scroll, and either would break drawing in place.
    int columns = 0;
    int rows = 0;
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) {
        columns = size.ws_col;
        rows = size.ws_row;
    }
    const qint64 now = m_clock.elapsed();
    m_samples.resize(m_transfers.size());

    QStringList lines;
    QStringList running;
    int delivered = 0;
    int failed = 0;
    int waiting = 0;
    for (qsizetype i = 0; i < m_transfers.size(); ++i) {
        const Transfer *transfer = m_transfers.at(i);
        const bool started = i < m_next;
        const qint64 done = transfer->bytesSent();
        const qint64 total = m_source->size();
        QString line = progressLine(transfer->destination().label(), done, total,
                                    started ? recentRate(i, now) : 0.0,
                                    started && !transfer->isDone());
        if (transfer->isDone()) {
            const DestinationResult::Outcome outcome = transfer->result().outcome;
            line += QStringLiteral("  ") + outcomeName(outcome);
            ++(outcome == DestinationResult::Outcome::Delivered ? delivered : failed);
        } else if (!started) {
            line += m_interrupted ? QStringLiteral("  not started") : QStringLiteral("  waiting");
            ++waiting;
        } else {
            if (total > 0 && done == total)
                line += QStringLiteral("  finishing");
            running << line;
        }
        lines << line;
    }
    if (!final && rows > 1 && lines.size() > rows - 1) {
        // Only what is still moving gets a line of its own.
        lines = running.mid(0, rows - 2);
        const qsizetype hiddenRunning = running.size() - lines.size();
        lines << QStringLiteral("%1 more: %2 running, %3 waiting, %4 delivered, %5 failed")
                     .arg(m_transfers.size() - lines.size())
                     .arg(hiddenRunning)
                     .arg(waiting)
                     .arg(delivered)
                     .arg(failed);
    }

    QString text;
    // Back over the previous lines, then draw them anew.
    if (m_linesDrawn > 0)
        text += QStringLiteral("\x1b[%1A").arg(m_linesDrawn);
    text += QStringLiteral("\r\x1b[J");
    for (QString &line : lines) {
        if (columns > 1 && line.size() >= columns)
            line.truncate(columns - 1);
        text += line + QLatin1Char('\n');
    }
    m_linesDrawn = final ? 0 : static_cast<int>(lines.size());
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}
