#include "cli/rowwriter.h"

namespace {

constexpr qsizetype FlushBytes = 1 << 20;

void appendCsvCell(QByteArray &out, const QString &cell)
{
    const QByteArray utf8 = cell.toUtf8();
    const bool quote =
        utf8.contains(',') || utf8.contains('"') || utf8.contains('\r') || utf8.contains('\n');
    if (!quote) {
        out += utf8;
        return;
    }
    out += '"';
    for (char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendJsonString(QByteArray &out, const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += hex[(c >> 4) & 0xF];
                out += hex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

} // namespace

RowWriter::RowWriter(Format format, const QString &path, bool header, QList<Column> columns)
    : m_format(format), m_out(path, OutputFile::Mode::Replace), m_columns(std::move(columns))
{
    if (format == Format::Csv || (format == Format::Tsv && header)) {
        QStringList captions;
        for (const Column &column : m_columns)
            captions << column.caption;
        row(captions);
    }
}

void RowWriter::row(const QStringList &cells)
{
    switch (m_format) {
    case Format::Tsv:
        m_buffer += cells.join(QLatin1Char('\t')).toUtf8();
        m_buffer += "\r\n";
        break;
    case Format::Csv:
        for (qsizetype i = 0; i < cells.size(); ++i) {
            if (i)
                m_buffer += ',';
            appendCsvCell(m_buffer, cells[i]);
        }
        m_buffer += "\r\n";
        break;
    case Format::Jsonl: {
        m_buffer += '{';
        bool first = true;
        for (qsizetype i = 0; i < cells.size() && i < m_columns.size(); ++i) {
            if (cells[i].isEmpty())
                continue;
            if (!first)
                m_buffer += ',';
            first = false;
            appendJsonString(m_buffer, m_columns[i].key);
            m_buffer += ':';
            if (!m_columns[i].list) {
                appendJsonString(m_buffer, cells[i]);
                continue;
            }
            m_buffer += '[';
            const QStringList items = cells[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (qsizetype k = 0; k < items.size(); ++k) {
                if (k)
                    m_buffer += ',';
                appendJsonString(m_buffer, items[k]);
            }
            m_buffer += ']';
        }
        m_buffer += "}\n";
        break;
    }
    }
    flushIfLarge();
}

void RowWriter::flushIfLarge()
{
    if (m_buffer.size() >= FlushBytes) {
        m_out.write(m_buffer);
        m_buffer.clear();
    }
}

void RowWriter::finish()
{
    if (!m_buffer.isEmpty())
        m_out.write(m_buffer);
    m_buffer.clear();
    m_out.close();
}
