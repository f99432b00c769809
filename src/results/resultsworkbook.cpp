#include "results/resultsworkbook.h"

#include "platform/runtimeerror.h"
#include "results/xlsxloader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Readers turn "_xHHHH_" in a cell into the character HHHH, and the writer uses that form for
// control characters. A literal "_xHHHH_" keeps its text by escaping its "_" as "_x005F_".
// NUL would end the C string, so it takes that form as well.
bool needsEscape(QStringView text)
{
    return text.indexOf(u'_') >= 0 || text.indexOf(QChar(0)) >= 0;
}

void escapeInto(QStringView text, QString &out)
{
    out.clear();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QChar(0)) {
            out += u"_x0000_";
        } else if (c == u'_' && i + 6 < text.size() && text[i + 1] == u'x' && isHex(text[i + 2]) &&
                   isHex(text[i + 3]) && isHex(text[i + 4]) && isHex(text[i + 5]) &&
                   text[i + 6] == u'_') {
            out += u"_x005F_";
        } else {
            out += c;
        }
    }
}

// The length of the longest line, in characters.
qsizetype longestLine(QStringView text)
{
    qsizetype longest = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'\n') {
            qsizetype end = i;
            if (end > start && text[end - 1] == u'\r')
                --end;
            longest = std::max(longest, end - start);
            start = i + 1;
        }
    }
    return longest;
}

constexpr int MaxNumberedNames = 1000;

// "stem.xlsx", then "stem (2).xlsx", "stem (3).xlsx", ...
QString numberedPath(const QString &stem, int n)
{
    return stem + (n == 1 ? QString() : QStringLiteral(" (%1)").arg(n)) + QStringLiteral(".xlsx");
}

// A dangling symbolic link takes its name too.
bool taken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Moves the file to a name nothing holds; false when something holds it. Throws on any other
// failure.
bool renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        // A file system without the no-replace rename: a hard link fails on a taken name too.
        if (::link(source.constData(), target.constData()) == 0) {
            ::unlink(source.constData());
            return true;
        }
        error = errno;
    }
    if (error == EEXIST)
        return false;
    throw RuntimeError(QStringLiteral("Cannot name the workbook ") + QDir::toNativeSeparators(to) +
                       QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

QString ResultsWorkbook::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Quorvane");
}

QString ResultsWorkbook::newFilePath(const QString &folder)
{
    if (!QDir().mkpath(folder))
        throw RuntimeError(QStringLiteral("Cannot create the folder ") +
                           QDir::toNativeSeparators(folder));
    const QString stem =
        folder + QStringLiteral("/Results ") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss"));
    for (int n = 1; n <= MaxNumberedNames; ++n) {
        const QString path = numberedPath(stem, n);
        if (!taken(path))
            return path;
    }
    throw RuntimeError(QStringLiteral("No free workbook file name in ") +
                       QDir::toNativeSeparators(folder));
}

