#include "platform/FileTime.h"
#include "ScanControl.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <new>
#include <string>
#include <vector>

namespace {

// 100-ns ticks of a UTC-like calendar instant, computed independently of the code
// under test from the Unix epoch (11644473600 s after 1601-01-01).
FILETIME Ticks(std::int64_t nUnixSeconds, std::int64_t nNanos = 0) {
    return FILETIME{
        static_cast<std::uint64_t>((nUnixSeconds + 11644473600LL) * 10'000'000 + nNanos / 100)};
}

class CFixedOffset final : public ILocalTime {
public:
    explicit CFixedOffset(long nOffset) : m_nOffset(nOffset) {}
    bool FileTimeToLocalFileTime(const std::timespec& utc, FILETIME& local) const override {
        local = Ticks(utc.tv_sec + m_nOffset, utc.tv_nsec);
        return true;
    }

private:
    long m_nOffset;
};

class CFailingLocalTime final : public ILocalTime {
public:
    bool FileTimeToLocalFileTime(const std::timespec&, FILETIME&) const override { return false; }
};

} // namespace

TEST(AutomationDate, KnownDayNumbers) {
    SYSTEMTIME st{};
    double dt = -1;
    st = {1899, 12, 0, 30, 0, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToVariantTime(st, dt));
    EXPECT_EQ(dt, 0.0);

    st = {2011, 3, 0, 4, 10, 20, 30, 999}; // milliseconds do not take part
    ASSERT_TRUE(SystemTimeToVariantTime(st, dt));
    EXPECT_NEAR(dt, 40606.430902777778, 1e-9);

    st = {1899, 12, 0, 29, 6, 0, 0, 0}; // before the epoch the fraction counts forward
    ASSERT_TRUE(SystemTimeToVariantTime(st, dt));
    EXPECT_DOUBLE_EQ(dt, -1.25);

    st = {9999, 12, 0, 31, 23, 59, 59, 0};
    EXPECT_TRUE(SystemTimeToVariantTime(st, dt));
    st = {100, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_TRUE(SystemTimeToVariantTime(st, dt));
}

TEST(AutomationDate, RefusesWhatItCannotHold) {
    double dt;
    SYSTEMTIME st{10000, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToVariantTime(st, dt));
    st = {99, 12, 0, 31, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToVariantTime(st, dt));
    st = {2011, 2, 0, 29, 0, 0, 0, 0}; // not a leap year
    EXPECT_FALSE(SystemTimeToVariantTime(st, dt));
    st = {2011, 13, 0, 1, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToVariantTime(st, dt));
    st = {2011, 1, 0, 1, 24, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToVariantTime(st, dt));
}

TEST(AutomationDate, RoundTripsEverySecondOfADayAndAcrossTheEpoch) {
    for (int nDay : {-700000 + 43000, -2, -1, 0, 1, 40606, 2958465}) {
        for (int nSecond = 0; nSecond < 86400; nSecond += 7) {
            double dt = nDay + (nDay < 0 ? -1.0 : 1.0) * nSecond / 86400.0;
            SYSTEMTIME st;
            ASSERT_TRUE(VariantTimeToSystemTime(dt, st)) << dt;
            double back;
            ASSERT_TRUE(SystemTimeToVariantTime(st, back));
            SYSTEMTIME st2;
            ASSERT_TRUE(VariantTimeToSystemTime(back, st2));
            ASSERT_EQ(st.wHour * 3600 + st.wMinute * 60 + st.wSecond, nSecond) << dt;
            ASSERT_EQ(st2.wDay, st.wDay);
            ASSERT_EQ(st2.wSecond, st.wSecond);
        }
    }
}

TEST(AutomationDate, ATimeJustBeforeMidnightRoundsIntoTheNextDay) {
    struct {
        double dt;
        std::uint16_t wYear, wMonth, wDay;
    } cases[] = {{40606 + 86399.6 / 86400, 2011, 3, 5},  // 2011-03-04 23:59:59.6
                 {40543 + 86399.7 / 86400, 2011, 1, 1},  // the last of 2010
                 {-1 - 86399.6 / 86400, 1899, 12, 30},   // the day before the epoch counts forward
                 {40606 + 86399.4 / 86400, 2011, 3, 4}}; // rounds down: the same day
    for (const auto& c : cases) {
        SYSTEMTIME st;
        ASSERT_TRUE(VariantTimeToSystemTime(c.dt, st)) << c.dt;
        EXPECT_EQ(st.wYear, c.wYear) << c.dt;
        EXPECT_EQ(st.wMonth, c.wMonth) << c.dt;
        EXPECT_EQ(st.wDay, c.wDay) << c.dt;
        const int nSecond = st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
        EXPECT_EQ(nSecond, c.wDay == 4 ? 86399 : 0) << c.dt;
    }
}

TEST(FileTimeCalendar, FieldsOfKnownInstants) {
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(FILETIME{0}, st));
    EXPECT_EQ(st.wYear, 1601);
    EXPECT_EQ(st.wDayOfWeek, 1); // a Monday
    ASSERT_TRUE(
        FileTimeToSystemTime(Ticks(1299234030, 123'000'000), st)); // 2011-03-04 10:20:30.123
    EXPECT_EQ(st.wYear, 2011);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 4);
    EXPECT_EQ(st.wDayOfWeek, 5);
    EXPECT_EQ(st.wHour, 10);
    EXPECT_EQ(st.wMinute, 20);
    EXPECT_EQ(st.wSecond, 30);
    EXPECT_EQ(st.wMilliseconds, 123);
    EXPECT_FALSE(FileTimeToSystemTime(FILETIME{0x8000000000000000ull}, st));
}

