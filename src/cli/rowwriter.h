#pragma once

#include "cli/outputfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Rows of the sub-commands' own tables, streamed: tsv (cells as they are, CR LF, the caption
// row only when asked for), csv (RFC 4180, caption row first) or jsonl (one object a row, its
// keys in caption order, empty cells left out, lists as arrays). Written in large pieces;
// failures throw CliError (exit 3).
class RowWriter
{
public:
    enum class Format
    {
        Tsv,
        Csv,
        Jsonl
    };
    struct Column
    {
        QString caption;
        QString key;       // the jsonl key
        bool list = false; // jsonl: the cell's space-separated words as an array
    };

    RowWriter(Format format, const QString &path, bool header, QList<Column> columns);

    void row(const QStringList &cells);
    void finish();

private:
    void flushIfLarge();

    Format m_format;
    OutputFile m_out;
    QList<Column> m_columns;
    QByteArray m_buffer;
};
