#pragma once

#include "sendoptions.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What happened at one destination.
struct DestinationResult
{
    enum class Outcome {
        Delivered,
        ConnectionFailed, // never connected, or the queue could not be opened
        TransferFailed,   // connected, but the bytes did not all arrive
        SpoolerRefused,   // the scheduler or printer refused or aborted the job
        Cancelled,        // stopped by the user
        NotStarted,       // never reached (interrupted before its turn)
    };

    Destination destination;
    Outcome outcome = Outcome::NotStarted;
    qint64 bytes = 0;
    QString error;
    int jobId = 0;
    QString jobState; // "completed", "aborted", "canceled", ... when the job was followed
    QString note;     // something worth knowing about a delivery
    qint64 elapsedMs = 0;
};

namespace SendExit {
inline constexpr int Delivered = 0;
inline constexpr int Usage = 2;
inline constexpr int InputUnreadable = 3;
inline constexpr int ConnectionFailed = 4;
inline constexpr int TransferFailed = 5;
inline constexpr int SpoolerRefused = 6;
inline constexpr int Partial = 7;
inline constexpr int Interrupted = 130;
} // namespace SendExit

int exitCodeFor(const QList<DestinationResult> &results, bool interrupted);
QString outcomeName(DestinationResult::Outcome outcome);
QString textSummary(const QList<DestinationResult> &results);
// peakRssKiB: the sender's own peak memory, or -1 to leave it out.
QByteArray jsonSummary(const QString &input, qint64 inputBytes,
                       const QList<DestinationResult> &results, int exitCode,
                       qint64 peakRssKiB = -1);

// "12.3 MiB" style sizes for people.
QString humanBytes(double bytes);
// One progress line: label, bytes, percent (when the total is known), rate, ETA.
QString progressLine(const QString &label, qint64 done, qint64 total, double bytesPerSecond);
