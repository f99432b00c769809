#include "fixtures.h"
#include "lookup/recordlines.h"
#include "testregistry.h"
#include "web/htmldocument.h"
#include "web/pagetext.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

// The fields a record yields, one "name=value" each, in order.
QStringList fieldsOf(const QString &record)
{
    QStringList fields;
    for (const QString &line : SplitRecordLines(record)) {
        if (const auto field = ParseRecordLine(line))
            fields.append(field->name + u'=' + field->value);
    }
    return fields;
}

// Everything a page renders to that the lookup can use: the body, the records of the three
// sites, and the elements with ids "a" and "b".
QString everything(const HtmlDocument &document)
{
    return document.innerText(document.body()) + u"|1:"_s +
           document.innerText(document.firstElementByTagName("pre")) + u"|2:"_s +
           document.innerText(document.elementById(u"whoisRecordContainer"_s)) + u"|3:"_s +
           document.innerText(document.elementById(u"maincontent"_s)) + u"|a:"_s +
           document.innerText(document.elementById(u"a"_s)) + u"|b:"_s +
           document.innerText(document.elementById(u"b"_s));
}

// Markup soup from pieces that stress the tokenizer: tags of every kind, quotes, comments,
// raw-text elements, foreign content, character references and long text runs.
QString soup(QRandomGenerator &random, int pieces)
{
    static const QStringList parts = {
        u"<div>"_s,
        u"</div>"_s,
        u"<p>"_s,
        u"</p>"_s,
        u"<pre>"_s,
        u"</pre>"_s,
        u"<pre>\n"_s,
        u"<br>"_s,
        u"<b>"_s,
        u"</b>"_s,
        u"<table>"_s,
        u"<tr>"_s,
        u"<td>"_s,
        u"</td>"_s,
        u"</tr>"_s,
        u"</table>"_s,
        u"<span hidden>"_s,
        u"</span>"_s,
        u"<script>"_s,
        u"</script>"_s,
        u"<style>"_s,
        u"</style>"_s,
        u"<textarea>"_s,
        u"</textarea>"_s,
        u"<title>"_s,
        u"</title>"_s,
        u"<xmp>"_s,
        u"</xmp>"_s,
        u"<!--"_s,
        u"-->"_s,
        u"--!>"_s,
        u"<!-->"_s,
        u"<!DOCTYPE html>"_s,
        u"<!x>"_s,
        u"<?php ?>"_s,
        u"</ >"_s,
        u"</>"_s,
        u"<svg>"_s,
        u"</svg>"_s,
        u"<svg/>"_s,
        u"<math>"_s,
        u"<![CDATA[ cdata text ]]>"_s,
        u"<select>"_s,
        u"</select>"_s,
        u"<option>"_s,
        u"<form>"_s, // text pending at its end goes outside it
        u"</form>"_s,
        u"</x>"_s, // ignored: the text before it stays pending
        u"<plaintext>"_s,
        u"<frameset>"_s,
        u"<a title=\""_s,
        u"\">"_s,
        u"<a title='"_s,
        u"'>"_s,
        u"<a title=x>"_s,
        u"<a b c=>"_s,
        u"<div id=a>"_s,
        u"<div id=\"b\">"_s,
        u"<div id=whoisRecordContainer>"_s,
        u"<div id=maincontent>"_s,
        u"&amp;"_s,
        u"&amp"_s,
        u"&ampx"_s,
        u"&#65;"_s,
        u"&#x42"_s,
        u"&notit;"_s,
        u"&"_s,
        u"<"_s,
        u">"_s,
        u"\""_s,
        u"'"_s,
        u"="_s,
        u"/"_s,
        u"\r\n"_s,
        u"\r"_s,
        u"\n"_s,
        u" "_s,
        u"\t"_s,
        QString(QChar(0)),
        u"Domain Name: EXAMPLE.COM"_s,
        u"Registrar URL: http://www.example.com/registrar"_s,
        u"  long   spaced   text  "_s,
        u"caf\u00e9 \u00fcber \u20ac"_s,
        u"x"_s,
        u"<noscript>"_s,
        u"</noscript>"_s,
        u"<template>"_s,
        u"</template>"_s,
        u"<iframe>"_s,
        u"</iframe>"_s,
        u"<foreignObject>"_s,
        u"<desc>"_s,
        u"<listing>\n"_s,
        u"<li>"_s,
        u"<body>"_s,
        u"</body>"_s,
        u"</html>"_s,
        u"<head>"_s,
        u"<caption>"_s,
        u"<colgroup>"_s,
        u"<BR/>"_s,
        u"<br />"_s,
        u"<br >"_s,
        u"Name Server: NS1.EXAMPLE.COM<br>\n  Status: ok"_s,
    };
    QString text;
    for (int k = 0; k < pieces; ++k)
        text += parts[random.bounded(parts.size())];
    return text;
}

} // namespace

