#include "cli/recordfiles.h"

#include "cli/clierror.h"
#include "cli/clioptions.h"
#include "cli/exitcode.h"
#include "cli/jsonlsink.h"
#include "cli/tablesink.h"
#include "lookup/source.h"
#include "platform/filebytes.h"
#include "run/savedanswer.h"

#include <QFileInfo>

#include <cstring>
#include <memory>

namespace {

LookupResult readRecordFile(const QString &path, std::optional<Site> site, bool keepNotices)
{
    const FileBytes file = readFileBytes(path, MaxSavedAnswerBytes);
    if (!file.ok()) {
        LookupResult failed;
        failed.address = path;
        if (file.tooLarge)
            setFailure(failed, FailureReason::TooLarge, path);
        else
            setFailure(failed, FailureReason::NoAnswer,
                       path + QStringLiteral(": ") +
                           QString::fromLocal8Bit(std::strerror(file.error)));
        return failed;
    }
    LookupResult result = resultFromSavedAnswer(path, file.bytes, site);
    if (!keepNotices)
        dropNoticeFields(result);
    return result;
}

} // namespace

namespace RecordFiles {

int run(const CliOptions &options)
{
    try {
        // Every file is there before the first result is written.
        for (const QString &path : options.inputFiles) {
            const QFileInfo info(path);
            if (!info.isFile() || !info.isReadable())
                throw CliError{ExitCode::Usage, path + QStringLiteral(": no such readable file")};
        }
        std::unique_ptr<ResultSink> sink;
        if (options.format == CliOptions::Format::Jsonl)
            sink = std::make_unique<JsonlSink>(options.outputPath, OutputFile::Mode::Replace,
                                               JsonlSink::Writes::Gathered);
        else
            sink = std::make_unique<TableSink>(options);
        // A saved page is read as the site named with --source reads it.
        std::optional<Site> site;
        if (options.source == SourceKind::Site1 || options.source == SourceKind::Site2 ||
            options.source == SourceKind::Site3)
            site = Site(int(options.source) - int(SourceKind::Site1) + 1);
        int exitCode = ExitCode::Done;
        for (const QString &path : options.inputFiles) {
            const LookupResult result = readRecordFile(path, site, options.keepNotices);
            if (!result.ok())
                exitCode = ExitCode::SomeFailed;
            sink->add(result);
        }
        sink->finish();
        return exitCode;
    } catch (const CliError &error) {
        reportError(error.message);
        return error.exitCode;
    }
}

} // namespace RecordFiles
