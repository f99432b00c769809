#pragma once

#include <QString>
#include <QStringList>

class ListViewModel;

namespace AddressList {

inline const QString ColumnCaption = QStringLiteral("IP Address(es)/Domain(s)");
inline const QString SettingsKey = QStringLiteral("IP Addresses");

// The saved form of a list: the entries in order joined with ";", no trailing ";".
QString savedForm(const ListViewModel &list);
// The entries a saved form gives back: every non-empty piece between ";", untrimmed.
QStringList restoredEntries(const QString &saved);
// Three sample entries: a web server's host name, a bare domain name and an IPv4 address.
QStringList sampleEntries();

} // namespace AddressList
