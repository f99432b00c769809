#include "cli/clioptions.h"

#include "cli/duration.h"
#include "lookup/delay.h"
#include "lookup/query.h"
#include "store/storelocation.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QLocale>
#include <QUrl>

#include <algorithm>
#include <array>
#include <limits>

namespace {

struct FormatName
{
    CliOptions::Format format;
    const char *name;
};

constexpr std::array<FormatName, 5> Formats{{
    {CliOptions::Format::Tsv, "tsv"},
    {CliOptions::Format::Txt, "txt"},
    {CliOptions::Format::Csv, "csv"},
    {CliOptions::Format::Jsonl, "jsonl"},
    {CliOptions::Format::Xlsx, "xlsx"},
}};

constexpr std::array<SourceKind, 6> Sources{SourceKind::Site1, SourceKind::Site2, SourceKind::Site3,
                                            SourceKind::Whois, SourceKind::Rdap,  SourceKind::Auto};
constexpr int MaxParallel = 1000;

std::optional<CliOptions::Format> formatNamed(const QString &name)
{
    for (const FormatName &f : Formats) {
        if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0)
            return f.format;
    }
    return std::nullopt;
}

// Names that end like these are list files (none is a top-level domain): missing, they are
// reported as files that cannot be read rather than looked up.
constexpr std::array<const char *, 11> ListFileEndings{
    ".txt", ".csv", ".tsv", ".lst", ".jsonl", ".json", ".gz", ".xz", ".bz2", ".zst", ".log"};

// Seconds written the C way ("0.5"), whatever the locale, so a script means the same
// everywhere; nothing when the text is not such a number.
std::optional<double> secondsOf(const QString &text)
{
    if (!IsDelayNumeric(text, QLocale::c()))
        return std::nullopt;
    const std::optional<qint64> ms = DelayMilliseconds(text, QLocale::c());
    if (!ms)
        return std::numeric_limits<double>::infinity();
    return double(*ms) / 1000.0;
}

