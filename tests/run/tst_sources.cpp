#include "rdap/rdapbootstrap.h"
#include "results/pivot.h"
#include "run/lookuprun.h"
#include "run/resultplacing.h"
#include "run/runfeed.h"
#include "testhttpserver.h"
#include "testregistry.h"
#include "testwhoisserver.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cctype>
#include <map>

namespace {

using Reply = TestWhoisServer::Reply;

// IANA: every top-level domain is referred to "whois.nic.<tld>", except .com (Verisign's);
// addresses and AS numbers to "whois.rir.test". .zz does not exist, IANA marks .xa not assigned
// and knows no port-43 server of .xb.
Reply ianaAnswer(const QByteArray &query)
{
    if (query == "zz")
        return {"% IANA WHOIS server\n% This query returned 0 objects.\n"};
    if (query == "xa")
        return {"% IANA WHOIS server\n\ndomain:       XA\n\norganisation: Not assigned\n"};
    if (query == "xb")
        return {"% IANA WHOIS server\n\ndomain:       XB\n\norganisation: Sample Operator\n"
                "whois:\n\nstatus:       ACTIVE\n\ncreated:      1991-04-01\n"
                "changed:      2012-06-02\nsource:       IANA\n"};
    if (!query.isEmpty() && (std::isdigit(uchar(query[0])) || query.startsWith("AS")))
        return {"% IANA WHOIS server\n\nrefer:        whois.rir.test\n"};
    const QByteArray server =
        query == "com" ? QByteArray("whois.verisign-grs.com") : QByteArray("whois.nic." + query);
    return {"% IANA WHOIS server\n\ndomain:       " + query.toUpper() +
            "\nrefer:        " + server + "\n"};
}

QByteArray recordOf(const QByteArray &query)
{
    const QByteArray name = query.split(' ').last();
    return "% comment line\r\nDomain Name: " + name + "\r\nRegistry Expiry Date: 2030-01-01\r\n";
}

QStringList column(const Pivot &pivot, const QString &caption)
{
    const int c = pivot.findColumn(caption);
    QStringList out;
    for (qsizetype r = 0; r < pivot.rowCount(); ++r)
        out << (c < 0 ? QString() : pivot.cell(r, c));
    return out;
}

QList<qint64> gaps(const QList<qint64> &arrivals)
{
    QList<qint64> out;
    for (qsizetype i = 1; i < arrivals.size(); ++i)
        out << arrivals[i] - arrivals[i - 1];
    return out;
}

// A run against servers on 127.0.0.1: port-43 hosts through a connect-to map, RDAP services
// named by a bootstrap built for the test.
struct Harness
{
    QTemporaryDir cache;
    TestWhoisServer iana{ianaAnswer};
    std::map<QString, std::unique_ptr<TestWhoisServer>> whois;
    QStringList mapping;
    std::shared_ptr<RdapBootstrap> bootstrap = std::make_shared<RdapBootstrap>();
    SourceKind source = SourceKind::Whois;
    SiteTable sites = SiteTable::builtIn();
    QString delay = QStringLiteral("0");
    int parallel = 8;
    bool keepNotices = false;
    bool keepAnswers = false;
    std::unique_ptr<LookupRun> run;
    Pivot pivot;
    QList<LookupResult> results;
    QList<qsizetype> order;

    Harness()
    {
        mapping << iana.mapping(QStringLiteral("whois.iana.org"));
        pivot.reset();
    }

