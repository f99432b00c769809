// An RDAP answer's bytes read as the RDAP source reads them: parsed (simdjson, or Qt's parser
// for what simdjson refuses), the objects read once, rendered as record lines and facts. Where
// both parsers take the bytes, the lines and facts must be the same whichever parser read them;
// the record text must be the lines joined, and its fields, cut as it is written, those the
// text gives when cut again; nothing may crash or hang.

#include "facts/normaliser.h"
#include "facts/rdapjson.h"
#include "fuzzcheck.h"
#include "lookup/lookupresult.h"
#include "lookup/recordlines.h"
#include "rdap/rdapanswer.h"
#include "rdap/rdaprecord.h"
#include "rdap/rdaprender.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const RdapJson json = RdapJson::parse(body, &error);
    QJsonParseError qtError;
    const QJsonDocument qt = QJsonDocument::fromJson(body, &qtError);
    // Qt's parser refuses a number too small for a double, which simdjson reads as 0; anything
    // else one takes, the other takes too.
    if (!json.isFast())
        FUZZ_CHECK(error.isEmpty() == (qtError.error == QJsonParseError::NoError));
    if (!json.isObject())
        return 0;

    for (const RdapObjectKind asked : {RdapObjectKind::Unknown, RdapObjectKind::Domain,
                                       RdapObjectKind::IpNetwork, RdapObjectKind::Autnum}) {
        const RdapReading reading = readRdap(json, json, asked);
        const QStringList lines = RenderRdapReading(reading);
        const RdapRecordText record = RenderRdapRecord(reading);
        FUZZ_CHECK_EQUAL(record.text, lines.join(QStringLiteral("\r\n")).toUtf8());
        FUZZ_CHECK(record.fields == RecordFieldsOf(record.text, nullptr, FieldCut::Answer));
        if (json.isFast() && qt.isObject()) {
            const RdapReading qtReading = readRdap(qt.object(), qt.object(), asked);
            FUZZ_CHECK_EQUAL(lines, RenderRdapReading(qtReading));
            FUZZ_CHECK(factsFromRdapReading(reading) == factsFromRdapReading(qtReading));
        }
    }
    LookupResult result;
    setRdapRecord(result, json);
    const RdapAnswer answer = ReadRdapAnswer(RdapQueryKind::Domain, true, 200, body, QByteArray());
    FUZZ_CHECK((answer.outcome == RdapAnswer::Outcome::Record) == !answer.object.isEmpty());
    if (answer.outcome == RdapAnswer::Outcome::Record)
        (void)RdapRegistrarLink(answer.object);
    return 0;
}
