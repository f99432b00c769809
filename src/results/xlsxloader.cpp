// libxlsxwriter, loaded when the first workbook is made rather than when the program starts.
// The library brings libcrypto and minizip, whose loading and relocation cost every run of the
// command-line tool (a port-43 lookup to jsonl, say) over a millisecond of processor time,
// though only a workbook needs them. The program is not linked with the library: the functions
// ResultsWorkbook calls are defined here and forward to the library's own, looked up once, on
// the first call, from the soname of the headers the build was made with. Were the library
// missing, no workbook is made and xlsxLoadError() says why.

#include "results/xlsxloader.h"

#include "platform/runtimelibrary.h"

#include <xlsxwriter.h>

namespace {

constexpr char XlsxSoname[] = "libxlsxwriter.so." LXW_SOVERSION;

struct Api
{
    bool loaded = false;
    QString error;
    lxw_workbook *(*newOpt)(const char *, lxw_workbook_options *) = nullptr;
    lxw_worksheet *(*addWorksheet)(lxw_workbook *, const char *) = nullptr;
    lxw_error (*close)(lxw_workbook *) = nullptr;
    void (*free)(lxw_workbook *) = nullptr;
    char *(*strerror)(lxw_error) = nullptr;
    lxw_error (*writeString)(lxw_worksheet *, lxw_row_t, lxw_col_t, const char *,
                             lxw_format *) = nullptr;
    lxw_error (*setColumn)(lxw_worksheet *, lxw_col_t, lxw_col_t, double, lxw_format *) = nullptr;
};

Api loadApi()
{
    Api api;
    RuntimeLibrary library(XlsxSoname);
    api.loaded = library.resolve("workbook_new_opt", api.newOpt) &&
                 library.resolve("workbook_add_worksheet", api.addWorksheet) &&
                 library.resolve("workbook_close", api.close) &&
                 library.resolve("lxw_workbook_free", api.free) &&
                 library.resolve("lxw_strerror", api.strerror) &&
                 library.resolve("worksheet_write_string", api.writeString) &&
                 library.resolve("worksheet_set_column", api.setColumn);
    api.error = library.error();
    return api;
}

const Api &xlsx()
{
    static const Api api = loadApi();
    return api;
}

} // namespace

QString xlsxLoadError()
{
    return xlsx().error;
}

// A workbook is only ever made through workbook_new_opt, so the other functions are called with
// the library loaded; each still checks, as a missing library must not crash the program.
extern "C" {

lxw_workbook *workbook_new_opt(const char *filename, lxw_workbook_options *options)
{
    return xlsx().loaded ? xlsx().newOpt(filename, options) : nullptr;
}

lxw_worksheet *workbook_add_worksheet(lxw_workbook *workbook, const char *sheetname)
{
    return xlsx().loaded ? xlsx().addWorksheet(workbook, sheetname) : nullptr;
}

lxw_error workbook_close(lxw_workbook *workbook)
{
    return xlsx().loaded ? xlsx().close(workbook) : LXW_ERROR_CREATING_XLSX_FILE;
}

void lxw_workbook_free(lxw_workbook *workbook)
{
    if (xlsx().loaded)
        xlsx().free(workbook);
}

char *lxw_strerror(lxw_error error)
{
    static char unknown[] = "the workbook library is not loaded";
    return xlsx().loaded ? xlsx().strerror(error) : unknown;
}

lxw_error worksheet_write_string(lxw_worksheet *worksheet, lxw_row_t row, lxw_col_t col,
                                 const char *string, lxw_format *format)
{
    return xlsx().loaded ? xlsx().writeString(worksheet, row, col, string, format)
                         : LXW_ERROR_NULL_PARAMETER_IGNORED;
}

lxw_error worksheet_set_column(lxw_worksheet *worksheet, lxw_col_t first, lxw_col_t last,
                               double width, lxw_format *format)
{
    return xlsx().loaded ? xlsx().setColumn(worksheet, first, last, width, format)
                         : LXW_ERROR_NULL_PARAMETER_IGNORED;
}

} // extern "C"
