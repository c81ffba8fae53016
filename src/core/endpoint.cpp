#include "core/endpoint.h"

#include <QHostAddress>

#include <algorithm>

QString Endpoint::label() const
{
    // Joined, not substituted: a scope such as "%1" in an IPv6 address stays.
    const QString shown = host.contains(u':') ? u'[' + host + u']' : host;
    return shown + u':' + QString::number(port);
}

std::optional<Endpoint> Endpoint::parse(const QString &text, QString *error)
{
    const auto fail = [error](const QString &why) {
        *error = why;
        return std::optional<Endpoint>();
    };
    QString host = text;
    QString portText; // null: no port given
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return fail(QStringLiteral("missing ] in host \"%1\"").arg(text));
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return fail(QStringLiteral("unexpected text after ] in host \"%1\"").arg(text));
        if (!rest.isEmpty())
            portText = rest.mid(1);
    } else if (text.count(u':') == 1) {
        const qsizetype colon = text.indexOf(u':');
        host = text.left(colon);
        portText = text.mid(colon + 1);
    }
    // Several colons without brackets: an IPv6 literal, default port.
    if (host.isEmpty())
        return fail(QStringLiteral("no host in \"%1\"").arg(text));
    if (host.contains(u':') && QHostAddress(host).protocol() != QHostAddress::IPv6Protocol)
        return fail(QStringLiteral("\"%1\" is not an IPv6 address").arg(host));
    const std::optional<quint16> port = portText.isNull() ? RawPrintPort : parsePort(portText);
    if (!port)
        return fail(QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(portText));
    return Endpoint{host, *port};
}

std::optional<quint16> parsePort(const QString &text)
{
    // Digits only: toUInt would take a sign and blanks around them too.
    const bool digits = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    bool isNumber = false;
    const uint port = text.toUInt(&isNumber, 10);
    if (!digits || !isNumber || port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

QString bareHost(const QString &host)
{
    if (host.size() > 2 && host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        return host.mid(1, host.size() - 2);
    return host;
}
