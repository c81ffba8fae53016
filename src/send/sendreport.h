#pragma once

#include "sendoptions.h"
#include "transmission/exitstatus.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What happened at one destination.
struct DestinationResult
{
    Destination destination;
    SendOutcome outcome = SendOutcome::NotStarted;
    qint64 bytes = 0;
    QString error;
    int jobId = 0;
    QString jobState; // "completed", "aborted", "canceled", ... when the job was followed
    QString note;     // something worth knowing about a delivery
    qint64 elapsedMs = 0;
};

int exitCodeFor(const QList<DestinationResult> &results, bool interrupted);
QString textSummary(const QList<DestinationResult> &results);
// peakRssKiB: the sender's own peak memory, or -1 to leave it out.
QByteArray jsonSummary(const QString &input, qint64 inputBytes,
                       const QList<DestinationResult> &results, int exitCode,
                       qint64 peakRssKiB = -1);

// "12.3 MiB" style sizes for people.
QString humanBytes(double bytes);
// One progress line: label, bytes, percent (when the total is known), rate,
// and while running an ETA.
QString progressLine(const QString &label, qint64 done, qint64 total, double bytesPerSecond,
                     bool running = true);
