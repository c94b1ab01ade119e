#include "PathMatch.h"

namespace {

// Length of the UTF-8 sequence starting at s[i], so that '?' takes one character.
// Bytes that do not form a sequence count one each.
std::size_t CharLength(std::string_view s, std::size_t i) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : 1;
    if (i + n > s.size())
        return 1;
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 1;
    }
    return n;
}

} // namespace

bool PathMatchSpec(std::string_view t, std::string_view p) {
    std::size_t ti = 0, pi = 0;
    std::size_t starP = std::string_view::npos, starT = 0;
    while (ti < t.size()) {
        if (pi < p.size() && p[pi] == '*') {
            starP = pi++;
            starT = ti;
        } else if (pi < p.size() && p[pi] == '?') {
            ++pi;
            ti += CharLength(t, ti);
        } else if (pi < p.size() && FoldAscii(p[pi]) == FoldAscii(t[ti])) {
            ++pi;
            ++ti;
        } else if (starP != std::string_view::npos) {
            pi = starP + 1;
            ti = ++starT;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}
