#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// An address range of a network object: "a - b", or a prefix "a/len" (IPv4 prefixes may be
// shortened the way LACNIC prints them: "200.160/20").
struct IpRange
{
    QString range;        // "first - last"
    QString cidr;         // the prefixes that cover it exactly: "192.0.2.0/25, 192.0.2.128/26"
    double addresses = 0; // how many addresses it spans: smaller is more specific
};

std::optional<IpRange> ipRangeFromText(QStringView text);
// The range's "first - last" alone (ipRangeFromText's `range`); empty when it reads none.
QString ipRangeTextFromText(QStringView text);

// The fewest prefixes that cover the addresses from `first` to `last` exactly, in address order
// ("192.0.2.0", "192.0.2.191": 192.0.2.0/25 and 192.0.2.128/26); empty when the two are not
// addresses of one family in that order.
QStringList coveringPrefixes(QStringView first, QStringView last);
