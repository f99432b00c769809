#include "fixtures.h"
#include "rdap/rdaprender.h"
#include "testregistry.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QJsonObject rdapFixture(const QString &name)
{
    if (name.isEmpty())
        return {};
    return QJsonDocument::fromJson(fixture(qPrintable(u"rdap/"_s + name))).object();
}

} // namespace

class TestRdapRender : public QObject
{
    Q_OBJECT

private slots:
    void render_data()
    {
        QTest::addColumn<QString>("registry");
        QTest::addColumn<QString>("registrar");
        QTest::addColumn<QStringList>("lines");
        const QStringList thinHead = {
            u"Domain Name: HALLOWAY-FERRIES.COM"_s,
            u"Registry Domain ID: 2871533402_DOMAIN_COM-VRSN"_s,
        };
        const QStringList thinDates = {
            u"Registrar URL: http://www.registrar.test"_s,
            u"Updated Date: 2026-06-29T15:02:57Z"_s,
            u"Creation Date: 2003-07-14T16:21:09Z"_s,
            u"Registry Expiry Date: 2027-07-14T16:21:09Z"_s,
        };
        const QStringList thinRegistrar = {
            u"Registrar: Tidewater Names, LLC"_s,
            u"Registrar IANA ID: 1555"_s,
            u"Registrar Abuse Contact Email: abuse@registrar.test"_s,
            u"Registrar Abuse Contact Phone: +1.4805550100"_s,
            u"Domain Status: clientDeleteProhibited"_s,
            u"Domain Status: clientTransferProhibited"_s,
            u"Domain Status: serverUpdateProhibited"_s,
        };
        const QStringList thinTail = {
            u"Name Server: NS1.HALLOWAY-FERRIES.COM"_s,
            u"Name Server: NS2.DNSHOST.TEST"_s,
            u"DNSSEC: unsigned"_s,
        };
        QTest::newRow("thin registry alone") << u"domain_thin_registry.json"_s << QString()
                                             << thinHead + thinDates + thinRegistrar + thinTail;
        // The registry's dates, statuses and name servers stand; the registrar adds its
        // server, its own expiry and the contacts, less what it marks or words as redacted.
        QTest::newRow("thin registry and its registrar")
            << u"domain_thin_registry.json"_s << u"domain_registrar.json"_s
            << thinHead + QStringList{u"Registrar WHOIS Server: whois.registrar.test"_s} +
                   thinDates +
                   QStringList{u"Registrar Registration Expiration Date: 2027-07-13T23:59:59Z"_s} +
                   thinRegistrar +
                   QStringList{u"Registrant Organization: Halloway Ferry Company"_s,
                               u"Registrant State/Province: Otago"_s, u"Registrant Country: NZ"_s} +
                   thinTail;
        QTest::newRow("thick registry, IDN, nested contacts")
            << u"domain_thick_idn.json"_s << QString()
            << QStringList{
                   u"Domain Name: xn--sdertlje-77a.example"_s,
                   u"Internationalized Domain Name: södertälje.example"_s,
                   u"Registry Domain ID: D1234-EX"_s,
                   u"Updated Date: 2025-11-20T08:30:15Z"_s,
                   u"Creation Date: 2019-03-01T11:00:00Z"_s,
                   u"Registrar: Nordvik Registrar AB"_s,
                   u"Domain Status: ok"_s,
                   u"Registrant Name: Elin Sjöberg"_s,
                   u"Registrant Organization: Södertälje Båtklubb, Styrelsen"_s,
                   u"Registrant Street: Hamngatan 4, Box 17"_s,
                   u"Registrant City: Södertälje"_s,
                   u"Registrant Postal Code: 151 73"_s,
                   u"Registrant Country: Sweden"_s,
                   u"Registrant Phone: +46-8-555-0142;ext=12"_s,
                   u"Registrant Fax: +46-8-555-0143"_s,
                   u"Registrant Email: elin@sodertalje.example"_s,
                   u"Admin Name: Hostmaster"_s,
                   u"Admin City: Stockholm"_s,
                   u"Admin Country: SE"_s,
                   u"Admin Email: hostmaster@nordvik.example"_s,
                   u"Tech Name: Hostmaster"_s,
                   u"Tech City: Stockholm"_s,
                   u"Tech Country: SE"_s,
                   u"Tech Email: hostmaster@nordvik.example"_s,
                   u"Name Server: ns.sodertalje.example"_s,
                   u"DNSSEC: signedDelegation"_s,
               };
        QTest::newRow("IPv4 network, ARIN layout")
            << u"ip_v4_arin.json"_s << QString()
            << QStringList{
                   u"NetRange: 198.51.100.0 - 198.51.101.255"_s,
                   u"CIDR: 198.51.100.0/23"_s,
                   u"NetName: KESTREL-NET"_s,
                   u"NetHandle: NET-198-51-100-0-1"_s,
                   u"Parent: NET-198-0-0-0-0"_s,
                   u"NetType: DIRECT ALLOCATION"_s,
                   u"Organization: Kestrel Data Systems (KSTR)"_s,
                   u"RegDate: 2011-09-06T13:12:44Z"_s,
                   u"Updated: 2024-02-10T22:22:08Z"_s,
                   u"Abuse Email: abuse@kestrel.test"_s,
                   u"Abuse Phone: +1-206-555-0199"_s,
               };
        // No prefix list in the answer: the range is cut into the prefixes that cover it.
        QTest::newRow("IPv6 network, RIPE layout")
            << u"ip_v6_ripe.json"_s << QString()
            << QStringList{
                   u"NetRange: 2001:db8:: - 2001:db8:2:ffff:ffff:ffff:ffff:ffff"_s,
                   u"CIDR: 2001:db8::/47, 2001:db8:2::/48"_s,
                   u"NetName: DE-LINDENHOF-2026"_s,
                   u"NetHandle: 2001:db8::/47"_s,
                   u"Parent: 2001:db8::/32"_s,
                   u"NetType: ASSIGNED PA"_s,
                   u"Country: DE"_s,
                   u"Organization: Lindenhof Netze GmbH (ORG-LH1-RIPE)"_s,
                   u"RegDate: 2026-03-04T10:00:00Z"_s,
                   u"Abuse Email: abuse@lindenhof.test"_s,
               };
        QTest::newRow("AS number") << u"autnum.json"_s << QString()
                                   << QStringList{
                                          u"ASNumber: 64500"_s,
                                          u"ASName: MERIDIAN-TRANSIT"_s,
                                          u"ASHandle: AS64500"_s,
                                          u"ASType: DIRECT ALLOCATION"_s,
                                          u"Country: BR"_s,
                                          u"Organization: Meridian Transit Ltda (BR-MTRA-LACNIC)"_s,
                                          u"RegDate: 2008-05-21T00:00:00Z"_s,
                                          u"Updated: 2025-10-01T15:00:00Z"_s,
                                          u"Abuse Email: noc@meridian.test"_s,
                                      };
    }

    void render()
    {
        QFETCH(QString, registry);
        QFETCH(QString, registrar);
        QFETCH(QStringList, lines);
        const QJsonObject object = rdapFixture(registry);
        const QStringList rendered = registrar.isEmpty()
                                         ? RenderRdap(object)
                                         : RenderRdapDomain(object, rdapFixture(registrar));
        QCOMPARE(rendered, lines);
    }
};

QUORVANE_REGISTER_TEST(TestRdapRender)
#include "tst_rdaprender.moc"
