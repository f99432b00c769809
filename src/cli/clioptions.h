#pragma once

#include "lookup/source.h"
#include "whois/whoisreferral.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What one invocation of quorvane-cli asks for.
struct CliOptions
{
    enum class Format
    {
        Tsv,
        Csv,
        Jsonl,
        Xlsx
    };

    QStringList inputFiles; // "-" is standard input
    QStringList addresses;  // given with --address, looked up before the files' lines
    bool readStandardInput = false;
    SourceKind source = SourceKind::Auto;
    std::optional<WhoisServer> whoisServer; // asked first instead of IANA
    bool followReferrals = true;
    int parallel = 8; // servers busy at once
    int delaySeconds = 1;
    Format format = Format::Tsv;
    QString outputPath; // empty: standard output
    bool header = false;
    bool quiet = false;
    bool resume = false;
    bool readRecords = false; // the files are saved answers, not address lists
    // The answer store: every answer kept there, one younger than maxAgeMs (from the same
    // source) given instead of asking. noStore: neither read nor written.
    qint64 maxAgeMs = 0;
    bool noStore = false;
    QString storePath; // empty: the default place
};

namespace CliArguments {

// --help or --version: the text to print on standard output, then exit 0.
struct Info
{
    QString text;
};
// A usage error: one line for standard error, then exit 2.
struct UsageError
{
    QString message;
};

using Parsed = std::variant<CliOptions, Info, UsageError>;

// Reads the command line (arguments[0] is the program).
Parsed parse(const QStringList &arguments);

// The name of a format as --format spells it.
QString formatName(CliOptions::Format format);

} // namespace CliArguments
