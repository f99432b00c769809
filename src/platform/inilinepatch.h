#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <optional>

// Replacing one value of a settings file in place, in the very form QSettings (INI format)
// writes it, for the keys and values whose written form is plain text. QSettings escapes a
// value character by character, which takes about half a second for an address list of a
// million entries; a plain value is written as it is here. Anything else is left to QSettings.
namespace IniLinePatch {

// The key as QSettings writes it ("IP Addresses" as "IP%20Addresses"), when it is made of
// letters, digits, "_", "-", "." and spaces only.
std::optional<QByteArray> plainKey(QStringView key);

// The value as QSettings writes a string (quoted when it holds ";", "," or "=", or starts or
// ends with a space), when it is printable ASCII without '"', '\' and a leading "@".
std::optional<QByteArray> plainValue(QStringView value);

// Puts the value into the one line "key=..." of the one section "[section]" of the file's
// text; false, leaving the text alone, when the file does not have exactly that shape (no
// such line, several, a line continued, CR LF line ends).
bool replaceValue(QByteArray &text, QByteArrayView section, QByteArrayView key,
                  QByteArrayView value);

// Whether a value as written in the file has a ";" outside quotes: QSettings takes the rest of
// the line for a comment.
bool hasBareSemicolon(QByteArrayView written);
// The value as written, made one quoted string: its own quotes (which only group) dropped, its
// escapes kept, so a ";" or "," in it is text when QSettings reads it.
QByteArray quotedWhole(QByteArrayView written);

// Puts "key=value" into the section: over the key's last line there (with the lines that
// continue it), else after the section's last line, else in a new section at the end. Every
// other line stays as it is; a file with CR LF line ends gets one for the new line.
void putLine(QByteArray &text, QByteArrayView section, QByteArrayView key, QByteArrayView value);

} // namespace IniLinePatch
