// Reading addresses and networks from untrusted text (referral hosts, links' hosts, bootstrap
// entries, proxy exceptions). The input is the text as UTF-8.

#include "fuzzcheck.h"
#include "net/ipaddress.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    // An address is written in a form that reads back as the same address and is written the
    // same way again.
    const IpAddress address = IpAddress::fromString(text);
    if (!address.isNull()) {
        const QString written = address.toString();
        const IpAddress again = IpAddress::fromString(written);
        FUZZ_CHECK(again == address);
        FUZZ_CHECK_EQUAL(again.toString(), written);
        FUZZ_CHECK(address.isInSubnet(address, address.isV4() ? 32 : 128));
    }

    // A network has a length its family allows and no host bits, and holds its own start.
    const auto [network, length] = IpAddress::parseSubnet(text);
    if (network.isNull()) {
        FUZZ_CHECK_EQUAL(length, -1);
    } else {
        FUZZ_CHECK(length >= 0 && length <= (network.isV4() ? 32 : 128));
        const auto [same, sameLength] =
            IpAddress::parseSubnet(QString(network.toString() + u'/' + QString::number(length)));
        FUZZ_CHECK(same == network);
        FUZZ_CHECK_EQUAL(sameLength, length);
        FUZZ_CHECK(network.isInSubnet(network, length));
    }
    return 0;
}
