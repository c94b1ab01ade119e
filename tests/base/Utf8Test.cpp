#include "Utf8.h"

#include <gtest/gtest.h>

TEST(Utf8, SequenceLengthAtEachBoundaryOfValidUtf8) {
    const struct {
        const char* psz;
        std::size_t nLen;
    } cases[] = {
        {"a", 1},
        {"\xc2\x80", 2}, // the smallest two-byte form
        {"\xc1\xbf", 0}, // overlong
        {"\xc3\xa9", 2},
        {"\xe0\xa0\x80", 3}, // the smallest three-byte form
        {"\xe0\x9f\xbf", 0}, // overlong
        {"\xe2\x80\x94", 3},
        {"\xed\x9f\xbf", 3},     // the last before the surrogates
        {"\xed\xa0\x80", 0},     // a surrogate
        {"\xf0\x90\x80\x80", 4}, // the smallest four-byte form
        {"\xf0\x8f\xbf\xbf", 0}, // overlong
        {"\xf4\x8f\xbf\xbf", 4}, // U+10FFFF
        {"\xf4\x90\x80\x80", 0}, // beyond U+10FFFF
        {"\xf5\x80\x80\x80", 0},
        {"\x97", 0},             // a continuation byte alone
        {"\xe2\x28\xa1", 0},     // second byte not a continuation
        {"\xe2\x82\x28", 0},     // third byte not a continuation
        {"\xf0\x9f\x98\x28", 0}, // fourth byte not a continuation
        {"\xe2\x80", 0},         // cut short
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8SequenceLength(c.psz), c.nLen) << testing::PrintToString(std::string(c.psz));
}
