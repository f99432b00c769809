#include "facts/normaliser.h"
#include "facts/notices.h"
#include "facts/whoisdate.h"
#include "testregistry.h"
#include "text/asciicase.h"
#include "text/findchar.h"
#include "text/textcache.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTest>

namespace {

// Fewer than `longest` characters drawn from `alphabet`.
QString randomText(QRandomGenerator &random, const QString &alphabet, int longest)
{
    QString text;
    for (int n = int(random.bounded(longest)); n > 0; --n)
        text += alphabet.at(int(random.bounded(alphabet.size())));
    return text;
}

QString fixturePath(const QString &name)
{
    return QStringLiteral(QUORVANE_FACTS_FIXTURES "/") + name;
}

QByteArray readFixture(const QString &name)
{
    QFile file(fixturePath(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return file.readAll();
}

// "key = value" lines of a .expected file; every fact not named there must be empty.
QMap<QString, QString> expectations(const QString &name)
{
    QMap<QString, QString> expected;
    const QStringList lines = QString::fromUtf8(readFixture(name)).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const qsizetype eq = line.indexOf(QLatin1String(" = "));
        if (eq > 0)
            expected.insert(line.left(eq).trimmed(), line.mid(eq + 3).trimmed());
    }
    return expected;
}

void compareFacts(const RecordFacts &facts, const QMap<QString, QString> &expected)
{
    for (const FactColumn &column : factColumns()) {
        const QString key = QLatin1String(column.jsonKey);
        const QString cell = column.cell(facts);
        if (cell != expected.value(key))
            QFAIL(qPrintable(key + QLatin1String(": got \"") + cell +
                             QLatin1String("\", expected \"") + expected.value(key) +
                             QLatin1Char('"')));
    }
}

} // namespace

class FactsTests : public QObject
{
    Q_OBJECT

private slots:
    // Every record under fixtures/ against its .expected facts.
    void recordFacts_data()
    {
        QTest::addColumn<QString>("name");
        const QStringList records =
            QDir(QStringLiteral(QUORVANE_FACTS_FIXTURES)).entryList({QStringLiteral("*.txt")});
        QVERIFY(records.size() >= 40);
        for (const QString &record : records)
            QTest::newRow(qPrintable(record)) << record.chopped(4);
    }
    void recordFacts()
    {
        QFETCH(QString, name);
        const QString text = QString::fromUtf8(readFixture(name + QLatin1String(".txt")));
        compareFacts(factsFromText(text), expectations(name + QLatin1String(".expected")));
        // Line ends do not matter.
        QString crlf = text;
        crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        compareFacts(factsFromText(crlf), expectations(name + QLatin1String(".expected")));
    }

    void rdapFacts_data()
    {
        QTest::addColumn<QString>("registry");
        QTest::addColumn<QString>("registrar");
        QTest::addColumn<QString>("expected");
        QTest::newRow("domain") << "rdap_domain.json"
                                << ""
                                << "rdap_domain.expected";
        QTest::newRow("domain with registrar") << "rdap_thin.json"
                                               << "rdap_registrar.json"
                                               << "rdap_thin.expected";
        QTest::newRow("ip network") << "rdap_ip.json"
                                    << ""
                                    << "rdap_ip.expected";
        QTest::newRow("not found") << "rdap_404.json"
                                   << ""
                                   << "rdap_404.expected";
    }
    void rdapFacts()
    {
        QFETCH(QString, registry);
        QFETCH(QString, registrar);
        QFETCH(QString, expected);
        const QJsonObject first = QJsonDocument::fromJson(readFixture(registry)).object();
        const QJsonObject second = registrar.isEmpty()
                                       ? QJsonObject()
                                       : QJsonDocument::fromJson(readFixture(registrar)).object();
        QVERIFY(!first.isEmpty());
        compareFacts(factsFromRdap(first, second), expectations(expected));
    }

