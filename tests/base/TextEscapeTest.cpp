#include "TextEscape.h"

#include <gtest/gtest.h>

namespace {

// Marks what the walk hands to each rule: <c> for an escaped ASCII character, [HH]
// for a byte that is not UTF-8.
constexpr TextEscapes kMarks{[](char c, std::string& strOut) {
                                 if (c != '"' && c != '\0')
                                     return false;
                                 strOut += c == '"' ? "<q>" : "<0>";
                                 return true;
                             },
                             [](unsigned char c, std::string& strOut) {
                                 static constexpr char kHex[] = "0123456789ABCDEF";
                                 strOut += {'[', kHex[c >> 4], kHex[c & 15], ']'};
                             }};

} // namespace

TEST(QuoteText, ValidUtf8PassesEveryOtherByteGoesToTheFormatsRule) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "\"\""},
        {"a\"b", "\"a<q>b\""},
        {std::string("a\0b", 3), "\"a<0>b\""},
        {"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x93\x84",
         "\"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x93\x84\""},
        {"caf\xE9", "\"caf[E9]\""},
        {"\xC0\xAF", "\"[C0][AF]\""},                 // an overlong '/'
        {"\xED\xA0\x80", "\"[ED][A0][80]\""},         // an encoded surrogate
        {"\xF4\x90\x80\x80", "\"[F4][90][80][80]\""}, // past U+10FFFF
        {"\xE2\x80", "\"[E2][80]\""},                 // cut short at the end
        {"\xE2\x80\"", "\"[E2][80]<q>\""},            // cut short by ASCII
    };
    for (const auto& [strIn, strOut] : cases)
        EXPECT_EQ(QuoteText(strIn, kMarks), strOut) << strIn;
}

TEST(JsonString, ValidUtf8PassesAndOtherBytesAreEscaped) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
    EXPECT_EQ(JsonString("caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x93\x84"),
              "\"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x93\x84\"");
    EXPECT_EQ(JsonString("caf\xE9"), "\"caf\\udce9\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\\udcc0\\udcaf\"");            // overlong '/'
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\udced\\udca0\\udc80\""); // an encoded surrogate
    EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), "\"\\udcf4\\udc90\\udc80\\udc80\""); // > U+10FFFF
    EXPECT_EQ(JsonString("\xE2\x80"), "\"\\udce2\\udc80\"");                       // cut short
    EXPECT_EQ(JsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
}
