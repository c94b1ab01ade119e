#include "TextEscape.h"

#include "Utf8.h"

#include <cstdio>

std::string QuoteText(std::string_view strBytes, const TextEscapes& escapes) {
    std::string s = "\"";
    s.reserve(strBytes.size() + 2);
    for (std::size_t i = 0; i < strBytes.size();) {
        const char c = strBytes[i];
        if (static_cast<unsigned char>(c) < 0x80) {
            if (!escapes.escapeAscii(c, s))
                s += c;
            ++i;
        } else if (const std::size_t nLen = Utf8SequenceLength(strBytes.substr(i)); nLen > 0) {
            s.append(strBytes, i, nLen);
            i += nLen;
        } else {
            escapes.escapeByte(static_cast<unsigned char>(c), s);
            ++i;
        }
    }
    return s + "\"";
}

namespace {

void AppendHex(std::string& strOut, const char* pszFormat, unsigned char c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, pszFormat, c);
    strOut += buf;
}

// A byte that is not UTF-8 as \udcXX, the form "surrogateescape" decoders give back.
constexpr TextEscapes kJsonEscapes{
    [](char c, std::string& strOut) {
        if (c == '"' || c == '\\') {
            strOut += '\\';
            strOut += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            AppendHex(strOut, "\\u%04x", static_cast<unsigned char>(c));
        } else {
            return false;
        }
        return true;
    },
    [](unsigned char c, std::string& strOut) { AppendHex(strOut, "\\udc%02x", c); }};

} // namespace

std::string JsonString(std::string_view strBytes) {
    return QuoteText(strBytes, kJsonEscapes);
}
