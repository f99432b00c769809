#pragma once

#include <QStringView>

#include <span>
#include <vector>

// Which lines of a whois answer are notice text rather than the answer's own message or record:
// terms of use, disclaimers, copyright and comment headers, "For more information ... https://"
// and complaint-form lines, ">>> Last update of WHOIS database <<<". One flag per line, the
// lines cut at LF (a CR before it belongs to the line). Reads the text once; a line that carries
// a known fact label is never notice text.
std::vector<bool> noticeLines(QStringView text);
// The same for lines already cut.
std::vector<bool> noticeLines(std::span<const QStringView> lines);

// Whether a line's first colon belongs to a URL ("Visit us at http://..."), so that the line has
// no label of its own.
bool colonIsUrls(QStringView line, qsizetype colon);
