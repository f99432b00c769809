#pragma once

#include <QByteArrayView>
#include <QString>

// UTF-8 bytes as text: unlike QString::fromUtf8, a leading U+FEFF is kept.
QString textFromUtf8(QByteArrayView utf8);

// Widens the ASCII bytes that open `bytes` into `out` (room for bytes.size()), sixteen at a
// time, up to the first byte beyond ASCII; returns how many. Answers are mostly ASCII: a
// decoder that checks and converts byte by byte is then left only the rest, if any.
qsizetype widenAscii(QByteArrayView bytes, char16_t *out);
