#include "platform/inilinepatch.h"

namespace IniLinePatch {

std::optional<QByteArray> plainKey(QStringView key)
{
    QByteArray out;
    for (QChar c : key) {
        const char16_t u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            u == '_' || u == '-' || u == '.')
            out += char(u);
        else if (u == ' ')
            out += "%20";
        else
            return std::nullopt;
    }
    if (out.isEmpty())
        return std::nullopt;
    return out;
}

std::optional<QByteArray> plainValue(QStringView value)
{
    // A leading "@" marks a typed value and is doubled by QSettings.
    if (value.startsWith(u'@'))
        return std::nullopt;
    QByteArray out;
    out.reserve(value.size() + 2);
    bool needsQuotes = false;
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u > 0x7E || u == '"' || u == '\\')
            return std::nullopt;
        if (u == ';' || u == ',' || u == '=')
            needsQuotes = true;
    }
    out = value.toLatin1();
    if (needsQuotes || out.startsWith(' ') || out.endsWith(' ')) {
        out.prepend('"');
        out.append('"');
    }
    return out;
}

bool replaceValue(QByteArray &text, QByteArrayView section, QByteArrayView key,
                  QByteArrayView value)
{
    if (text.contains('\r'))
        return false;
    // Built step by step: a string builder over temporaries would keep dangling references.
    QByteArray header("[");
    header.append(section).append(']');
    QByteArray start = key.toByteArray();
    start.append('=');
    qsizetype valueStart = -1;
    qsizetype valueEnd = -1;
    bool inSection = false;
    bool sectionSeen = false;
    for (qsizetype pos = 0; pos < text.size();) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        const QByteArrayView line(text.constData() + pos, end - pos);
        if (line.startsWith('[')) {
            inSection = line == QByteArrayView(header);
            if (inSection && sectionSeen)
                return false;
            sectionSeen = sectionSeen || inSection;
        } else if (inSection && line.startsWith(start)) {
            if (valueStart >= 0 || line.endsWith('\\'))
                return false;
            valueStart = pos + start.size();
            valueEnd = end;
        }
        pos = end + 1;
    }
    if (valueStart < 0)
        return false;
    text.replace(valueStart, valueEnd - valueStart, value.constData(), value.size());
    return true;
}

bool hasBareSemicolon(QByteArrayView written)
{
    bool quoted = false;
    for (qsizetype i = 0; i < written.size(); ++i) {
        const char c = written[i];
        if (c == '\\')
            ++i; // the escaped character is never a quote or a separator
        else if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            return true;
    }
    return false;
}

QByteArray quotedWhole(QByteArrayView written)
{
    const QByteArrayView value = written.trimmed();
    QByteArray out;
    out.reserve(value.size() + 2);
    out += '"';
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"')
            continue;
        out += c;
        if (c == '\\' && i + 1 < value.size())
            out += value[++i];
    }
    out += '"';
    return out;
}

void putLine(QByteArray &text, QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    const QByteArray eol = text.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    QByteArray header("[");
    header.append(section).append(']');
    QByteArray start = key.toByteArray();
    start.append('=');
    qsizetype replaceFrom = -1;
    qsizetype replaceTo = -1;
    qsizetype sectionEnd = -1; // after the last line of the section's last instance
    bool inSection = false;
    bool continued = false;
    for (qsizetype pos = 0; pos < text.size();) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        QByteArrayView line(text.constData() + pos, end - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArrayView trimmed = line.trimmed();
        const qsizetype next = end < text.size() ? end + 1 : end;
        if (continued) {
            // A value continued from the line before belongs to its key.
            if (replaceTo == pos)
                replaceTo = next;
            continued = trimmed.endsWith('\\');
        } else if (trimmed.startsWith('[')) {
            inSection = trimmed == QByteArrayView(header);
        } else if (inSection && trimmed.startsWith(start)) {
            replaceFrom = pos;
            replaceTo = next;
            continued = trimmed.endsWith('\\');
        } else {
            continued = !trimmed.startsWith(';') && !trimmed.startsWith('#') &&
                        trimmed.contains('=') && trimmed.endsWith('\\');
        }
        if (inSection && !trimmed.isEmpty())
            sectionEnd = next;
        pos = next;
    }
    QByteArray line = start;
    line.append(value).append(eol);
    if (replaceFrom >= 0) {
        text.replace(replaceFrom, replaceTo - replaceFrom, line);
        return;
    }
    if (sectionEnd >= 0) {
        // After a last line without its line end, the new line needs one first.
        if (sectionEnd == text.size() && !text.endsWith('\n'))
            line.prepend(eol);
        text.insert(sectionEnd, line);
        return;
    }
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += eol;
    text.append(header).append(eol).append(line);
}

} // namespace IniLinePatch
