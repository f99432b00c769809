#include "app/form1.h"

#include "platform/dialogs.h"
#include "platform/fileexists.h"
#include "platform/runtimeerror.h"
#include "platform/spreadsheetapp.h"
#include "results/clipboardcopy.h"
#include "results/resultstable.h"
#include "results/resultsworkbook.h"
#include "results/textexportfile.h"
#include "results/timeslice.h"

#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QStandardPaths>

#include <memory>

namespace {

const QString SpreadsheetMissing = QStringLiteral(
    "Excel is not installed on this computer. You need to have it installed to use this "
    "software without error.");
const QString SpreadsheetMissingForFeature = QStringLiteral(
    "Excel is not installed on this computer. You need to have it installed to use this "
    "feature.");
const QString CopiedToClipboard =
    QStringLiteral("Results have been copied to the clipboard.") + QStringLiteral("\r\r") +
    QStringLiteral(
        "Click a text area where you normally type and press Ctrl+V to paste the clipboard.");

const QString NothingToCopy =
    QStringLiteral("There are no results to copy. The clipboard has been left as it was.");
const QString NothingTicked =
    QStringLiteral("No result rows are ticked, so nothing was copied. The clipboard has been "
                   "left as it was.") +
    QStringLiteral("\r\r") +
    QStringLiteral("Tick the check box of each row to copy, or right-click the results table and "
                   "choose Check All to tick every row.");

} // namespace

bool Form1::anyResultChecked() const
{
    const int rows = m_results->itemCount();
    for (int i = 1; i <= rows; ++i) {
        if (m_results->isChecked(i))
            return true;
    }
    return false;
}

