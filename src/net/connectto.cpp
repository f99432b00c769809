#include "net/connectto.h"

namespace {

// Splits one entry at its colons, keeping a bracketed IPv6 address in one piece.
QStringList splitEntry(const QString &entry, bool *ok)
{
    QStringList parts;
    QString current;
    bool inBrackets = false;
    *ok = true;
    for (const QChar c : entry) {
        if (c == u'[') {
            if (inBrackets || !current.isEmpty())
                *ok = false;
            inBrackets = true;
        } else if (c == u']') {
            if (!inBrackets)
                *ok = false;
            inBrackets = false;
        } else if (c == u':' && !inBrackets) {
            parts.append(current);
            current.clear();
        } else {
            current.append(c);
        }
    }
    parts.append(current);
    if (inBrackets)
        *ok = false;
    return parts;
}

bool parsePort(const QString &text, int *port)
{
    if (text.isEmpty()) {
        *port = -1;
        return true;
    }
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return false;
    *port = int(value);
    return true;
}

QString bracketed(const QString &host)
{
    return host.contains(u':') ? u'[' + host + u']' : host;
}

} // namespace

ConnectToMap ConnectToMap::parse(const QString &spec, QString *error)
{
    ConnectToMap map;
    for (const QString &raw : spec.split(u',', Qt::SkipEmptyParts)) {
        const QString text = raw.trimmed();
        if (text.isEmpty())
            continue;
        bool ok = false;
        const QStringList parts = splitEntry(text, &ok);
        Entry entry;
        if (ok && parts.size() == 4) {
            entry.host = parts[0].toLower();
            entry.connectHost = parts[2];
            ok = parsePort(parts[1], &entry.port) && parsePort(parts[3], &entry.connectPort);
        } else {
            ok = false;
        }
        if (!ok) {
            if (error && error->isEmpty())
                *error = QStringLiteral("QUORVANE_CONNECT_TO: \"%1\" is not "
                                        "HOST:PORT:CONNECT-HOST:CONNECT-PORT")
                             .arg(text);
            continue;
        }
        map.m_entries.append(entry);
    }
    return map;
}

ConnectToMap ConnectToMap::fromEnvironment(QString *error)
{
    return parse(qEnvironmentVariable("QUORVANE_CONNECT_TO"), error);
}

ConnectToMap::Target ConnectToMap::resolve(const QString &host, quint16 port) const
{
    for (const Entry &entry : m_entries) {
        if (!entry.host.isEmpty() && entry.host.compare(host, Qt::CaseInsensitive) != 0)
            continue;
        if (entry.port != -1 && entry.port != port)
            continue;
        Target target;
        target.host = entry.connectHost.isEmpty() ? host : entry.connectHost;
        target.port = entry.connectPort == -1 ? port : quint16(entry.connectPort);
        target.mapped = true;
        target.hostNamed = !entry.host.isEmpty();
        return target;
    }
    return Target{host, port, false, false};
}

QList<QByteArray> ConnectToMap::curlEntries() const
{
    QList<QByteArray> list;
    for (const Entry &entry : m_entries) {
        const auto port = [](int p) { return p == -1 ? QString() : QString::number(p); };
        list.append((bracketed(entry.host) + u':' + port(entry.port) + u':' +
                     bracketed(entry.connectHost) + u':' + port(entry.connectPort))
                        .toUtf8());
    }
    return list;
}
