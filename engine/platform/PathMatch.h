// Wildcard test on native (byte) paths, without regard to ASCII letter case.
#pragma once

#include <string_view>

// '*' matches any run of characters (also none, also '/'), '?' exactly one
// character; the pattern covers the whole text. Nothing else is special.
bool PathMatchSpec(std::string_view strText, std::string_view strPattern);

inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
