// Statements, configuration and the entry format of the diagnostic log.
#include "Log.h"
#include "LogTestSupport.h"
#include "ModulePath.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

LogSettings Settings(std::string strLevel = "full") {
    return {"%TEMP%\\Tarrow\\", "t.log", 0x200000, 1, std::move(strLevel), true};
}

std::vector<LogEntry> EntriesOf(const std::string& strPath) {
    std::vector<LogEntry> entries;
    std::string strError;
    EXPECT_TRUE(ParseLogFile(ReadFile(strPath), entries, strError)) << strError;
    return entries;
}

const std::string kHyphens(72, '-');

} // namespace

TEST(LogStatement, UnconfiguredLogKeepsStatementsAndWritesNothing) {
    CScratchFolder scratch;
    ::setenv("TEMP", scratch.Path().c_str(), 1);
    TakePendingLogRecords();

    TLOG_DEBUG("EnumMgr.cpp", 70) << "Manager Thread is started";
    TLOG_ERROR("MftEnum.cpp", 412)
        << L"wide \u00e9 " << L'x' << ' ' << 'c' << std::int64_t{-5} << ' ' << ULLONG_MAX << ' '
        << std::string("/m\xff/") << " \u2014 " << static_cast<unsigned short>(7) << ' '
        << std::uint8_t{200} << std::int8_t{-3};

    // Under an unbraced if, and with an else of its own that must stay the if's.
    for (bool bFlag : {false, true})
        if (bFlag)
            TLOG_INFO("Tarrow.cpp", 82) << "agreed";
        else
            TLOG_INFO("Tarrow.cpp", 82) << "didn't agree";

    auto records = TakePendingLogRecords();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2].strMessage, "didn't agree");
    EXPECT_EQ(records[3].strMessage, "agreed");
    EXPECT_EQ(records[0].nThreadId, static_cast<std::uint32_t>(::gettid()));
    EXPECT_EQ(records[0].nLevel, LogLevel::debug);
    EXPECT_EQ(records[0].strFileTag, " [File: .\\EnumMgr.cpp] [Line: 70]");
    EXPECT_EQ(records[0].strMessage, "Manager Thread is started");
    EXPECT_EQ(records[1].nLevel, LogLevel::error);
    EXPECT_EQ(records[1].strFileTag, " [File: .\\MftEnum.cpp] [Line: 412]");
    // Wide text arrives as UTF-8; narrow bytes that are not UTF-8 survive unchanged.
    EXPECT_EQ(records[1].strMessage,
              "wide \xc3\xa9 x c-5 18446744073709551615 /m\xff/ \xe2\x80\x94 7 200-3");
    EXPECT_TRUE(TakePendingLogRecords().empty());
    EXPECT_TRUE(std::filesystem::is_empty(scratch.Path()));
    ::unsetenv("TEMP");
}

TEST(LogStatement, FilteredStatementEvaluatesNoPiece) {
    CScratchFolder scratch;
    EXPECT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  ConfigureLog(Settings("info"));
                  int nEvaluated = 0;
                  auto piece = [&] { return ++nEvaluated; };
                  TLOG_DEBUG("Tarrow.cpp", 70) << piece();
                  CHILD_CHECK(nEvaluated == 0);
                  TLOG_INFO("Tarrow.cpp", 71) << piece();
                  CHILD_CHECK(nEvaluated == 1);
                  return 0;
              }));
}

