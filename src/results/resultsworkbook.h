#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringEncoder>

struct lxw_workbook;
struct lxw_worksheet;

// A new .xlsx workbook of one sheet, written with libxlsxwriter. Every cell is a string cell,
// so no text can run as a formula and every character stays as it is. Rows are written in
// ascending order (the sheet is streamed to disk row by row, so memory stays flat however
// large the results are).
//
// What a worksheet cannot hold is left out rather than failing the whole workbook: columns
// beyond the last sheet column, rows beyond the last sheet row, and the part of a cell beyond
// the longest text a cell takes. notice() says what was left out.
//
// Every failure throws RuntimeError.
class ResultsWorkbook
{
public:
    // What one sheet holds.
    struct Limits
    {
        int rows;
        int columns;
        int cellLength;
    };
    static constexpr Limits SheetLimits{1048576, 16384, 32767};
    // The column width of the widest content; wider text just overflows.
    static constexpr int MaxColumnWidth = 255;

    // The folder export workbooks go to: "Quorvane" in the user's cache folder.
    static QString defaultFolder();
    // A name for a new file in the folder (made when missing), named after the current time
    // and free at the moment. Nothing is created yet: the workbook claims a name only when it
    // is complete (see save()).
    static QString newFilePath(const QString &folder);

    // The workbook is built under a hidden temporary name in the folder of `path`; nothing
    // shows under a workbook name before it is complete.
    explicit ResultsWorkbook(const QString &path, Limits limits = SheetLimits);
    ~ResultsWorkbook();
    ResultsWorkbook(const ResultsWorkbook &) = delete;
    ResultsWorkbook &operator=(const ResultsWorkbook &) = delete;

    // Adds the sheet that receives the cells.
    void addSheet();
    // Row and column count from 1 (sheet row 1 is the top). Empty text leaves the cell empty.
    void writeCell(int row, int column, QStringView text);
    // save() puts the workbook in the place of a file of its name (the command line's -o)
    // instead of taking the next free " (n)" name.
    void setReplaceExisting(bool replace) { m_replaceExisting = replace; }

    // Sizes every column that holds text to its longest line.
    void fitColumns();
    // Writes the file; the window's events go on meanwhile. Until then, and when this fails,
    // no workbook file stays behind. The finished file takes the path it was made with, or,
    // when another file has taken that name meanwhile, the next free " (n)" form of it: an
    // earlier export is never overwritten (unless setReplaceExisting said so).
    void save();

    // Where the workbook is, once saved.
    QString path() const { return m_path; }
    // What the sheet could not hold, as a message for the user; empty when all of it fitted.
    QString notice() const;
    int columnsLeftOut() const
    {
        return m_widestColumn > m_limits.columns ? m_widestColumn - m_limits.columns : 0;
    }
    int rowsLeftOut() const { return m_rowsLeftOut; }
    int cellsCut() const { return m_cellsCut; }

private:
    [[noreturn]] void fail(const QString &what, int error) const;
    void discard();
    void claimFinalName();

    QString m_path;
    // The hidden name the workbook is written under until it is complete.
    QString m_partPath;
    QByteArray m_pathBytes;
    QByteArray m_tmpDir;
    Limits m_limits;
    lxw_workbook *m_workbook = nullptr;
    lxw_worksheet *m_sheet = nullptr;
    bool m_saved = false;
    bool m_replaceExisting = false;

    QList<double> m_widths;
    QStringEncoder m_encoder{QStringEncoder::Utf8, QStringEncoder::Flag::Stateless};
    QByteArray m_bytes;
    QString m_escaped;
    int m_widestColumn = 0;
    int m_lastRowLeftOut = 0;
    int m_rowsLeftOut = 0;
    int m_cellsCut = 0;
};
