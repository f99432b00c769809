#include "fixtures.h"
#include "lookup/recordlines.h"
#include "rdap/rdaprecord.h"
#include "rdap/rdaprender.h"
#include "testregistry.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(RdapObjectKind)

namespace {

QJsonObject rdapFixture(const QString &name)
{
    if (name.isEmpty())
        return {};
    return QJsonDocument::fromJson(fixture(qPrintable(u"rdap/"_s + name))).object();
}

QJsonObject jsonObject(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("test JSON: %s", qPrintable(error.errorString()));
    return document.object();
}

// A result's record lines and every fact as "key = cell", the empty ones left out.
QStringList linesOf(const LookupResult &result)
{
    return QString::fromUtf8(result.recordText).split(u"\r\n"_s, Qt::SkipEmptyParts);
}
QStringList factsOf(const LookupResult &result)
{
    QStringList facts;
    for (const FactColumn &column : factColumns()) {
        const QString cell = column.cell(result.facts);
        if (!cell.isEmpty())
            facts << QLatin1String(column.jsonKey) + u" = "_s + cell;
    }
    return facts;
}

// A jCard entity: roles, then the card's properties written as JSON arrays.
QByteArray entity(const QByteArray &roles, const QByteArray &properties,
                  const QByteArray &more = {})
{
    return R"({"objectClassName":"entity","roles":)" + roles + more +
           R"(,"vcardArray":["vcard",[["version",{},"text","4.0"])" +
           (properties.isEmpty() ? QByteArray() : "," + properties) + "]]}";
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
        // The record's text, cut into fields as it is written: as the text is cut when read.
        const RdapRecordText record = RenderRdapRecord(
            registrar.isEmpty() ? readRdap(object)
                                : readRdap(object, rdapFixture(registrar), RdapObjectKind::Domain));
        QCOMPARE(record.text, lines.join(u"\r\n"_s).toUtf8());
        QCOMPARE(record.fields.toList(),
                 RecordFieldsOf(record.text, nullptr, FieldCut::Answer).toList());
    }