TEST(LogConfigure, FirstEntryIsTheVersionReport) {
    CScratchFolder scratch;
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  ConfigureLog(Settings());
                  return 0;
              }));
    std::string strFolder = scratch.Path() + "/Tarrow";
    std::string strText = ReadFile(strFolder + "/t.log");
    std::vector<LogEntry> entries = EntriesOf(strFolder + "/t.log");
    ASSERT_EQ(entries.size(), 1u);
    const LogEntry& e = entries[0];
    const std::string strName = GetModuleFileName();
    std::string strExpected = e.strTime + "  [Thread ID: " + e.strThreadId + "] [Log #1] \r\n" +
                              kHyphens + "\r\n\t" + strName +
                              " version is " TARROW_TEST_VERSION " (loaded by " + strName +
                              ")\r\n" + kHyphens + "\r\n\r\n";
    EXPECT_EQ(strText, strExpected);
    EXPECT_GT(e.nThreadId, 0u);

    // Private to the user: the folder sits in a temporary folder others can write to.
    struct stat st;
    ASSERT_EQ(::stat(strFolder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((strFolder + "/t.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LogConfigure, EntryHeaderAndMessage) {
    CScratchFolder scratch;
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  ConfigureLog(Settings());
                  TLOG_DEBUG("EnumMgr.cpp", 70) << "Manager Thread is started";
                  TLOG(0, "Odd.cpp", 1) << "no level";
                  ::LogRecord(LogLevel::warn, nullptr) << "no tag";
                  return 0;
              }));
    auto entries = EntriesOf(scratch.Path() + "/Tarrow/t.log");
    ASSERT_EQ(entries.size(), 4u);
    std::string strText = ReadFile(scratch.Path() + "/Tarrow/t.log");
    const LogEntry& e = entries[1];
    EXPECT_NE(strText.find(e.strTime + " [debug]  [Thread ID: " + e.strThreadId +
                           "] [Log #2]  [File: .\\EnumMgr.cpp] [Line: 70]\r\n"
                           "Manager Thread is started\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(entries[2].strLevel, "");
    EXPECT_EQ(entries[2].strFileTag, " [File: .\\Odd.cpp] [Line: 1]");
    EXPECT_EQ(entries[3].strLevel, "[warn]  ");
    EXPECT_EQ(entries[3].strFileTag, "");
    EXPECT_EQ(entries[3].strMessage, "no tag");
}

struct LevelCase {
    const char* pszName;
    const char* pszWritten; // first letters of the levels that pass: d i w e f
    bool bVersionReport;
};

void PrintTo(const LevelCase& c, std::ostream* os) {
    *os << '"' << c.pszName << '"';
}

class LogLevelName : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LogLevelName, DecidesWhatIsWritten) {
    const LevelCase& c = GetParam();
    CScratchFolder scratch;
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  ConfigureLog(Settings(c.pszName));
                  TLOG_DEBUG("L.cpp", 1) << "d";
                  TLOG_INFO("L.cpp", 2) << "i";
                  TLOG_WARN("L.cpp", 3) << "w";
                  TLOG_ERROR("L.cpp", 4) << "e";
                  TLOG_FATAL("L.cpp", 5) << "f";
                  return 0;
              }));
    std::string strWritten;
    bool bVersionReport = false;
    auto entries = EntriesOf(scratch.Path() + "/Tarrow/t.log");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].nNumber, static_cast<std::int64_t>(i + 1));
        if (entries[i].strFileTag.empty())
            bVersionReport = i == 0;
        else
            strWritten += entries[i].strMessage;
    }
    EXPECT_EQ(strWritten, c.pszWritten);
    EXPECT_EQ(bVersionReport, c.bVersionReport);
}

INSTANTIATE_TEST_SUITE_P(
    AnyLetterCase, LogLevelName,
    ::testing::Values(LevelCase{"full", "diwef", true}, LevelCase{"FULL", "diwef", true},
                      LevelCase{"Debug", "diwef", true}, LevelCase{"info", "iwef", true},
                      LevelCase{"INFO", "iwef", true}, LevelCase{"iNfO", "iwef", true},
                      LevelCase{"error", "ef", false}, LevelCase{"ERROR", "ef", false},
                      LevelCase{"none", "", false}, LevelCase{"None", "", false},
                      LevelCase{"verbose", "ef", false}, LevelCase{"", "ef", false}),
    [](const ::testing::TestParamInfo<LevelCase>& info) {
        return std::to_string(info.index) + "_" +
               (*info.param.pszName ? info.param.pszName : "empty");
    });

