#include "rdap/rdaprender.h"

#include "lookup/recordlines.h"
#include "text/asciinarrow.h"
#include "text/findchar.h"

#include <string>
#include <vector>

namespace {

using Part = RdapContact::Part;

// The captions of a contact's lines after the role's prefix ("Registrant Name"), in the order
// the lines appear.
struct PartCaption
{
    Part part;
    QStringView caption;
};
constexpr PartCaption PartCaptions[] = {
    {Part::Name, u"Name"},
    {Part::Organization, u"Organization"},
    {Part::Street, u"Street"},
    {Part::City, u"City"},
    {Part::Region, u"State/Province"},
    {Part::PostalCode, u"Postal Code"},
    {Part::Country, u"Country"},
    {Part::Phone, u"Phone"},
    {Part::Fax, u"Fax"},
    {Part::Email, u"Email"},
};

// The prefix of each domain contact's lines, in the order of RdapDomain::Role.
constexpr QStringView RolePrefixes[RdapDomain::RoleCount] = {
    u"Registrant",
    u"Admin",
    u"Tech",
    u"Billing",
};

class Lines
{
public:
    // The lines as a list, or (`text`) as the record's UTF-8 text, lines joined by CR LF, as
    // the list joined and encoded would read.
    explicit Lines(bool text) : m_text(text)
    {
        if (m_text) {
            m_bytes.reserve(4096);
            m_pieces.reserve(64);
        }
    }

    // The reader has trimmed every value already; an empty one gives no line.
    void add(QStringView name, const QString &value) { add(name, {}, value); }
    // A line named "prefix caption" ("Registrant Email").
    void add(QStringView prefix, QStringView caption, const QString &value)
    {
        if (value.isEmpty())
            return;
        if (!m_text) {
            m_lines << (caption.isEmpty() ? prefix.toString()
                                          : prefix.toString() + u' ' + caption) +
                           QStringLiteral(": ") + value;
            return;
        }
        if (!m_bytes.empty())
            m_bytes += "\r\n";
        Piece piece;
        piece.nameBegin = qsizetype(m_bytes.size());
        appendUtf8(prefix);
        if (!caption.isEmpty()) {
            m_bytes += ' ';
            appendUtf8(caption);
        }
        piece.nameEnd = qsizetype(m_bytes.size());
        m_bytes += ": ";
        piece.valueBegin = qsizetype(m_bytes.size());
        appendUtf8(value);
        piece.valueEnd = qsizetype(m_bytes.size());
        m_pieces.push_back(piece);
        // The names are the renderer's own (no colon, tab or blank at an end); a value cut as
        // the record's text is cut has no line break and no blank at its ends. Values come
        // simplified from the reading; should one not, the text is cut again.
        const char16_t first = value.front().unicode();
        const char16_t last = value.back().unicode();
        if (first == u' ' || first == u'\t' || last == u' ' || last == u'\t' ||
            findChar(value, u'\n') >= 0 || findChar(value, u'\r') >= 0)
            m_cutAsWritten = false;
    }
    QStringList take() { return std::move(m_lines); }
    RdapRecordText takeRecord()
    {
        RdapRecordText record;
        record.text = QByteArray(m_bytes.data(), qsizetype(m_bytes.size()));
        if (!m_cutAsWritten) {
            record.fields = RecordFieldsOf(record.text, nullptr, FieldCut::Answer);
            return record;
        }
        record.fields = RecordFields(record.text);
        record.fields.reserve(qsizetype(m_pieces.size()));
        for (const Piece &piece : m_pieces)
            record.fields.appendPiece(piece.nameBegin, piece.nameEnd, piece.valueBegin,
                                      piece.valueEnd);
        return record;
    }

private:
    void appendUtf8(QStringView text)
    {
        const std::size_t at = m_bytes.size();
        m_bytes.resize(at + std::size_t(text.size()));
        if (narrowAscii(text, m_bytes.data() + at))
            return;
        m_bytes.resize(at);
        const QByteArray utf8 = text.toUtf8();
        m_bytes.append(utf8.constData(), std::size_t(utf8.size()));
    }

    struct Piece
    {
        qsizetype nameBegin = 0;
        qsizetype nameEnd = 0;
        qsizetype valueBegin = 0;
        qsizetype valueEnd = 0;
    };

