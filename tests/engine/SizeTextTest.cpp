#include "SizeText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <utility>

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

TEST(ByteTotal, SumsPastWhatSixtyFourBitsHoldStayExact) {
    constexpr std::int64_t k4EiB = std::int64_t{1} << 62;
    CByteCounter counter;
    for (int i = 0; i < 3; ++i)
        counter.Add(k4EiB);
    EXPECT_EQ(ByteCountText(counter.Load()), "13835058055282163712"); // past 2^63
    counter.Add(k4EiB);
    counter.Add(k4EiB);
    EXPECT_EQ(ByteCountText(counter.Load()), "23058430092136939520"); // past 2^64
    counter.Add(-5); // no file system gives one; it takes nothing away
    counter.Add(1);
    EXPECT_EQ(ByteCountText(counter.Load()), "23058430092136939521");
    counter.Reset();
    EXPECT_EQ(ByteCountText(counter.Load()), "0");
    EXPECT_EQ(ByteCountText(~ByteCount{0}), "340282366920938463463374607431768211455");
}

// GB as long as its text fits the windows' fields whole, seven digits before the
// separator; only where GB could not be read at all does a sum go on in larger units.
TEST(ByteTotal, SizeTextsOfSumsAreNeverNegativeAndStayInGigabytesWhileTheyFit) {
    constexpr ByteCount kPiB = ByteCount{1} << 50;
    constexpr ByteCount kGB = ByteCount{1} << 30;
    const std::pair<ByteCount, const char*> cases[] = {
        {0, "0 B"},
        {1536, "1.50 KB"},
        {ByteCount{1} << 40, "1024.00 GB"}, // a terabyte and more in GB
        {kPiB - 1, "1048576.00 GB"},
        {kPiB, "1048576.00 GB"},
        {ByteCount{1} << 53, "8388608.00 GB"},              // 2^63 is 8 EiB: past every single size
        {9'999'999 * kGB + 1'063'004'406, "9999999.99 GB"}, // the widest that fits
        {10'000'000 * kGB - 1, "9.54 PB"},                  // would round to eight digits of GB
        {10'000'000 * kGB, "9.54 PB"},
        {ByteCount{3} << 62, "12.00 EB"},
        {ByteCount{5} << 62, "20.00 EB"},
        {ByteCount{1} << 70, "1.00 ZB"},
        {ByteCount{1} << 80, "1.00 YB"},
        {ByteCount{1} << 90, "1.00 RB"},
        {ByteCount{1} << 100, "1.00 QB"},
        {ByteCount{1} << 126, "67108864.00 QB"}, // more than 2^63 files of 2^63 bytes
    };
    for (auto [n, psz] : cases)
        EXPECT_EQ(FormatTotalSize(n), psz) << ByteCountText(n);
    for (std::int64_t n : {std::int64_t{0}, std::int64_t{1023}, std::int64_t{5368709120}})
        EXPECT_EQ(FormatTotalSize(ByteCount(n)), FormatSize(n));
}
