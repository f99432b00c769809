#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

// Reading a port-43 answer as text.
namespace WhoisText {

// Valid UTF-8 is read as UTF-8; anything else as ISO-8859-1, which maps every byte to a
// character, so no byte of an answer in a legacy encoding is lost.
QString decode(const QByteArray &bytes);

// The answer's lines: cut at LF, a CR before it dropped, the empty lines at the end left out.
QStringList lines(const QString &text);
// Those lines joined by CR LF, made in one pass without a string per line.
QString recordText(QStringView text);

// Whether the answer holds no visible text at all.
bool isBlank(const QString &text);

} // namespace WhoisText
