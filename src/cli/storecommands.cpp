#include "cli/storecommands.h"

#include "addresses/listfile.h"
#include "cli/clierror.h"
#include "cli/clioptions.h"
#include "cli/duration.h"
#include "cli/exitcode.h"
#include "cli/jsonline.h"
#include "cli/jsonlsink.h"
#include "cli/rowwriter.h"
#include "cli/tablesink.h"
#include "platform/runtimeerror.h"
#include "store/factfields.h"
#include "store/sqlanswerstore.h"
#include "store/storefile.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

struct Command
{
    const char *name;
    const char *usage;
    const char *description;
};

const Command Commands[] = {
    {"history", "history [options] ADDRESS...",
     "Each stored answer of the addresses, oldest first: when it was first and last given, "
     "its status and facts, and what changed from the answer before."},
    {"changes", "changes [options] [ADDRESS... | --list FILE]",
     "One row per fact that changed between two consecutive whole answers of an address "
     "(status, registrar, registrar IANA id, expires, name servers and domain status as sets, "
     "DNSSEC, network, origin AS): address, source, fact, before, after, seen at. Every "
     "address's changes in time order, or the named addresses' in list order."},
    {"expiring", "expiring --within DURATION [options] [--list FILE]",
     "Registered domains whose latest stored expiry falls within DURATION from now (already "
     "past included), soonest first, with the registrar and the answer's age. --fail-if-any "
     "exits 1 when the list is not empty."},
    {"latest", "latest [options] [ADDRESS... | --list FILE]",
     "The latest stored answer of each address (of every address in the store when none is "
     "named) as the lookup writes it: tsv, csv, jsonl or xlsx. An address with no stored "
     "answer is said on standard error and the exit code is 1."},
};