    void dates_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("utc");
        const QString jan2 = QStringLiteral("2020-01-02T00:00:00Z");
        const QString jan2t = QStringLiteral("2020-01-02T03:04:05Z");
        QTest::newRow("iso z") << "2020-01-02T03:04:05Z" << jan2t;
        QTest::newRow("iso fraction") << "2020-01-02T03:04:05.123Z" << jan2t;
        // The written form itself, at the edges of what it may hold, and past them.
        QTest::newRow("iso z, last second of a leap year") << "2020-12-31T23:59:59Z"
                                                           << "2020-12-31T23:59:59Z";
        QTest::newRow("iso z, hour 24") << "2020-01-01T24:04:05Z"
                                        << "2020-01-02T00:04:05Z";
        QTest::newRow("iso z, no 30 February") << "2020-02-30T03:04:05Z"
                                               << "";
        QTest::newRow("iso z, leap second") << "2016-12-31T23:59:60Z"
                                            << "2017-01-01T00:00:00Z";
        QTest::newRow("iso z, year 999") << "0999-01-02T03:04:05Z"
                                         << "";
        QTest::newRow("iso z, lower case") << "2020-01-02t03:04:05z" << jan2t;
        QTest::newRow("iso offset") << "2020-01-02T05:04:05+02:00" << jan2t;
        QTest::newRow("iso offset no colon") << "2020-01-01T22:04:05-0500" << jan2t;
        QTest::newRow("space offset") << "2020-01-02 06:04:05 +0300" << jan2t;
        QTest::newRow("chile summer") << "2020-01-02 00:04:05 CLST" << jan2t;
        QTest::newRow("japan") << "2020/01/02 12:04:05 (JST)" << jan2t;
        QTest::newRow("gmt offset") << "2020-01-02 11:04:05 (GMT+8:00)" << jan2t;
        QTest::newRow("unix") << "Thu Jan 2 03:04:05 GMT 2020" << jan2t;
        QTest::newRow("compact time") << "20200102030405" << jan2t;
        QTest::newRow("date only") << "2020-01-02" << jan2;
        QTest::newRow("day month name") << "02-Jan-2020" << jan2;
        QTest::newRow("slashes") << "2020/01/02" << jan2;
        QTest::newRow("compact") << "20200102" << jan2;
        QTest::newRow("compact with note") << "20200102 #123456" << jan2;
        QTest::newRow("month name first") << "January 2 2020" << jan2;
        QTest::newRow("month name comma") << "Jan 2, 2020" << jan2;
        QTest::newRow("day first dots") << "02.01.2020" << jan2;
        QTest::newRow("day first, cannot be month") << "13/01/2020"
                                                    << "2020-01-13T00:00:00Z";
        QTest::newRow("month first when day > 12") << "01/13/2020"
                                                   << "2020-01-13T00:00:00Z";
        QTest::newRow("korean dots") << "2020. 01. 02." << jan2;
        QTest::newRow("weekday") << "Thu Jan 02 2020" << jan2;
        QTest::newRow("format note") << "2020-01-02 (YYYY-MM-DD)" << jan2;
        QTest::newRow("before") << "before Aug-1996"
                                << "1996-08-01T00:00:00Z";
        QTest::newRow("pm") << "2020-01-02 3:04:05 PM"
                            << "2020-01-02T15:04:05Z";
        QTest::newRow("across new year") << "2020-01-01T01:00:00+02:00"
                                         << "2019-12-31T23:00:00Z";
        QTest::newRow("leap day") << "2020-02-29"
                                  << "2020-02-29T00:00:00Z";
        QTest::newRow("no leap day") << "2019-02-29"
                                     << "";
        QTest::newRow("words") << "Registered until expiry date."
                               << "";
        QTest::newRow("lone number") << "12"
                                     << "";
        QTest::newRow("month out of range") << "2020-13-01"
                                            << "";
        QTest::newRow("offset after the time") << "2000-08-29 10:22:50 (UTC+8)"
                                               << "2000-08-29T02:22:50Z";
        QTest::newRow("compact date, then the time") << "20230303 09:38:55"
                                                     << "2023-03-03T09:38:55Z";
        QTest::newRow("ordinal day") << "30th April 2003 at 00:00:00.000"
                                     << "2003-04-30T00:00:00Z";
        // Two-digit years: 70 and later are the 1900s, the rest the 2000s.
        QTest::newRow("two-digit year 70") << "01-Jan-70"
                                           << "1970-01-01T00:00:00Z";
        QTest::newRow("two-digit year 69") << "31-Dec-69"
                                           << "2069-12-31T00:00:00Z";
        // Every 400 years a century year is a leap year after all.
        QTest::newRow("leap day of 2000") << "2000-02-29"
                                          << "2000-02-29T00:00:00Z";
        QTest::newRow("no leap day in 1900") << "1900-02-29"
                                             << "";
        // Noon and midnight on the twelve-hour clock.
        QTest::newRow("12 pm is noon") << "2020-01-02 12:04:05 PM"
                                       << "2020-01-02T12:04:05Z";
        QTest::newRow("12 am is midnight") << "2020-01-02 12:04:05 AM"
                                           << "2020-01-02T00:04:05Z";
    }
    void dates()
    {
        QFETCH(QString, value);
        QFETCH(QString, utc);
        QCOMPARE(utcDateFromText(value), utc);
    }

