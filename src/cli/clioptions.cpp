#include "cli/clioptions.h"

#include "lookup/delay.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QLocale>

#include <array>

namespace {

struct FormatName
{
    CliOptions::Format format;
    const char *name;
};

constexpr std::array<FormatName, 4> Formats{{
    {CliOptions::Format::Tsv, "tsv"},
    {CliOptions::Format::Csv, "csv"},
    {CliOptions::Format::Jsonl, "jsonl"},
    {CliOptions::Format::Xlsx, "xlsx"},
}};

struct SourceName
{
    Site site;
    const char *name;
};

constexpr std::array<SourceName, 3> Sources{{
    {Site::Option1, "site1"},
    {Site::Option2, "site2"},
    {Site::Option3, "site3"},
}};

std::optional<CliOptions::Format> formatNamed(const QString &name)
{
    for (const FormatName &f : Formats) {
        if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0)
            return f.format;
    }
    return std::nullopt;
}

const QString Description = QStringLiteral(
    "Looks up the whois records of many addresses (domain names, IP addresses, AS numbers) and\n"
    "writes one row or JSON object per address.\n"
    "\n"
    "Addresses come from the files named as arguments, one per line (CR LF, LF or CR; a\n"
    "leading byte-order mark is dropped; empty lines are skipped), and from --address. With\n"
    "neither, or for a file named \"-\", they are read from standard input.\n"
    "\n"
    "Formats:\n"
    "  tsv    the window's text export: one row per address, tab-separated, CR LF, no\n"
    "         header unless --header; a failed lookup's address starts with \"Invalid input: \"\n"
    "  csv    RFC 4180, the caption row first, CR LF\n"
    "  jsonl  one JSON object per line, written as soon as its lookup ends: address, source,\n"
    "         error, servers, fields ([name, value] in record order) and the facts: status\n"
    "         (registered|available|reserved|throttled|failed|invalid), registrar, expires,\n"
    "         name_servers, ... (see the README)\n"
    "  xlsx   the window's workbook (needs --output)\n"
    "Without --format the format follows the extension of --output (.tsv .csv .jsonl .xlsx),\n"
    "otherwise tsv.\n"
    "\n"
    "--read-records FILE... reads answers saved earlier instead (port-43 text in UTF-8 or\n"
    "Latin-1, or an RDAP JSON object; one per file) and writes one result per file, its\n"
    "address the file's path, asking no server.\n"
    "\n"
    "--resume (with --output FILE.jsonl) keeps the addresses already in FILE, cuts off a last\n"
    "line left incomplete by a killed run, and looks up and appends only the rest.\n"
    "\n"
    "A progress line is drawn on standard error when it is a terminal.\n"
    "SIGINT or SIGTERM stops at once: what is finished is written, then the exit code is 130.\n"
    "\n"
    "Exit codes: 0 every address looked up; 1 some lookups failed (their rows are written);\n"
    "2 usage error or unreadable input; 3 output not writable; 130 interrupted.\n"
    "\n"
    "QUORVANE_SITE1_URL, QUORVANE_SITE2_URL, QUORVANE_SITE3_URL replace the sites' page\n"
    "address prefix.");

} // namespace

