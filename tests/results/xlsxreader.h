#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPair>
#include <QProcess>
#include <QString>

// Reads an .xlsx workbook back with an independent reader: openpyxl, run by Debian's own
// Python (the python3 on PATH may be a build without it). Cell texts come back with the
// "_xHHHH_" escapes of the file format resolved, as a spreadsheet application shows them.
struct XlsxContents
{
    QString error; // empty when the workbook was read
    int sheets = 0;
    int maxRow = 0;
    int maxColumn = 0;
    QHash<QPair<int, int>, QPair<QString, QString>> cells; // (row, column) -> (text, type)
    QHash<QString, double> widths;                         // column letter -> width

    bool has(int row, int column) const { return cells.contains({row, column}); }
    QString text(int row, int column) const { return cells.value({row, column}).first; }
    QString type(int row, int column) const { return cells.value({row, column}).second; }
    int cellsInRow(int row) const
    {
        int n = 0;
        for (auto it = cells.begin(); it != cells.end(); ++it)
            n += it.key().first == row;
        return n;
    }
};

inline XlsxContents readXlsx(const QString &path)
{
    static const QString script = QStringLiteral(R"(
import json, re, sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb.active
def plain(v):
    if not isinstance(v, str):
        return v
    return re.sub(r'_x([0-9A-Fa-f]{4})_', lambda m: chr(int(m.group(1), 16)), v)
cells = [[c.row, c.column, plain(c.value), c.data_type]
         for row in ws.iter_rows() for c in row if c.value is not None]
widths = {k: d.width for k, d in ws.column_dimensions.items() if d.customWidth}
print(json.dumps({"sheets": len(wb.worksheets), "maxRow": ws.max_row,
                  "maxColumn": ws.max_column, "cells": cells, "widths": widths}))
)");
    XlsxContents contents;
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        contents.error = QString::fromUtf8(python.readAllStandardError());
        if (contents.error.isEmpty())
            contents.error = QStringLiteral("python3 did not finish");
        return contents;
    }
    const QJsonObject root = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    contents.sheets = root.value(QLatin1String("sheets")).toInt();
    contents.maxRow = root.value(QLatin1String("maxRow")).toInt();
    contents.maxColumn = root.value(QLatin1String("maxColumn")).toInt();
    for (const QJsonValue &v : root.value(QLatin1String("cells")).toArray()) {
        const QJsonArray cell = v.toArray();
        contents.cells.insert({cell[0].toInt(), cell[1].toInt()},
                              {cell[2].toString(), cell[3].toString()});
    }
    const QJsonObject widths = root.value(QLatin1String("widths")).toObject();
    for (auto it = widths.begin(); it != widths.end(); ++it)
        contents.widths.insert(it.key(), it.value().toDouble());
    return contents;
}
