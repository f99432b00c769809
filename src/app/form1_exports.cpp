#include "app/form1.h"

#include "platform/dialogs.h"
#include "platform/fileexists.h"
#include "platform/runtimeerror.h"
#include "platform/spreadsheetapp.h"
#include "results/clipboardcopy.h"
#include "results/resultstable.h"
#include "results/resultsworkbook.h"
#include "results/textexport.h"
#include "results/timeslice.h"
#include "results/workbookexport.h"

#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QStandardPaths>

#include <algorithm>
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

const QString CsvFilter = QStringLiteral("CSV with captions (*.csv)");
const QString SaveFilters = QStringLiteral("Text Files (*.txt);;All Files (*);;") + CsvFilter;

} // namespace

bool Form1::anyResultChecked() const
{
    const std::vector<bool> &checked = m_results->checkedRows();
    return std::find(checked.begin(), checked.end(), true) != checked.end();
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
    QString chosenFilter;
    s.run(114, [&] {
        path = m_services.dialogs.saveFileName(QStringLiteral("Save"), SaveFilters, saveFolder(),
                                               &chosenFilter);
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
    // A name ending in .csv, or the CSV filter, gives CSV with the caption row first; anything
    // else the tab-separated rows alone.
    const bool csv =
        chosenFilter == CsvFilter || path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    TimeSlice slice;
    if (const auto failed =
            writeTableTextFile(m_results->pivot(), path, csv ? TextFormat::Csv : TextFormat::Tsv,
                               csv, [&] { slice(); })) {
        using Step = ExportFailure::Step;
        s.report(failed->step == Step::Create         ? 130
                 : failed->step == Step::Write        ? 150
                 : failed->step == Step::TableChanged ? 142
                                                      : 154,
                 failed->message);
    }
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
    if (book) {
        TimeSlice slice;
        // Only the ticked rows; the others leave their sheet rows empty.
        if (const auto failed = fillWorkbook(*book, m_results->pivot(), &m_results->checkedRows(),
                                             [&] { slice(); })) {
            using Step = WorkbookFailure::Step;
            s.report(failed->step == Step::AddSheet       ? 114
                     : failed->step == Step::Caption      ? 126
                     : failed->step == Step::TableChanged ? 144
                     : failed->step == Step::AddressCell  ? 156
                                                          : 162,
                     failed->message);
            book.reset();
        }
    }
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
        TableToClipboard(m_results->pivot(), m_results->checkedRows(), m_services.clipboard,
                         [&] { slice(); });
    });
    s.run(112, [&] { message(CopiedToClipboard); });
    s.run(114, [&] { endBusy(); });
}
