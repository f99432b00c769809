#pragma once

#include "web/sites.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Turning a fetched page into the text of its whois record. No network here: pure functions of
// their arguments.

// The page body as text. The encoding comes from a byte-order mark, else the charset of the
// Content-Type header, else a <meta charset> or <meta http-equiv="Content-Type"> within the
// first 1024 bytes, else UTF-8. Labels are resolved the way browsers resolve them (so
// "iso-8859-1" and "us-ascii" mean windows-1252). Bytes that do not decode become U+FFFD.
QString DecodePage(const QByteArray &body, const QByteArray &contentTypeHeader = {});
// The same text as UTF-8, exactly DecodePage(...).toUtf8(); a well-formed UTF-8 page is handed
// back as it is, without a copy. (Unpaired surrogates of a UTF-16 page become '?'.)
QByteArray DecodePageUtf8(const QByteArray &body, const QByteArray &contentTypeHeader = {});

// The name of the encoding a label stands for ("windows-1252", "utf-8", ...), or empty when the
// label is unknown.
QByteArray EncodingForLabel(QByteArrayView label);

// Bounds on the work of parsing one page, so that hostile markup cannot hold the program.
struct ParseLimits
{
    int timeLimitMs = 5000;
    qint64 memoryLimitBytes = qint64(1) << 30;
};

// The rendered text of the site's record element: `Option1` the first <pre>, `Option2` the
// element with id "whoisRecordContainer", `Option3` the element with id "maincontent". Empty
// when the page has no such element. Lines are joined by CR LF.
QString RecordText(const QString &html, Site site);
// As RecordText; nothing when the page could not be parsed within the limits.
std::optional<QString> TryRecordText(const QString &html, Site site,
                                     const ParseLimits &limits = {});

// As TryRecordText, for a page and a record in UTF-8.
std::optional<QByteArray> TryRecordTextUtf8(const QByteArray &html, Site site,
                                            const ParseLimits &limits = {});

// The rendered text (a browser's innerText) of the element with the given id, or of the page's
// <body> when the id is empty; empty when there is no such element.
QString InnerText(const QString &html, const QString &elementId = {});
