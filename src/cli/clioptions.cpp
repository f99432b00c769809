#include "cli/clioptions.h"

#include "cli/duration.h"
#include "lookup/delay.h"
#include "store/storelocation.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
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

const QString Description = QStringLiteral(
    "Looks up the whois records of many addresses (domain names, IP addresses, AS numbers) and\n"
    "writes one row or JSON object per address.\n"
    "\n"
    "Addresses come from the files named as arguments, one per line (CR LF, LF or CR; a\n"
    "leading byte-order mark is dropped; empty lines are skipped), and from --address. With\n"
    "neither, or for a file named \"-\", they are read from standard input. Input is read as\n"
    "the run needs it, so a list of any length streams through in flat memory.\n"
    "\n"
    "Sources (--source):\n"
    "  auto   RDAP where IANA's bootstrap lists a service for the address, port-43 WHOIS\n"
    "         otherwise (the default)\n"
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
    "  tsv    the window's text export: one row per address, tab-separated, CR LF, no\n"
    "         header unless --header; a failed lookup's address starts with \"Invalid input: \"\n"
    "  csv    RFC 4180, the caption row first, CR LF\n"
    "  jsonl  one JSON object per line, written as soon as its lookup ends: address, source,\n"
    "         error, servers (every server asked, in order), fields ([name, value] in record\n"
    "         order) and the facts: status (registered|available|reserved|throttled|failed|\n"
    "         invalid), registrar, expires, name_servers, ... (see the README)\n"
    "  xlsx   the window's workbook (needs --output)\n"
    "Without --format the format follows the extension of --output (.tsv .csv .jsonl .xlsx),\n"
    "otherwise tsv.\n"
    "\n"
    "--read-records FILE... reads answers saved earlier instead (port-43 text in UTF-8 or\n"
    "Latin-1, or an RDAP JSON object; one per file) and writes one result per file, its\n"
    "address the file's path, asking no server.\n"
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
    "Sub-commands read the store and ask no server (quorvane-cli COMMAND --help):\n"
    "  history ADDRESS...          each stored answer's facts over time, oldest first\n"
    "  changes [--since DATE] [ADDRESS... | --list FILE]\n"
    "                              one row per fact that changed between two answers\n"
    "  expiring --within DURATION [--list FILE] [--fail-if-any]\n"
    "                              registered domains whose latest expiry falls by then\n"
    "  latest [ADDRESS... | --list FILE]\n"
    "                              the latest answer of each address, as the usual table\n"
    "A work queue in a PostgreSQL store spreads a list over many machines:\n"
    "  enqueue --store URL --queue NAME [FILE...]   adds addresses\n"
    "  work --store URL --queue NAME [--pace-group NAME] [--follow]\n"
    "                              looks them up, on any number of machines\n"
    "  queue --store URL --queue NAME [-f jsonl]    the progress\n"
    "\n"
    "--resume (with --output FILE.jsonl) keeps the addresses already in FILE, cuts off a last\n"
    "line left incomplete by a killed run, and looks up and appends only the rest.\n"
    "\n"
    "A progress line is drawn on standard error when it is a terminal (done/total once the\n"
    "whole input has been read, done alone before).\n"
    "SIGINT or SIGTERM stops at once: what is finished is written, then the exit code is 130.\n"
    "\n"
    "Exit codes: 0 every address looked up; 1 some lookups failed (their rows are written);\n"
    "2 usage error or unreadable input; 3 output not writable; 130 interrupted.\n"
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
        QStringLiteral("Port 43: asks this server first instead of IANA."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption noReferrals(
        QStringLiteral("no-referrals"),
        QStringLiteral("Port 43: follows no referral (only the first server, or IANA and the "
                       "registry it names, is asked)."));
    const QCommandLineOption parallel(
        {QStringLiteral("p"), QStringLiteral("parallel")},
        QStringLiteral("At most N servers busy at once, 1 to 1000 (default 8)."),
        QStringLiteral("N"), QStringLiteral("8"));
    const QCommandLineOption delay({QStringLiteral("d"), QStringLiteral("delay")},
                                   QStringLiteral("Seconds between two requests to the same "
                                                  "server, rounded to a whole second as the window "
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
    parser.addOptions({whoisServer, noReferrals, parallel});
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
    const auto *named = std::find_if(Sources.begin(), Sources.end(), [&](SourceKind kind) {
        return sourceName.compare(sourceKindName(kind), Qt::CaseInsensitive) == 0;
    });
    if (named == Sources.end())
        return UsageError{QStringLiteral("unknown source \"") + sourceName +
                          QStringLiteral("\": auto, whois, rdap, site1, site2 or site3")};
    options.source = *named;
    const bool portFortyThree =
        options.source == SourceKind::Whois || options.source == SourceKind::Auto;
    options.followReferrals = !parser.isSet(noReferrals);
    if (parser.isSet(whoisServer)) {
        options.whoisServer = parseWhoisServer(parser.value(whoisServer));
        if (!options.whoisServer)
            return UsageError{QStringLiteral("--whois-server \"") + parser.value(whoisServer) +
                              QStringLiteral("\" is not HOST or HOST:PORT")};
    }
    if ((parser.isSet(whoisServer) || parser.isSet(noReferrals)) && !portFortyThree)
        return UsageError{QStringLiteral("--whois-server and --no-referrals need --source whois "
                                         "or auto")};
    bool parallelRead = false;
    options.parallel = parser.value(parallel).trimmed().toInt(&parallelRead);
    if (!parallelRead || options.parallel < 1 || options.parallel > MaxParallel)
        return UsageError{QStringLiteral("--parallel \"") + parser.value(parallel) +
                          QStringLiteral("\" is not a number from 1 to ") +
                          QString::number(MaxParallel)};

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
