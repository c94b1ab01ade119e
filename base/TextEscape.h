// Native bytes as the text of a quoted string in a format that is UTF-8 (JSON, the
// Prometheus text format): one walk through the bytes for every such format, each
// format saying how it writes the ASCII characters it escapes and the bytes that are
// not part of valid UTF-8. A format's rules must keep two different byte strings from
// ever giving the same text.
#pragma once

#include <string>
#include <string_view>

struct TextEscapes {
    // Appends what stands for the ASCII character c and answers true, or answers
    // false to keep c as it is.
    bool (*escapeAscii)(char c, std::string& strOut);
    // Appends what stands for a byte that does not belong to valid UTF-8.
    void (*escapeByte)(unsigned char c, std::string& strOut);
};

// strBytes between double quotes: valid UTF-8 as it is, but for the ASCII characters
// the format escapes; every other byte as the format writes it.
std::string QuoteText(std::string_view strBytes, const TextEscapes& escapes);
