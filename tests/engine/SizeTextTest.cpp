#include "SizeText.h"

#include <gtest/gtest.h>

#include <clocale>

TEST(FormatSize, UnitsBoundariesAndRounding) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.00 KB"},
        {1152, "1.13 KB"}, // exactly 1.125: the 5 rounds up
        {1536, "1.50 KB"},
        {1048575, "1024.00 KB"}, // the unit is chosen on the bytes, not the rounded value
        {1048576, "1.00 MB"},
        {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"},
        {1099511627776, "1024.00 GB"},
        {2199023255552, "2048.00 GB"},
        {-5, "-5 B"},
        {5368709120, "5.00 GB"},
        {INT64_MAX, "8589934592.00 GB"},
    };
    for (auto [n, psz] : cases)
        EXPECT_EQ(FormatSize(n), psz) << n;
}

TEST(FormatSize, TwoDecimalsOnTheDecimalDigits) {
    EXPECT_EQ(FormatTwoDecimals(0.0), "0.00");
    EXPECT_EQ(FormatTwoDecimals(0.004), "0.00");
    EXPECT_EQ(FormatTwoDecimals(0.005), "0.01");
    EXPECT_EQ(FormatTwoDecimals(1.125), "1.13");   // exact in binary: a remaining 5 rounds up
    EXPECT_EQ(FormatTwoDecimals(2.675), "2.67");   // 2.6749999999999998 in 17 digits
    EXPECT_EQ(FormatTwoDecimals(9.9951), "10.00"); // the carry runs through every digit
    EXPECT_EQ(FormatTwoDecimals(999.999), "1000.00");
    EXPECT_EQ(FormatTwoDecimals(123456.78), "123456.78");
}

TEST(FormatSize, DecimalSeparatorOfTheCurrentLocale) {
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no German or French locale installed on this machine";
    EXPECT_EQ(FormatSize(1536), "1,50 KB");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(FormatSize(1536), "1.50 KB");
}
