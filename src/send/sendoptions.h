#pragma once

#include "platform/waitlimits.h"
#include "core/rawjob.h"
#include "core/tcpblocksender.h"

#include <QList>
#include <QStringList>

// One place a file goes to.
struct Destination
{
    enum class Kind { Printer, Tcp, Ipp, Lpd };

    Kind kind = Kind::Tcp;
    QString name; // queue name, host, or IPP or LPD URI
    quint16 port = 0;

    QString label() const;
    QString kindName() const;
    // The host connected to straight (TCP, LPD); empty for a spooler queue
    // or an IPP printer, reached through the printing library.
    QString host() const;
};

// Retries wait longer each time, but never longer than this.
inline constexpr int RetryDelayCapMs = 60000;

struct SendOptions
{
    QStringList inputs; // paths, "-" for standard input, in the order given
    QList<Destination> destinations;
    int parallel = 0; // 0: all at once
    int connectTimeoutMs = WaitLimits::DefaultConnectTimeoutMs;
    int waitEofMs = static_cast<int>(TcpBlockSender::PeerCloseWait.count());
    int responseTimeoutMs = WaitLimits::DefaultResponseTimeoutMs; // spooler and IPP
    int stallTimeoutMs = static_cast<int>(TcpBlockSender::StallTimeout.count());
    bool waitForJob = false;
    int waitTimeoutMs = 0; // 0: follow the job until it ends
    bool status = false;   // no file: ask the printers how they stand
    bool check = false;    // ask a TCP printer first, refuse one that cannot print
    QString snmpCommunity = QStringLiteral("public");
    int snmpPort = 161;
    int retries = 0;       // further attempts while nothing went out
    int retryDelayMs = 5000;
    bool keepGoing = false; // later files still go to a destination that failed
    QString title = QString::fromLatin1(RawJobDocumentName);
    QString server; // the scheduler, as CUPS_SERVER names it; empty: as set
    bool quiet = false;
    bool json = false;
    bool help = false;
    bool version = false;
    QString error; // set when the arguments are not usable
};

// arguments without the program name.
SendOptions parseSendArguments(const QStringList &arguments);

QString sendUsage();
// The pause before attempt number `attempt` (2 for the first retry): the
// delay given, doubled for each retry after the first, at most the cap.
int retryDelayMs(const SendOptions &options, int attempt);