TEST(FileTimeCalendar, SecondsOfCalendarFields) {
    struct {
        SYSTEMTIME st;
        bool bValid;
        std::int64_t nSeconds;
    } cases[] = {{{1970, 1, 0, 1, 0, 0, 0, 0}, true, 0},
                 {{2011, 3, 0, 4, 10, 20, 30, 999}, true, 1299234030}, // milliseconds ignored
                 {{1601, 1, 0, 1, 0, 0, 0, 0}, true, -11644473600},
                 {{0, 1, 0, 1, 0, 0, 0, 0}, true, -62167219200}, // the year 0 of Go's times
                 {{2024, 2, 0, 29, 23, 59, 59, 0}, true, 1709251199},
                 {{2023, 2, 0, 29, 0, 0, 0, 0}, false, 0},
                 {{2024, 0, 0, 1, 0, 0, 0, 0}, false, 0},
                 {{2024, 1, 0, 1, 0, 60, 0, 0}, false, 0}};
    for (const auto& c : cases) {
        std::int64_t n = 0;
        EXPECT_EQ(SystemTimeToSeconds(c.st, n), c.bValid) << c.st.wYear;
        if (c.bValid) {
            EXPECT_EQ(n, c.nSeconds) << c.st.wYear;
        }
    }
}

TEST(FileProperty, DefaultRecord) {
    // Built over memory full of other bytes: a field without its own initial value
    // would show them (fresh stack memory is often zero already).
    // The stores are volatile so that the compiler keeps them before the constructor.
    alignas(FileProperty) unsigned char buf[sizeof(FileProperty)];
    volatile unsigned char* pFill = buf;
    for (std::size_t i = 0; i < sizeof buf; ++i)
        pFill[i] = 0xA5;
    FileProperty& p = *new (buf) FileProperty;
    EXPECT_TRUE(p.m_strPath.empty());
    EXPECT_TRUE(p.m_strType.empty());
    EXPECT_EQ(p.m_nSize, 0);
    EXPECT_EQ(p.m_dtModified.m_dt, 0.0);
    EXPECT_EQ(p.m_dtModified.m_status, DateTimeStatus::valid);
    p.~FileProperty();
}

TEST(FileProperty, ModifiedTimeInLocalTime) {
    FileProperty p;
    // 2011-03-04 09:20:30 UTC seen from one hour east of UTC.
    p.SetModifiedFromUtc({1299230430, 0}, CFixedOffset(3600));
    EXPECT_EQ(p.m_dtModified.m_status, DateTimeStatus::valid);
    EXPECT_NEAR(p.m_dtModified.m_dt, 40606.430902777778, 1e-9);
}

TEST(FileProperty, ModifiedTimeThatCannotBeConverted) {
    FileProperty p;
    p.m_dtModified.m_dt = 5.0;
    p.SetModifiedFromUtc({1299230430, 0}, CFailingLocalTime());
    EXPECT_EQ(p.m_dtModified.m_status, DateTimeStatus::invalid);
    EXPECT_EQ(p.m_dtModified.m_dt, 0.0);

    // A local date after the year 9999 is beyond the day number.
    p.SetModifiedFromUtc({253402300800, 0}, CFixedOffset(0)); // 10000-01-01
    EXPECT_EQ(p.m_dtModified.m_status, DateTimeStatus::invalid);
    // The system's own conversion of a time stamp localtime cannot represent.
    p.SetModifiedFromUtc({0x7FFFFFFFFFFFFFFF, 0}, SystemLocalTime());
    EXPECT_EQ(p.m_dtModified.m_status, DateTimeStatus::invalid);
    EXPECT_EQ(p.m_dtModified.m_dt, 0.0);
}

