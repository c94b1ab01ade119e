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

// A JSON string literal of native bytes: valid UTF-8 passes as it is; each byte that
// is not part of valid UTF-8 becomes \udcXX (XX its value), so the original bytes can
// be recovered (a decoder with "surrogateescape" error handling gives them back).
std::string JsonString(std::string_view strBytes);
