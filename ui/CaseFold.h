// The case-insensitive order of native names in the details list: the C runtime's
// lower-casing in its current locale (only A-Z under "C"; the user's locale once the
// log has switched to it), compared code point by code point.
//
// Names are read as UTF-8. A byte that does not decode stands for itself as one of
// U+DC80..U+DCFF, which no locale folds: every name has a place in the order, and two
// names that differ in such bytes never compare equal.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

class CCaseFold {
public:
    // Takes the lower-casing of the locale in force now.
    CCaseFold();

    // <0, 0 or >0 as a sorts before, with or after b.
    int Compare(std::string_view a, std::string_view b) const;
    // Eight bytes of the folded name in UTF-8 from byte nSkip on, big-endian, zero-padded:
    // where two keys of names equal up to nSkip differ, they order them as Compare does.
    std::uint64_t Prefix(std::string_view s, std::size_t nSkip = 0) const;
    // The keys Prefix gives for nSkip, nSkip + 8, nSkip + 16, ... in one pass.
    template <std::size_t N>
    void Prefixes(std::string_view s, std::size_t nSkip,
                  std::array<std::uint64_t, N>& arrKeys) const {
        PrefixesAt(s, nSkip, arrKeys.data(), N);
    }

    // The code point at s[i], advancing i; an undecodable byte b gives U+DC00 + b.
    static char32_t DecodeNext(std::string_view s, std::size_t& i);

private:
    char32_t Fold(char32_t c) const;
    void PrefixesAt(std::string_view s, std::size_t nSkip, std::uint64_t* pKeys,
                    std::size_t nKeys) const;

    std::array<char32_t, 128> m_arrAscii;
};