TEST(LogConfigure, PendingStatementsComeFirstInTheirOrder) {
    CScratchFolder scratch;
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  TLOG_DEBUG("EnumMgr.cpp", 70) << "first " << 1;
                  std::thread([] { TLOG_ERROR("EnumMgr.cpp", 366) << "second"; }).join();
                  TLOG_INFO("Tarrow.cpp", 59) << "third";
                  // Under "error" the kept debug and info statements are written all the same.
                  ConfigureLog(Settings("error"));
                  TLOG_DEBUG("EnumMgr.cpp", 71) << "dropped";
                  TLOG_FATAL("EnumMgr.cpp", 72) << "fourth";
                  return 0;
              }));
    auto entries = EntriesOf(scratch.Path() + "/Tarrow/t.log");
    ASSERT_EQ(entries.size(), 4u);
    const char* kMessages[] = {"first 1", "second", "third", "fourth"};
    const char* kLevels[] = {"[debug] ", "[ERROR] ", "[info]  ", "[FATAL] "};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(entries[i].nNumber, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(entries[i].strMessage, kMessages[i]);
        EXPECT_EQ(entries[i].strLevel, kLevels[i]);
    }
    EXPECT_EQ(entries[0].strFileTag, " [File: .\\EnumMgr.cpp] [Line: 70]");
    // Each keeps the thread that made it.
    EXPECT_NE(entries[1].nThreadId, entries[0].nThreadId);
    EXPECT_EQ(entries[2].nThreadId, entries[0].nThreadId);
}

TEST(LogConfigure, VersionReportFollowsPendingStatements) {
    CScratchFolder scratch;
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  TLOG_DEBUG("MainDlg.cpp", 1) << "a";
                  TLOG_DEBUG("MainDlg.cpp", 2) << "b";
                  ConfigureLog(Settings("full"));
                  return 0;
              }));
    auto entries = EntriesOf(scratch.Path() + "/Tarrow/t.log");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].strMessage, "a");
    EXPECT_EQ(entries[1].strMessage, "b");
    EXPECT_EQ(entries[2].nNumber, 3);
    EXPECT_EQ(entries[2].strMessage.rfind(kHyphens + "\r\n\t", 0), 0u);
}

TEST(LogConfigure, AbandonedConfigurationKeepsStatementsInMemory) {
    CScratchFolder scratch;
    // A file where the folder should be: the folder cannot be created.
    WriteFile(scratch.Path() + "/Tarrow", "not a folder");
    for (const LogSettings& settings :
         {LogSettings{"%TEMP%\\Tarrow\\", "", 0, 1, "full", true},
          LogSettings{"%TEMP%\\Tarrow\\sub\\", "t.log", 0, 1, "full", true}}) {
        EXPECT_EQ(0, RunInChild([&] {
                      PrepareChild(scratch.Path());
                      TLOG_DEBUG("Tarrow.cpp", 1) << "before";
                      ConfigureLog(settings);
                      TLOG_DEBUG("Tarrow.cpp", 2) << "after";
                      auto records = TakePendingLogRecords();
                      CHILD_CHECK(records.size() == 2);
                      CHILD_CHECK(records[1].strMessage == "after");
                      CHILD_CHECK(g_nLogThreshold.load() == 0);
                      return 0;
                  }));
    }
    EXPECT_EQ(ReadFile(scratch.Path() + "/Tarrow"), "not a folder");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()), {}), 1);
}

TEST(LogConfigure, RelativeFolderLandsUnderTheProgramFolder) {
    const std::string strRelative = "log-test-" + std::to_string(::getpid());
    const std::string strFolder = GetModuleFolder() + strRelative;
    std::filesystem::remove_all(strFolder);
    for (bool bExists : {false, true}) {
        if (bExists)
            std::filesystem::create_directories(strFolder + "/sub");
        EXPECT_EQ(0, RunInChild([&] {
                      PrepareChild("/nonexistent");
                      ConfigureLog({strRelative + "\\sub\\", "r.log", 0, 1, "full", true});
                      return 0;
                  }));
        auto entries = EntriesOf(strFolder + "/sub/r.log");
        EXPECT_EQ(entries.size(), 1u) << (bExists ? "existing folder" : "new folder");
    }
    std::filesystem::remove_all(strFolder);
}

