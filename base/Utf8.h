// UTF-8 in one place for every layer: the encoding of code points (wide and UTF-16
// text turned into the program's narrow text) and the test of what is valid UTF-8
// (paths are native bytes and need not be).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Appends the code point's UTF-8 form. Values up to 0x10FFFF are encoded as they
// are, lone surrogates included (their three-byte form); callers that must not
// produce those replace them first.
inline void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Length of the valid UTF-8 sequence at the start of str; 0 when it starts with a
// byte that does not begin one (a stray continuation byte, an overlong form, an
// encoded surrogate, a value past U+10FFFF, a sequence cut short) or str is empty.
inline std::size_t Utf8SequenceLength(std::string_view str) {
    if (str.empty())
        return 0;
    const auto b0 = static_cast<unsigned char>(str[0]);
    if (b0 < 0x80)
        return 1;
    std::size_t nLen;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        nLen = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        nLen = 3;
        if (b0 == 0xE0)
            lo = 0xA0; // overlong
        else if (b0 == 0xED)
            hi = 0x9F; // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        nLen = 4;
        if (b0 == 0xF0)
            lo = 0x90; // overlong
        else if (b0 == 0xF4)
            hi = 0x8F; // beyond U+10FFFF
    } else {
        return 0;
    }
    if (str.size() < nLen)
        return 0;
    const auto b1 = static_cast<unsigned char>(str[1]);
    if (b1 < lo || b1 > hi)
        return 0;
    for (std::size_t i = 2; i < nLen; ++i) {
        const auto b = static_cast<unsigned char>(str[i]);
        if (b < 0x80 || b > 0xBF)
            return 0;
    }
    return nLen;
}
