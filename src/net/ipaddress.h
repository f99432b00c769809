#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <optional>
#include <utility>

struct sockaddr;

// An IPv4 or IPv6 address as a value, read and written in the forms the program has always
// used: an address read from text is one of the forms libc's resolver takes as an address
// (dotted IPv4 with one to four parts, each decimal, octal or hexadecimal; IPv6 with one "::"
// and an optional dotted IPv4 tail), and the text written is the one stored with every answer
// as the address asked (lower case, the first longest run of two or more zero groups as "::",
// "::ffff:a.b.c.d" and "::a.b.c.d" for the forms that carry an IPv4 address). An IPv6 zone
// ("%eth0") is not an address here.
class IpAddress
{
public:
    enum class Family : quint8
    {
        None,
        V4,
        V6
    };
    using V6Bytes = std::array<quint8, 16>;

    IpAddress() = default;
    explicit IpAddress(quint32 v4);
    explicit IpAddress(const V6Bytes &v6);

    // Null when the text (spaces around it aside) is not an address.
    static IpAddress fromString(QStringView text);
    // The address of a socket address; null for another family.
    static IpAddress fromSockaddr(const sockaddr *address);
    // "address/length" (IPv4 also "address/a.b.c.d" and the shortened "192.168/16", "10."),
    // the host bits cleared; {null, -1} when it is not a network.
    static std::pair<IpAddress, int> parseSubnet(QStringView text);

    Family family() const { return m_family; }
    bool isNull() const { return m_family == Family::None; }
    bool isV4() const { return m_family == Family::V4; }
    bool isV6() const { return m_family == Family::V6; }
    // IPv4 only: the address as a number.
    quint32 toV4() const;
    // IPv4 as it is, or the IPv4 address an IPv4-mapped IPv6 address (::ffff:a.b.c.d) carries;
    // "::", the unspecified address of either family, as 0.0.0.0.
    std::optional<quint32> mappedV4() const;
    // The 16 bytes of an IPv6 address, or of an IPv4 address mapped into IPv6.
    V6Bytes toV6() const;

    QString toString() const;
    // 127.0.0.0/8 and ::1, and an IPv4 loopback address mapped into IPv6.
    bool isLoopback() const;
    // The first address of the network of `length` bits holding this one (its host bits
    // cleared); null when the length does not fit the family.
    IpAddress network(int length) const;
    // Of the same family and inside network/length.
    bool isInSubnet(const IpAddress &network, int length) const;

    friend bool operator==(const IpAddress &, const IpAddress &) = default;

private:
    Family m_family = Family::None;
    // IPv4 in the last four bytes, in network order.
    V6Bytes m_bytes{};
};
