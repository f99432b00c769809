#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Where a connection to host:port really goes: QUORVANE_CONNECT_TO, in curl's --connect-to
// syntax, a comma-separated list of HOST:PORT:CONNECT-HOST:CONNECT-PORT. An empty HOST or PORT
// matches any; an empty CONNECT-HOST or CONNECT-PORT keeps the original. IPv6 addresses go in
// brackets. The caller reads the environment once at start-up and hands the map to whoever
// connects. Only an entry that names its host makes that host the user's own choice (exempt
// from the private-address rule); an entry for any host (":43::25") exempts none.
class ConnectToMap
{
public:
    struct Target
    {
        QString host;
        quint16 port = 0;
        // An entry matched: the connection goes where it says.
        bool mapped = false;
        // The matching entry names the host: the user chose where this host goes.
        bool hostNamed = false;
    };

    // Malformed entries are skipped; *error (when given) names the first one.
    static ConnectToMap parse(const QString &spec, QString *error = nullptr);
    static ConnectToMap fromEnvironment(QString *error = nullptr);

    bool isEmpty() const { return m_entries.isEmpty(); }
    // The first entry that matches decides, as in curl.
    Target resolve(const QString &host, quint16 port) const;
    // The entries as CURLOPT_CONNECT_TO strings, one per list item.
    QList<QByteArray> curlEntries() const;

private:
    struct Entry
    {
        QString host;         // empty: any host
        int port = -1;        // -1: any port
        QString connectHost;  // empty: same host
        int connectPort = -1; // -1: same port
    };
    QList<Entry> m_entries;
};
