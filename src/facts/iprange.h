#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// An address range of a network object: "a - b", or a prefix "a/len" (IPv4 prefixes may be
// shortened the way LACNIC prints them: "200.160/20").
struct IpRange
{
    QString range;        // "first - last"
    QString cidr;         // the prefix when the range is exactly one, else empty
    double addresses = 0; // how many addresses it spans: smaller is more specific
};

std::optional<IpRange> ipRangeFromText(QStringView text);