void Form1::connectExportControls()
{
    connect(button("PushButton6"), &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(button("PushButton2"), &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(button("PushButton18"), &QPushButton::clicked, this, &Form1::PushButton18_Click);
}

// ---------------------------------------------------------------- text file

void Form1::PushButton6_Click()
{
    if (isRunning())
        return;
    Statements s(m_errors, QStringLiteral("Form1.PushButton6_Click"));

    QString path;
    s.run(114, [&] {
        path = m_services.dialogs.saveFileName(QStringLiteral("Save"),
                                               QStringLiteral("Text Files (*.txt);;All Files (*)"),
                                               saveFolder());
    });
    if (s.test(118, [&] { return path.isEmpty(); }))
        return;
    m_saveFolder = QFileInfo(path).absolutePath();

    bool yes = false;
    if (s.test(120, [&] { return FileExists(path); })) {
        s.run(122, [&] {
            yes = m_services.dialogs.askYesNo(
                QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"),
                m_appTitle);
        });
    } else {
        yes = true; // 124
    }
    if (s.test(126, [&] { return !yes; }))
        return;

    s.run(128, [&] { beginBusy(); });

    // The lines go to a temporary file that replaces the target only when all of them are
    // written: a failure on the way is reported once and leaves the target as it was.
    TextExportFile file(path);
    bool writing = s.run(130, [&] { file.open(); });
    const auto rows =
        writing ? s.value<int>(132, [&] { return m_results->itemCount(); }) : std::nullopt;
    if (rows) {
        TimeSlice slice;
        QString line;
        for (int i = 1; i <= *rows && writing; ++i) {
            slice(); // 134
            line.resize(0);
            // The column count is read afresh for every row: a lookup run may add columns.
            const auto columns = s.value<int>(138, [&] { return m_results->headerCount(); });
            writing = columns.has_value();
            for (int k = 1; writing && k <= columns.value_or(0); ++k) {
                if (k == 1) {
                    writing = s.run(142, [&] {
                        line += m_results->itemText(i);
                        line += QLatin1Char('\t');
                    });
                } else {
                    writing = s.run(144, [&] {
                        line += m_results->subItem(i, k - 1);
                        line += QLatin1Char('\t');
                    });
                }
            }
            if (!writing)
                break;
            line.chop(1); // 148: the final tab
            writing = s.run(150, [&] { file.writeLine(line); });
        }
        if (!writing)
            file.cancel();
    }
    if (writing)
        s.run(154, [&] { file.commit(); });
    s.run(156, [&] { endBusy(); });
}

// ---------------------------------------------------------------- spreadsheet

bool Form1::SaveResultsAsExcelFileIsExcelInstalled()
{
    // Every failure in here counts as "not installed" and goes no further.
    bool installed = false;
    try {
        installed = m_services.spreadsheet.isInstalled();
    } catch (...) {
        installed = false;
    }
    if (!installed) {
        try {
            message(SpreadsheetMissing);
        } catch (...) {
        }
    }
    return installed;
}

void Form1::PushButton2_Click()
{
    if (isRunning())
        return;
    Statements s(m_errors, QStringLiteral("Form1.PushButton2_Click"));

    if (!s.test(100, [&] { return SaveResultsAsExcelFileIsExcelInstalled(); })) {
        s.run(178, [&] { message(SpreadsheetMissingForFeature); });
        return;
    }
    if (s.test(108, [&] { return m_results->itemCount() == 0; }))
        return;

    s.run(110, [&] { beginBusy(); });

    // Any failure before the workbook is complete is reported once and drops the workbook:
    // no half-filled copy of the results is opened.
    std::unique_ptr<ResultsWorkbook> book;
    s.run(112, [&] {
        book = std::make_unique<ResultsWorkbook>(
            ResultsWorkbook::newFilePath(ResultsWorkbook::defaultFolder()));
    });
    bool writing = book && s.run(114, [&] { book->addSheet(); });

    TimeSlice slice;
    // Row 1: every column's caption above its column.
    const auto captions =
        writing ? s.value<int>(118, [&] { return m_results->headerCount(); }) : std::nullopt;
    writing = writing && captions;
    for (int k = 1; writing && k <= captions.value_or(0); ++k) {
        slice(); // 120
        writing = s.run(126, [&] { book->writeCell(1, k, m_results->headerText(k)); });
    }

    // Results row r goes to sheet row r + 1 and its column k to sheet column k; an unchecked
    // row leaves its sheet row empty, an empty cell its sheet cell.
    const auto rows =
        writing ? s.value<int>(140, [&] { return m_results->itemCount(); }) : std::nullopt;
    writing = writing && rows;
    for (int r = 1; writing && r <= rows.value_or(0); ++r) {
        slice(); // 142
        const auto checked = s.value<bool>(144, [&] { return m_results->isChecked(r); });
        writing = checked.has_value();
        if (!writing || !*checked)
            continue;
        const auto columns = s.value<int>(148, [&] { return m_results->headerCount(); });
        writing = columns.has_value();
        for (int k = 1; writing && k <= columns.value_or(0); ++k) {
            slice(); // 150
            QString text;
            const bool first = k == 1;
            writing = s.run(first ? 154 : 160, [&] {
                text = first ? m_results->itemText(r) : m_results->subItem(r, k - 1);
            });
            if (writing && !text.isEmpty())
                writing = s.run(first ? 156 : 162, [&] { book->writeCell(r + 1, k, text); });
        }
    }

    if (!writing)
        book.reset();
    if (book) {
        s.run(172, [&] { book->fitColumns(); });
        s.run(174, [&] {
            book->save();
            if (!m_services.spreadsheet.open(book->path()))
                throw RuntimeError(QStringLiteral("Cannot open the workbook ") +
                                   QDir::toNativeSeparators(book->path()));
            if (const QString notice = book->notice(); !notice.isEmpty())
                message(notice);
        });
    }
    s.run(176, [&] { endBusy(); });
}

// ---------------------------------------------------------------- clipboard

QString Form1::saveFolder() const
{
    if (!m_saveFolder.isEmpty())
        return m_saveFolder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void Form1::PushButton18_Click()
{
    if (isRunning())
        return;
    Statements s(m_errors, QStringLiteral("Form1.PushButton18_Click"));
    // With nothing to copy the clipboard keeps what it holds, and the message says why.
    if (s.test(100, [&] { return m_results->itemCount() == 0; })) {
        s.run(102, [&] { message(NothingToCopy); });
        return;
    }
    if (s.test(104, [&] { return !anyResultChecked(); })) {
        s.run(106, [&] { message(NothingTicked); });
        return;
    }
    s.run(108, [&] { beginBusy(); });
    s.run(110, [&] {
        TimeSlice slice;
        ListViewToClipboard(*m_results, m_services.clipboard, [&] { slice(); });
    });
    s.run(112, [&] { message(CopiedToClipboard); });
    s.run(114, [&] { endBusy(); });
}