TEST(FileProperty, PathPieces) {
    FileProperty p;
    p.m_strPath = "/home/bob/Docs/a.doc";
    EXPECT_EQ(p.GetFolder(), "/home/bob/Docs/");
    EXPECT_EQ(p.GetFileName(), "a.doc");
    EXPECT_EQ(p.GetExtension(), ".doc");
    p.m_strPath = "/b.pdf";
    EXPECT_EQ(p.GetFolder(), "/");
    EXPECT_EQ(p.GetFolder() + p.GetFileName(), p.m_strPath);
    p.m_strPath = "/x/README";
    EXPECT_EQ(p.GetExtension(), "");
}

namespace {

class CCountingTypeNames final : public IFileTypeNames {
public:
    std::string GetTypeName(const std::string& strExtension) override {
        m_arrAsked.push_back(strExtension);
        return m_strAnswer;
    }
    std::vector<std::string> m_arrAsked;
    std::string m_strAnswer = "Word document";
};

class CNumericDates final : public IDateFormat {
public:
    bool FormatDate(const SYSTEMTIME& st, std::string& strText) const override {
        strText = std::to_string(st.wYear) + "-" + std::to_string(st.wMonth) + "-" +
                  std::to_string(st.wDay);
        return m_bDates;
    }
    bool FormatTime(const SYSTEMTIME& st, std::string& strText) const override {
        strText = std::to_string(st.wHour) + ":" + std::to_string(st.wMinute) + ":" +
                  std::to_string(st.wSecond);
        return true;
    }
    bool m_bDates = true;
};

} // namespace

TEST(FileProperty, TypeNameIsAskedForUntilTheRecordHasOne) {
    CCountingTypeNames names;
    FileProperty p;
    p.m_strPath = "/home/bob/Docs/a.DOC";
    EXPECT_EQ(p.GetTypeName(names), "Word document");
    EXPECT_EQ(p.GetTypeName(names), "Word document");
    EXPECT_EQ(names.m_arrAsked, std::vector<std::string>{".DOC"});
    EXPECT_EQ(p.m_strType, "Word document");

    // An empty answer leaves nothing to keep: the next call asks again.
    names.m_strAnswer.clear();
    FileProperty q;
    q.m_strPath = "/x/README";
    EXPECT_EQ(q.GetTypeName(names), "");
    EXPECT_EQ(q.GetTypeName(names), "");
    EXPECT_EQ(names.m_arrAsked, (std::vector<std::string>{".DOC", "", ""}));
}

TEST(FileProperty, SizeAndDateTexts) {
    FileProperty p;
    p.m_nSize = 1152;
    EXPECT_EQ(p.GetSizeText(), "1.13 KB");

    CNumericDates dates;
    p.m_dtModified = {40606.430902777778, DateTimeStatus::valid};
    EXPECT_EQ(p.GetDateText(dates), "2011-3-4 10:20:30");
    dates.m_bDates = false; // a conversion that fails shows for its own part only
    EXPECT_EQ(p.GetDateText(dates), "Invalid DateTime 10:20:30");
    dates.m_bDates = true;

    p.m_dtModified = {40606.4, DateTimeStatus::invalid};
    EXPECT_EQ(p.GetDateText(dates), "Invalid DateTime Invalid DateTime");
    p.m_dtModified = {1e9, DateTimeStatus::valid}; // beyond the year 9999
    EXPECT_EQ(p.GetDateText(dates), "Invalid DateTime Invalid DateTime");
    p.m_dtModified = {0.0, DateTimeStatus::null};
    EXPECT_EQ(p.GetDateText(dates), "");
}

TEST(ErrorText, SystemTextsAndUnknownCodes) {
    EXPECT_EQ(GetErrorText(ENOENT), "No such file or directory\r\n");
    EXPECT_EQ(GetErrorText(EACCES), "Permission denied\r\n");
    EXPECT_EQ(GetErrorText(987654), "Unknown error 987654\r\n");
}
