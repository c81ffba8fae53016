#pragma once

#include "sendoptions.h"
#include "core/exitstatus.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

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
    int attempts = 0;  // connections or jobs tried; 0 when never started
    QString input;     // the file sent, as given
    QString origin;    // why this destination, when the command line named none
    // What a TCP printer said of itself over SNMP, as last heard; the state
    // is empty when it was not asked or did not answer.
    QString printerState;
    QStringList printerAlerts;
    QString printerModel;
    qint64 pageCount = -1;
    qint64 pagesPrinted = -1; // followed with --wait
};

// One input of a run and its length (-1 when a stream did not end).
struct InputSummary
{
    QString input;
    qint64 bytes = -1;
};

// statusOnly: printers asked how they stand, each an answer of its own (no
// partial delivery).
int exitCodeFor(const QList<DestinationResult> &results, bool interrupted, bool statusOnly = false);
// One line per destination and file; the file is named when there are
// several. statusOnly: how each printer stands instead of what it was sent.
QString textSummary(const QList<DestinationResult> &results, bool statusOnly = false);
// peakRssKiB: the sender's own peak memory, or -1 to leave it out.
QByteArray jsonSummary(const QList<InputSummary> &inputs, const QList<DestinationResult> &results,
                       int exitCode, qint64 peakRssKiB = -1);

// One progress line: label, bytes, percent (when the total is known), rate,
// and while running an ETA.
QString progressLine(const QString &label, qint64 done, qint64 total, double bytesPerSecond,
                     bool running = true);
