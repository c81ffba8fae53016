#include "progressview.h"

#include "core/localpath.h"
#include "platform/platform.h"
#include "sendscheduler.h"
#include "transfer.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <utility>

namespace {

// One line per destination, redrawn in place at most ten times a second and
// cut to the terminal's width; with more destinations than rows, only the
// running ones and a count of the others.
class ProgressView : public QObject
{
public:
    explicit ProgressView(SendScheduler &scheduler);

private:
    void draw(bool final);
    double recentRate(qsizetype index, qint64 nowMs);

    const SendScheduler &m_scheduler;
    int m_linesDrawn = 0;
    // Per destination, (time, bytes) over the last few seconds: the rate
    // shown follows the printer's current pace, not the average since the start.
    QList<std::deque<std::pair<qint64, qint64>>> m_samples;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

ProgressView::ProgressView(SendScheduler &scheduler)
    : QObject(&scheduler), m_scheduler(scheduler)
{
    // At most ten times a second, so a fast transfer is not slowed by its own display.
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] { draw(false); });
    connect(&scheduler, &SendScheduler::finished, this, [this] {
        if (m_timer.isActive())
            draw(true);
        m_timer.stop();
    });
    m_clock.start();
    m_timer.start();
}

double ProgressView::recentRate(qsizetype index, qint64 nowMs)
{
    constexpr qint64 WindowMs = 3000;
    const Transfer *transfer = m_scheduler.transfers().at(index);
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

void ProgressView::draw(bool final)
{
    // Lines longer than the terminal would wrap, and one taller than it
    // would scroll, and either would break drawing in place.
    const platform::console::TerminalSize terminal = platform::console::errorTerminalSize();
    const QList<Transfer *> &transfers = m_scheduler.transfers();
    const qint64 now = m_clock.elapsed();
    m_samples.resize(transfers.size());

    QStringList lines, running;
    int delivered = 0, failed = 0, waiting = 0;
    for (qsizetype i = 0; i < transfers.size(); ++i) {
        const Transfer *transfer = transfers.at(i);
        const bool started = m_scheduler.started(transfer);
        const qint64 done = transfer->bytesSent();
        const qint64 total = m_scheduler.source().size();
        QString line = progressLine(transfer->destination().label(), done, total,
                                    started ? recentRate(i, now) : 0.0,
                                    started && !transfer->isDone());
        if (transfer->isDone()) {
            const SendOutcome outcome = transfer->result().outcome;
            line += QStringLiteral("  ") + QLatin1String(outcomeName(outcome));
            ++(outcome == SendOutcome::Delivered ? delivered : failed);
        } else if (!started) {
            line += m_scheduler.interrupted() ? QStringLiteral("  not started")
                                              : QStringLiteral("  waiting");
            ++waiting;
        } else {
            // A retry's wait, or where a followed job and its printer stand.
            const QString status = transfer->status();
            if (!status.isEmpty())
                line += QStringLiteral("  ") + LocalPath::printable(status, true);
            else if (total > 0 && done == total)
                line += QStringLiteral("  finishing");
            running << line;
        }
        lines << line;
    }
    if (!final && terminal.rows > 1 && lines.size() > terminal.rows - 1) {
        // Only what is still moving gets a line of its own.
        lines = running.mid(0, terminal.rows - 2);
        const qsizetype hiddenRunning = running.size() - lines.size();
        lines << QStringLiteral("%1 more: %2 running, %3 waiting, %4 delivered, %5 failed")
                     .arg(transfers.size() - lines.size())
                     .arg(hiddenRunning).arg(waiting).arg(delivered).arg(failed);
    }
    // Back over the previous lines, then draw them anew, each cut to the terminal's width.
    QString text = m_linesDrawn > 0 ? QStringLiteral("\x1b[%1A").arg(m_linesDrawn) : QString();
    text += QStringLiteral("\r\x1b[J");
    for (QString &line : lines)
        text += (terminal.columns > 1 ? line.left(terminal.columns - 1) : line) + u'\n';
    m_linesDrawn = final ? 0 : static_cast<int>(lines.size());
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

void showProgress(SendScheduler &scheduler)
{
    new ProgressView(scheduler);
}