    TestWhoisServer &addWhois(const QString &host, TestWhoisServer::Handler handler)
    {
        auto &server = whois[host];
        server = std::make_unique<TestWhoisServer>(std::move(handler));
        mapping << server->mapping(host);
        return *server;
    }
    // Services for TLDs: each entry "tld" -> base URL.
    void rdapServices(const QList<std::pair<QString, QString>> &services)
    {
        QByteArray list;
        for (const auto &[tld, base] : services)
            list += QByteArray(list.isEmpty() ? "" : ",") +
                    QStringLiteral("[[\"%1\"],[\"%2\"]]").arg(tld, base).toUtf8();
        QString reason;
        const QByteArray json = "{\"version\":\"1.0\",\"publication\":\"2024-01-01T00:00:00Z\","
                                "\"services\":[" +
                                list + "]}";
        if (!bootstrap->load(RdapRegistry::Dns, json, &reason))
            qFatal("bootstrap: %s", qPrintable(reason));
    }
    LookupRun &make(const QStringList &addresses)
    {
        RunOptions options;
        options.source = [this] { return std::optional(source); };
        options.delayText = [this] { return delay; };
        options.parallel = parallel;
        options.keepNotices = keepNotices;
        options.sites = sites;
        options.connectTo = ConnectToMap::parse(mapping.join(u','));
        options.cacheFolder = cache.path();
        options.rdapBootstrap = bootstrap;
        options.keepAnswers = keepAnswers;
        options.whoisLimits.connectTimeoutMs = 2000;
        options.whoisLimits.answerTimeoutMs = 5000;
        run = std::make_unique<LookupRun>(addresses, std::move(options));
        feedPivot(*run, pivot);
        QObject::connect(run.get(), &LookupRun::resultReady, run.get(),
                         [this](qsizetype index, const LookupResult &result) {
                             order << index;
                             results << result;
                         });
        return *run;
    }
    bool runToEnd(const QStringList &addresses, int timeoutMs = 20000)
    {
        LookupRun &r = make(addresses);
        QSignalSpy done(&r, &LookupRun::finished);
        r.start();
        return done.count() == 1 || done.wait(timeoutMs);
    }
};

} // namespace

class SourceTests : public QObject
{
    Q_OBJECT

private slots:
    void whoisRunEndToEnd()
    {
        Harness h;
        TestWhoisServer &verisign =
            h.addWhois(QStringLiteral("whois.verisign-grs.com"), [](const QByteArray &q) {
                return Reply{recordOf(q) + "Registrar WHOIS Server: whois.registrar.test\r\n"};
            });
        h.addWhois(QStringLiteral("whois.registrar.test"), [](const QByteArray &q) {
            return Reply{recordOf(q) + "Registrant Organization: Example Holder\r\n"};
        });
        QVERIFY(h.runToEnd({QStringLiteral("example.com"), QStringLiteral("not an address!")}));
        QCOMPARE(h.results.size(), 2);
        const LookupResult &ok = h.results[0];
        QVERIFY2(ok.ok(), qPrintable(ok.error));
        QCOMPARE(ok.source, SourceKind::Whois);
        QCOMPARE(ok.servers, (QStringList{QStringLiteral("whois.iana.org"),
                                          QStringLiteral("whois.verisign-grs.com"),
                                          QStringLiteral("whois.registrar.test")}));
        QCOMPARE(ok.fields.at(0).name, QStringLiteral("Domain Name")); // comment skipped
        QCOMPARE(column(h.pivot, QStringLiteral("Registrant Organization")).first(),
                 QStringLiteral("Example Holder"));
        const LookupResult &bad = h.results[1];
        QCOMPARE(bad.reason, FailureReason::InvalidAddress);
        QVERIFY(bad.servers.isEmpty());
        QCOMPARE(h.iana.queries.size() + verisign.queries.size(), 2); // the bad one never sent
        QVERIFY(h.pivot.cell(1, 0).startsWith(Pivot::InvalidPrefix));
    }

