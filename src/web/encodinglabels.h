#pragma once

#include <cstddef>
#include <iterator>
#include <span>
#include <string_view>

// One encoding label and the encoding it stands for, or one encoding and its iconv name.
struct EncodingLabel
{
    std::string_view label;
    const char *encoding;
};

// Browser encoding labels (lower case) and the encoding each stands for.
extern const EncodingLabel kEncodingLabels[];
extern const size_t kEncodingLabelCount;
// Encodings decoded through glibc iconv, and the iconv name of each.
extern const EncodingLabel kIconvNames[];
extern const size_t kIconvNameCount;

inline std::span<const EncodingLabel> encodingLabels()
{
    return {kEncodingLabels, kEncodingLabelCount};
}
inline std::span<const EncodingLabel> iconvNames()
{
    return {kIconvNames, kIconvNameCount};
}
