#pragma once

#include "lookup/lookupresult.h"
#include "web/sites.h"

#include <QByteArray>
#include <QString>

// The largest saved answer read: as large as any answer a source takes from a server.
inline constexpr qint64 MaxSavedAnswerBytes = qint64(8) << 20;

// A lookup's result from an answer saved earlier, no server asked: an RDAP JSON object (the
// bytes, after white space, are one JSON object) is rendered as the RDAP source renders it and
// its facts read from the object, with source "rdap" (nothing says what was asked, so an object
// without "objectClassName" is read by its members); a web page (the bytes, after white space,
// start with '<') is read as the site's source reads its page, with source "site<n>": the site
// given, or else the first of site 2, site 3 and site 1 whose record element the page holds;
// anything else is port-43 text (UTF-8, or Latin-1 when it is not valid UTF-8) cut into lines
// and fields as the port-43 source cuts them, with source "whois". A leading UTF-8 byte-order
// mark is dropped from text and JSON (a page keeps it: it says the page's encoding). `address`
// names the answer in the result.
LookupResult resultFromSavedAnswer(const QString &address, const QByteArray &bytes,
                                   std::optional<Site> site = std::nullopt);
