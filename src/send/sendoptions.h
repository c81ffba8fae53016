#pragma once

#include "platform/waitlimits.h"
#include "transmission/rawjob.h"
#include "transmission/tcpblocksender.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One place a file goes to.
struct Destination
{
    enum class Kind { Printer, Tcp, Ipp };

    Kind kind = Kind::Tcp;
    QString name; // queue name, host, or IPP URI
    quint16 port = 0;

    QString label() const;
    QString kindName() const;
};

struct SendOptions
{
    QString input; // a path, or "-" for standard input
    QList<Destination> destinations;
    int parallel = 0; // 0: all at once
    int connectTimeoutMs = WaitLimits::DefaultConnectTimeoutMs;
    int waitEofMs = static_cast<int>(TcpBlockSender::PeerCloseWait.count());
    int responseTimeoutMs = WaitLimits::DefaultResponseTimeoutMs; // spooler and IPP
    int stallTimeoutMs = static_cast<int>(TcpBlockSender::StallTimeout.count());
    bool waitForJob = false;
    QString title = QString::fromLatin1(RawJobDocumentName);
    bool quiet = false;
    bool json = false;
};

struct ParsedArguments
{
    std::optional<SendOptions> options;
    QString error; // set when the arguments are not usable
    bool showHelp = false;
    bool showVersion = false;
};

// arguments without the program name.
ParsedArguments parseSendArguments(const QStringList &arguments);

QString sendUsage();
