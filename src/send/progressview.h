#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <utility>

class SendScheduler;

// The progress lines on the terminal: one per destination with bytes,
// percent, rate and ETA, redrawn in place at most ten times a second and cut
// to the terminal's width; with more destinations than rows, only the
// running ones and a count of the others.
class ProgressView : public QObject
{
    Q_OBJECT

public:
    explicit ProgressView(const SendScheduler &scheduler, QObject *parent = nullptr);

    // Draws until the scheduler has finished, and then once more, the outcomes too.
    void start()
    {
        m_clock.start();
        m_timer.start();
    }

private:
    void draw(bool final);
    // Over what was drawn before, each line cut to the terminal's width.
    void show(QStringList lines, int columns, bool final);
    double recentRate(qsizetype index, qint64 nowMs);

    const SendScheduler &m_scheduler;
    int m_linesDrawn = 0;
    // Per destination, (time, bytes) over the last few seconds: the rate
    // shown follows the printer's current pace, not the average since the start.
    QList<std::deque<std::pair<qint64, qint64>>> m_samples;
    QTimer m_timer;
    QElapsedTimer m_clock;
};
