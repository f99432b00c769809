#include "store/storedanswer.h"

#include "lookup/query.h"
#include "lookup/recordlines.h"
#include "store/factfields.h"
#include "text/asciinarrow.h"

namespace {

// Version 2 adds the answer as sent when the record is a rendering of it (RDAP's JSON); a
// version 1 payload reads back without it.
constexpr char PayloadVersion = 2;
constexpr char FirstPayloadVersion = 1;

bool isSite(const std::optional<SourceKind> &source)
{
    return source == SourceKind::Site1 || source == SourceKind::Site2 ||
           source == SourceKind::Site3;
}

// The answer as sent, kept beside the record only where the record is not that answer itself:
// RDAP's JSON object (from the RDAP source or the automatic one). A port-43 answer is its
// record; a site's page is not kept, only the record read from it.
QByteArrayView rawAnswerOf(const LookupResult &result)
{
    if (isSite(result.source) || result.answer == result.recordText)
        return {};
    return result.answer;
}

void putNumber(QByteArray &out, quint64 n)
{
    do {
        char byte = char(n & 0x7F);
        n >>= 7;
        if (n)
            byte = char(byte | 0x80);
        out.append(byte);
    } while (n);
}

void putBytes(QByteArray &out, QByteArrayView bytes)
{
    putNumber(out, quint64(bytes.size()));
    out.append(bytes);
}

void putText(QByteArray &out, QStringView text)
{
    // ASCII, nearly every text an answer keeps, is its own UTF-8: written in place.
    const qsizetype start = out.size();
    putNumber(out, quint64(text.size()));
    const qsizetype at = out.size();
    out.resize(at + text.size());
    if (narrowAscii(text, out.data() + at))
        return;
    out.truncate(start);
    putBytes(out, text.toUtf8());
}

class Reader
{
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}

    bool number(quint64 &n)
    {
        n = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (m_at >= m_bytes.size())
                return false;
            const auto byte = quint8(m_bytes[m_at++]);
            n |= quint64(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    }
    bool bytes(QByteArrayView &out)
    {
        quint64 n = 0;
        if (!number(n) || n > quint64(m_bytes.size() - m_at))
            return false;
        out = m_bytes.sliced(m_at, qsizetype(n));
        m_at += qsizetype(n);
        return true;
    }
    bool text(QString &out)
    {
        QByteArrayView b;
        if (!bytes(b))
            return false;
        out = QString::fromUtf8(b);
        return true;
    }
    bool atEnd() const { return m_at == m_bytes.size(); }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

QStringList splitList(const QString &joined)
{
    return joined.isEmpty() ? QStringList() : joined.split(QLatin1Char('\n'));
}

} // namespace

namespace StoredPayload {

QByteArray encode(const LookupResult &result)
{
    QByteArray out;
    out.reserve(result.recordText.size() + 512);
    out.append(PayloadVersion);
    putNumber(out, quint64(result.status));
    putNumber(out, quint64(result.reason));
    putText(out, result.error);
    putText(out, result.servers.join(QLatin1Char('\n')));
    const std::span<const FactField> fields = FactFields::all();
    putNumber(out, fields.size());
    for (const FactField &field : fields)
        putText(out, FactFields::stored(result.facts, field));
    putBytes(out, result.recordText);
    putBytes(out, rawAnswerOf(result));
    return out;
}

bool decode(QByteArrayView payload, LookupResult &result)
{
    if (payload.isEmpty() || payload[0] < FirstPayloadVersion || payload[0] > PayloadVersion)
        return false;
    const char version = payload[0];
    Reader in(payload.sliced(1));
    quint64 status = 0, reason = 0, count = 0;
    QString servers;
    if (!in.number(status) || !in.number(reason) || !in.text(result.error) || !in.text(servers) ||
        !in.number(count) || status > quint64(LookupStatus::Throttled) ||
        reason > quint64(FailureReason::NoAnswer))
        return false;
    result.status = LookupStatus(status);
    result.reason = FailureReason(reason);
    result.servers = splitList(servers);
    const std::span<const FactField> fields = FactFields::all();
    for (quint64 i = 0; i < count; ++i) {
        QString value;
        if (!in.text(value))
            return false;
        // A fact a later build added is skipped by an earlier one.
        if (i >= fields.size())
            continue;
        FactFields::restore(result.facts, fields[i], value);
    }
    QByteArrayView record;
    QByteArrayView raw;
    if (!in.bytes(record) || (version >= 2 && !in.bytes(raw)) || !in.atEnd())
        return false;
    result.recordText = record.toByteArray();
    // What --save-answers writes for an answer taken from the store (a site's page is not kept).
    if (!raw.isEmpty())
        result.answer = raw.toByteArray();
    else if (!isSite(result.source))
        result.answer = result.recordText;
    result.fields = RecordFieldsOf(result.recordText, nullptr,
                                   isSite(result.source) ? FieldCut::Colon : FieldCut::Answer);
    return true;
}

} // namespace StoredPayload

QString sourceText(const std::optional<SourceKind> &source)
{
    return source ? sourceKindName(*source) : QString();
}

std::optional<SourceKind> sourceOfText(const QString &text)
{
    for (const SourceKind kind : {SourceKind::Site1, SourceKind::Site2, SourceKind::Site3,
                                  SourceKind::Whois, SourceKind::Rdap, SourceKind::Auto}) {
        if (sourceKindName(kind) == text)
            return kind;
    }
    return std::nullopt;
}

QString askedForm(const QString &address)
{
    const Query query = parseQuery(address);
    if (query.isValid())
        return QString::fromLatin1(query.ascii);
    return address.trimmed();
}