ResultsWorkbook::ResultsWorkbook(const QString &path, Limits limits)
    : m_path(path), m_tmpDir(QFile::encodeName(QFileInfo(path).absolutePath())), m_limits(limits)
{
    // The hidden name is taken at once, so two workbooks under way never share it.
    const QFileInfo info(path);
    for (int n = 1; m_partPath.isEmpty(); ++n) {
        const QString part = info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                             (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) +
                             QStringLiteral(".part");
        QFile file(part);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            m_partPath = part;
        else if (!taken(part) || n >= MaxNumberedNames)
            throw RuntimeError(QStringLiteral("Cannot create ") + QDir::toNativeSeparators(part) +
                               QStringLiteral(": ") + file.errorString());
    }
    m_pathBytes = QFile::encodeName(m_partPath);

    lxw_workbook_options options{};
    // Each row goes to disk when the next one starts: memory stays flat for large results.
    options.constant_memory = LXW_TRUE;
    options.tmpdir = m_tmpDir.data();
    options.use_zip64 = LXW_TRUE;
    m_workbook = workbook_new_opt(m_pathBytes.constData(), &options);
    if (!m_workbook) {
        discard();
        const QString why = xlsxLoadError();
        throw RuntimeError(QStringLiteral("Cannot create the workbook ") +
                           QDir::toNativeSeparators(path) +
                           (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    }
}

ResultsWorkbook::~ResultsWorkbook()
{
    if (!m_saved)
        discard();
}

void ResultsWorkbook::discard()
{
    if (m_workbook) {
        lxw_workbook_free(m_workbook);
        m_workbook = nullptr;
        m_sheet = nullptr;
    }
    QFile::remove(m_partPath);
}

void ResultsWorkbook::claimFinalName()
{
    if (m_replaceExisting) {
        if (::rename(m_pathBytes.constData(), QFile::encodeName(m_path).constData()) != 0)
            throw RuntimeError(QStringLiteral("Cannot name the workbook ") +
                               QDir::toNativeSeparators(m_path) + QStringLiteral(": ") +
                               QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    // "Results ... (2).xlsx" taken as well goes on with "(3)", not "(2) (2)".
    const QString suffix = QStringLiteral(".xlsx");
    QString stem = m_path.endsWith(suffix) ? m_path.chopped(suffix.size()) : m_path;
    static const QRegularExpression numbered(QStringLiteral(" \\(\\d+\\)$"));
    stem.remove(numbered);
    for (int n = 1; n <= MaxNumberedNames; ++n) {
        const QString candidate = n == 1 ? m_path : numberedPath(stem, n);
        if (n > 1 && candidate == m_path)
            continue;
        if (renameNoReplace(m_partPath, candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw RuntimeError(QStringLiteral("No free workbook file name for ") +
                       QDir::toNativeSeparators(m_path));
}

void ResultsWorkbook::fail(const QString &what, int error) const
{
    throw RuntimeError(what + QStringLiteral(": ") +
                       QString::fromUtf8(lxw_strerror(lxw_error(error))));
}

void ResultsWorkbook::addSheet()
{
    if (!m_workbook)
        throw RuntimeError(QStringLiteral("The workbook is closed"));
    m_sheet = workbook_add_worksheet(m_workbook, nullptr);
    if (!m_sheet)
        throw RuntimeError(QStringLiteral("Cannot add a sheet to the workbook"));
}

void ResultsWorkbook::writeCell(int row, int column, QStringView text)
{
    if (!m_sheet)
        throw RuntimeError(QStringLiteral("The workbook has no sheet"));
    if (text.isEmpty())
        return;
    if (row > m_limits.rows) {
        if (row != m_lastRowLeftOut) {
            m_lastRowLeftOut = row;
            ++m_rowsLeftOut;
        }
        return;
    }
    m_widestColumn = std::max(m_widestColumn, column);
    if (column > m_limits.columns)
        return;

    QStringView cell = text;
    if (needsEscape(cell)) {
        escapeInto(cell, m_escaped);
        cell = m_escaped;
    }
    if (cell.size() > m_limits.cellLength) {
        qsizetype cut = m_limits.cellLength;
        // Neither half of a surrogate pair nor part of an escape is left at the end.
        if (cell[cut - 1].isHighSurrogate())
            --cut;
        const qsizetype escape = cell.first(cut).lastIndexOf(u"_x");
        if (escape >= 0 && escape + 7 > cut && cell.size() >= escape + 7)
            cut = escape;
        cell = cell.first(cut);
        ++m_cellsCut;
    }

    const int index = column - 1;
    if (m_widths.size() <= index)
        m_widths.resize(index + 1, 0.0);
    if (cell.size() > m_widths[index])
        m_widths[index] = std::max(m_widths[index], double(longestLine(cell)));

    // Encoded into one buffer that every cell reuses.
    m_bytes.resize(cell.size() * 3 + 1);
    char *end = m_encoder.appendToBuffer(m_bytes.data(), cell);
    *end = '\0';
    const lxw_error error = worksheet_write_string(m_sheet, lxw_row_t(row - 1), lxw_col_t(index),
                                                   m_bytes.constData(), nullptr);
    if (error != LXW_NO_ERROR)
        fail(QStringLiteral("Cannot write a cell"), error);
}

void ResultsWorkbook::fitColumns()
{
    if (!m_sheet)
        throw RuntimeError(QStringLiteral("The workbook has no sheet"));
    for (qsizetype k = 0; k < m_widths.size(); ++k) {
        if (m_widths[k] <= 0)
            continue;
        // One character more than the text, as a fitted column leaves a little room.
        const double width = std::min(double(MaxColumnWidth), m_widths[k] + 1);
        const lxw_error error =
            worksheet_set_column(m_sheet, lxw_col_t(k), lxw_col_t(k), width, nullptr);
        if (error != LXW_NO_ERROR)
            fail(QStringLiteral("Cannot size a column"), error);
    }
}

void ResultsWorkbook::save()
{
    if (!m_workbook)
        throw RuntimeError(QStringLiteral("The workbook is closed"));
    lxw_workbook *workbook = m_workbook;
    m_workbook = nullptr;
    m_sheet = nullptr;
    // Closing writes the file and frees the workbook, whether or not the writing worked.
    // Packing a large sheet takes a while, so it runs on a thread of its own while the
    // window's events go on.
    lxw_error error = LXW_NO_ERROR;
    if (QCoreApplication::instance()) {
        std::unique_ptr<QThread> packer(
            QThread::create([&error, workbook] { error = workbook_close(workbook); }));
        QEventLoop wait;
        QObject::connect(packer.get(), &QThread::finished, &wait, &QEventLoop::quit);
        packer->start();
        if (!packer->isFinished())
            wait.exec();
        // The loop also ends when the application quits; the file is finished all the same.
        packer->wait();
    } else {
        error = workbook_close(workbook);
    }
    if (error != LXW_NO_ERROR) {
        QFile::remove(m_partPath);
        fail(QStringLiteral("Cannot write the workbook ") + QDir::toNativeSeparators(m_path),
             error);
    }
    // Complete: only now does it show under a workbook name.
    try {
        claimFinalName();
    } catch (...) {
        QFile::remove(m_partPath);
        throw;
    }
    m_saved = true;
}

QString ResultsWorkbook::notice() const
{
    QStringList lines;
    if (const int columns = columnsLeftOut())
        lines.append(QStringLiteral("%1 columns beyond column %2 were left out of the workbook.")
                         .arg(columns)
                         .arg(m_limits.columns));
    if (m_rowsLeftOut)
        lines.append(QStringLiteral("%1 rows beyond sheet row %2 were left out of the workbook.")
                         .arg(m_rowsLeftOut)
                         .arg(m_limits.rows));
    if (m_cellsCut)
        lines.append(
            QStringLiteral("%1 cells longer than %2 characters were cut to that length in the "
                           "workbook.")
                .arg(m_cellsCut)
                .arg(m_limits.cellLength));
    if (lines.isEmpty())
        return {};
    lines.append(QStringLiteral("Save the results to a text file to keep all of them."));
    return lines.join(QStringLiteral("\r\n"));
}