    // A day and month that could each be the other are read in the order asked for; numbers
    // that show the order win over it.
    void dayMonthOrder_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("order");
        QTest::addColumn<QString>("utc");
        QTest::addColumn<int>("shown"); // -1: none shown
        const int unknown = int(DayMonthOrder::Unknown);
        const int dayFirst = int(DayMonthOrder::DayFirst);
        const int monthFirst = int(DayMonthOrder::MonthFirst);
        QTest::newRow("either, day first")
            << "03/02/2014" << unknown << "2014-02-03T00:00:00Z" << unknown;
        QTest::newRow("either, month first")
            << "03/02/2014" << monthFirst << "2014-03-02T00:00:00Z" << unknown;
        QTest::newRow("either, day first asked")
            << "03/02/2014" << dayFirst << "2014-02-03T00:00:00Z" << unknown;
        QTest::newRow("month cannot be first")
            << "18/12/2009 10:00" << monthFirst << "2009-12-18T10:00:00Z" << dayFirst;
        QTest::newRow("day cannot be first")
            << "12/18/2009" << dayFirst << "2009-12-18T00:00:00Z" << monthFirst;
        QTest::newRow("same numbers") << "05.05.2012" << monthFirst << "2012-05-05T00:00:00Z" << -1;
        QTest::newRow("year first") << "2012-05-06" << monthFirst << "2012-05-06T00:00:00Z" << -1;
        QTest::newRow("two-digit year")
            << "06-05-12" << monthFirst << "2012-06-05T00:00:00Z" << unknown;
    }
    void dayMonthOrder()
    {
        QFETCH(QString, value);
        QFETCH(int, order);
        QFETCH(QString, utc);
        QFETCH(int, shown);
        QCOMPARE(utcDateFromText(value, DayMonthOrder(order)), utc);
        const std::optional<DayMonthOrder> seen = dayMonthOrderShown(value);
        QCOMPARE(seen ? int(*seen) : -1, shown);
    }

    // Refusals must never read as free names, even when they also say "not found".
    void answers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("throttle");
        QTest::addColumn<bool>("noMatch");
        QTest::newRow("pir") << "WHOIS LIMIT EXCEEDED - SEE WWW.PIR.ORG/WHOIS FOR DETAILS\n"
                             << true << false;
        QTest::newRow("ripe") << "%ERROR:201: access denied for 192.0.2.1\n%\n" << true << false;
        QTest::newRow("with not found")
            << "Query rate limit exceeded. Domain not found until you wait.\n"
            << true << false;
        QTest::newRow("lacnic") << "% Query rate limit exceeded, please wait 5 minutes\n"
                                << true << false;
        QTest::newRow("denic") << "% Error: 55000000002 Connection refused; access control "
                                  "limit reached.\n"
                               << true << false;
        QTest::newRow("allowed queries") << "Number of allowed queries exceeded.\n"
                                         << true << false;
        QTest::newRow("capitals") << "% Error: 55000000002 ACCESS CONTROL LIMIT REACHED\n"
                                  << true << false;
        QTest::newRow("verisign") << "No match for \"EXAMPLE-FREE.COM\".\n>>> Last update of "
                                     "whois database: 2024-01-02T03:04:05Z <<<\n"
                                  << false << true;
        QTest::newRow("not found") << "NOT FOUND\n" << false << true;
        QTest::newRow("no data") << "No Data Found\n" << false << true;
        QTest::newRow("free") << "Domain: example.de\nStatus: free\n" << false << true;
        QTest::newRow("no entries") << "%ERROR:101: no entries found\n" << false << true;
        QTest::newRow("available") << "Domain example.tm is available for registration\n"
                                   << false << true;
        QTest::newRow("record mentioning rate limits")
            << "Domain Name: EXAMPLE.COM\nRegistrar: Example Registrar, Inc.\nCreation Date: "
               "2000-01-01\nExcessive querying is not permitted.\n"
            << false << false;
        QTest::newRow("empty") << "" << false << false;
    }
    void answers()
    {
        QFETCH(QString, text);
        QFETCH(bool, throttle);
        QFETCH(bool, noMatch);
        QCOMPARE(isThrottleAnswer(text), throttle);
        QCOMPARE(isNoMatchAnswer(text), noMatch);
    }

    // Answers without a record: their own message decides, not the terms of use around it.
    void messageOverNotice_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("status");
        const QString terms = QStringLiteral(
            "TERMS OF USE: the data below is provided for information only. You agree not to\n"
            "use high volume, automated queries against this service; excessive querying or\n"
            "any query rate above the published limit may see your address blocked.\n");
        const QString percentTerms = QStringLiteral(
            "% The WHOIS service of this registry is provided for information purposes only.\n"
            "% It is strictly forbidden to use it in a way that could jeopardise its stability,\n"
            "% for instance by excessive queries or by too many queries per second.\n"
            "%\n");
        QTest::newRow("not found before terms")
            << QString(QStringLiteral("Domain not found.\n\n") + terms) << "available";
        QTest::newRow("not found after terms")
            << QString(terms + QStringLiteral("\nNo Data Found\n")) << "available";
        QTest::newRow("status available under a header")
            << QString(percentTerms + QStringLiteral("\nDomain: example.eu\n\nStatus: AVAILABLE\n"))
            << "available";
        QTest::newRow("refusal after a header")
            << QString(percentTerms + QStringLiteral("\n%ERROR:201: access denied for 192.0.2.7\n"))
            << "throttled";
        QTest::newRow("refusal that also says not found")
            << "Query rate limit exceeded. Domain not found until you wait.\n"
            << "throttled";
        QTest::newRow("refusal only in notice-like text") << QString(terms) << "throttled";
        QTest::newRow("available alone") << "Available\n"
                                         << "available";
        QTest::newRow("available after the name") << "Domain example.io - Available\n"
                                                  << "available";
        QTest::newRow("not available is no free name") << "Not available\n"
                                                       << "";
        QTest::newRow("restricted") << "Name is restricted from registration.\n"
                                    << "reserved";
        QTest::newRow("not known in the registry")
            << "Invalid query or domain name not known in Sample Domain Registry\n"
            << "available";
        QTest::newRow("prohibitions in terms make nothing reserved")
            << QString(QStringLiteral("% It is prohibited to:\n% - send high volume queries to "
                                      "download the register;\n% - publish the data of this "
                                      "service in bulk or keep historical copies;\n% - use the "
                                      "data for mass unsolicited commercial advertising.\n"))
            << "";
    }
    void messageOverNotice()
    {
        QFETCH(QString, text);
        QFETCH(QString, status);
        QCOMPARE(recordStatusName(factsFromText(text).status), status);
    }

    // Dates written with numbers alone, read as the label says or as the answer's other dates
    // show.
    void answerDateOrder_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("created");
        QTest::addColumn<QString>("expires");
        QTest::newRow("label says month first") << "Creation Date (mm/dd/yyyy): 03/02/2014\n"
                                                << "2014-03-02T00:00:00Z"
                                                << "";
        QTest::newRow("label says day first, other dates month first")
            << "Creation Date (dd/mm/yyyy): 03/02/2014\nExpiration Date: 12/18/2015\n"
            << "2014-02-03T00:00:00Z"
            << "2015-12-18T00:00:00Z";
        QTest::newRow("other dates month first") << "Created: 03/02/2014\nExpires: 12/18/2015\n"
                                                 << "2014-03-02T00:00:00Z"
                                                 << "2015-12-18T00:00:00Z";
        QTest::newRow("dates both ways: day first stays")
            << "Created: 03/02/2014\nExpires: 12/18/2015\nUpdated: 18/12/2014\n"
            << "2014-02-03T00:00:00Z"
            << "2015-12-18T00:00:00Z";
    }
    void answerDateOrder()
    {
        QFETCH(QString, text);
        QFETCH(QString, created);
        QFETCH(QString, expires);
        const RecordFacts facts = factsFromText(text);
        QCOMPARE(facts.created, created);
        QCOMPARE(facts.expires, expires);
    }

    // A registrar's name apart from the handle or number printed beside it.
    void registrarValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("registrar");
        QTest::addColumn<QString>("ianaId");
        QTest::addColumn<QString>("handle");
        QTest::newRow("handle in parentheses")
            << "Sponsoring Registrar:Sample Names, Inc. (R123-LRMS)\n"
            << "Sample Names, Inc."
            << ""
            << "R123-LRMS";
        QTest::newRow("handle after the name") << "Sponsoring Registrar: Sample Names Inc R45-ME\n"
                                               << "Sample Names Inc"
                                               << ""
                                               << "R45-ME";
        QTest::newRow("tag") << "Registrar:\n    Sample Ltd t/a Sample [Tag = SAMPLE-TAG]\n"
                             << "Sample Ltd t/a Sample"
                             << ""
                             << "SAMPLE-TAG";
        QTest::newRow("IANA id in parentheses") << "Registrar: Esempio Registro IT (1234)\n"
                                                << "Esempio Registro IT"
                                                << "1234"
                                                << "";
        QTest::newRow("a number beside another IANA id")
            << "Registrar: Esempio Registro IT (77)\nRegistrar IANA ID: 1234\n"
            << "Esempio Registro IT"
            << "1234"
            << "77";
        QTest::newRow("a word in parentheses is the name's")
            << "Registrar: Sample Registrar (Europe)\n"
            << "Sample Registrar (Europe)"
            << ""
            << "";
        QTest::newRow("handle alone, name below")
            << "registrar:        ua.sample\norganization:     Sample Registrar LLC\n"
            << "Sample Registrar LLC"
            << ""
            << "ua.sample";
        QTest::newRow("handle alone, name in a weaker line")
            << "Registrar:                    PRIK-0024\nName:                         Priklad "
               "Registrar s.r.o.\n"
            << "Priklad Registrar s.r.o."
            << ""
            << "PRIK-0024";
        QTest::newRow("handle alone") << "registrar: REG-SAMPLE\n"
                                      << "REG-SAMPLE"
                                      << ""
                                      << "REG-SAMPLE";
        QTest::newRow("a site") << "registrar:        www.SampleNames.example\n"
                                << "www.SampleNames.example"
                                << ""
                                << "";
        QTest::newRow("a name with a dot is no handle") << "Registrar: Names.example\n"
                                                        << "Names.example"
                                                        << ""
                                                        << "";
        QTest::newRow("none listed")
            << "Domain name:\n    sample.co.uk\n\nRegistrar:\n    No registrar listed.  This "
               "domain is registered directly with the registry.\n"
            << ""
            << ""
            << "";
    }
    void registrarValues()
    {
        QFETCH(QString, text);
        QFETCH(QString, registrar);
        QFETCH(QString, ianaId);
        QFETCH(QString, handle);
        const RecordFacts facts = factsFromText(text);
        QCOMPARE(facts.registrar, registrar);
        QCOMPARE(facts.registrarIanaId, ianaId);
        QCOMPARE(facts.registrarHandle, handle);
    }

    // Which lines are notice text: the numbers (from 0) of the lines flagged.
    void noticeLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("notices");
        QTest::newRow("registry record and its notices")
            << "   Domain Name: SAMPLE.COM\n"                                              // 0
               "   Registrar: Sample Registrar Inc.\n"                                     // 1
               "   URL of the ICANN Whois Inaccuracy Complaint Form: https://x.example/\n" // 2
               ">>> Last update of whois database: 2014-01-02T03:04:05Z <<<\n"             // 3
               "\n"
               "For more information on Whois status codes, please visit https://x.example\n"
               "\n"
               "NOTICE: The expiration date displayed in this record is the date the\n" // 7
               "registrar's sponsorship of the domain name registration in the registry\n"
               "is currently set to expire.\n"
               "\n"
               "TERMS OF USE: You are not authorized to access or query our database\n" // 11
               "through the use of high-volume, automated, electronic processes.\n"
            << QList<int>{2, 3, 5, 7, 8, 9, 11, 12};
        QTest::newRow("a URL's colon inside a record")
            << "Domain Name: sample.test\nVisit Sample Registrar at http://x.example\n"
               "Registrar URL: http://x.example\n"
            << QList<int>{1};
        QTest::newRow("notice running into a record")
            << "The Registry database contains ONLY .COM, .NET, .EDU domains and\n"
               "Registrars.\nDomain Name: SAMPLE.COM\nReseller: Sample Reseller Ltd\n"
            << QList<int>{0, 1};
        QTest::newRow("comment header, then the record")
            << "% The data in this database is provided for information purposes only and\n"
               "% may not be used for marketing of any kind.\n\ndomain: sample.test\n"
               "nserver: ns1.sample.test\n"
            << QList<int>{0, 1};
        QTest::newRow("a message and the database's time")
            << "No match for \"SAMPLE.COM\".\n>>> Last update of whois database: "
               "2014-01-02T03:04:05Z <<<\n"
            << QList<int>{1};
        QTest::newRow("a date cut at its time's colon")
            << "domain: sample.ru\nstate: REGISTERED\n\nLast updated on 2013.06.28 04:36:33 MSK\n"
            << QList<int>{3};
        QTest::newRow("long values in a record are no sentences")
            << "Domain Name: sample.test\nRegistrant Street: 1600 Sample Parkway Building 40 "
               "Floor 3\nRegistrant City: Sample Town\nRegistrant Country: US\n"
               "Company English Name (It should be the same as the name on your certificate): "
               "Sample Ltd\n"
            << QList<int>{};
        QTest::newRow("a record's line before sentences stays")
            << "Registrar: Sample Registrar Inc.\n"
               "The registrar named above is the only party that may change this\n"
               "registration on behalf of the holder; requests sent to the registry\n"
               "itself are not answered and will be passed on to the registrar.\n"
            << QList<int>{1, 2, 3};
        QTest::newRow("sentences without a colon")
            << "This domain is reserved and cannot be registered by anyone at the moment\n"
               "because the registry keeps it for its own use under the current policy of\n"
               "the registry, which may change without notice in the years to come.\n"
            << QList<int>{0, 1, 2};
    }
    void noticeLines()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, notices);
        const std::vector<bool> flags = ::noticeLines(text);
        QList<int> flagged;
        for (size_t i = 0; i < flags.size(); ++i) {
            if (flags[i])
                flagged << int(i);
        }
        QCOMPARE(flagged, notices);
    }

    // The reading's own searches: an ASCII phrase found in any case, from where it is asked; a
    // line end at every offset of the eight-character steps and of the tail, and not in a
    // character that holds its byte (U+0A00).
    void textSearch_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("at");
        QTest::newRow("as written") << "% Abuse contact for x"
                                    << "abuse contact for" << 0 << 2;
        QTest::newRow("upper case") << "ABUSE CONTACT FOR"
                                    << "abuse contact for" << 0 << 0;
        QTest::newRow("at the very end") << "xx [Tag"
                                         << " [tag" << 0 << 2;
        QTest::newRow("cut short") << "abuse contac"
                                   << "abuse contact" << 0 << -1;
        QTest::newRow("after from") << "http://a http"
                                    << "http" << 1 << 9;
        QTest::newRow("no letters") << "Nome / Name"
                                    << " / " << 0 << 4;
        QTest::newRow("not a letter folded") << "[TAG"
                                             << "{tag" << 0 << -1;
    }
    void textSearch()
    {
        QFETCH(QString, text);
        QFETCH(QString, phrase);
        QFETCH(int, from);
        QFETCH(int, at);
        QCOMPARE(indexOfCaseless(text, phrase.toStdString(), from), at);
        QCOMPARE(startsWithCaseless(QStringView(text).mid(qMax(at, 0)), phrase.toStdString()),
                 at >= 0);
    }
    // A caseless equality that checks lengths first answers as Qt's comparison does.
    void caselessEquals_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("latin1");
        QTest::addColumn<bool>("equal");
        QTest::newRow("same") << "whois.arin.net"
                              << "whois.arin.net" << true;
        QTest::newRow("other case") << "WHOIS.Arin.NET"
                                    << "whois.arin.net" << true;
        QTest::newRow("longer") << "whois.arin.net."
                                << "whois.arin.net" << false;
        QTest::newRow("same length, other text") << "whois.ripe.net"
                                                 << "whois.arin.net" << false;
        QTest::newRow("Kelvin sign folds to k") << "\u212Aey"
                                                << "key" << true;
        QTest::newRow("Latin-1 letters") << "\u00C9t\u00E9"
                                         << "\u00E9t\u00C9" << true;
        QTest::newRow("empty") << ""
                               << "" << true;
    }
    void caselessEquals()
    {
        QFETCH(QString, text);
        QFETCH(QString, latin1);
        QFETCH(bool, equal);
        const QByteArray bytes = latin1.toLatin1();
        QCOMPARE(equalsCaseless(text, QLatin1StringView(bytes)), equal);
        QCOMPARE(text.compare(QLatin1StringView(bytes), Qt::CaseInsensitive) == 0, equal);
    }
    void lineEnds()
    {
        for (int size = 1; size < 40; ++size) {
            for (int i = 0; i < size; ++i) {
                QString line(size, QChar(0x0a00));
                line[i] = u'\n';
                QCOMPARE(findChar(line, u'\n'), i);
                QCOMPARE(findChar(line, u'\n', i), i);
                QCOMPARE(findChar(line, u'\n', i + 1), -1);
            }
        }
    }

    // The searches eight characters at a time find what a plain loop finds, at every place
    // within and across their blocks and at the very end.
    void charSearches()
    {
        const QString alphabet = QStringLiteral(" \t:=abAB\uff1a\u0a20\u0a41");
        QRandomGenerator random(11);
        for (int round = 0; round < 3000; ++round) {
            const QString text = randomText(random, alphabet, 40);
            qsizetype anyOf = -1, gap = -1;
            for (qsizetype i = text.size() - 1; i >= 0; --i) {
                if (text[i] == u':' || text[i] == u'=' || text[i] == QChar(0xff1a))
                    anyOf = i;
                if (text[i] == u'\t' ||
                    (text[i] == u' ' && i + 1 < text.size() && text[i + 1] == u' '))
                    gap = i;
            }
            // A view of part of a longer text, as a record's line is: what follows is not looked
            // at.
            const QString longer = text + u"  \t:=";
            const QStringView view = QStringView(longer).first(text.size());
            QCOMPARE((findAnyOf<u':', u'=', u'\uff1a'>(view)), anyOf);
            QCOMPARE(findTabOrTwoSpaces(view), gap);
            // A phrase in any case, from any place (U+0A41 holds the byte of 'A').
            const qsizetype from = qsizetype(random.bounded(int(text.size()) + 2)) - 1;
            for (const std::string_view phrase : {"ab", "b", "a:b"}) {
                qsizetype at = -1;
                for (qsizetype i = qMax<qsizetype>(from, 0);
                     at < 0 && i + qsizetype(phrase.size()) <= text.size(); ++i) {
                    if (text.sliced(i, qsizetype(phrase.size()))
                            .compare(QLatin1StringView(phrase.data(), qsizetype(phrase.size())),
                                     Qt::CaseInsensitive) == 0)
                        at = i;
                }
                QCOMPARE(indexOfCaseless(view, phrase, from), at);
            }
        }
    }

    // A kept text is found again by its exact characters, as a view into a longer text too:
    // texts that share all but their last bytes, differ in length or hold characters beyond
    // ASCII are told apart, and a full cache starts again empty.
    void textCache()
    {
        constexpr std::size_t Most = 1024;
        TextCache<int, Most> cache;
        QHash<QString, int> kept;
        const QString alphabet = QStringLiteral("ab \u00e9\u0a20");
        QRandomGenerator random(5);
        for (int round = 0; round < 20000; ++round) {
            const QString text = randomText(random, alphabet, 9);
            const QString longer = text + u"ab";
            const QStringView view = QStringView(longer).first(text.size());
            if (const int *found = cache.find(view)) {
                QCOMPARE(*found, kept.value(text, -1));
                continue;
            }
            QVERIFY(!kept.contains(text));
            if (cache.size() == Most)
                kept.clear();
            QCOMPARE(cache.keep(view, round), round);
            kept.insert(text, round);
            QCOMPARE(cache.size(), std::size_t(kept.size()));
        }
    }

    // The ISO form with an offset is read in one pass as the token reading reads it (a value
    // followed by a space goes the token way): every part in and out of range, fractions,
    // offsets with and without colons, cut short or run on.
    void isoDates()
    {
        QRandomGenerator random(17);
        const auto two = [&](int most) {
            return QString::number(random.bounded(most)).rightJustified(2, u'0');
        };
        const QStringList zones =
            QStringLiteral("Z +07 -0700 +05:30 +14:59 -15:00 +07: +070 +7 z . +0700x -00:60")
                .split(u' ');
        for (int round = 0; round < 20000; ++round) {
            QString value = QString::number(900 + random.bounded(9300)) + u'-' + two(14) + u'-' +
                            two(33) + (random.bounded(20) ? u'T' : u't') + two(26) + u':' +
                            two(62) + u':' + two(62);
            if (random.bounded(3) == 0)
                value +=
                    QChar(random.bounded(2) ? u'.' : u',') + QString::number(random.bounded(1000));
            value += zones.at(int(random.bounded(zones.size())));
            const QString viaTokens = utcDateFromText(QString(value + u' '));
            QVERIFY2(utcDateFromText(value) == viaTokens, qPrintable(value));
        }
    }

    // Whatever bytes come back, reading ends and yields no garbage dates.
    void hostileInput()
    {
        QRandomGenerator random(7);
        const QString alphabet = QStringLiteral(" :\t\n\r[]()-./+%#abcZT0123456789Nn\u00e9\u65e5");
        for (int round = 0; round < 300; ++round) {
            const QString text = randomText(random, alphabet, 2000);
            const RecordFacts facts = factsFromText(text);
            for (const QString &date : {facts.created, facts.updated, facts.expires})
                QVERIFY(date.isEmpty() || date.size() == 20);
        }
        // One huge line and many headings.
        QString big = QStringLiteral("Registrar:") + QString(200000, QLatin1Char('['));
        big += QStringLiteral("\n") + QStringLiteral("Name servers:\n").repeated(20000);
        const RecordFacts facts = factsFromText(big);
        QVERIFY(facts.nameServers.isEmpty());
    }
};

QUORVANE_REGISTER_TEST(FactsTests)
#include "tst_facts.moc"
