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

} // namespace IniLinePatch
