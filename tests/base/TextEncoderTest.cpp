#include "TextEncoder.h"

#include <gtest/gtest.h>

namespace {

std::string Encode(const char* pszCodeset, std::string_view str) {
    CTextEncoder encoder(pszCodeset);
    std::string strOut = "<";
    encoder.Append(str, strOut);
    return strOut;
}

} // namespace

TEST(TextEncoder, Utf8AndTheCLocaleCopyBytesUnchanged) {
    const std::string str = "a \xe2\x80\x94 /m\xff\xc3/ \xc3\xa9";
    for (const char* psz : {"UTF-8", "utf8", "ANSI_X3.4-1968", "", "NO-SUCH-CODESET"}) {
        EXPECT_TRUE(CTextEncoder(psz).IsPassThrough()) << psz;
        EXPECT_EQ(Encode(psz, str), "<" + str) << psz;
    }
}

TEST(TextEncoder, OtherEncodingsConvertAndMarkWhatTheyLack) {
    EXPECT_FALSE(CTextEncoder("ISO-8859-1").IsPassThrough());
    // é exists in Latin-1; the em dash does not; stray bytes are no characters.
    EXPECT_EQ(Encode("ISO-8859-1", "caf\xc3\xa9 \xe2\x80\x94 x\xff\xfey"), "<caf\xe9 ? x??y");
    // Windows-1252 has the em dash at 0x97.
    EXPECT_EQ(Encode("CP1252", "a \xe2\x80\x94 b"), "<a \x97 b");
    // A text that ends inside a sequence.
    EXPECT_EQ(Encode("ISO-8859-1", "ab\xe2\x80"), "<ab?");
    EXPECT_EQ(Encode("ISO-8859-1", ""), "<");
    // Output far longer than the input's guess.
    EXPECT_EQ(Encode("UTF-16LE", "ab"), std::string("<a\0b\0", 5));
    std::string strLong(5000, 'z');
    EXPECT_EQ(Encode("UTF-32LE", strLong).size(), 1 + 4 * strLong.size());
}