    bool m_text;
    QStringList m_lines;
    std::string m_bytes;
    std::vector<Piece> m_pieces;
    bool m_cutAsWritten = true;
};

void renderDomain(const RdapDomain &d, Lines &lines)
{
    lines.add(u"Domain Name", d.ldhName);
    if (d.unicodeName.compare(d.ldhName, Qt::CaseInsensitive) != 0)
        lines.add(u"Internationalized Domain Name", d.unicodeName);
    lines.add(u"Registry Domain ID", d.handle);
    lines.add(u"Registrar WHOIS Server", d.registrarWhoisServer);
    lines.add(u"Registrar URL", d.registrarUrl);
    lines.add(u"Updated Date", d.updated.shown());
    lines.add(u"Creation Date", d.created.shown());
    lines.add(u"Registry Expiry Date", d.expires.shown());
    if (d.registrarExpires.shown() != d.expires.shown())
        lines.add(u"Registrar Registration Expiration Date", d.registrarExpires.shown());
    lines.add(u"Registrar", d.registrar);
    lines.add(u"Registrar IANA ID", d.registrarIanaId);
    lines.add(u"Registrar Abuse Contact Email", d.abuseEmail);
    lines.add(u"Registrar Abuse Contact Phone", d.abusePhone);
    for (const QString &status : d.statuses)
        lines.add(u"Domain Status", status);
    for (int role = 0; role < RdapDomain::RoleCount; ++role) {
        for (const PartCaption &part : PartCaptions)
            lines.add(RolePrefixes[role], part.caption, d.contacts[role][part.part]);
    }
    for (const QString &server : d.nameServers)
        lines.add(u"Name Server", server);
    if (d.delegationSigned)
        lines.add(u"DNSSEC", *d.delegationSigned ? QStringLiteral("signedDelegation")
                                                 : QStringLiteral("unsigned"));
}

// "Name (HANDLE)", as the RIRs print an organisation.
QString organization(const RdapContact &holder)
{
    const QString name = holder.organizationOrName();
    if (name.isEmpty() || holder.handle.isEmpty())
        return name;
    return name + QStringLiteral(" (") + holder.handle + u')';
}

void addRirFooter(Lines &lines, const RdapNetwork &n)
{
    lines.add(u"Organization", organization(n.holder));
    lines.add(u"RegDate", n.registered.shown());
    lines.add(u"Updated", n.updated.shown());
    lines.add(u"Abuse Email", n.abuseEmail);
    lines.add(u"Abuse Phone", n.abusePhone);
}

void renderNetwork(const RdapNetwork &n, Lines &lines)
{
    if (!n.startAddress.isEmpty() && !n.endAddress.isEmpty())
        lines.add(u"NetRange", n.startAddress + QStringLiteral(" - ") + n.endAddress);
    lines.add(u"CIDR", n.cidrs.join(QStringLiteral(", ")));
    lines.add(u"NetName", n.name);
    lines.add(u"NetHandle", n.handle);
    lines.add(u"Parent", n.parentHandle);
    lines.add(u"NetType", n.type);
    lines.add(u"Country", n.country);
    addRirFooter(lines, n);
}

void renderAutnum(const RdapNetwork &n, Lines &lines)
{
    if (n.startAutnum) {
        const QString first = QString::number(*n.startAutnum);
        const QString last = n.endAutnum ? QString::number(*n.endAutnum) : first;
        lines.add(u"ASNumber", first == last ? first : first + QStringLiteral(" - ") + last);
    }
    lines.add(u"ASName", n.name);
    lines.add(u"ASHandle", n.handle);
    lines.add(u"ASType", n.type);
    lines.add(u"Country", n.country);
    addRirFooter(lines, n);
}

void render(const RdapReading &reading, Lines &lines)
{
    if (reading.error)
        return;
    switch (reading.kind) {
    case RdapObjectKind::Domain:
        return renderDomain(reading.domain, lines);
    case RdapObjectKind::IpNetwork:
        return renderNetwork(reading.network, lines);
    case RdapObjectKind::Autnum:
        return renderAutnum(reading.network, lines);
    case RdapObjectKind::Unknown:
        break;
    }
}

} // namespace

QStringList RenderRdapReading(const RdapReading &reading)
{
    Lines lines(false);
    render(reading, lines);
    return lines.take();
}

RdapRecordText RenderRdapRecord(const RdapReading &reading)
{
    Lines lines(true);
    render(reading, lines);
    return lines.takeRecord();
}

QStringList RenderRdap(const RdapValue &object, RdapObjectKind asked)
{
    return RenderRdapReading(readRdap(object, {}, asked));
}

QStringList RenderRdapDomain(const RdapValue &registry, const RdapValue &registrar)
{
    return RenderRdapReading(readRdap(registry, registrar, RdapObjectKind::Domain));
}