TEST(LogConfigure, EraseAtStartStartsANewFile) {
    CScratchFolder scratch;
    const std::string strFolder = scratch.Path() + "/Tarrow";
    ASSERT_TRUE(std::filesystem::create_directory(strFolder));
    WriteFile(strFolder + "/t.log", "old\r\n");
    WriteFile(strFolder + "/t.log.2", "old 2\r\n");
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  ConfigureLog({"%TEMP%\\Tarrow", "t.log", 0x200000, 3, "full", true});
                  return 0;
              }));
    EXPECT_EQ(EntriesOf(strFolder + "/t.log").size(), 1u);
    EXPECT_FALSE(Exists(strFolder + "/t.log.2"));
}

TEST(LogConfigure, WithoutEraseWritingGoesOnInTheFirstFileBelowTheSize) {
    CScratchFolder scratch;
    const std::string strFolder = scratch.Path() + "/Tarrow";
    ASSERT_TRUE(std::filesystem::create_directory(strFolder));
    WriteFile(strFolder + "/t.log", std::string(1000, 'x'));
    WriteFile(strFolder + "/t.log.2", "old 2\r\n");
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  ConfigureLog({"%TEMP%\\Tarrow", "t.log", 1000, 3, "full", false});
                  return 0;
              }));
    EXPECT_EQ(ReadFile(strFolder + "/t.log"), std::string(1000, 'x'));
    std::string strText = ReadFile(strFolder + "/t.log.2");
    ASSERT_EQ(strText.rfind("old 2\r\n", 0), 0u);
    std::vector<LogEntry> entries;
    std::string strError;
    EXPECT_TRUE(ParseLogFile(strText.substr(7), entries, strError)) << strError;
    EXPECT_EQ(entries.size(), 1u);
}

TEST(LogLocale, MissingLocaleKeepsTheCLocale) {
    CScratchFolder scratch;
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path(), "xx_NOWHERE.UTF-8");
                  ConfigureLog(Settings());
                  TLOG_DEBUG("EnumMgr.cpp", 205) << "/mnt/a \u2014 " << 1234567;
                  return 0;
              }));
    auto entries = EntriesOf(scratch.Path() + "/Tarrow/t.log");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].strMessage, "/mnt/a \xe2\x80\x94 1234567");
}

TEST(LogLocale, DigitGroupingOfTheUsersLocale) {
    if (!HasLocale("en_US.UTF-8"))
        GTEST_SKIP() << "no en_US.UTF-8 locale on this machine (scripts/install-deps.sh generates "
                        "it when run as root)";
    CScratchFolder scratch;
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path(), "en_US.UTF-8");
                  // Made before configuration: its stream had the "C" locale.
                  TLOG_DEBUG("EnumMgr.cpp", 136) << 4321;
                  ConfigureLog(Settings());
                  TLOG_DEBUG("EnumMgr.cpp", 136) << 1234567 << " \u2014 " << -4321;
                  for (int i = 0; i < 1000; ++i)
                      TLOG_DEBUG("EnumMgr.cpp", 137) << i;
                  return 0;
              }));
    auto entries = EntriesOf(scratch.Path() + "/Tarrow/t.log");
    ASSERT_EQ(entries.size(), 1003u);
    EXPECT_EQ(entries[0].strMessage, "4321");
    EXPECT_EQ(entries[2].strMessage, "1,234,567 \xe2\x80\x94 -4,321");
    EXPECT_EQ(entries[998].strNumber, "999");
    EXPECT_EQ(entries[999].strNumber, "1,000");
    EXPECT_EQ(entries[1002].strNumber, "1,003");
    if (entries[0].nThreadId >= 1000) {
        EXPECT_NE(entries[2].strThreadId.find(','), std::string::npos);
    }
}
