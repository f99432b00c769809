#pragma once

#include <QStringView>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

// What a short text (a label as a server wrote it) was found to say, kept so that the next
// answer from that server, which writes the same labels again, finds it with one look-up. The
// texts are hashed eight bytes at a time and compared with memcmp: the standard library's hash
// of a u16string_view and its character-by-character comparison cost more than the look-up
// saved. Emptied when it holds `KeptAtMost`, so that answers full of made-up labels cannot grow
// it without end. Not thread-safe: keep one per thread.
template <typename Value, std::size_t KeptAtMost = 4096> class TextCache
{
public:
    const Value *find(QStringView text) const
    {
        const auto it = m_kept.find(view(text));
        return it == m_kept.end() ? nullptr : &it->second;
    }

    const Value &keep(QStringView text, Value value)
    {
        if (m_kept.size() >= KeptAtMost)
            m_kept.clear();
        return m_kept.emplace(std::u16string(view(text)), std::move(value)).first->second;
    }

    std::size_t size() const { return m_kept.size(); }

private:
    static std::u16string_view view(QStringView text)
    {
        return {text.utf16(), std::size_t(text.size())};
    }

    struct Hash
    {
        using is_transparent = void;
        std::size_t operator()(std::u16string_view text) const
        {
            const char *p = reinterpret_cast<const char *>(text.data());
            std::size_t n = text.size() * sizeof(char16_t);
            std::uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
            for (; n >= 8; p += 8, n -= 8) {
                std::uint64_t w;
                std::memcpy(&w, p, 8);
                h = (h ^ w) * 0xFF51AFD7ED558CCDull;
                h ^= h >> 32;
            }
            std::uint64_t tail = 0;
            if (n > 0)
                std::memcpy(&tail, p, n);
            h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
            return std::size_t(h ^ (h >> 29));
        }
    };
    struct Equal
    {
        using is_transparent = void;
        bool operator()(std::u16string_view a, std::u16string_view b) const
        {
            return a.size() == b.size() &&
                   std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
        }
    };

    std::unordered_map<std::u16string, Value, Hash, Equal> m_kept;
};