class TestPageText : public QObject
{
    Q_OBJECT

private slots:
    void innerText_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        QTest::newRow("white space collapsed")
            << u"<p>  Hello \n\t  world  </p>"_s << u"Hello world"_s;
        QTest::newRow("character references")
            << u"<div>a &amp; b &lt;c&gt; &quot;d&quot; &#39;e&#39; &#x41;&#66; &copy; &nbsp;x "
               "&notanentity; &amp</div>"_s
            << u"a & b <c> \"d\" 'e' AB \u00a9 \u00a0x \u00acanentity; &"_s;
        QTest::newRow("br breaks lines") << u"<div>Domain: a<br>Registrar: b<br/>Status: ok</div>"_s
                                         << u"Domain: a\r\nRegistrar: b\r\nStatus: ok"_s;
        QTest::newRow("spaces around br dropped") << u"<div>a <br>  b</div>"_s << u"a\r\nb"_s;
        QTest::newRow("two br give an empty line") << u"a<br><br>b"_s << u"a\r\n\r\nb"_s;
        QTest::newRow("br before a block adds no blank line")
            << u"<div>a<br><div>b</div></div>"_s << u"a\r\nb"_s;
        QTest::newRow("nested blocks")
            << u"<div><div>a</div><div><div>b</div></div>c</div>"_s << u"a\r\nb\r\nc"_s;
        QTest::newRow("paragraphs with blank lines")
            << u"<div>x<p>y</p>z</div>"_s << u"x\r\n\r\ny\r\n\r\nz"_s;
        QTest::newRow("nothing added at the ends") << u"<p>only</p>"_s << u"only"_s;
        QTest::newRow("inline white space across elements")
            << u"<div>  a  <b> b </b>  <i>c</i>  </div>"_s << u"a b c"_s;
        QTest::newRow("pre keeps white space, first newline dropped")
            << u"<pre>\n  a:  1\n\tb:\t2\n\n</pre>"_s << u"  a:  1\r\n\tb:\t2\r\n\r\n"_s;
        QTest::newRow("pre with markup")
            << u"<pre><b>Domain</b>: <a href=x>X.COM</a>\nNext: y</pre>"_s
            << u"Domain: X.COM\r\nNext: y"_s;
        QTest::newRow("pre between text") << u"a<pre>  b  </pre>c"_s << u"a\r\n  b  \r\nc"_s;
        QTest::newRow("CR LF in the source")
            << u"<div>a\r\nb</div><pre>c\r\nd\re</pre>"_s << u"a b\r\nc\r\nd\r\ne"_s;
        QTest::newRow("textarea keeps white space")
            << u"<div>x <textarea>  a\n b</textarea></div>"_s << u"x   a\r\n b"_s;
        QTest::newRow("table rows and cells")
            << u"<table><tr><td>Name</td> <td>Value</td></tr>\n<tr><th> A </th><td> B </td>"
               "</tr></table>"_s
            << u"Name\tValue\r\nA\tB"_s;
        QTest::newRow("empty cells keep their tabs")
            << u"<table><tr><td></td><td>b</td><td></td></tr></table>"_s << u"\tb\t"_s;
        QTest::newRow("lists") << u"<ul><li>one</li><li>two<ol><li>2a</li></ol></li></ul>"_s
                               << u"one\r\ntwo\r\n2a"_s;
        QTest::newRow("definition list and headings")
            << u"<h1>Title</h1><dl><dt>Term</dt><dd>Def</dd></dl>"_s << u"Title\r\nTerm\r\nDef"_s;
        QTest::newRow("hr") << u"a<hr>b"_s << u"a\r\nb"_s;
        QTest::newRow("hidden content left out")
            << u"<div>a<script>var x = 'b';</script><style>.c{}</style><span hidden>d</span>"
               "<template>e</template><noscript>f</noscript><span style=\"color:red; DISPLAY :"
               " none\">h</span>g</div>"_s
            << u"ag"_s;
        QTest::newRow("comments left out") << u"a<!-- b -->c<!---->d"_s << u"acd"_s;
        QTest::newRow("unclosed and misnested tags")
            << u"<div><b>bold<i>both</b>italic</div><p>one<p>two"_s
            << u"boldbothitalic\r\n\r\none\r\n\r\ntwo"_s;
        QTest::newRow("stray end tags and lone brackets")
            << u"</span>a < b > c</td></tr>"_s << u"a < b > c"_s;
        QTest::newRow("unknown elements are inline")
            << u"<div>a<custom-el>b</custom-el>c</div>"_s << u"abc"_s;
        QTest::newRow("svg text") << u"<div>a<svg><title>icon</title><text>t</text></svg>b</div>"_s
                                  << u"atb"_s;
        QTest::newRow("leading br is content") << u"<div><br>a</div>"_s << u"\r\na"_s;
        // Runs with line breaks in them are parsed as one stand-in where that changes nothing.
        QTest::newRow("br in text runs, in a table")
            << u"<table><tr><td>x</td></tr>Name: a<BR/>\n Status: b<br />  <tr><td>y</td></tr>"
               "</table>"_s
            << u"Name: a\r\nStatus: b\r\nx\r\ny"_s;
        QTest::newRow("br in text runs, white space after it stays in the table")
            << u"<pre><table><caption>c</caption>Name: a<br>  <tr><td>y</td></tr></table></pre>"_s
            << u"Name: a\r\nc\r\n  \r\ny"_s;
        QTest::newRow("br in a select is dropped, after a template too")
            << u"<select><template></select></template>Name: a<br>\n Status: b</select>"_s
            << u"Name: a Status: b"_s;
        // The parser puts the text pending at </form> after the form, even past an end tag it
        // ignores: only what follows the run's last break.
        QTest::newRow("br in text runs, text pending at a form's end")
            << u"<div><form>Name:<!---->a long<br>Status: b</form>c</div>"_s
            << u"Name:a long\r\nStatus: bc"_s;
        QTest::newRow("br in text runs, text pending at a form's end past an ignored tag")
            << u"<div><form>Name:<!---->a long<br>Status: b</x></form>c</div>"_s
            << u"Name:a long\r\nStatus: bc"_s;
        QTest::newRow("long text runs")
            << u"<div>Registrar URL: http://www.example.com/registrar &amp; more text here<br>"
               "Registrar Abuse Contact Email: abuse@example.com   </div>"_s
            << u"Registrar URL: http://www.example.com/registrar & more text here\r\n"
               "Registrar Abuse Contact Email: abuse@example.com"_s;
    }

    void innerText()
    {
        QFETCH(QString, html);
        QFETCH(QString, text);
        QCOMPARE(InnerText(html), text);
        // The text stand-ins make no difference.
        const HtmlDocument plain(html, {}, false);
        QCOMPARE(plain.innerText(plain.body()), text);
    }

    void innerTextOfElement()
    {
        const QString html = u"<div id=r><p>a<p>b</div>c<div id=\"hid\" hidden>x <b>y</b></div>"_s;
        QCOMPARE(InnerText(html, u"r"_s), u"a\r\n\r\nb"_s);
        // The element asked for is rendered even when it is hidden itself.
        QCOMPARE(InnerText(html, u"hid"_s), u"x y"_s);
        QCOMPARE(InnerText(html, u"R"_s), QString());
        QCOMPARE(InnerText(u"<template><div id=t>in template</div></template>"_s, u"t"_s),
                 QString());
    }

    void recordText_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<int>("site");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("Option1: first pre")
            << fixture("option1_pre.html") << 1
            << QStringList{
                   u"Domain Name=EXAMPLE.COM"_s,
                   u"Registry Domain ID=2336799_DOMAIN_COM-VRSN"_s,
                   u"Registrar WHOIS Server=whois.iana.org"_s,
                   u"Registrar URL=http://res-dom.iana.org"_s,
                   u"Updated Date=2024-08-14T07:01:34Z"_s,
                   u"Creation Date=1995-08-14T04:00:00Z"_s,
                   u"Registrar=RESERVED-Internet Assigned Numbers Authority"_s,
                   u"Registrar IANA ID=376"_s,
                   u"Registrar Abuse Contact Email="_s,
                   u"Domain Status=clientDeleteProhibited https://icann.org/epp#clientDeleteProhibited"_s,
                   u"Name Server=A.IANA-SERVERS.NET"_s,
                   u"Name Server=B.IANA-SERVERS.NET"_s,
                   u"DNSSEC=signedDelegation"_s,
                   u"URL of the ICANN Whois Inaccuracy Complaint Form=https://www.icann.org/wicf/"_s,
                   u">>> Last update of whois database=2024-09-01T12:00:00Z <<<"_s,
                   u"For more information on Whois status codes, please visit https=//icann.org/epp"_s,
               };
        QTest::newRow("Option2: br lines in whoisRecordContainer")
            << fixture("option2_div.html") << 2
            << QStringList{
                   u"Domain Name=EXAMPLE.COM"_s,
                   u"Registry Domain ID=2336799_DOMAIN_COM-VRSN"_s,
                   u"Registrar WHOIS Server=whois.iana.org"_s,
                   u"Updated Date=2024-08-14T07:01:34Z"_s,
                   u"Registrar=RESERVED-Internet Assigned Numbers Authority"_s,
                   u"Domain Status=clientTransferProhibited https://icann.org/epp#clientTransferProhibited"_s,
                   u"Name Server=A.IANA-SERVERS.NET"_s,
                   u"Name Server=B.IANA-SERVERS.NET"_s,
                   u"Registrant Organization=Internet\u00a0Assigned Numbers Authority"_s,
                   u"Registrant City=Los Angeles"_s,
                   u">>> Last update of WHOIS database=2024-09-01T12:00:00Z <<<"_s,
               };
        QTest::newRow("Option3: table in maincontent")
            << fixture("option3_table.html") << 3
            << QStringList{
                   u"Name=\tTEST-NET-1"_s,
                   u"Handle=\tNET-192-0-2-0-1"_s,
                   u"Parent=\tNET192 (NET-192-0-0-0-0)"_s,
                   u"Net Type=\tIANA Special Use"_s,
                   u"Registration Date=\t2010-01-27"_s,
                   u"Last Updated=\t2023-10-11"_s,
                   u"Comments=\tAddresses starting with \"192.0.2.\" are reserved for documentation."_s,
                   u"Name=\tInternet Assigned Numbers Authority"_s,
                   u"Handle=\tIANA"_s,
                   u"City=\tLos Angeles"_s,
               };
        for (int site = 1; site <= 3; ++site)
            QTest::addRow("no record element, Option%d", site)
                << fixture("no_record.html") << site << QStringList();
        QTest::newRow("Option1 on an Option2 page")
            << fixture("option2_div.html") << 1 << QStringList();
    }

    void recordText()
    {
        QFETCH(QByteArray, page);
        QFETCH(int, site);
        QFETCH(QStringList, fields);
        const QString record = RecordText(DecodePage(page, "text/html"), Site(site));
        QCOMPARE(fieldsOf(record), fields);
        if (fields.isEmpty())
            QCOMPARE(record, QString());
    }

    void recordLinesOfOption3()
    {
        // Lines in a table come one row each, cells joined by a tab.
        const QString record =
            RecordText(QString::fromUtf8(fixture("option3_table.html")), Site::Option3);
        const QStringList lines = SplitRecordLines(record);
        QVERIFY(lines.contains(u"Net Range\t192.0.2.0 - 192.0.2.255"_s));
        QVERIFY(lines.contains(u"See RFC 5737."_s));
        QCOMPARE(lines.first(), u"Network"_s);
        QCOMPARE(lines.last(), u"Loading related records\u2026"_s);
        QVERIFY(!record.contains(u"ARIN"_s));
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTF-8 by default")
            << QByteArray("caf\xc3\xa9") << QByteArray() << u"caf\u00e9"_s;
        QTest::newRow("invalid UTF-8") << QByteArray("a\xff"
                                                     "b\xe2\x82")
                                       << QByteArray() << u"a\ufffdb\ufffd\ufffd"_s;
        QTest::newRow("windows-1252 header") << QByteArray("\x80 caf\xe9 \x93q\x94 \x81")
                                             << QByteArray("text/html; charset=windows-1252")
                                             << u"\u20ac caf\u00e9 \u201cq\u201d \u0081"_s;
        QTest::newRow("iso-8859-1 means windows-1252")
            << QByteArray("\x80\xe9") << QByteArray("text/html;charset=ISO-8859-1")
            << u"\u20ac\u00e9"_s;
        QTest::newRow("quoted charset")
            << QByteArray("\xe9") << QByteArray("text/html; charset=\"latin1\"") << u"\u00e9"_s;
        QTest::newRow("meta charset")
            << QByteArray("<meta charset=\"windows-1252\"><p>\xe9") << QByteArray("text/html")
            << u"<meta charset=\"windows-1252\"><p>\u00e9"_s;
        QTest::newRow("meta http-equiv")
            << QByteArray("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
                          "charset=ISO-8859-1\">\xe9")
            << QByteArray()
            << u"<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=ISO-8859-1\">\u00e9"_s;
        QTest::newRow("meta content without http-equiv")
            << QByteArray("<meta content=\"text/html; charset=windows-1252\">\xe9") << QByteArray()
            << u"<meta content=\"text/html; charset=windows-1252\">\ufffd"_s;
        QTest::newRow("meta in a comment")
            << QByteArray("<!-- <meta charset=windows-1252> -->\xe9") << QByteArray()
            << u"<!-- <meta charset=windows-1252> -->\ufffd"_s;
        QTest::newRow("header before meta")
            << QByteArray("<meta charset=windows-1252>\xc3\xa9")
            << QByteArray("text/html; charset=utf-8") << u"<meta charset=windows-1252>\u00e9"_s;
        QTest::newRow("unknown header label falls to meta")
            << QByteArray("<meta charset=koi8-r>\xc1")
            << QByteArray("text/html; charset=x-nonsense") << u"<meta charset=koi8-r>\u0430"_s;
        QTest::newRow("meta utf-16 means utf-8")
            << QByteArray("<meta charset=utf-16>\xc3\xa9") << QByteArray()
            << u"<meta charset=utf-16>\u00e9"_s;
        QTest::newRow("meta at about 600 bytes")
            << QByteArray(600, ' ') + "<meta charset=windows-1252>\xe9" << QByteArray()
            << QString(600, u' ') + u"<meta charset=windows-1252>\u00e9"_s;
        QTest::newRow("meta that ends past 1024 bytes")
            << QByteArray(1010, ' ') + "<meta charset=windows-1252>\xe9" << QByteArray()
            << QString(1010, u' ') + u"<meta charset=windows-1252>\ufffd"_s;
        QTest::newRow("meta beyond 1024 bytes")
            << QByteArray(1100, ' ') + "<meta charset=windows-1252>\xe9" << QByteArray()
            << QString(1100, u' ') + u"<meta charset=windows-1252>\ufffd"_s;
        QTest::newRow("UTF-8 BOM beats the header")
            << QByteArray("\xEF\xBB\xBF"
                          "caf\xc3\xa9")
            << QByteArray("text/html; charset=windows-1252") << u"caf\u00e9"_s;
        QTest::newRow("UTF-16LE BOM") << QByteArray("\xFF\xFE"
                                                    "a\0\xe9\0",
                                                    6)
                                      << QByteArray() << u"a\u00e9"_s;
        QTest::newRow("UTF-16BE BOM, odd byte")
            << QByteArray("\xFE\xFF\0a\0", 5) << QByteArray() << u"a\ufffd"_s;
        QTest::newRow("Shift_JIS with a bad byte")
            << QByteArray("\x82\xa0\xff\x82\xa2") << QByteArray("text/html; charset=Shift_JIS")
            << u"\u3042\ufffd\u3044"_s;
        QTest::newRow("Shift_JIS cut short")
            << QByteArray("a\x82") << QByteArray("text/html; charset=sjis") << u"a\ufffd"_s;
        QTest::newRow("EUC-KR") << QByteArray("\xb0\xa1") << QByteArray("text/html; charset=euc-kr")
                                << u"\uac00"_s;
        QTest::newRow("iso-8859-2")
            << QByteArray("\xb1") << QByteArray("text/html; charset=latin2") << u"\u0105"_s;
        QTest::newRow("windows-1251")
            << QByteArray("\xc0") << QByteArray("text/html; charset=cp1251") << u"\u0410"_s;
    }

    void decode()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, text);
        QCOMPARE(DecodePage(body, contentType), text);
        QCOMPARE(DecodePageUtf8(body, contentType), text.toUtf8());
    }

    // The UTF-8 route gives exactly the bytes of the text route, for pages that are not
    // well-formed UTF-8 too.
    void utf8RouteMatchesTheTextRoute_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("two byte-order marks") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"
                                                            "a");
        QTest::newRow("byte-order mark later") << QByteArray("a\xEF\xBB\xBF");
        QTest::newRow("overlong") << QByteArray("a\xC0\xAF\xE0\x80\xAF"
                                                "b");
        QTest::newRow("encoded surrogate") << QByteArray("a\xED\xA0\x80"
                                                         "b");
        QTest::newRow("past U+10FFFF") << QByteArray("a\xF4\x90\x80\x80"
                                                     "b");
        QTest::newRow("cut short at the end") << QByteArray("abc\xE2\x82");
        QTest::newRow("stray continuation bytes") << QByteArray("\x80\xBFx\xFF");
        QTest::newRow("noncharacters") << QByteArray("\xEF\xBF\xBE\xF4\x8F\xBF\xBF");
        QTest::newRow("UTF-16 unpaired surrogates")
            << QByteArray("\xFF\xFE\x00\xD8x\x00\x00\xDC", 8);
        QTest::newRow("windows-1252 by meta") << QByteArray("<meta charset=cp1252>\x80\x81");
    }

    void utf8RouteMatchesTheTextRoute()
    {
        QFETCH(QByteArray, body);
        QCOMPARE(DecodePageUtf8(body), DecodePage(body).toUtf8());
        // The record of such a page, too, whichever way it is read.
        const QByteArray page = "<pre>" + body + "</pre>";
        QCOMPARE(TryRecordTextUtf8(DecodePageUtf8(page), Site::Option1).value_or("none"),
                 RecordText(DecodePage(page), Site::Option1).toUtf8());
    }

    void windows1252Page()
    {
        const QString record =
            RecordText(DecodePage(fixture("windows1252_pre.html"), "text/html"), Site::Option1);
        QCOMPARE(fieldsOf(record),
                 (QStringList{
                     u"Registrant Name=Fran\u00e7ois M\u00fcller"_s,
                     u"Registrant Organization=Caf\u00e9 \u201cLe Tr\u00e9sor\u201d \u20ac SARL"_s,
                     u"Registrant City=Z\u00fcrich"_s}));
    }

    void deepNestingIsRenderedWithoutRecursion()
    {
        // Neither the parse, nor the walk, nor the release of the tree may recurse per level.
        const int depth = 200000;
        QString html = u"<div id=r>"_s;
        html += u"<span>"_s.repeated(depth);
        html += u"deep text"_s;
        QCOMPARE(InnerText(html, u"r"_s), u"deep text"_s);
    }

    void hostileMarkupIsGivenUp_data()
    {
        QTest::addColumn<QString>("html");
        // Nested blocks make every start tag scan the whole stack of open elements.
        QTest::newRow("nested divs") << u"<div>"_s.repeated(300000);
        QString formatting;
        for (int i = 0; i < 150000; ++i)
            formatting += u"<b id="_s + QString::number(i) + u'>';
        QTest::newRow("formatting elements") << formatting;
    }

    void hostileMarkupIsGivenUp()
    {
        QFETCH(QString, html);
        QElapsedTimer clock;
        clock.start();
        ParseLimits limits;
        limits.timeLimitMs = 300;
        QCOMPARE(TryRecordText(html, Site::Option1, limits), std::nullopt);
        QVERIFY2(clock.elapsed() < 5000, "the parse was not cut short");
    }

    void parserAssertionIsAFailedParse()
    {
        struct sigaction before = {};
        sigaction(SIGABRT, nullptr, &before);
        // This page trips an assertion inside the parser, which would end the program.
        const QString html = u"<table><svg><foreignObject><![CDATA[ ]]><"_s;
        QCOMPARE(TryRecordText(html, Site::Option1), std::nullopt);
        QCOMPARE(InnerText(html), QString());
        // Parsing goes on as usual afterwards, and SIGABRT has its handler of before again.
        QCOMPARE(RecordText(u"<pre>a: b</pre>"_s, Site::Option1), u"a: b"_s);
        struct sigaction after = {};
        sigaction(SIGABRT, nullptr, &after);
        QCOMPARE(reinterpret_cast<void *>(after.sa_handler),
                 reinterpret_cast<void *>(before.sa_handler));
    }

    void memoryLimit()
    {
        const QString html = u"<div><a href=x>text</a></div>"_s.repeated(50000);
        ParseLimits tight;
        tight.memoryLimitBytes = 1 << 20;
        QCOMPARE(TryRecordText(html, Site::Option1, tight), std::nullopt);
        QCOMPARE(TryRecordText(html, Site::Option1), std::optional<QString>(QString()));
    }

    void junkDoesNotCrash()
    {
        QRandomGenerator random(20240901);
        for (int round = 0; round < 20; ++round) {
            QByteArray bytes(64 * 1024, Qt::Uninitialized);
            for (char &b : bytes)
                b = char(random.bounded(256));
            const QString html = DecodePage(bytes, round % 2 ? "text/html; charset=shift_jis" : "");
            const HtmlDocument fast(html);
            const HtmlDocument plain(html, {}, false);
            QVERIFY(fast.isParsed());
            QCOMPARE(everything(fast), everything(plain));
        }
    }

    void standInsMatchPlainParsing()
    {
        // Long text runs are parsed as stand-ins; every page must render as if they were not.
        QRandomGenerator random(7);
        for (int round = 0; round < 3000; ++round) {
            const QString html = soup(random, 5 + random.bounded(60));
            const HtmlDocument fast(html);
            const HtmlDocument plain(html, {}, false);
            const QString expected = everything(plain);
            const QString actual = everything(fast);
            if (actual != expected) {
                qWarning().noquote() << "page:" << html;
                QCOMPARE(actual, expected);
            }
        }
    }

    void pagesHoldingPrivateUseCharacters_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("expected");
        QTest::newRow("planes 15 and 16")
            << u"<pre>a \U000F0000\U00100000 long text after the character &#xF0000;&#x100000; "
               "and more long text</pre>"_s
            << u"a \U000F0000\U00100000 long text after the character \U000F0000\U00100000 and "
               "more long text"_s;
        // Planes 12 to 14 share the stand-ins' first UTF-8 byte.
        QTest::newRow("reference to plane 12")
            << u"<pre>&#xC0000;xyz\nThis is a long run of plain text</pre>"_s
            << u"\U000C0000xyz\r\nThis is a long run of plain text"_s;
        QTest::newRow("reference to plane 14")
            << u"<pre>a &#917504; long text after the reference</pre>"_s
            << u"a \U000E0000 long text after the reference"_s;
    }

    void pagesHoldingPrivateUseCharacters()
    {
        // Characters like the stand-ins, literal or as references, come through as they are.
        QFETCH(QString, html);
        QFETCH(QString, expected);
        QCOMPARE(RecordText(html, Site::Option1), expected);
    }
};

QUORVANE_REGISTER_TEST(TestPageText)
#include "tst_pagetext.moc"