const QString Description = QStringLiteral(
    "Looks up the whois records of many addresses (domain names, IP addresses, AS numbers) and\n"
    "writes one row or JSON object per address.\n"
    "\n"
    "Addresses come from --address, then from the arguments in order: an argument that names\n"
    "an existing file is a list, one address per line (CR LF, LF or CR; a leading byte-order\n"
    "mark is dropped; empty lines are skipped); any other argument that reads as an address\n"
    "is looked up itself, as whois NAME does (an existing file of that name wins; a name\n"
    "ending in .txt, .csv, .gz and the like is taken for a missing list file). With\n"
    "neither, or for the argument \"-\", addresses are read from standard input. Input is\n"
    "read as the run needs it, so a list of any length streams through in flat memory. Spaces\n"
    "around an address and a trailing dot are dropped, and a pasted URL\n"
    "(https://example.com/path) is looked up by its host; the row names what was asked.\n"
    "\n"
    "Sources (--source):\n"
    "  auto   RDAP where IANA's bootstrap lists a service for the address, port-43 WHOIS\n"
    "         otherwise (the default; --whois-server or --no-referrals select whois)\n"
    "  whois  port 43: IANA (its answers cached for a day), then the registry it names and\n"
    "         the referrals in the answers, at most four servers; --whois-server asks that\n"
    "         server first instead of IANA, --no-referrals follows no referral (IANA's\n"
    "         pointer to the registry aside)\n"
    "  rdap   RDAP over HTTPS, the server found in IANA's bootstrap files\n"
    "  site1, site2, site3   the window's three whois web sites\n"
    "Requests go through one polite queue per server: one request at a time to a server,\n"
    "--delay seconds between two requests to the same server, at most --parallel servers\n"
    "busy at once; a server that says it is rate-limited is backed off from.\n"
    "\n"
    "Formats:\n"
    "  tsv    tab-separated values any reader can split: one row per address, the fields of\n"
    "         every row as many as the captions; a backslash, tab, LF or CR inside a value is\n"
    "         written \\\\, \\t, \\n or \\r; LF line ends; no caption row unless --header\n"
    "  txt    the window's text export byte for byte: values as they are (a repeated field's\n"
    "         values tab-joined in one cell), CR LF; no caption row unless --header; a failed\n"
    "         lookup's address starts with \"Invalid input: \"\n"
    "  csv    RFC 4180, the caption row first, CR LF\n"
    "  jsonl  one JSON object per line, written as soon as its lookup ends: address, source,\n"
    "         status (registered|available|reserved|throttled|failed|invalid), error (when\n"
    "         the lookup failed), the other facts (registrar, expires, name_servers, ...;\n"
    "         see the README), servers (every server asked, in order), fields ([name, value]\n"
    "         in record order)\n"
    "  xlsx   the window's workbook (needs --output)\n"
    "For whois, rdap and auto the tables start with the summary columns (Status, Error, the\n"
    "facts). Without --format the format follows the extension of --output (.tsv .txt .csv\n"
    ".jsonl .xlsx); for standard output and any other extension it is tsv.\n"
    "An output that exists as a regular file is replaced once the table is complete (jsonl:\n"
    "rewritten as it goes); a device, pipe, FIFO or link is written as it is, never\n"
    "replaced. Any failed write ends the run with 3.\n"
    "\n"
    "--read-records FILE... reads answers saved earlier instead (port-43 text in UTF-8 or\n"
    "Latin-1, an RDAP JSON object, or a site's page; one per file) and writes one result per\n"
    "file, its address the file's path, asking no server. --save-answers DIR writes each\n"
    "answer in that form: <address>.txt (port 43), .json (RDAP), .html (a site).\n"
    "\n"
    "For whois, rdap and auto, notice text (terms of use, disclaimers, comment lines,\n"
    "\">>> Last update of WHOIS database <<<\", sentences with a URL) gives no fields: not in\n"
    "the table, the exports or jsonl \"fields\". --keep-notices keeps it. The sites' records\n"
    "are written as they are.\n"
    "\n"
    "Every answer is kept in the answer store ($XDG_DATA_HOME/Quorvane/answers.sqlite, or\n"
    "--store PATH); an answer identical to the address's previous one only moves that one's\n"
    "time seen. --max-age DURATION (90m, 6h, 2d; default 0: always ask) answers an address\n"
    "from the store when its latest whole answer from the same source is younger, asking no\n"
    "server (jsonl: \"from_store\": true, \"asked_at\" the time it was given); failed,\n"
    "throttled and invalid answers are never reused. --no-store neither reads nor writes it.\n"
    "A store that cannot be opened or written is said once and the run goes on without it.\n"
    "--store postgresql://USER@HOST[:PORT]/DB keeps the store in PostgreSQL instead, shared by\n"
    "many machines (the password from PGPASSWORD or ~/.pgpass, never on the command line).\n"
    "\n"
    "Sub-commands (quorvane-cli COMMAND --help):\n"
    "  history ADDRESS...          each stored answer's facts over time, oldest first\n"
    "  changes [--since DATE] [ADDRESS... | --list FILE]\n"
    "                              one row per fact that changed between two answers\n"
    "  expiring [--list FILE] --within DURATION [--fail-if-any]\n"
    "                              registered domains whose latest expiry falls by then\n"
    "  latest [ADDRESS... | --list FILE]\n"
    "                              the latest answer of each address, as the usual table\n"
    "  enqueue [FILE...]           adds addresses to a queue (--store URL --queue NAME)\n"
    "  work [--pace-group NAME] [--follow]\n"
    "                              looks a queue's addresses up, on any number of machines\n"
    "  queue [-f jsonl]            a queue's progress: its addresses, workers, time left\n"
    "The first four read the store and ask no server; the last three share a list among\n"
    "many machines through a store on PostgreSQL (--store postgresql://...).\n"
    "\n"
    "--resume (with --output FILE.jsonl) keeps the addresses already in FILE, cuts off a last\n"
    "line left incomplete by a killed run, and looks up and appends only the rest;\n"
    "--retry-failed also asks again the lines that failed or were throttled.\n"
    "\n"
    "On a terminal a progress line is drawn on standard error (done/total once the whole\n"
    "input has been read, done alone before) and replaced at the end by a summary: the counts\n"
    "by status, the most common reasons of failures, the time and the rate. Without a\n"
    "terminal the summary line alone is written to standard error. --quiet silences both.\n"
    "SIGINT or SIGTERM stops at once: every finished lookup is written (after an unfinished\n"
    "one too, so that --resume finds it), then the exit code is 130.\n"
    "\n"
    "Exit codes:\n"
    "  0    every lookup answered: registered, available or reserved\n"
    "  1    some lookups failed, were throttled or were not addresses (their rows are\n"
    "       written; after --resume, those already in the file count)\n"
    "  2    usage error or unreadable input\n"
    "  3    the output could not be written\n"
    "  4    no server could be reached at all (offline, name service down)\n"
    "  130  interrupted\n"
    "\n"
    "QUORVANE_SITE1_URL, QUORVANE_SITE2_URL, QUORVANE_SITE3_URL replace the sites' page\n"
    "address prefix. QUORVANE_CONNECT_TO (curl's --connect-to form, HOST:PORT:TO-HOST:TO-PORT,\n"
    "comma-separated) sends port-43 and RDAP connections elsewhere. QUORVANE_RDAP_BOOTSTRAP\n"
    "names the folder the RDAP bootstrap files are fetched from. Both are read once; a\n"
    "malformed QUORVANE_CONNECT_TO entry is a usage error.");

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

