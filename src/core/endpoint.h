#pragma once

#include <QString>

#include <optional>

// Where a raw printer listens unless told otherwise.
inline constexpr quint16 RawPrintPort = 9100;

// A printer's TCP address.
struct Endpoint
{
    QString host; // a name or an address; an IPv6 address without brackets
    quint16 port = RawPrintPort;

    QString label() const; // "host:port", or "[IPv6]:port"

    // HOST, HOST:PORT, [IPv6] or [IPv6]:PORT; a bare IPv6 literal has no
    // port. Null, with error saying why, for anything else.
    static std::optional<Endpoint> parse(const QString &text, QString *error);
};

// A port as typed on its own: a decimal number from 1 to 65535.
std::optional<quint16> parsePort(const QString &text);

// "[::1]" as people write an IPv6 printer next to a port, unbracketed.
QString bareHost(const QString &host);
