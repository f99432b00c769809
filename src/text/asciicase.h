#pragma once

#include <QStringView>

#include <string_view>

// Caseless comparison of record text with ASCII phrases. Labels and phrases of whois answers are
// ASCII; Qt's caseless search folds every character through Unicode's tables, which costs
// several times more than the search itself on long notice lines.

inline char16_t asciiLower(char16_t u)
{
    return u >= 'A' && u <= 'Z' ? char16_t(u - 'A' + 'a') : u;
}

// Whether `text` starts with `lower` (ASCII, lower case), ASCII letters compared without case.
inline bool startsWithCaseless(QStringView text, std::string_view lower)
{
    if (text.size() < qsizetype(lower.size()))
        return false;
    for (size_t i = 0; i < lower.size(); ++i) {
        if (asciiLower(text[qsizetype(i)].unicode()) != char16_t(lower[i]))
            return false;
    }
    return true;
}

// Where `lower` (ASCII, lower case, not empty) first occurs in `text` at or after `from`, ASCII
// letters compared without case; -1 when nowhere.
inline qsizetype indexOfCaseless(QStringView text, std::string_view lower, qsizetype from = 0)
{
    const char16_t first = char16_t(lower.front());
    const char16_t firstUpper = first >= 'a' && first <= 'z' ? char16_t(first - 'a' + 'A') : first;
    const qsizetype last = text.size() - qsizetype(lower.size());
    for (qsizetype i = qMax<qsizetype>(from, 0); i <= last; ++i) {
        const char16_t u = text[i].unicode();
        if ((u == first || u == firstUpper) && startsWithCaseless(text.mid(i), lower))
            return i;
    }
    return -1;
}