QString normalizedAddress(const QString &text)
{
    QString address = text.trimmed();
    // "scheme://...": the host of a pasted web address.
    const qsizetype scheme = address.indexOf(QLatin1String("://"));
    if (scheme > 0) {
        const QUrl url(address, QUrl::StrictMode);
        if (url.isValid() && !url.host().isEmpty() &&
            url.scheme().compare(address.first(scheme), Qt::CaseInsensitive) == 0)
            address = url.host();
    }
    if (address.size() > 1 && address.endsWith(QLatin1Char('.')) &&
        !address.endsWith(QLatin1String("..")))
        address.chop(1);
    return address;
}

bool argumentIsAddress(const QString &argument)
{
    for (const char *ending : ListFileEndings) {
        if (argument.endsWith(QLatin1String(ending), Qt::CaseInsensitive))
            return false;
    }
    return parseQuery(normalizedAddress(argument)).isValid();
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
        QStringLiteral("Where to ask: auto, whois, rdap, site1, site2 or site3 (default auto)."),
        QStringLiteral("SOURCE"), QStringLiteral("auto"));
    const QCommandLineOption whoisServer(
        QStringLiteral("whois-server"),
        QStringLiteral("Port 43: asks this server first instead of IANA (selects whois)."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption noReferrals(
        QStringLiteral("no-referrals"),
        QStringLiteral("Port 43: follows no referral (only the first server, or IANA and the "
                       "registry it names, is asked; selects whois)."));
    const QCommandLineOption parallel(
        {QStringLiteral("p"), QStringLiteral("parallel")},
        QStringLiteral("At most N servers busy at once, 1 to 1000 (default 8; fewer when the "
                       "process may not open enough files)."),
        QStringLiteral("N"), QStringLiteral("8"));
    const QCommandLineOption delay({QStringLiteral("d"), QStringLiteral("delay")},
                                   QStringLiteral("Seconds between two requests to the same "
                                                  "server, 0 to 32767, fractions kept: 0.5 is "
                                                  "half a second (default 1)."),
                                   QStringLiteral("SECONDS"), QStringLiteral("1"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Seconds an answer may take, more than 0 and "
                                                    "at most 3600 (default 30)."),
                                     QStringLiteral("SECONDS"), QStringLiteral("30"));
    const QCommandLineOption format({QStringLiteral("f"), QStringLiteral("format")},
                                    QStringLiteral("tsv, txt, csv, jsonl or xlsx."),
                                    QStringLiteral("FORMAT"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Writes to FILE instead of standard output."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption header(QStringLiteral("header"),
                                    QStringLiteral("tsv and txt: the caption row first."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("No progress line and no summary."));
    const QCommandLineOption resume(
        QStringLiteral("resume"),
        QStringLiteral("Continues an interrupted jsonl run in --output FILE."));
    const QCommandLineOption retryFailed(
        QStringLiteral("retry-failed"),
        QStringLiteral("With --resume: asks again the lines of FILE that failed or were "
                       "throttled (they are taken out of FILE)."));
    const QCommandLineOption saveAnswers(
        QStringLiteral("save-answers"),
        QStringLiteral("Writes each answer to DIR/<address>.txt (port 43), .json (RDAP) or "
                       ".html (a site), as --read-records reads them."),
        QStringLiteral("DIR"));
    const QCommandLineOption readRecords(
        QStringLiteral("read-records"),
        QStringLiteral("The FILE arguments are answers saved earlier (port-43 text, RDAP JSON "
                       "or a site's page), one per file: writes one result per file, asking no "
                       "server."));
    const QCommandLineOption keepNotices(
        QStringLiteral("keep-notices"),
        QStringLiteral("whois, rdap, auto: notice lines (terms of use, disclaimers) stay fields "
                       "of the record."));
    const QCommandLineOption proxy(
        QStringLiteral("proxy"),
        QStringLiteral("Connects through this proxy (http://, https://, socks5h://, ...; "
                       "instead of ALL_PROXY, https_proxy, http_proxy; NO_PROXY still applies): "
                       "RDAP and the sites, and port 43 when it is a SOCKS5 proxy."),
        QStringLiteral("URL"));
    parser.addOptions({help, version, address, source, delay, timeout, format, output, header,
                       quiet, resume, retryFailed, saveAnswers, readRecords, keepNotices, proxy});
    parser.addOptions({whoisServer, noReferrals, parallel});
    parser.addOption(
        {{QStringLiteral("v"), QStringLiteral("verbose")},
         QStringLiteral(
             "Logs what the run does (servers asked, throttling, referrals) on standard error.")});
    const QCommandLineOption maxAge(
        QStringLiteral("max-age"),
        QStringLiteral("Answers from the store when the address's latest answer from the same "
                       "source is younger than DURATION (90m, 6h, 2d; default 0: always ask)."),
        QStringLiteral("DURATION"), QStringLiteral("0"));
    const QCommandLineOption noStore(QStringLiteral("no-store"),
                                     QStringLiteral("Neither reads nor writes the answer store."));
    const QCommandLineOption store(QStringLiteral("store"),
                                   QStringLiteral("The answer store to use instead of "
                                                  "$XDG_DATA_HOME/Quorvane/answers.sqlite, or "
                                                  "postgresql://USER@HOST[:PORT]/DB."),
                                   QStringLiteral("PATH"));
    parser.addOptions({maxAge, noStore, store});
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("List files, one address per line (- for "
                                                "standard input), or addresses."),
                                 QStringLiteral("[FILE|ADDRESS...]"));

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
    options.readRecords = parser.isSet(readRecords);
    for (const QString &given : std::as_const(options.addresses))
        options.inputs.append({CliOptions::Input::Kind::Address, given});
    for (const QString &argument : std::as_const(options.inputFiles)) {
        // An existing file wins over an address of the same name.
        const bool file = options.readRecords || argument == QLatin1String("-") ||
                          QFileInfo::exists(argument) || !argumentIsAddress(argument);
        options.inputs.append(
            {file ? CliOptions::Input::Kind::File : CliOptions::Input::Kind::Address, argument});
    }
    if (options.inputs.isEmpty())
        options.inputs.append({CliOptions::Input::Kind::File, QStringLiteral("-")});
    options.readStandardInput = options.inputs.contains(
        CliOptions::Input{CliOptions::Input::Kind::File, QStringLiteral("-")});
    options.header = parser.isSet(header);
    options.quiet = parser.isSet(quiet);
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    options.resume = parser.isSet(resume);
    options.retryFailed = parser.isSet(retryFailed);
    options.keepNotices = parser.isSet(keepNotices);
    options.outputPath = parser.value(output);
    options.proxy = parser.value(proxy);
    if (parser.isSet(output) && options.outputPath.isEmpty())
        return UsageError{QStringLiteral("--output needs a file name")};

    const QString sourceName = parser.value(source);
    const auto *named = std::find_if(Sources.begin(), Sources.end(), [&](SourceKind kind) {
        return sourceName.compare(sourceKindName(kind), Qt::CaseInsensitive) == 0;
    });
    if (named == Sources.end())
        return UsageError{QStringLiteral("unknown source \"") + sourceName +
                          QStringLiteral("\": auto, whois, rdap, site1, site2 or site3")};
    options.source = *named;
    options.followReferrals = !parser.isSet(noReferrals);
    if (parser.isSet(whoisServer)) {
        options.whoisServer = parseWhoisServer(parser.value(whoisServer));
        if (!options.whoisServer)
            return UsageError{QStringLiteral("--whois-server \"") + parser.value(whoisServer) +
                              QStringLiteral("\" is not HOST or HOST:PORT")};
    }
    if (parser.isSet(whoisServer) || parser.isSet(noReferrals)) {
        // They are about port 43: with auto they choose it, elsewhere they make no sense.
        if (options.source == SourceKind::Auto)
            options.source = SourceKind::Whois;
        else if (options.source != SourceKind::Whois)
            return UsageError{QStringLiteral("--whois-server and --no-referrals need --source "
                                             "whois (or auto, the default)")};
    }
    bool parallelRead = false;
    options.parallel = parser.value(parallel).trimmed().toInt(&parallelRead);
    if (!parallelRead || options.parallel < 1 || options.parallel > MaxParallel)
        return UsageError{QStringLiteral("--parallel \"") + parser.value(parallel) +
                          QStringLiteral("\" is not a number from 1 to ") +
                          QString::number(MaxParallel)};

    options.delayText = parser.value(delay);
    const std::optional<double> delaySeconds = secondsOf(options.delayText);
    if (!delaySeconds)
        return UsageError{QStringLiteral("--delay \"") + options.delayText +
                          QStringLiteral("\" is not a number of seconds")};
    if (*delaySeconds < 0 || options.delayText.trimmed().startsWith(QLatin1Char('-')))
        return UsageError{QStringLiteral("--delay cannot be negative")};
    if (*delaySeconds > 32767)
        return UsageError{QStringLiteral("--delay \"") + options.delayText +
                          QStringLiteral("\" is out of range (0 to 32767 seconds)")};
    options.delayMs = qint64(*delaySeconds * 1000.0 + 0.5);

    const QString timeoutText = parser.value(timeout);
    const std::optional<double> timeoutSeconds = secondsOf(timeoutText);
    if (!timeoutSeconds || *timeoutSeconds <= 0 || *timeoutSeconds > 3600)
        return UsageError{QStringLiteral("--timeout \"") + timeoutText +
                          QStringLiteral("\" is not a number of seconds above 0 and at most "
                                         "3600")};
    options.timeoutMs = qMax(1, int(*timeoutSeconds * 1000.0 + 0.5));

    if (parser.isSet(format)) {
        const std::optional<CliOptions::Format> named = formatNamed(parser.value(format));
        if (!named)
            return UsageError{QStringLiteral("unknown format \"") + parser.value(format) +
                              QStringLiteral("\": tsv, txt, csv, jsonl or xlsx")};
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
    const std::optional<qint64> age = Duration::parseMs(parser.value(maxAge));
    if (!age)
        return UsageError{QStringLiteral("--max-age \"") + parser.value(maxAge) +
                          QStringLiteral("\" is not a duration such as 90m, 6h or 2d")};
    options.maxAgeMs = *age;
    options.noStore = parser.isSet(noStore);
    options.storePath = parser.value(store);
    if (parser.isSet(store) && options.storePath.isEmpty())
        return UsageError{QStringLiteral("--store needs a file name")};
    if (QString storeError; !StoreLocation::parse(options.storePath, &storeError))
        return UsageError{storeError};
    if (options.noStore && (parser.isSet(store) || options.maxAgeMs > 0))
        return UsageError{QStringLiteral("--no-store cannot go with --store or --max-age")};
    if (options.retryFailed && !options.resume)
        return UsageError{QStringLiteral("--retry-failed needs --resume")};
    options.saveAnswersFolder = parser.value(saveAnswers);
    if (parser.isSet(saveAnswers) && options.saveAnswersFolder.isEmpty())
        return UsageError{QStringLiteral("--save-answers needs a folder")};
    if (options.readRecords) {
        if (options.inputFiles.isEmpty() || options.inputFiles.contains(QStringLiteral("-")) ||
            !options.addresses.isEmpty() || options.resume || parser.isSet(saveAnswers))
            return UsageError{QStringLiteral("--read-records needs record files, without "
                                             "--address, -, --resume or --save-answers")};
        options.inputs.clear();
        options.readStandardInput = false;
    }
    return options;
}

} // namespace CliArguments
