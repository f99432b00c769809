// RDAP answers read through simdjson give the same record lines and facts as through Qt's
// parser, and what simdjson refuses is read by Qt's parser as before.

#include "facts/normaliser.h"
#include "facts/rdapjson.h"
#include "rdap/rdaprender.h"
#include "testregistry.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class RdapJsonTests : public QObject
{
    Q_OBJECT

private slots:
    void readsAsQtReads_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("fast");     // simdjson read it
        QTest::addColumn<bool>("accepted"); // parsed at all
        QTest::addColumn<QString>("line");  // a line the record has (empty: none expected)

        const QByteArray domain = "{\"objectClassName\":\"domain\",\"ldhName\":";
        QTest::newRow("fixture") << fixture("domain_thick_idn.json") << true << true
                                 << QStringLiteral("Registrant City: S\u00f6dert\u00e4lje");
        QTest::newRow("last of two members counts")
            << domain + "\"first.test\",\"ldhName\":\"second.test\"}" << true << true
            << "Domain Name: second.test";
        QTest::newRow("last of two members counts, class name loosely written")
            << QByteArray("{\"objectClassName\":\" IP Network\\t\",\"name\":\"FIRST\",\"handle\":"
                          "\"H\",\"name\":\"SECOND\",\"startAddress\":\"192.0.2.0\"}")
            << true << true << "NetName: SECOND";
        QTest::newRow("escapes and a surrogate pair")
            << domain + "\"caf\\u00e9\\ud83d\\ude00.test\"}" << true << true
            << QStringLiteral("Domain Name: caf\u00e9\U0001F600.test");
        QTest::newRow("lone surrogate: Qt's parser")
            << domain + "\"x\\ud800.test\"}" << false << true << "";
        QTest::newRow("invalid UTF-8") << domain + "\"b\xff.test\"}" << false << false << "";
        QTest::newRow("byte-order mark: Qt's parser") << "\xEF\xBB\xBF" + domain + "\"bom.test\"}"
                                                      << false << true << "Domain Name: bom.test";
        QTest::newRow("control character in a string: Qt's parser")
            << domain + "\"tab\t.test\"}" << false << true << "Domain Name: tab .test";
        QTest::newRow("number past 2^53 is no AS number")
            << QByteArray("{\"objectClassName\":\"autnum\",\"startAutnum\":9007199254740993,"
                          "\"name\":\"N\"}")
            << true << true << "";
        QTest::newRow("AS number at 2^53")
            << QByteArray("{\"objectClassName\":\"autnum\",\"startAutnum\":9007199254740992}")
            << true << true << "ASNumber: 9007199254740992";
        QTest::newRow("integer past 64 bits: Qt's parser")
            << QByteArray(
                   "{\"objectClassName\":\"autnum\",\"startAutnum\":123456789012345678901234}")
            << false << true << "";
        QTest::newRow("nesting past simdjson's limit: Qt's parser")
            << nested(int(RdapJson::MaxDepth) + 10) << false << true << "Domain Name: deep.test";
        QTest::newRow("nesting past Qt's limit") << nested(5000) << false << false << "";
        QTest::newRow("truncated") << domain + "\"cut.te" << false << false << "";
        QTest::newRow("array, not an object") << QByteArray("[1,2]") << true << true << "";
    }

    void readsAsQtReads()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, fast);
        QFETCH(bool, accepted);
        QFETCH(QString, line);

        QString error;
        const RdapJson json = RdapJson::parse(body, &error);
        QJsonParseError qtError;
        const QJsonDocument qt = QJsonDocument::fromJson(body, &qtError);
        QCOMPARE(json.isFast(), fast);
        QCOMPARE(error.isEmpty(), accepted);
        QCOMPARE(error, accepted ? QString() : qtError.errorString());
        QCOMPARE(qtError.error == QJsonParseError::NoError, accepted);
        QCOMPARE(json.isObject(), accepted && qt.isObject());
        if (!json.isObject())
            return;

        const QStringList lines = RenderRdapReading(readRdap(json));
        QCOMPARE(lines, RenderRdapReading(readRdap(qt.object())));
        QVERIFY(factsFromRdap(json) == factsFromRdap(qt.object()));
        if (!line.isEmpty())
            QVERIFY2(lines.contains(line), qPrintable(lines.join(u'|')));
        // The record text is the lines joined by CR LF, in UTF-8.
        QCOMPARE(RenderRdapRecord(readRdap(json)).text,
                 RenderRdapReading(readRdap(json)).join(QStringLiteral("\r\n")).toUtf8());
    }

    // The one input simdjson takes that Qt's parser refused: a number too small for a double,
    // read as 0 rather than the whole answer refused.
    void underflowReadsAsZero()
    {
        const QByteArray body = "{\"objectClassName\":\"autnum\",\"startAutnum\":1e-400}";
        QVERIFY(QJsonDocument::fromJson(body).isNull());
        const RdapJson json = RdapJson::parse(body);
        QVERIFY(json.isFast() && json.isObject());
        QCOMPARE(RenderRdapReading(readRdap(json)), QStringList{u"ASNumber: 0"_qs});
    }

    // The shortcuts the reading takes on simdjson's values answer as Qt's own string functions
    // do on the same text: a word matched against names (roles, jCard properties) and a value
    // with its white space folded, across the eight-byte runs they are read in.
    void shortcutsAgreeWithQt_data()
    {
        QTest::addColumn<QString>("text");
        for (const QString &text :
             {u"registrant"_qs, u" Registrant\t"_qs, u"REGISTRANT"_qs, u"regi\u017Ftrant"_qs,
              u"\u212Aind"_qs, u"registrant\u00a0"_qs, u"administrativeandmore"_qs, u""_qs,
              u"two  spaces in a long value"_qs, u"ends with a space "_qs,
              u"a tab\there and a line\nbreak"_qs, u"12345678 9abcdefg"_qs, u"1234567 "_qs,
              u"\u00e9t\u00e9  caf\u00e9"_qs, u"ctl\u0001char"_qs})
            QTest::newRow(qPrintable(text)) << text;
    }

    void shortcutsAgreeWithQt()
    {
        QFETCH(QString, text);
        const QByteArray body =
            QJsonDocument(QJsonObject{{u"v"_qs, text}}).toJson(QJsonDocument::Compact);
        const RdapJson fast = RdapJson::parse(body);
        QVERIFY(fast.isFast());
        const RdapValue values[] = {fast.root()[QLatin1StringView("v")],
                                    RdapValue(QJsonValue(text))};
        for (const RdapValue &value : values) {
            QCOMPARE(value.toSimplifiedString(), text.simplified());
            for (const bool trimmed : {false, true}) {
                char buffer[16];
                const std::string_view word = value.foldedWord(buffer, trimmed);
                for (const char *name : {"registrant", "kind", "administrative", "fn"}) {
                    QCOMPARE(word == std::string_view(name),
                             value.equals(QLatin1StringView(name), Qt::CaseInsensitive, trimmed));
                }
            }
        }
    }

private:
    static QByteArray fixture(const char *name)
    {
        QFile file(QStringLiteral(QUORVANE_TEST_FIXTURES "/rdap/") + QLatin1String(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A domain with `depth` arrays nested in a member the reading does not look at.
    static QByteArray nested(int depth)
    {
        return "{\"objectClassName\":\"domain\",\"ldhName\":\"deep.test\",\"x\":" +
               QByteArray(depth, '[') + QByteArray(depth, ']') + '}';
    }
};

QUORVANE_REGISTER_TEST(RdapJsonTests)
#include "tst_rdapjson.moc"
