#include "CaseFold.h"

#include <algorithm>
#include <cwctype>

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Generalised UTF-8, escaped bytes included, so that byte order is code point order.
int Encode(char32_t c, unsigned char* p) {
    if (c < 0x80) {
        p[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        p[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        p[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        p[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        p[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    p[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    p[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    p[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    p[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

} // namespace

CCaseFold::CCaseFold() {
    for (char32_t c = 0; c < m_arrAscii.size(); ++c)
        m_arrAscii[c] = static_cast<char32_t>(std::towlower(static_cast<wint_t>(c)));
}

char32_t CCaseFold::DecodeNext(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    // Shortest forms only, no surrogates, nothing past U+10FFFF.
    int nMore = 0;
    char32_t c = 0;
    unsigned char nLow = 0x80, nHigh = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        nMore = 1;
        c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        nMore = 2;
        c = b0 & 0x0F;
        if (b0 == 0xE0)
            nLow = 0xA0;
        else if (b0 == 0xED)
            nHigh = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        nMore = 3;
        c = b0 & 0x07;
        if (b0 == 0xF0)
            nLow = 0x90;
        else if (b0 == 0xF4)
            nHigh = 0x8F;
    }
    if (nMore == 0 || s.size() - i <= static_cast<std::size_t>(nMore)) {
        ++i;
        return 0xDC00 + b0;
    }
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    if (b1 < nLow || b1 > nHigh) {
        ++i;
        return 0xDC00 + b0;
    }
    c = (c << 6) | (b1 & 0x3F);
    for (int k = 2; k <= nMore; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if (!IsContinuation(b)) {
            ++i;
            return 0xDC00 + b0;
        }
        c = (c << 6) | (b & 0x3F);
    }
    i += static_cast<std::size_t>(nMore) + 1;
    return c;
}

char32_t CCaseFold::Fold(char32_t c) const {
    if (c < m_arrAscii.size())
        return m_arrAscii[c];
    // Escaped bytes are surrogates, which towlower leaves alone.
    return static_cast<char32_t>(std::towlower(static_cast<wint_t>(c)));
}

int CCaseFold::Compare(std::string_view a, std::string_view b) const {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        char32_t fa, fb;
        if ((ca | cb) < 0x80) {
            fa = m_arrAscii[ca];
            fb = m_arrAscii[cb];
            ++i;
            ++j;
        } else {
            fa = Fold(DecodeNext(a, i));
            fb = Fold(DecodeNext(b, j));
        }
        if (fa != fb)
            return fa < fb ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

std::uint64_t CCaseFold::Prefix(std::string_view s, std::size_t nSkip) const {
    std::uint64_t nKey;
    PrefixesAt(s, nSkip, &nKey, 1);
    return nKey;
}

void CCaseFold::PrefixesAt(std::string_view s, std::size_t nSkip, std::uint64_t* pKeys,
                           std::size_t nKeys) const {
    const std::size_t nWanted = 8 * nKeys;
    std::size_t nTaken = 0;
    std::size_t nAt = 0; // bytes of the folded form so far
    std::fill(pKeys, pKeys + nKeys, 0);
    unsigned char arrBytes[4];
    for (std::size_t i = 0; i < s.size() && nTaken < nWanted;) {
        const int n = Encode(Fold(DecodeNext(s, i)), arrBytes);
        for (int k = 0; k < n && nTaken < nWanted; ++k, ++nAt) {
            if (nAt >= nSkip) {
                pKeys[nTaken / 8] |= std::uint64_t{arrBytes[k]} << (8 * (7 - nTaken % 8));
                ++nTaken;
            }
        }
    }
}