    // The lines and the facts of one answer come from one reading: where they speak of the same
    // thing they say the same.
    void linesAndFacts_data()
    {
        QTest::addColumn<QByteArray>("registry");
        QTest::addColumn<QByteArray>("registrar");
        QTest::addColumn<RdapObjectKind>("asked");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("facts");
        const auto domain = RdapObjectKind::Domain;
        QTest::newRow("statuses as EPP codes")
            << R"({"objectClassName":"domain","ldhName":"example.test","status":["associated",
                "active","Client Transfer Prohibited","serverHold","PENDING DELETE"]})"_ba
            << QByteArray() << domain << QStringList{u"Domain Name: example.test"_s,
                                                     u"Domain Status: linked"_s,
                                                     u"Domain Status: ok"_s,
                                                     u"Domain Status: clientTransferProhibited"_s,
                                                     u"Domain Status: serverHold"_s,
                                                     u"Domain Status: pendingDelete"_s}
            << QStringList{u"status = registered"_s,
                           u"domain_status = linked ok clientTransferProhibited serverHold "
                           u"pendingDelete"_s};
        QTest::newRow("roles in any letter case, schemes before values")
            << R"({"objectClassName":"domain","ldhName":"example.test","entities":[)" +
                   entity(R"(["Registrar"])", R"(["fn",{},"text","Harbour Names Ltd"])",
                          R"(,"publicIds":[{"type":"IANA Registrar ID","identifier":"4711"}],
                             "entities":[)" +
                              entity(R"([" ABUSE "])",
                                     R"(["email",{},"text","mailto:abuse@harbour.test"],
                                        ["tel",{"type":"fax"},"uri","tel:+44.2070000001"],
                                        ["tel",{"type":"voice"},"uri","tel:+44.2070000000"])") +
                              "]") +
                   "]}"
            << QByteArray() << domain
            << QStringList{u"Domain Name: example.test"_s, u"Registrar: Harbour Names Ltd"_s,
                           u"Registrar IANA ID: 4711"_s,
                           u"Registrar Abuse Contact Email: abuse@harbour.test"_s,
                           u"Registrar Abuse Contact Phone: +44.2070000000"_s}
            << QStringList{u"status = registered"_s, u"registrar = Harbour Names Ltd"_s,
                           u"registrar_iana_id = 4711"_s, u"abuse_email = abuse@harbour.test"_s,
                           u"abuse_phone = +44.2070000000"_s};
        // The registrar's contact comes first; one it leaves empty (only placeholders, or only
        // values it marks as redacted) is the registry's. The registry's dates stand, the
        // registrar's fill the missing ones.
        QTest::newRow("registry and registrar joined")
            << R"({"objectClassName":"domain","ldhName":"example.test",
                "events":[{"eventAction":"expiration","eventDate":"2031-05-06T07:08:09Z"}],
                "entities":[)" +
                   entity(R"(["registrant"])", R"(["org",{},"text","Fjord Holding AS"],
                          ["adr",{"cc":"NO"},"text",["","","","Bergen","","",""]])") +
                   "," + entity(R"(["technical"])", R"(["fn",{},"text","Registry Tech"])") + "," +
                   entity(R"(["billing"])", R"(["fn",{},"text","Registry Billing Desk"])") + "]}"
            << R"({"objectClassName":"domain","ldhName":"example.test",
                "events":[{"eventAction":"registration","eventDate":"2001-02-03T04:05:06+01:00"},
                          {"eventAction":"last changed","eventDate":"2024-10-11T12:13:14Z"},
                          {"eventAction":"expiration","eventDate":"2031-05-06T07:08:09Z"}],
                "entities":[)" +
                   entity(R"(["registrant"])", R"(["fn",{},"text","REDACTED FOR PRIVACY"],
                          ["org",{},"text","Redacted for privacy"])") +
                   "," + entity(R"(["technical"])", R"(["fn",{},"text","Registrar Tech"])") + "," +
                   entity(R"(["billing"])", R"(["email",{},"text","billing@registrar.test"])") +
                   R"(],"redacted":[{"name":{"type":"Billing Email"},"method":"removal"}]})"
            << domain
            << QStringList{u"Domain Name: example.test"_s,
                           u"Updated Date: 2024-10-11T12:13:14Z"_s,
                           u"Creation Date: 2001-02-03T03:05:06Z"_s,
                           u"Registry Expiry Date: 2031-05-06T07:08:09Z"_s,
                           u"Registrant Organization: Fjord Holding AS"_s,
                           u"Registrant City: Bergen"_s,
                           u"Registrant Country: NO"_s,
                           u"Tech Name: Registrar Tech"_s,
                           u"Billing Name: Registry Billing Desk"_s}
            << QStringList{u"status = registered"_s,
                           u"created = 2001-02-03T03:05:06Z"_s,
                           u"updated = 2024-10-11T12:13:14Z"_s,
                           u"expires = 2031-05-06T07:08:09Z"_s,
                           u"registrant_organization = Fjord Holding AS"_s,
                           u"registrant_country = NO"_s};
        // Whole-value placeholders shorter than any placeholder phrase; roles in another case
        // and with white space around them still find their entity.
        QTest::newRow("short placeholders, loosely written roles")
            << R"({"objectClassName":"domain","ldhName":"example.test","entities":[)" +
                   entity(R"([" Registrant "])", R"(["fn",{},"text","REDACTED"],
                          ["org",{},"text","Data Protected"],["email",{},"text","Not Disclosed"],
                          ["adr",{},"text",["","","","privacy","","",""]],
                          ["tel",{},"text","TEL:+47.55555555"])") +
                   "," + entity(R"(["TECHNICAL"])", R"(["FN",{},"text","Tech Desk"])") + "]}"
            << QByteArray() << RdapObjectKind::Domain
            << QStringList{u"Domain Name: example.test"_s, u"Registrant Phone: +47.55555555"_s,
                           u"Tech Name: Tech Desk"_s}
            << QStringList{u"status = registered"_s};
        // 192 addresses: no single prefix holds them.
        QTest::newRow("range covered by two prefixes")
            << R"({"objectClassName":"ip network","handle":"NET-192-0-2-0-2",
                "startAddress":"192.0.2.0","endAddress":"192.0.2.191","name":"HALF-NET",
                "entities":[)" +
                   entity(R"(["registrant"])", R"(["fn",{},"text","Half Networks"])",
                          R"(,"handle":"HALF")") +
                   "]}"
            << QByteArray() << RdapObjectKind::IpNetwork
            << QStringList{u"NetRange: 192.0.2.0 - 192.0.2.191"_s,
                           u"CIDR: 192.0.2.0/25, 192.0.2.128/26"_s, u"NetName: HALF-NET"_s,
                           u"NetHandle: NET-192-0-2-0-2"_s, u"Organization: Half Networks (HALF)"_s}
            << QStringList{u"status = registered"_s,
                           u"network_range = 192.0.2.0 - 192.0.2.191"_s,
                           u"network_cidr = 192.0.2.0/25, 192.0.2.128/26"_s,
                           u"network_name = HALF-NET"_s,
                           u"network_handle = NET-192-0-2-0-2"_s,
                           u"network_organization = Half Networks"_s};
        // Older RIR answers name no object class: the kind asked for tells, even where the
        // members would not.
        QTest::newRow("no object class: an IP network asked for")
            << R"({"rdapConformance":["rdap_level_0"],"handle":"NET-198-51-100-0-1",
                "name":"OLD-NET","country":"ar",
                "cidr0_cidrs":[{"v4prefix":"198.51.100.0","length":22}],
                "events":[{"eventAction":"registration","eventDate":"20100304"}]})"_ba
            << QByteArray() << RdapObjectKind::IpNetwork
            << QStringList{u"CIDR: 198.51.100.0/22"_s, u"NetName: OLD-NET"_s,
                           u"NetHandle: NET-198-51-100-0-1"_s, u"Country: ar"_s,
                           u"RegDate: 2010-03-04T00:00:00Z"_s}
            << QStringList{u"status = registered"_s,
                           u"created = 2010-03-04T00:00:00Z"_s,
                           u"network_cidr = 198.51.100.0/22"_s,
                           u"network_name = OLD-NET"_s,
                           u"network_handle = NET-198-51-100-0-1"_s,
                           u"network_country = AR"_s};
        QTest::newRow("no object class: an AS number asked for")
            << R"({"rdapConformance":["rdap_level_0"],"handle":"AS64496","name":"OLD-AS",
                "startAutnum":64496,"endAutnum":64497})"_ba
            << QByteArray() << RdapObjectKind::Autnum
            << QStringList{u"ASNumber: 64496 - 64497"_s, u"ASName: OLD-AS"_s,
                           u"ASHandle: AS64496"_s}
            << QStringList{u"status = registered"_s, u"network_name = OLD-AS"_s,
                           u"network_handle = AS64496"_s, u"origin_as = AS64496"_s};
        // A class the answer names wins over what was asked.
        QTest::newRow("object class named")
            << R"({"objectClassName":"autnum","handle":"AS64500","startAutnum":64500})"_ba
            << QByteArray() << RdapObjectKind::IpNetwork
            << QStringList{u"ASNumber: 64500"_s, u"ASHandle: AS64500"_s}
            << QStringList{u"status = registered"_s, u"network_handle = AS64500"_s,
                           u"origin_as = AS64500"_s};
    }

    void linesAndFacts()
    {
        QFETCH(QByteArray, registry);
        QFETCH(QByteArray, registrar);
        QFETCH(RdapObjectKind, asked);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, facts);
        LookupResult result;
        setRdapRecord(result, jsonObject(registry),
                      registrar.isEmpty() ? QJsonObject() : jsonObject(registrar), asked);
        QCOMPARE(linesOf(result), lines);
        QCOMPARE(factsOf(result), facts);
    }
};

QUORVANE_REGISTER_TEST(TestRdapRender)
#include "tst_rdaprender.moc"