const Command *commandNamed(const QString &name)
{
    for (const Command &command : Commands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

QString utc(qint64 ms)
{
    return ms > 0 ? JsonLine::utcText(ms) : QString();
}

// The addresses named on the command line, then those of the list file.
QStringList addressesOf(const QCommandLineParser &parser, const QCommandLineOption &list)
{
    QStringList out = parser.positionalArguments();
    if (!parser.isSet(list))
        return out;
    const QString path = parser.value(list);
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        throw CliError{ExitCode::Usage, QStringLiteral("cannot read ") + path};
    try {
        ListFile::appendLines(
            [&](PackedLines &&lines) {
                for (qsizetype i = 0; i < lines.size(); ++i) {
                    const QString line = lines.text(i).trimmed();
                    if (!line.isEmpty())
                        out << line;
                }
            },
            file);
    } catch (const RuntimeError &error) {
        throw CliError{ExitCode::Usage, QStringLiteral("cannot read ") + path};
    }
    return out;
}

QList<RowWriter::Column> factColumnsForRows()
{
    QList<RowWriter::Column> columns;
    for (const FactColumn &column : factColumns()) {
        const QString key = QLatin1String(column.jsonKey);
        columns.append(
            {QLatin1String(column.caption), key,
             key == QLatin1String("name_servers") || key == QLatin1String("domain_status")});
    }
    return columns;
}

int history(SqlAnswerStore &store, const QStringList &addresses, RowWriter::Format format,
            const QString &output, bool header)
{
    QList<RowWriter::Column> columns{{QStringLiteral("Address"), QStringLiteral("address")},
                                     {QStringLiteral("Source"), QStringLiteral("source")},
                                     {QStringLiteral("Asked At"), QStringLiteral("asked_at")},
                                     {QStringLiteral("Last Seen"), QStringLiteral("last_seen")}};
    columns += factColumnsForRows();
    columns.append({QStringLiteral("Changed"), QStringLiteral("changed"), true});
    columns.append({QStringLiteral("Error"), QStringLiteral("error")});
    RowWriter out(format, output, header, columns);
    for (const QString &address : addresses) {
        const bool read = store.history(askedForm(address), [&](const StoredAnswer &answer) {
            QStringList cells{answer.address, answer.source, utc(answer.askedAtMs),
                              utc(answer.lastSeenMs)};
            for (const FactColumn &column : factColumns())
                cells << column.cell(answer.result.facts);
            cells << answer.changed.join(QLatin1Char(' '));
            cells << (answer.result.ok()              ? QString()
                      : answer.result.error.isEmpty() ? failureReasonText(answer.result.reason)
                                                      : answer.result.error);
            out.row(cells);
        });
        if (!read)
            throw CliError{ExitCode::Usage, store.problem().message};
    }
    out.finish();
    return ExitCode::Done;
}

int changes(SqlAnswerStore &store, const QStringList &addresses, qint64 sinceMs,
            RowWriter::Format format, const QString &output, bool header)
{
    RowWriter out(format, output, header,
                  {{QStringLiteral("Address"), QStringLiteral("address")},
                   {QStringLiteral("Source"), QStringLiteral("source")},
                   {QStringLiteral("Fact"), QStringLiteral("fact")},
                   {QStringLiteral("Before"), QStringLiteral("before")},
                   {QStringLiteral("After"), QStringLiteral("after")},
                   {QStringLiteral("Seen At"), QStringLiteral("seen_at")}});
    const auto row = [&](const ChangeRow &change) {
        out.row({change.address, change.source, change.fact, change.before, change.after,
                 utc(change.seenAtMs)});
    };
    if (addresses.isEmpty()) {
        if (!store.changes(sinceMs, {}, row))
            throw CliError{ExitCode::Usage, store.problem().message};
    }
    for (const QString &address : addresses) {
        if (!store.changes(sinceMs, askedForm(address), row))
            throw CliError{ExitCode::Usage, store.problem().message};
    }
    out.finish();
    return ExitCode::Done;
}

int expiring(SqlAnswerStore &store, const QStringList &addresses, qint64 withinMs, bool failIfAny,
             RowWriter::Format format, const QString &output, bool header)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QString until = utc(now + withinMs);
    QList<ExpiringRow> rows;
    const auto keep = [&](const ExpiringRow &row) { rows.append(row); };
    if (addresses.isEmpty()) {
        if (!store.expiring(until, {}, keep))
            throw CliError{ExitCode::Usage, store.problem().message};
    }
    for (const QString &address : addresses) {
        // Named as listed (an internationalised name in its own letters), not by its ASCII key.
        const auto asListed = [&](const ExpiringRow &row) {
            rows.append(row);
            rows.back().address = address;
        };
        if (!store.expiring(until, askedForm(address), asListed))
            throw CliError{ExitCode::Usage, store.problem().message};
    }
    // One address may have answers from two sources: its latest expiry is the newer answer's.
    std::stable_sort(rows.begin(), rows.end(), [](const ExpiringRow &a, const ExpiringRow &b) {
        return a.asked != b.asked ? a.asked < b.asked : a.seenMs > b.seenMs;
    });
    rows.erase(
        std::unique(rows.begin(), rows.end(),
                    [](const ExpiringRow &a, const ExpiringRow &b) { return a.asked == b.asked; }),
        rows.end());
    std::stable_sort(rows.begin(), rows.end(), [](const ExpiringRow &a, const ExpiringRow &b) {
        return a.expires < b.expires;
    });

    RowWriter out(format, output, header,
                  {{QStringLiteral("Address"), QStringLiteral("address")},
                   {QStringLiteral("Expires"), QStringLiteral("expires")},
                   {QStringLiteral("Registrar"), QStringLiteral("registrar")},
                   {QStringLiteral("Answer Age"), QStringLiteral("answer_age")},
                   {QStringLiteral("Last Seen"), QStringLiteral("last_seen")},
                   {QStringLiteral("Source"), QStringLiteral("source")}});
    for (const ExpiringRow &row : rows)
        out.row({row.address, row.expires, row.registrar, Duration::text(now - row.seenMs),
                 utc(row.seenMs), row.source});
    out.finish();
    return failIfAny && !rows.isEmpty() ? ExitCode::SomeFailed : ExitCode::Done;
}

int latest(SqlAnswerStore &store, const QStringList &addresses, const CliOptions &options)
{
    std::unique_ptr<ResultSink> sink;
    if (options.format == CliOptions::Format::Jsonl)
        sink = std::make_unique<JsonlSink>(options.outputPath, OutputFile::Mode::Replace);
    else
        sink = std::make_unique<TableSink>(options);
    const auto add = [&](const StoredAnswer &answer) {
        LookupResult result = answer.result;
        result.fromStore = true;
        sink->add(result);
    };
    qsizetype missing = 0;
    if (addresses.isEmpty() && !store.allLatest(add))
        throw CliError{ExitCode::Usage, store.problem().message};
    for (const QString &address : addresses) {
        // Of the two protocols' answers, the newer; else a site's.
        const QString asked = askedForm(address);
        std::optional<StoredAnswer> answer =
            store.latest(asked, QStringLiteral("rdap"), QStringLiteral("whois"));
        for (const char *site : {"site1", "site2", "site3"}) {
            if (answer)
                break;
            answer = store.latest(asked, QLatin1String(site));
        }
        if (!answer && store.problem().kind == StoreProblem::Kind::Refused)
            throw CliError{ExitCode::Usage, store.problem().message};
        if (!answer) {
            ++missing;
            reportError(QStringLiteral("no stored answer for ") + address);
            continue;
        }
        answer->result.address = address;
        add(*answer);
    }
    sink->finish();
    return missing > 0 ? ExitCode::SomeFailed : ExitCode::Done;
}

} // namespace

