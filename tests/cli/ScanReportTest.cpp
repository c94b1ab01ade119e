#include "ScanReport.h"

#include <gtest/gtest.h>

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

TEST(IsoDate, ValidAndInvalidDates) {
    EXPECT_EQ(IsoDate({40606.430902777778, DateTimeStatus::valid}), "2011-03-04T10:20:30");
    EXPECT_EQ(IsoDate({0.0, DateTimeStatus::invalid}), "");
    EXPECT_EQ(IsoDate({0.0, DateTimeStatus::valid}), "1899-12-30T00:00:00");
}

TEST(ScanResults, CountsTheFourGroupsAndIgnoresOthers) {
    CScanResults results(true);
    FileProperty p;
    p.m_nSize = 10;
    results.OnMessage(WM_FILEFOUND, reinterpret_cast<WPARAM>("Images"),
                      reinterpret_cast<LPARAM>(&p));
    results.OnMessage(WM_FILEFOUND, reinterpret_cast<WPARAM>("images"),
                      reinterpret_cast<LPARAM>(&p));
    p.m_nSize = 5;
    results.OnMessage(WM_FILEFOUND, reinterpret_cast<WPARAM>("Video"),
                      reinterpret_cast<LPARAM>(&p));
    EXPECT_EQ(results.Files(1), 1);
    EXPECT_EQ(results.Bytes(1), 10);
    EXPECT_EQ(results.TotalFiles(), 2);
    EXPECT_EQ(results.TotalBytes(), 15);
    EXPECT_EQ(results.Records().size(), 2u);
    EXPECT_FALSE(results.WaitFinished(0));
    results.OnMessage(WM_ENUMFINISH, 0, 0);
    EXPECT_TRUE(results.WaitFinished(0));
    EXPECT_EQ(FormatProgress(results, 20).size(), 20u);
}