    // A run that keeps answers hands each result the answer its record came from, as the
    // server sent it (port 43 as text with CR LF line ends); otherwise none.
    void answersKept_data()
    {
        QTest::addColumn<SourceKind>("source");
        QTest::addColumn<bool>("keep");
        QTest::newRow("whois") << SourceKind::Whois << true;
        QTest::newRow("rdap") << SourceKind::Rdap << true;
        QTest::newRow("whois, not kept") << SourceKind::Whois << false;
        QTest::newRow("rdap, not kept") << SourceKind::Rdap << false;
    }
    void answersKept()
    {
        QFETCH(SourceKind, source);
        QFETCH(bool, keep);
        const QByteArray text = "Domain Name: example.test\nRegistrar: Example\n";
        const QByteArray json = R"({"objectClassName":"domain","ldhName":"example.test",
            "status":["active"]})";
        Harness h;
        h.source = source;
        h.keepAnswers = keep;
        h.addWhois(QStringLiteral("whois.nic.test"),
                   [&](const QByteArray &) { return Reply{text}; });
        TestHttpServer rdap([&](const QByteArray &) {
            TestHttpServer::Response r;
            r.contentType = "application/rdap+json";
            r.body = json;
            return r;
        });
        h.rdapServices({{QStringLiteral("test"), rdap.baseUrl() + u'/'}});
        QVERIFY(h.runToEnd({QStringLiteral("example.test")}));
        QCOMPARE(h.results.size(), 1);
        QVERIFY2(h.results[0].ok(), qPrintable(h.results[0].error));
        const QByteArray sent =
            source == SourceKind::Rdap ? json : QByteArray(text).replace("\n", "\r\n").chopped(2);
        QCOMPARE(h.results[0].answer, keep ? sent : QByteArray());
    }

    void rdapRunEndToEnd()
    {
        Harness h;
        h.source = SourceKind::Rdap;
        TestHttpServer registrar([](const QByteArray &) {
            TestHttpServer::Response r;
            r.contentType = "application/rdap+json";
            r.body = R"({"objectClassName":"domain","ldhName":"example.test","entities":[
                {"objectClassName":"entity","roles":["registrant"],"vcardArray":["vcard",
                [["version",{},"text","4.0"],["org",{},"text","Example Holder"]]]}]})";
            return r;
        });
        TestHttpServer registry([&registrar](const QByteArray &target) {
            TestHttpServer::Response r;
            r.contentType = "application/rdap+json";
            if (target.contains("gone")) {
                r.status = 404;
                r.body = R"({"errorCode":404,"title":"Not Found"})";
                return r;
            }
            r.body = R"({"objectClassName":"domain","ldhName":"example.test",
                "events":[{"eventAction":"expiration","eventDate":"2030-01-01T00:00:00Z"}],
                "links":[{"rel":"related","type":"application/rdap+json","href":")" +
                     registrar.baseUrl().toUtf8() + R"(/domain/example.test"}]})";
            return r;
        });
        h.rdapServices({{QStringLiteral("test"), registry.baseUrl() + u'/'}});
        QVERIFY(h.runToEnd(
            {QStringLiteral("example.test"), QStringLiteral("gone.test"), QStringLiteral("a b")}));
        QCOMPARE(h.results.size(), 3);
        QVERIFY2(h.results[0].ok(), qPrintable(h.results[0].error));
        QCOMPARE(h.results[0].servers.size(), 2); // registry, then the registrar's link
        QCOMPARE(column(h.pivot, QStringLiteral("Registrant Organization")).first(),
                 QStringLiteral("Example Holder"));
        QVERIFY(!column(h.pivot, QStringLiteral("Registry Expiry Date")).first().isEmpty());
        QCOMPARE(h.results[1].status, LookupStatus::Available);
        // Facts from the objects: the registry's date, the registrar's registrant.
        QCOMPARE(h.results[0].facts.expires, QStringLiteral("2030-01-01T00:00:00Z"));
        QCOMPARE(h.results[0].facts.registrantOrganization, QStringLiteral("Example Holder"));
        QCOMPARE(h.results[0].facts.status, RecordStatus::Registered);
        QCOMPARE(h.results[1].facts.status, RecordStatus::Available);
        QCOMPARE(h.results[2].facts.status, RecordStatus::Invalid);
        QCOMPARE(h.pivot.caption(1), QStringLiteral("Status"));
        QCOMPARE(column(h.pivot, QStringLiteral("Status")),
                 (QStringList{QStringLiteral("registered"), QStringLiteral("available"),
                              QStringLiteral("invalid")}));
        QCOMPARE(h.results[2].reason, FailureReason::InvalidAddress);
        QCOMPARE(registry.targets.size(), 2);
        QCOMPARE(registrar.targets, QList<QByteArray>{"/domain/example.test"});
    }

    // Older RIR answers name no object class: the source reads each as the kind it asked for
    // (these hold no member that would tell it otherwise).
    void rdapAnswerWithoutObjectClass()
    {
        Harness h;
        h.source = SourceKind::Rdap;
        TestHttpServer rir([](const QByteArray &target) {
            TestHttpServer::Response r;
            r.contentType = "application/rdap+json";
            r.body = target.contains("/ip/")
                         ? R"({"rdapConformance":["rdap_level_0"],"handle":"NET-192-0-2-0-1",
                             "name":"OLD-NET","cidr0_cidrs":[{"v4prefix":"192.0.2.0","length":24}]})"
                         : R"({"rdapConformance":["rdap_level_0"],"handle":"AS64496",
                             "name":"OLD-AS"})";
            return r;
        });
        const QString base = rir.baseUrl() + u'/';
        const auto load = [&h](RdapRegistry registry, const QString &entry, const QString &url) {
            const QByteArray json =
                QStringLiteral(R"({"version":"1.0","publication":"2024-01-01T00:00:00Z",)"
                               R"("services":[[["%1"],["%2"]]]})")
                    .arg(entry, url)
                    .toUtf8();
            QVERIFY(h.bootstrap->load(registry, json));
        };
        load(RdapRegistry::Ipv4, QStringLiteral("192.0.2.0/24"), base);
        load(RdapRegistry::Asn, QStringLiteral("64496-64511"), base);
        QVERIFY(h.runToEnd({QStringLiteral("192.0.2.1"), QStringLiteral("AS64496")}));
        QCOMPARE(h.results.size(), 2);
        QVERIFY2(h.results[0].ok(), qPrintable(h.results[0].error));
        QCOMPARE(h.results[0].facts.networkName, QStringLiteral("OLD-NET"));
        QCOMPARE(h.results[0].facts.networkCidr, QStringLiteral("192.0.2.0/24"));
        QCOMPARE(column(h.pivot, QStringLiteral("NetName")).first(), QStringLiteral("OLD-NET"));
        QVERIFY2(h.results[1].ok(), qPrintable(h.results[1].error));
        QCOMPARE(h.results[1].facts.networkHandle, QStringLiteral("AS64496"));
        QCOMPARE(column(h.pivot, QStringLiteral("ASName")).last(), QStringLiteral("OLD-AS"));
        QCOMPARE(rir.targets, (QList<QByteArray>{"/ip/192.0.2.1", "/autnum/64496"}));
    }

    // A port-43 run's table starts with the summary columns, then the record's fields, a record
    // name equal to a summary caption moved to its own "(record)" column; a site's table holds
    // its record alone, though its result carries the facts too.
    void summaryColumns_data()
    {
        QTest::addColumn<SourceKind>("source");
        QTest::addColumn<QStringList>("firstCaptions"); // after the address column
        QTest::addColumn<QStringList>("cells");         // row 0, same columns
        const QStringList summary = summaryCaptions();
        const QString nameServers = QStringLiteral("NS1.example.test\tns2.example.test.");
        QStringList cells(summary.size());
        cells[summary.indexOf(u"Status")] = QStringLiteral("registered");
        cells[summary.indexOf(u"Registrar")] = QStringLiteral("Example Registrar");
        cells[summary.indexOf(u"Expires")] = QStringLiteral("2030-01-01T00:00:00Z");
        cells[summary.indexOf(u"Name Servers")] =
            QStringLiteral("ns1.example.test ns2.example.test");
        cells[summary.indexOf(u"Domain Status")] = QStringLiteral("active");
        QTest::newRow("whois") << SourceKind::Whois
                               << summary + QStringList{QStringLiteral("Domain Name"),
                                                        QStringLiteral("status (record)"),
                                                        QStringLiteral("Registrar (record)"),
                                                        QStringLiteral("Name Server")}
                               << cells + QStringList{QStringLiteral("example.test"),
                                                      QStringLiteral("active"),
                                                      QStringLiteral("Example Registrar"),
                                                      nameServers};
        QTest::newRow("site") << SourceKind::Site2
                              << QStringList{QStringLiteral("Domain Name"),
                                             QStringLiteral("status"), QStringLiteral("Registrar"),
                                             QStringLiteral("Name Server")}
                              << QStringList{QStringLiteral("example.test"),
                                             QStringLiteral("active"),
                                             QStringLiteral("Example Registrar"), nameServers};
    }
    // A record's fields reach the row as their UTF-8 where that is what going through text gives:
    // the rows hold each name and value to the text round trip and the renaming of a name equal
    // to a summary caption, for names in and beyond ASCII and bytes that are not UTF-8.
    void rowFieldsKeepRecordBytes_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("placedName");
        QTest::newRow("plain") << QByteArray("Domain Name") << QByteArray("example.test")
                               << QByteArray("Domain Name");
        QTest::newRow("caption in another case") << QByteArray("domain STATUS") << QByteArray("ok")
                                                 << QByteArray("domain STATUS (record)");
        QTest::newRow("caption with end spaces")
            << QByteArray("  Registrar ") << QByteArray("x") << QByteArray("Registrar (record)");
        QTest::newRow("caption longer than any key")
            << QByteArray("Registrar IANA ID and more words") << QByteArray("1")
            << QByteArray("Registrar IANA ID and more words");
        QTest::newRow("Kelvin sign lowers to k")
            << QByteArray("Networ\xE2\x84\xAA Name") << QByteArray("NET-1")
            << QByteArray("Networ\xE2\x84\xAA Name (record)");
        QTest::newRow("other letters beyond ASCII")
            << QByteArray("Titulaire \xC3\xA9") << QByteArray("caf\xC3\xA9")
            << QByteArray("Titulaire \xC3\xA9");
        QTest::newRow("byte-order mark")
            << QByteArray("\xEF\xBB\xBFName") << QByteArray("\xEF\xBB\xBFv")
            << QByteArray("\xEF\xBB\xBFName");
        QTest::newRow("Latin-1 value")
            << QByteArray("Owner") << QByteArray("Jos\xE9") << QByteArray("Owner");
        QTest::newRow("encoded surrogate")
            << QByteArray("Name") << QByteArray("\xED\xA0\x80x") << QByteArray("Name");
        QTest::newRow("cut sequence in the name")
            << QByteArray("Stat\xC3") << QByteArray("v") << QByteArray("Stat\xC3");
    }
    void rowFieldsKeepRecordBytes()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, placedName);
        LookupResult result;
        result.source = SourceKind::Whois;
        result.facts.status = RecordStatus::Registered;
        result.fields.append(name, value);
        result.fields.append("Last", "field");
        const RecordFields fields = rowFields(result);
        const qsizetype summary = summaryCaptions().size();
        QCOMPARE(fields.size(), summary + 2);
        const RecordField expected{textFromUtf8(placedName), textFromUtf8(value)};
        QCOMPARE(fields.nameUtf8(summary), expected.name.toUtf8());
        QCOMPARE(fields.valueUtf8(summary), expected.value.toUtf8());
        QCOMPARE(fields.at(summary), expected);
        QCOMPARE(fields.at(summary + 1), (RecordField{u"Last"_qs, u"field"_qs}));
    }

    void summaryColumns()
    {
        QFETCH(SourceKind, source);
        QFETCH(QStringList, firstCaptions);
        QFETCH(QStringList, cells);
        const QByteArray record = "Domain Name: example.test\r\n status : active\r\n"
                                  "Registrar: Example Registrar\r\nName Server: NS1.example.test"
                                  "\r\nName Server: ns2.example.test.\r\n"
                                  "Registry Expiry Date: 2030-01-01\r\n";
        Harness h;
        h.source = source;
        h.addWhois(QStringLiteral("whois.nic.test"),
                   [&](const QByteArray &) { return Reply{record}; });
        TestHttpServer site([&](const QByteArray &target) {
            TestHttpServer::Response r;
            r.reset = target.contains("not");
            r.body = "<html><body><div id=\"whoisRecordContainer\">" +
                     QByteArray(record).replace("\r\n", "<br>") + "</div></body></html>";
            return r;
        });
        h.sites.setPrefix(Site::Option2, site.baseUrl() + u'/');
        QVERIFY(h.runToEnd({QStringLiteral("example.test"), QStringLiteral("not an address!")}));
        QCOMPARE(h.results.size(), 2);
        QCOMPARE(h.results[0].facts.status, RecordStatus::Registered);
        QCOMPARE(h.results[0].facts.expires, QStringLiteral("2030-01-01T00:00:00Z"));
        const QStringList captions = h.pivot.captions().mid(1, firstCaptions.size());
        QCOMPARE(captions, firstCaptions);
        QStringList row;
        for (int c = 1; c <= cells.size(); ++c)
            row << h.pivot.cell(0, c);
        QCOMPARE(row, cells);
        QVERIFY(h.pivot.cell(1, 0).startsWith(Pivot::InvalidPrefix));
        if (source == SourceKind::Whois) {
            // The failed row says why, right beside its status.
            QCOMPARE(h.pivot.cell(1, 1), QStringLiteral("invalid"));
            QCOMPARE(h.pivot.caption(2), ErrorCaption);
            QCOMPARE(h.pivot.cell(1, 2), h.results[1].error);
            QVERIFY(!h.results[1].error.isEmpty());
        }
        QCOMPARE(h.pivot.columnCount(), 1 + firstCaptions.size() + 1); // + Registry Expiry Date
    }

    // Only the summary captions are taken from the record's names.
    void recordCaptions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::newRow("summary caption") << "Expires"
                                         << "Expires (record)";
        QTest::newRow("changed caption") << "changed"
                                         << "changed (record)";
        QTest::newRow("other case, end spaces") << " cidr "
                                                << "cidr (record)";
        QTest::newRow("several words") << "REGISTRAR IANA ID"
                                       << "REGISTRAR IANA ID (record)";
        QTest::newRow("longer name") << "Registrar WHOIS Server"
                                     << "Registrar WHOIS Server";
        QTest::newRow("inner spaces differ") << "Name  Servers"
                                             << "Name  Servers";
        QTest::newRow("record's own name") << "Status (record)"
                                           << "Status (record)";
    }
    void recordCaptions()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QCOMPARE(recordCaption(name), caption);
    }

    // Throttling end to end, against the real clock: the refused address is asked again after
    // the wait and its record comes. The scheduler's rules (back-off, cap, recovery, giving up)
    // and each source's reading of a refusal are unit-tested on a clock moved by hand (tst_lookup,
    // tst_whois, tst_rdap); one case per source is kept here.
    void throttling_data()
    {
        QTest::addColumn<SourceKind>("source");
        QTest::newRow("429, Retry-After 1") << SourceKind::Rdap;
        QTest::newRow("rate-limit phrasing") << SourceKind::Whois;
    }
    void throttling()
    {
        QFETCH(SourceKind, source);
        Harness h;
        h.source = source;
        int refused = 0;
        TestHttpServer rdap([&](const QByteArray &) {
            TestHttpServer::Response r;
            r.contentType = "application/rdap+json";
            if (refused++ < 1) {
                r.status = 429;
                r.headers << "Retry-After: 1";
                return r;
            }
            r.body = R"({"objectClassName":"domain","ldhName":"example.test"})";
            return r;
        });
        TestWhoisServer &nic =
            h.addWhois(QStringLiteral("whois.nic.test"), [&](const QByteArray &q) {
                if (refused++ < 1)
                    return Reply{"% Query rate limit exceeded, try again later\r\n"};
                return Reply{recordOf(q)};
            });
        h.rdapServices({{QStringLiteral("test"), rdap.baseUrl() + u'/'}});
        QVERIFY(h.runToEnd({QStringLiteral("example.test")}));
        const QList<qint64> arrivals = source == SourceKind::Rdap ? rdap.arrivals : nic.arrivals;
        const LookupResult &result = h.results.value(0);
        QVERIFY2(result.ok(), qPrintable(result.error));
        QCOMPARE(result.fields.at(0).name, QStringLiteral("Domain Name"));
        QCOMPARE(arrivals.size(), 2);
        for (qint64 gap : gaps(arrivals))
            QVERIFY2(gap >= 950, qPrintable(QString::number(gap)));
    }

    // No registry holds the thing asked: a top-level domain that does not exist is invalid, one
    // without a port-43 server a failure, and neither shows IANA's record of the top-level
    // domain as the domain's. A "no match" for an address or AS number is never a free name.
    void registriesHoldNoSuchThing_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("no such top-level domain") << "example.zz"
                                                  << "invalid"
                                                  << "not assigned: no such top-level domain: .zz";
        QTest::newRow("top-level domain not assigned")
            << "example.xa"
            << "invalid"
            << "not assigned: no such top-level domain: .xa";
        QTest::newRow("no port-43 server")
            << "example.xb"
            << "failed"
            << "no server for the address: no port-43 server for .xb";
        QTest::newRow("address without a record")
            << "192.0.2.77"
            << "invalid"
            << "not assigned: whois.rir.test has no record of 192.0.2.77";
        QTest::newRow("AS number without a record")
            << "AS64511"
            << "invalid"
            << "not assigned: whois.rir.test has no record of AS64511";
        QTest::newRow("a free domain stays free") << "free.test"
                                                  << "available"
                                                  << "";
    }
    void registriesHoldNoSuchThing()
    {
        QFETCH(QString, address);
        QFETCH(QString, status);
        QFETCH(QString, error);
        Harness h;
        h.addWhois(QStringLiteral("whois.rir.test"), [](const QByteArray &) {
            return Reply{"% This is a sample RIR query service.\n\n"
                         "%ERROR:101: no entries found\n%\n% No entries found in source SAMPLE.\n"};
        });
        h.addWhois(QStringLiteral("whois.nic.test"), [](const QByteArray &q) {
            return Reply{"No match for \"" + q.toUpper() + "\".\r\n"};
        });
        QVERIFY(h.runToEnd({address}));
        const LookupResult &result = h.results.value(0);
        QCOMPARE(recordStatusName(result.facts.status), status);
        QCOMPARE(result.error, error);
        QVERIFY(result.facts.created.isEmpty()); // never the top-level domain's date
        QCOMPARE(column(h.pivot, QStringLiteral("Status")).value(0), status);
    }

    // A port-43 run leaves the notice lines of its records out of the fields and the table,
    // unless the run keeps them; the record text holds them either way. A site's record keeps
    // every field as it always did.
    void noticesOutOfTheColumns_data()
    {
        QTest::addColumn<SourceKind>("source");
        QTest::addColumn<bool>("keep");
        QTest::newRow("whois, left out") << SourceKind::Whois << false;
        QTest::newRow("whois, kept") << SourceKind::Whois << true;
        QTest::newRow("site, as it was") << SourceKind::Site2 << false;
    }
    void noticesOutOfTheColumns()
    {
        QFETCH(SourceKind, source);
        QFETCH(bool, keep);
        const QByteArray notices =
            ">>> Last update of whois database: 2014-01-02T03:04:05Z <<<\r\n\r\n"
            "TERMS OF USE: You are not authorized to access or query our database\r\n"
            "through the use of high-volume, automated, electronic processes; by\r\n"
            "submitting a query you agree to these terms: you will use it lawfully.\r\n"
            "\r\nVisit the registry at https://registry.example\r\n";
        Harness h;
        h.source = source;
        h.keepNotices = keep;
        h.addWhois(QStringLiteral("whois.nic.test"),
                   [&](const QByteArray &q) { return Reply{recordOf(q) + notices}; });
        TestHttpServer site([&](const QByteArray &) {
            TestHttpServer::Response r;
            r.body = "<html><body><div id=\"whoisRecordContainer\">" +
                     QByteArray(recordOf("sample.test") + notices).replace("\r\n", "<br>") +
                     "</div></body></html>";
            return r;
        });
        h.sites.setPrefix(Site::Option2, site.baseUrl() + u'/');
        QVERIFY(h.runToEnd({QStringLiteral("sample.test")}));
        const LookupResult &result = h.results.value(0);
        QStringList names;
        for (const RecordField &field : result.fields.toList())
            names << field.name;
        QStringList expected{QStringLiteral("Domain Name"), QStringLiteral("Registry Expiry Date")};
        const QStringList noticeNames{QStringLiteral(">>> Last update of whois database"),
                                      QStringLiteral("TERMS OF USE"),
                                      QStringLiteral("submitting a query you agree to these terms"),
                                      QStringLiteral("Visit the registry at https")};
        const bool kept = keep || source != SourceKind::Whois;
        if (kept)
            expected += noticeNames;
        QCOMPARE(names, expected);
        for (const QString &notice : noticeNames)
            QCOMPARE(h.pivot.findColumn(notice) >= 0, kept);
        if (source == SourceKind::Whois)
            QVERIFY(result.recordText.contains("TERMS OF USE"));
    }

    // The delay holds per server, measured where the queries arrive; two servers are asked
    // side by side.
    void delayPerServer()
    {
        Harness h;
        h.delay = QStringLiteral("1");
        TestWhoisServer &a = h.addWhois(QStringLiteral("whois.nic.aa"),
                                        [](const QByteArray &q) { return Reply{recordOf(q)}; });
        TestWhoisServer &b = h.addWhois(QStringLiteral("whois.nic.bb"),
                                        [](const QByteArray &q) { return Reply{recordOf(q)}; });
        QVERIFY(
            h.runToEnd({QStringLiteral("1.aa"), QStringLiteral("2.aa"), QStringLiteral("3.aa"),
                        QStringLiteral("1.bb"), QStringLiteral("2.bb"), QStringLiteral("3.bb")}));
        QCOMPARE(a.arrivals.size(), 3);
        QCOMPARE(b.arrivals.size(), 3);
        // The scheduler and the server each read their clock in whole milliseconds, so a gap
        // of exactly the delay may show as 999 ms.
        for (qint64 gap : gaps(a.arrivals) + gaps(b.arrivals))
            QVERIFY2(gap >= 999, qPrintable(QString::number(gap)));
        // Side by side: b's first query does not wait for a's three (IANA, one server, is
        // asked for .aa and .bb a second apart).
        QVERIFY(b.arrivals.first() < a.arrivals.last());
        QCOMPARE(h.order, (QList<qsizetype>{0, 1, 2, 3, 4, 5}));
    }

    void deadServerFailsItsNamesFast()
    {
        Harness h;
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            closedPort = probe.serverPort();
        }
        h.mapping << QStringLiteral("whois.nic.dead:43:127.0.0.1:%1").arg(closedPort);
        QStringList names;
        for (int i = 0; i < 8; ++i)
            names << QStringLiteral("n%1.dead").arg(i);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(h.runToEnd(names, 10000));
        QCOMPARE(h.order.size(), 8);
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(h.results.size(), 8);
        int down = 0;
        for (const LookupResult &r : std::as_const(h.results)) {
            QVERIFY(!r.ok());
            down += r.reason == FailureReason::ServerDown;
        }
        QCOMPARE(down, 5); // three refused connections, then the server is down
    }

    void rowsInListOrderWhenAnswersArriveOutOfOrder()
    {
        Harness h;
        TestWhoisServer &slow =
            h.addWhois(QStringLiteral("whois.nic.slow"), [](const QByteArray &q) {
                Reply r{recordOf(q)};
                r.delayMs = 500;
                return r;
            });
        TestWhoisServer &fast = h.addWhois(QStringLiteral("whois.nic.fast"),
                                           [](const QByteArray &q) { return Reply{recordOf(q)}; });
        LookupRun &run =
            h.make({QStringLiteral("a.slow"), QStringLiteral("b.fast"), QStringLiteral("c.fast")});
        QList<qsizetype> started;
        QObject::connect(&run, &LookupRun::lookupStarted, &run,
                         [&](qsizetype i, const QString &) { started << i; });
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        QVERIFY(done.wait(10000));
        QCOMPARE(fast.queries.size(), 2);
        QCOMPARE(slow.queries.size(), 1);
        QVERIFY(fast.arrivals.last() < slow.arrivals.first() + 500); // answered early
        QCOMPARE(started, (QList<qsizetype>{0, 1, 2}));
        QCOMPARE(h.order, (QList<qsizetype>{0, 1, 2}));
        QCOMPARE(column(h.pivot, QStringLiteral("Domain Name")),
                 (QStringList{QStringLiteral("a.slow"), QStringLiteral("b.fast"),
                              QStringLiteral("c.fast")}));
    }

    void stopDuringParallelLookups()
    {
        Harness h;
        auto hang = [](const QByteArray &) {
            Reply r;
            r.hang = true;
            return r;
        };
        TestWhoisServer &x = h.addWhois(QStringLiteral("whois.nic.xx"), hang);
        TestWhoisServer &y = h.addWhois(QStringLiteral("whois.nic.yy"), hang);
        LookupRun &run =
            h.make({QStringLiteral("a.xx"), QStringLiteral("b.yy"), QStringLiteral("c.xx")});
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        QTRY_VERIFY(x.queries.size() == 1 && y.queries.size() == 1);
        QVERIFY(run.isFetching());
        QElapsedTimer clock;
        clock.start();
        run.requestStop();
        QVERIFY(done.wait(2000));
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(h.results.isEmpty());
        QCOMPARE(h.pivot.rowCount(), 2); // the two started, not the waiting one
        QTest::qWait(100);
        QCOMPARE(x.queries.size(), 1); // the waiting address was never sent
    }
};

QUORVANE_REGISTER_TEST(SourceTests)
#include "tst_sources.moc"
