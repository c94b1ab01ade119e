#include "ScanReport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

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

namespace {

// The process's time zone for one test.
class CTimeZone {
public:
    explicit CTimeZone(const char* pszZone) {
        if (const char* psz = std::getenv("TZ")) {
            m_strOld = psz;
            m_bHad = true;
        }
        ::setenv("TZ", pszZone, 1);
        ::tzset();
    }
    ~CTimeZone() {
        if (m_bHad)
            ::setenv("TZ", m_strOld.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string m_strOld;
    bool m_bHad = false;
};

COleDateTime Local(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond) {
    SYSTEMTIME st;
    st.wYear = static_cast<std::uint16_t>(nYear);
    st.wMonth = static_cast<std::uint16_t>(nMonth);
    st.wDay = static_cast<std::uint16_t>(nDay);
    st.wHour = static_cast<std::uint16_t>(nHour);
    st.wMinute = static_cast<std::uint16_t>(nMinute);
    st.wSecond = static_cast<std::uint16_t>(nSecond);
    COleDateTime dt;
    EXPECT_TRUE(SystemTimeToVariantTime(st, dt.m_dt));
    return dt;
}

} // namespace

TEST(Rfc3339Date, TheOffsetInForceAtThatMoment) {
    CTimeZone zone("Europe/Berlin");
    EXPECT_EQ(Rfc3339Date(Local(2021, 1, 7, 7, 13, 20)), "2021-01-07T07:13:20+01:00");
    EXPECT_EQ(Rfc3339Date(Local(2021, 6, 29, 22, 53, 20)), "2021-06-29T22:53:20+02:00");
    // Clocks went back at 03:00: 02:30 came twice, first in summer time.
    EXPECT_EQ(Rfc3339Date(Local(2021, 10, 31, 2, 30, 0)), "2021-10-31T02:30:00+02:00");
    // Local mean time, +00:53:28, has seconds RFC 3339 cannot write: the moment in UTC.
    EXPECT_EQ(Rfc3339Date(Local(1890, 6, 1, 12, 0, 0)), "1890-06-01T11:06:32+00:00");
    EXPECT_EQ(Rfc3339Date({0.0, DateTimeStatus::invalid}), "");
    CTimeZone india("Asia/Kolkata");
    EXPECT_EQ(Rfc3339Time(std::chrono::system_clock::from_time_t(1299234030)),
              "2011-03-04T15:50:30+05:30");
}

TEST(Rfc3339Date, OffsetsOfADayOrMoreAreWrittenInUtc) {
    // RFC 3339's offset hour goes to 23; the C library takes offsets up to 24 hours
    // (and clamps 25 to 24). The moment 2011-03-04 10:20:30 UTC, and that local time.
    const auto t = std::chrono::system_clock::from_time_t(1299234030);
    struct Case {
        const char* pszZone;
        const char* pszMoment;
        const char* pszLocal;
    };
    for (const Case& c : {
             Case{"EST+24", "2011-03-04T10:20:30+00:00", "2011-03-05T10:20:30+00:00"},
             Case{"EST+25", "2011-03-04T10:20:30+00:00", "2011-03-05T10:20:30+00:00"},
             Case{"EST-24", "2011-03-04T10:20:30+00:00", "2011-03-03T10:20:30+00:00"},
             Case{"EST+23:59", "2011-03-03T10:21:30-23:59", "2011-03-04T10:20:30-23:59"},
             Case{"EST-23:59", "2011-03-05T10:19:30+23:59", "2011-03-04T10:20:30+23:59"},
         }) {
        CTimeZone zone(c.pszZone);
        EXPECT_EQ(Rfc3339Time(t), c.pszMoment) << c.pszZone;
        EXPECT_EQ(Rfc3339Date(Local(2011, 3, 4, 10, 20, 30)), c.pszLocal) << c.pszZone;
    }
}

TEST(MetricLabel, EscapedAlwaysUtf8AndTwoPathsNeverShareOne) {
    // The value read back: a backslash of the path doubled, a byte that is not UTF-8 as
    // \xHH, so that it leads back to the bytes. The file escapes each backslash again.
    EXPECT_EQ(MetricLabel("/home/a \"b\"\nd"), "\"/home/a \\\"b\\\"\\nd\"");
    EXPECT_EQ(MetricLabel("/caf\xC3\xA9/caf\xE9"), "\"/caf\xC3\xA9/caf\\\\xe9\"");
    EXPECT_EQ(MetricLabel("/bad\xFF"), "\"/bad\\\\xff\"");
    EXPECT_EQ(MetricLabel("/bad\\xff"), "\"/bad\\\\\\\\xff\"");
}

TEST(FormatMetrics, TheTotalOfUnreadableFoldersIsEveryDrives) {
    CScanResults results(false, {"/a", "/b", "/c"});
    for (const char* psz : {"/a/x", "/b/y", "/b/z", "/a/w"})
        results.FolderNotRead(psz);
    const std::string s = FormatMetrics(
        results, {{"/a", "ext4", "walk"}, {"/b", "ext4", "walk"}, {"/c", "ext4", "walk"}},
        ScanRun{"1.0", "host", {}, 1.0, false});
    EXPECT_NE(s.find("\ntarrow_scan_unreadable_folders 4\n"), s.npos) << s;
    EXPECT_NE(s.find("\ntarrow_scan_drive_unreadable_folders{drive=\"/b\"} 2\n"), s.npos) << s;
}

TEST(ScanResults, FilesAndUnreadableFoldersGoToTheDriveOfTheLongestRoot) {
    CScanResults results(false, {"/", "/data", "/data/inner", "/database"});
    FileProperty p;
    p.m_nSize = 1;
    auto found = [&](const char* pszPath) {
        p.m_strPath = pszPath;
        results.OnMessage(WM_FILEFOUND, reinterpret_cast<WPARAM>("Images"),
                          reinterpret_cast<LPARAM>(&p));
    };
    for (const char* psz : {"/data/a.png", "/data/inner/b.png", "/data/inner2/c.png",
                            "/database/d.png", "/e.png", "/data/inner/x/f.png", "/data/g.png"})
        found(psz);
    results.FolderNotRead("/data/inner");
    results.FolderNotRead("/data/x");
    EXPECT_EQ(results.Drive("/").nFiles, 1);
    EXPECT_EQ(results.Drive("/data").nFiles, 3);
    EXPECT_EQ(results.Drive("/data/").nBytes, 3);
    EXPECT_EQ(results.Drive("/data/inner").nFiles, 2);
    EXPECT_EQ(results.Drive("/database").nFiles, 1);
    EXPECT_EQ(results.Drive("/data").nUnreadableFolders, 1);
    EXPECT_EQ(results.Drive("/data/inner").nUnreadableFolders, 1);
    EXPECT_EQ(results.Drive("/elsewhere").nFiles, 0);
}
