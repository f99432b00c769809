#pragma once

#include "lookup/lookupresult.h"

#include <QByteArray>
#include <QString>

// The largest saved answer read: as large as any answer a source takes from a server.
inline constexpr qint64 MaxSavedAnswerBytes = qint64(8) << 20;

// A lookup's result from an answer saved earlier, no server asked: an RDAP JSON object (the
// bytes, after white space, are one JSON object) is rendered as the RDAP source renders it and
// its facts read from the object, with source "rdap" (nothing says what was asked, so an object
// without "objectClassName" is read by its members); anything else is port-43 text (UTF-8, or
// Latin-1 when it is not valid UTF-8) cut into lines and fields as the port-43 source cuts
// them, with source "whois". A leading UTF-8 byte-order mark is dropped. `address` names the answer
// in the result.
LookupResult resultFromSavedAnswer(const QString &address, const QByteArray &bytes);
