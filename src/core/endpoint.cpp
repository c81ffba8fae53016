#include "core/endpoint.h"

#include <QHostAddress>

QString Endpoint::label() const
{
    // Joined, not substituted: a scope such as "%1" in an IPv6 address stays.
    if (host.contains(QLatin1Char(':')))
        return QLatin1Char('[') + host + QStringLiteral("]:") + QString::number(port);
    return host + QLatin1Char(':') + QString::number(port);
}

std::optional<Endpoint> Endpoint::parse(const QString &text, QString *error)
{
    Endpoint endpoint;
    QString host = text;
    QString portText; // null: no port given
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            *error = QStringLiteral("missing ] in host \"%1\"").arg(text);
            return std::nullopt;
        }
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':'))) {
            *error = QStringLiteral("unexpected text after ] in host \"%1\"").arg(text);
            return std::nullopt;
        }
        if (!rest.isEmpty())
            portText = rest.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        host = text.left(colon);
        portText = text.mid(colon + 1);
    }
    // Several colons without brackets: an IPv6 literal, default port.

    if (host.isEmpty()) {
        *error = QStringLiteral("no host in \"%1\"").arg(text);
        return std::nullopt;
    }
    if (host.contains(QLatin1Char(':')) && QHostAddress(host).protocol() != QHostAddress::IPv6Protocol) {
        *error = QStringLiteral("\"%1\" is not an IPv6 address").arg(host);
        return std::nullopt;
    }
    if (!portText.isNull()) {
        const std::optional<quint16> port = parsePort(portText);
        if (!port) {
            *error = QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(portText);
            return std::nullopt;
        }
        endpoint.port = *port;
    }
    endpoint.host = host;
    return endpoint;
}

std::optional<quint16> parsePort(const QString &text)
{
    bool isNumber = false;
    const uint port = text.toUInt(&isNumber, 10);
    if (!isNumber || port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

QString bareHost(const QString &host)
{
    if (host.size() > 2 && host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        return host.mid(1, host.size() - 2);
    return host;
}
