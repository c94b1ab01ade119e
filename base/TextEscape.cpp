#include "TextEscape.h"

#include "Utf8.h"

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
