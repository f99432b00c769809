#pragma once

#include "lookup/sourcekind.h"

#include <QString>

#include <optional>

struct LookupResult;

// --save-answers DIR: each answer a lookup got is written to DIR/<address>.<kind> in the form
// --read-records reads: ".txt" for port 43 (its text, UTF-8), ".json" for RDAP (the registry's
// object as sent), ".html" for a site (its page, UTF-8 behind a byte-order mark so that it
// reads the same without its HTTP header). A character a file name cannot hold ('/', control
// characters) becomes '_'; an address asked twice keeps its last answer. Failures throw
// CliError with exit code 3.
class AnswerSaver
{
public:
    // Makes the folder when it is missing.
    explicit AnswerSaver(const QString &folder);

    // Nothing for a lookup without an answer (failed, throttled, invalid).
    void save(const LookupResult &result);

    // The file name of an address's answer of a source: .txt for port 43, .json for RDAP, .html
    // for a site.
    static QString fileName(const QString &address, std::optional<SourceKind> source);

private:
    QString m_folder;
};
