#include "lookup/recordlines.h"
#include "testregistry.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestRecordLines : public QObject
{
    Q_OBJECT

private slots:
    void split_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty record") << QString() << QStringList();
        QTest::newRow("one line") << QStringLiteral("a: b") << QStringList{QStringLiteral("a: b")};
        QTest::newRow("CR LF pairs")
            << QStringLiteral("a\r\nb\r\nc") << QStringList{u"a"_s, u"b"_s, u"c"_s};
        QTest::newRow("adjacent pairs give empty lines")
            << QStringLiteral("a\r\n\r\nb\r\n") << QStringList{u"a"_s, u""_s, u"b"_s, u""_s};
        QTest::newRow("lone LF and lone CR do not cut")
            << QStringLiteral("a\nb\rc\r\nd") << QStringList{u"a\nb\rc"_s, u"d"_s};
        QTest::newRow("LF CR is not a pair")
            << QStringLiteral("a\n\rb") << QStringList{u"a\n\rb"_s};
        QTest::newRow("CR CR LF") << QStringLiteral("a\r\r\nb") << QStringList{u"a\r"_s, u"b"_s};
        QTest::newRow("fields, a lone CR last")
            << QStringLiteral("a: 1\r\nb: 2\rc: 3\r") << QStringList{u"a: 1"_s, u"b: 2\rc: 3\r"_s};
        QTest::newRow("fields, CRs before a pair") << QStringLiteral("a: 1\r\r\r\nb: 2\r\n")
                                                   << QStringList{u"a: 1\r\r"_s, u"b: 2"_s, u""_s};
    }

    void split()
    {
        QFETCH(QString, record);
        QFETCH(QStringList, lines);
        QCOMPARE(SplitRecordLines(record), lines);
        // The fields read in place from the UTF-8 record are those of its lines.
        RecordFields expected;
        for (const QString &line : lines) {
            if (const std::optional<RecordField> field = ParseRecordLine(line))
                expected.append(field->name.toUtf8(), field->value.toUtf8());
        }
        const RecordFields fields = RecordFieldsOf(record.toUtf8());
        QCOMPARE(fields.size(), expected.size());
        for (qsizetype i = 0; i < fields.size(); ++i)
            QCOMPARE(fields.at(i), expected.at(i));

        // Dropping every other line's fields from the whole cut gives the cut that skips those
        // lines; so do fields of another text, cut again.
        const QByteArray utf8 = record.toUtf8();
        for (const size_t phase : {0u, 1u}) {
            std::vector<bool> skip(size_t(lines.size()));
            for (size_t i = 0; i < skip.size(); ++i)
                skip[i] = i % 2 == phase;
            const RecordFields skipped = RecordFieldsOf(utf8, &skip, FieldCut::Answer);
            RecordFields inPlace = RecordFieldsOf(utf8, nullptr, FieldCut::Answer);
            dropLineFields(inPlace, utf8, skip);
            QVERIFY(inPlace == skipped);
            RecordFields other{{u"x"_s, u"y"_s}};
            dropLineFields(other, utf8, skip);
            QVERIFY(other == skipped);
        }
    }

    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("isField");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("field") << u"Status: active"_s << true << u"Status"_s << u"active"_s;
        QTest::newRow("percent comment") << u"% a note"_s << false << QString() << QString();
        QTest::newRow("time stays whole") << u"Updated: 2020-01-01T10:20:30Z"_s << true
                                          << u"Updated"_s << u"2020-01-01T10:20:30Z"_s;
        QTest::newRow("empty value") << u"Name Server:"_s << true << u"Name Server"_s << QString();
        QTest::newRow("no colon") << u"a line without a colon"_s << false << QString() << QString();
        QTest::newRow("hash comment") << u"# note: x"_s << false << QString() << QString();
        QTest::newRow("empty line") << QString() << false << QString() << QString();
        QTest::newRow("spaces only, no colon") << u"   "_s << false << QString() << QString();
        QTest::newRow("space before hash is no comment")
            << u" # note: x"_s << true << u"# note"_s << u"x"_s;
        QTest::newRow("percent later is no comment")
            << u"Load: 50%"_s << true << u"Load"_s << u"50%"_s;
        QTest::newRow("empty name") << u": value"_s << true << QString() << u"value"_s;
        QTest::newRow("only spaces trimmed")
            << u" \tName \t:  \tvalue\t  "_s << true << u"\tName \t"_s << u"\tvalue\t"_s;
        QTest::newRow("no-break space kept")
            << u"Name\u00A0: value"_s << true << u"Name\u00A0"_s << u"value"_s;
        QTest::newRow("line feeds inside one line")
            << u"Domain: a\nRegistrar: b"_s << true << u"Domain"_s << u"a\nRegistrar: b"_s;
        QTest::newRow("colon only") << u":"_s << true << QString() << QString();
    }

    void parse()
    {
        QFETCH(QString, line);
        QFETCH(bool, isField);
        QFETCH(QString, name);
        QFETCH(QString, value);
        const std::optional<RecordField> field = ParseRecordLine(line);
        QCOMPARE(field.has_value(), isField);
        if (field) {
            QCOMPARE(field->name, name);
            QCOMPARE(field->value, value);
        }
        // The same line in a UTF-8 record, between two others, cut into pieces of it.
        const RecordFields fields = RecordFieldsOf((u"a: 1\r\n"_s + line + u"\r\nb: 2"_s).toUtf8());
        QCOMPARE(fields.size(), isField ? 3 : 2);
        QCOMPARE(fields.at(fields.size() - 1), (RecordField{u"b"_s, u"2"_s}));
        if (isField)
            QCOMPARE(fields.at(1), (RecordField{name, value}));
    }

    // A port-43 or RDAP answer's line: tabs are blanks, and a tab before the first colon cuts
    // only after a label the facts know. Empty `name` and `value`: no field.
    void answerCut_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("known label, tab")
            << u"Domain name\tswitch.ch"_s << u"Domain name"_s << u"switch.ch"_s;
        QTest::newRow("known label, tabs, colons in the value")
            << u"Registrar\t\tExample: Ltd"_s << u"Registrar"_s << u"Example: Ltd"_s;
        QTest::newRow("host and IPv6 address")
            << u"ns2.example.ch\t2001:db8::2f"_s << QString() << QString();
        QTest::newRow("host and IPv4 address, no colon")
            << u"ns2.example.ch\t192.0.2.1"_s << QString() << QString();
        QTest::newRow("tabs after the colon trimmed")
            << u"domain:\t\texample.ir\t"_s << u"domain"_s << u"example.ir"_s;
        QTest::newRow("indent by a tab, then a colon")
            << u"\tName Server: ns1.example.com"_s << u"Name Server"_s << u"ns1.example.com"_s;
        QTest::newRow("tab before the colon")
            << u"Status\t: active"_s << u"Status"_s << u"active"_s;
    }

    void answerCut()
    {
        QFETCH(QString, line);
        QFETCH(QString, name);
        QFETCH(QString, value);
        const RecordFields fields =
            RecordFieldsOf((u"a: 1\r\n"_s + line).toUtf8(), nullptr, FieldCut::Answer);
        const bool isField = !name.isEmpty();
        QCOMPARE(fields.size(), isField ? 2 : 1);
        if (isField)
            QCOMPARE(fields.at(1), (RecordField{name, value}));
    }
};

QUORVANE_REGISTER_TEST(TestRecordLines)
#include "tst_recordlines.moc"
