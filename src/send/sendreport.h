#pragma once

#include "sendoptions.h"
#include "core/exitstatus.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What happened at one destination. Every member has an initializer, so a
// result may be made naming only what is known.
struct DestinationResult
{
    Destination destination{};
    SendOutcome outcome = SendOutcome::NotStarted;
    qint64 bytes = 0;
    QString error{};
    int jobId = 0;
    QString jobState{}; // "completed", "aborted", "canceled", ... when the job was followed
    QString note{};     // something worth knowing about a delivery
    qint64 elapsedMs = 0;
    int attempts = 0;    // connections or jobs tried; 0 when never started
    QString input{};     // the file sent, as given
    QString origin{};    // why this destination, when the command line named none
    // What a TCP printer said of itself over SNMP, as last heard; the state
    // is empty when it was not asked or did not answer.
    QString printerState{};
    QStringList printerAlerts{};
    QString printerModel{};
    qint64 pageCount = -1;
    qint64 pagesPrinted = -1; // followed with --wait
};

// One input of a run and its length (-1 when a stream did not end).
struct InputSummary
{
    QString input;
    qint64 bytes = -1;
};

// signal: the one that ended the run, 0 for none; the status is then the
// one a shell sees for death by it. statusOnly: printers asked how they
// stand, each an answer of its own (no partial delivery).
int exitCodeFor(const QList<DestinationResult> &results, int signal, bool statusOnly = false);
// One line per destination and file; the file is named when there are
// several. statusOnly: how each printer stands instead of what it was sent.
QString textSummary(const QList<DestinationResult> &results, bool statusOnly = false);
// peakRssKiB: the sender's own peak memory, or -1 to leave it out; signal:
// the name of the one that ended the run, if one did.
QByteArray jsonSummary(const QList<InputSummary> &inputs, const QList<DestinationResult> &results,
                       int exitCode, qint64 peakRssKiB = -1, const QString &signal = {});

// One progress line: label, bytes, percent (when the total is known), rate,
// and while running an ETA.
QString progressLine(const QString &label, qint64 done, qint64 total, double bytesPerSecond,
                     bool running = true);
