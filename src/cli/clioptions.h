#pragma once

#include "lookup/source.h"
#include "whois/whoisreferral.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What one invocation of quorvane-cli asks for.
struct CliOptions
{
    enum class Format
    {
        Tsv, // escaped tab-separated values: every line has the caption line's fields
        Txt, // the window's text export, byte for byte
        Csv,
        Jsonl,
        Xlsx
    };

    // Where addresses come from, in order: an address given as such, or a list file ("-" is
    // standard input).
    struct Input
    {
        enum class Kind
        {
            Address,
            File
        };
        Kind kind;
        QString text;
        friend bool operator==(const Input &, const Input &) = default;
    };

    QList<Input> inputs;    // --address values first, then the arguments in order
    QStringList inputFiles; // the arguments as given (--read-records: the record files)
    QStringList addresses;  // given with --address, looked up before the arguments
    bool readStandardInput = false;
    SourceKind source = SourceKind::Auto;
    std::optional<WhoisServer> whoisServer; // asked first instead of IANA
    bool followReferrals = true;
    int parallel = 8; // servers busy at once
    QString delayText = QStringLiteral("1");
    qint64 delayMs = 1000; // between two requests to the same server
    int timeoutMs = 30000; // each answer's deadline
    Format format = Format::Tsv;
    QString outputPath; // empty: standard output
    bool header = false;
    bool quiet = false;
    bool verbose = false; // the quorvane.* log categories on
    bool resume = false;
    bool retryFailed = false;  // with resume: the failed and throttled lines are asked again
    QString saveAnswersFolder; // each answer's own bytes go to a file there
    bool readRecords = false;  // the files are saved answers, not address lists
    QString proxy;             // --proxy URL; empty: the environment's proxy variables
    bool keepNotices = false;  // port 43 and RDAP: notice lines stay fields
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

// An address as typed or listed, as it is looked up: the white space around it dropped, a
// pasted URL ("https://example.com/path") reduced to its host, one trailing dot of a name
// dropped. Other text is left as it is (the lookup says when it is not an address).
QString normalizedAddress(const QString &text);

// Whether a command-line argument that names no file is an address to look up: it reads as a
// domain name, IP address, network or AS number once normalised, and does not end like a list
// file's name (".txt", ".csv", ...), which is more likely a file that is missing.
bool argumentIsAddress(const QString &argument);

} // namespace CliArguments