namespace CliArguments {

QString formatName(CliOptions::Format format)
{
    for (const FormatName &f : Formats) {
        if (f.format == format)
            return QLatin1String(f.name);
    }
    return {};
}

Parsed parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(Description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the program's version."));
    const QCommandLineOption address({QStringLiteral("a"), QStringLiteral("address")},
                                     QStringLiteral("Adds one address to look up (repeatable)."),
                                     QStringLiteral("A"));
    const QCommandLineOption source(
        {QStringLiteral("s"), QStringLiteral("source")},
        QStringLiteral("The whois site: site1, site2 or site3 (default site2)."),
        QStringLiteral("SITE"), QStringLiteral("site2"));
    const QCommandLineOption delay(
        {QStringLiteral("d"), QStringLiteral("delay")},
        QStringLiteral("Seconds between two lookups, rounded to a whole second as the window "
                       "rounds its delay (default 1)."),
        QStringLiteral("SECONDS"), QStringLiteral("1"));
    const QCommandLineOption format({QStringLiteral("f"), QStringLiteral("format")},
                                    QStringLiteral("tsv, csv, jsonl or xlsx."),
                                    QStringLiteral("FORMAT"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Writes to FILE instead of standard output."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption header(QStringLiteral("header"),
                                    QStringLiteral("tsv: the caption row first."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("No progress line."));
    const QCommandLineOption resume(
        QStringLiteral("resume"),
        QStringLiteral("Continues an interrupted jsonl run in --output FILE."));
    const QCommandLineOption readRecords(
        QStringLiteral("read-records"),
        QStringLiteral("The FILE arguments are answers saved earlier (port-43 text or RDAP JSON), "
                       "one per file: writes one result per file, asking no server."));
    parser.addOptions({help, version, address, source, delay, format, output, header, quiet, resume,
                       readRecords});
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("List files, one address per line (- for "
                                                "standard input)."),
                                 QStringLiteral("[FILE...]"));

    if (!parser.parse(arguments))
        return UsageError{parser.errorText()};
    if (parser.isSet(help))
        return Info{parser.helpText()};
    if (parser.isSet(version))
        return Info{QStringLiteral("quorvane-cli ") + QStringLiteral(QUORVANE_VERSION) +
                    QLatin1Char('\n')};

    CliOptions options;
    options.inputFiles = parser.positionalArguments();
    options.addresses = parser.values(address);
    options.readStandardInput = options.inputFiles.contains(QStringLiteral("-")) ||
                                (options.inputFiles.isEmpty() && options.addresses.isEmpty());
    options.header = parser.isSet(header);
    options.quiet = parser.isSet(quiet);
    options.resume = parser.isSet(resume);
    options.outputPath = parser.value(output);
    if (parser.isSet(output) && options.outputPath.isEmpty())
        return UsageError{QStringLiteral("--output needs a file name")};

    const QString sourceName = parser.value(source);
    bool sourceKnown = false;
    for (const SourceName &s : Sources) {
        if (sourceName.compare(QLatin1String(s.name), Qt::CaseInsensitive) == 0) {
            options.site = s.site;
            sourceKnown = true;
        }
    }
    if (!sourceKnown)
        return UsageError{QStringLiteral("unknown source \"") + sourceName +
                          QStringLiteral("\": site1, site2 or site3")};

    // Read the C way whatever the locale, so a script means the same everywhere.
    const QString delayText = parser.value(delay);
    const QLocale c = QLocale::c();
    if (!IsDelayNumeric(delayText, c))
        return UsageError{QStringLiteral("--delay \"") + delayText +
                          QStringLiteral("\" is not a number of seconds")};
    const std::optional<int> seconds = DelaySeconds(delayText, c);
    if (!seconds)
        return UsageError{QStringLiteral("--delay \"") + delayText +
                          QStringLiteral("\" is out of range (0 to 32767 seconds)")};
    if (*seconds < 0 || delayText.trimmed().startsWith(QLatin1Char('-')))
        return UsageError{QStringLiteral("--delay cannot be negative")};
    options.delaySeconds = *seconds;

    if (parser.isSet(format)) {
        const std::optional<CliOptions::Format> named = formatNamed(parser.value(format));
        if (!named)
            return UsageError{QStringLiteral("unknown format \"") + parser.value(format) +
                              QStringLiteral("\": tsv, csv, jsonl or xlsx")};
        options.format = *named;
    } else if (!options.outputPath.isEmpty()) {
        options.format =
            formatNamed(QFileInfo(options.outputPath).suffix()).value_or(CliOptions::Format::Tsv);
    }
    if (options.format == CliOptions::Format::Xlsx && options.outputPath.isEmpty())
        return UsageError{QStringLiteral("xlsx needs --output FILE")};
    if (options.resume &&
        (options.format != CliOptions::Format::Jsonl || options.outputPath.isEmpty()))
        return UsageError{QStringLiteral("--resume needs --output FILE in jsonl format")};
    options.readRecords = parser.isSet(readRecords);
    if (options.readRecords) {
        if (options.inputFiles.isEmpty() || options.inputFiles.contains(QStringLiteral("-")) ||
            !options.addresses.isEmpty() || options.resume)
            return UsageError{QStringLiteral("--read-records needs record files, without "
                                             "--address, - or --resume")};
        options.readStandardInput = false;
    }
    return options;
}

} // namespace CliArguments
