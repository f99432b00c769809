#pragma once

#include <QStringView>

// What the free text of a whois answer says about the name asked for, from the phrasings
// registries use. Each kind is one table in answerphrases.cpp.
struct AnswerPhrases
{
    bool throttle = false; // the server refuses because of the query rate
    bool noMatch = false;  // the name is not registered
    bool reserved = false; // the name is reserved or blocked
    bool invalid = false;  // the query itself was refused as invalid
};

// One pass over the text, case-insensitive for ASCII letters.
AnswerPhrases scanAnswerPhrases(QStringView text);

// What an answer without a record says, its own message apart from its notice text (see
// noticeLines): a refusal is the answer's message, never words of its terms of use. A message
// line that is a status word alone ("Available", "Reserved") or a short line ending in
// "available" ("example.io - Available") says so too. The notice text is read only when the
// message says nothing.
struct AnswerReading
{
    AnswerPhrases message;
    AnswerPhrases notice;
};
AnswerReading readAnswerPhrases(QStringView text);