namespace StoreCommands {

bool isCommand(const QString &firstArgument)
{
    return commandNamed(firstArgument) != nullptr;
}

int run(const QStringList &arguments)
{
    const Command &command = *commandNamed(arguments.value(1));
    const QString name = QLatin1String(command.name);
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(command.description));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption store(QStringLiteral("store"),
                                   QStringLiteral("The answer store to read instead of "
                                                  "$XDG_DATA_HOME/Quorvane/answers.sqlite, or "
                                                  "postgresql://USER@HOST[:PORT]/DB."),
                                   QStringLiteral("PATH"));
    const bool isLatest = name == QLatin1String("latest");
    const QCommandLineOption format({QStringLiteral("f"), QStringLiteral("format")},
                                    isLatest ? QStringLiteral("tsv, csv, jsonl or xlsx.")
                                             : QStringLiteral("tsv, csv or jsonl."),
                                    QStringLiteral("FORMAT"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Writes to FILE instead of standard output."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption header(QStringLiteral("header"),
                                    QStringLiteral("tsv: the caption row first."));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("The addresses of FILE, one per line."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Changes seen at or after DATE (YYYY-MM-DD, "
                                                  "an ISO 8601 time, or a span ago: 7d)."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption within(QStringLiteral("within"),
                                    QStringLiteral("Expiring within DURATION from now (30d)."),
                                    QStringLiteral("DURATION"));
    const QCommandLineOption failIfAny(QStringLiteral("fail-if-any"),
                                       QStringLiteral("Exits 1 when any domain is listed."));
    parser.addOptions({help, store, format, output, header, list});
    if (name == QLatin1String("changes"))
        parser.addOption(since);
    if (name == QLatin1String("expiring"))
        parser.addOptions({within, failIfAny});
    if (name != QLatin1String("expiring"))
        parser.addPositionalArgument(QStringLiteral("addresses"), QStringLiteral("Addresses."),
                                     QStringLiteral("[ADDRESS...]"));

    const auto usage = [&](const QString &message) {
        std::fprintf(stderr, "quorvane-cli %s: %s\nTry 'quorvane-cli %s --help'.\n",
                     qPrintable(name), qPrintable(message), qPrintable(name));
        return ExitCode::Usage;
    };
    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(QStringLiteral("Usage: quorvane-cli ") +
                              QLatin1String(command.usage) + QStringLiteral("\n\n") +
                              parser.helpText().section(QLatin1Char('\n'), 1)),
                   stdout);
        return ExitCode::Done;
    }

    CliOptions options;
    options.outputPath = parser.value(output);
    options.header = parser.isSet(header);
    const QString formatName = parser.isSet(format)
                                   ? parser.value(format).toLower()
                                   : QFileInfo(options.outputPath).suffix().toLower();
    const QStringList known =
        isLatest
            ? QStringList{QStringLiteral("tsv"), QStringLiteral("csv"), QStringLiteral("jsonl"),
                          QStringLiteral("xlsx")}
            : QStringList{QStringLiteral("tsv"), QStringLiteral("csv"), QStringLiteral("jsonl")};
    if (parser.isSet(format) && !known.contains(formatName))
        return usage(QStringLiteral("unknown format \"") + parser.value(format) +
                     QStringLiteral("\": ") + known.join(QStringLiteral(", ")));
    const QString chosen = known.contains(formatName) ? formatName : QStringLiteral("tsv");
    options.format = chosen == QStringLiteral("csv")     ? CliOptions::Format::Csv
                     : chosen == QStringLiteral("jsonl") ? CliOptions::Format::Jsonl
                     : chosen == QStringLiteral("xlsx")  ? CliOptions::Format::Xlsx
                                                         : CliOptions::Format::Tsv;
    if (options.format == CliOptions::Format::Xlsx && options.outputPath.isEmpty())
        return usage(QStringLiteral("xlsx needs --output FILE"));
    const RowWriter::Format rows =
        options.format == CliOptions::Format::Csv     ? RowWriter::Format::Csv
        : options.format == CliOptions::Format::Jsonl ? RowWriter::Format::Jsonl
                                                      : RowWriter::Format::Tsv;

    qint64 sinceMs = 0;
    if (name == QLatin1String("changes") && parser.isSet(since)) {
        const std::optional<qint64> parsed =
            Duration::parseSinceMs(parser.value(since), QDateTime::currentMSecsSinceEpoch());
        if (!parsed)
            return usage(QStringLiteral("--since \"") + parser.value(since) +
                         QStringLiteral("\" is not a date (YYYY-MM-DD), a time or a span (7d)"));
        sinceMs = *parsed;
    }
    qint64 withinMs = 0;
    if (name == QLatin1String("expiring")) {
        if (!parser.isSet(within))
            return usage(QStringLiteral("--within DURATION is needed (30d, 12w, ...)"));
        const std::optional<qint64> parsed = Duration::parseMs(parser.value(within));
        if (!parsed)
            return usage(QStringLiteral("--within \"") + parser.value(within) +
                         QStringLiteral("\" is not a duration such as 30d or 12w"));
        withinMs = *parsed;
    }

    try {
        const QStringList addresses = addressesOf(parser, list);
        if (name == QLatin1String("history") && addresses.isEmpty())
            return usage(QStringLiteral("name the addresses (or --list FILE)"));
        const QString path = parser.isSet(store) ? parser.value(store) : StoreFile::defaultPath();
        QString locationError;
        const std::optional<StoreLocation> location = StoreLocation::parse(path, &locationError);
        if (!location)
            throw CliError{ExitCode::Usage, locationError};
        if (parser.isSet(store) && !location->isPostgres() && !QFileInfo::exists(path))
            throw CliError{ExitCode::Usage, QStringLiteral("no answer store at ") + path};
        const std::unique_ptr<SqlAnswerStore> answers =
            SqlAnswerStore::open(*location, SqlAnswerStore::Access::ReadOnly);
        if (answers->problem())
            throw CliError{ExitCode::Usage, answers->problem().message};
        if (name == QLatin1String("history"))
            return history(*answers, addresses, rows, options.outputPath, options.header);
        if (name == QLatin1String("changes"))
            return changes(*answers, addresses, sinceMs, rows, options.outputPath, options.header);
        if (name == QLatin1String("expiring"))
            return expiring(*answers, addresses, withinMs, parser.isSet(failIfAny), rows,
                            options.outputPath, options.header);
        return latest(*answers, addresses, options);
    } catch (const CliError &error) {
        reportError(error.message);
        return error.exitCode;
    }
}

} // namespace StoreCommands
