#pragma once

#include <QString>
#include <QStringList>

namespace AddressList {

inline const QString ColumnCaption = QStringLiteral("IP Address(es)/Domain(s)");
inline const QString SettingsKey = QStringLiteral("IP Addresses");

// The saved form of a list: the entries in order joined with ";", no trailing ";". The list
// gives its entries as itemText(1) to itemText(itemCount()).
template <class List> QString savedForm(const List &list)
{
    QString saved;
    const int n = list.itemCount();
    for (int i = 1; i <= n; ++i) {
        if (i > 1)
            saved += QLatin1Char(';');
        saved += list.itemText(i);
    }
    return saved;
}
// The entries a saved form gives back: every non-empty piece between ";", untrimmed.
QStringList restoredEntries(const QString &saved);
// Three sample entries: a web server's host name, a bare domain name and an IPv4 address.
QStringList sampleEntries();

} // namespace AddressList
