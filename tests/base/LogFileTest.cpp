// The rolling file set and the safety of the log's folder.
#include "Log.h"
#include "LogTestSupport.h"
#include "RollingFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct SetFile {
    std::string strName;
    std::vector<LogEntry> entries;
    std::size_t nSize = 0;
};

SetFile ReadSetFile(const std::string& strFolder, const std::string& strName) {
    SetFile file{strName, {}, 0};
    std::string strText = ReadFile(strFolder + "/" + strName);
    file.nSize = strText.size();
    std::string strError;
    EXPECT_TRUE(ParseLogFile(strText, file.entries, strError)) << strName << ": " << strError;
    for (std::size_t i = 1; i < file.entries.size(); ++i)
        EXPECT_EQ(file.entries[i].nNumber, file.entries[i - 1].nNumber + 1) << strName;
    return file;
}

// Writes nCount statements of about 120 bytes after configuring with the given set.
int WriteStatements(const std::string& strTemp, int nMaxSize, int nFileCount, int nCount) {
    PrepareChild(strTemp);
    CHILD_CHECK(
        ConfigureLog({"%TEMP%\\Tarrow\\", "t.log", nMaxSize, nFileCount, "full", true}).empty());
    for (int i = 0; i < nCount; ++i)
        TLOG_DEBUG("EnumMgr.cpp", 70) << "statement " << i << " " << std::string(40, '.');
    return 0;
}

constexpr int kMaxSize = 1000;

} // namespace

TEST(LogRolling, OneFileIsEmptiedOnceItPassesTheSize) {
    CScratchFolder scratch;
    const std::string strFile = scratch.Path() + "/Tarrow/t.log";
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  ConfigureLog({"%TEMP%\\Tarrow\\", "t.log", kMaxSize, 1, "full", true});
                  std::size_t nBefore = ReadFile(strFile).size();
                  for (int i = 0; i < 100; ++i) {
                      TLOG_DEBUG("EnumMgr.cpp", 70) << "statement " << i << std::string(40, '.');
                      std::size_t nAfter = ReadFile(strFile).size();
                      if (nAfter < nBefore) {
                          // Emptied by the entry that took it past the size, not before.
                          CHILD_CHECK(nBefore <= static_cast<std::size_t>(kMaxSize));
                          CHILD_CHECK(nAfter == 0);
                          TLOG_DEBUG("EnumMgr.cpp", 71) << "after";
                          return 0;
                      }
                      nBefore = nAfter;
                  }
                  return 1;
              }));
    SetFile file = ReadSetFile(scratch.Path() + "/Tarrow", "t.log");
    ASSERT_EQ(file.entries.size(), 1u);
    EXPECT_EQ(file.entries[0].strMessage, "after");
    EXPECT_GT(file.entries[0].nNumber, 2);
    EXPECT_FALSE(Exists(strFile + ".2"));
}

TEST(LogRolling, ThreeFilesAreUsedInTurn) {
    CScratchFolder scratch;
    const int nStatements = 60;
    ASSERT_EQ(
        0, RunInChild([&] { return WriteStatements(scratch.Path(), kMaxSize, 3, nStatements); }));
    const std::string strFolder = scratch.Path() + "/Tarrow";
    std::vector<SetFile> files;
    for (const char* psz : {"t.log", "t.log.2", "t.log.3"})
        files.push_back(ReadSetFile(strFolder, psz));
    EXPECT_FALSE(Exists(strFolder + "/t.log.4"));
    EXPECT_FALSE(Exists(strFolder + "/t.log.1"));

    // The set holds one unbroken run of entries ending with the last, and each file
    // takes over where the one before it in the turn ended.
    std::size_t nCurrent = 3;
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_FALSE(files[i].entries.empty()) << files[i].strName;
        if (files[i].entries.back().nNumber == nStatements + 1)
            nCurrent = i;
    }
    ASSERT_LT(nCurrent, 3u);
    for (std::size_t k = 1; k < 3; ++k) {
        const SetFile& older = files[(nCurrent + k) % 3];
        const SetFile& newer = files[(nCurrent + k + 1) % 3];
        EXPECT_EQ(newer.entries.front().nNumber, older.entries.back().nNumber + 1)
            << older.strName << " then " << newer.strName;
        // A file was left only once it had grown past the size, with whole entries.
        EXPECT_GT(older.nSize, static_cast<std::size_t>(kMaxSize));
        EXPECT_LE(older.nSize - older.entries.back().nBytes, static_cast<std::size_t>(kMaxSize));
    }
    // 61 entries of about 120 bytes pass through t.log more than once.
    EXPECT_GT(files[0].entries.front().nNumber, 1);
}

TEST(LogSafety, LinkAtTheFolderIsNotFollowed) {
    CScratchFolder scratch;
    const std::string strElsewhere = scratch.Path() + "/elsewhere";
    ASSERT_TRUE(std::filesystem::create_directory(strElsewhere));
    ASSERT_EQ(::symlink(strElsewhere.c_str(), (scratch.Path() + "/Tarrow").c_str()), 0);
    EXPECT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  // Said for the program to pass on: the log cannot say it.
                  CHILD_CHECK(ConfigureLog({"%TEMP%\\Tarrow\\", "t.log", 0, 1, "full", true}) ==
                              scratch.Path() + "/Tarrow/: a symbolic link is on the folder's path");
                  TLOG_DEBUG("Tarrow.cpp", 1) << "kept";
                  // Unconfigured: statements stay in memory and the program goes on.
                  CHILD_CHECK(TakePendingLogRecords().size() == 1);
                  return 0;
              }));
    EXPECT_TRUE(std::filesystem::is_empty(strElsewhere));
}

TEST(LogSafety, FolderOthersMayWriteInIsNotUsed) {
    // Another user could swap the files of the set between the checks and the writes.
    CScratchFolder scratch;
    const std::string strFolder = scratch.Path() + "/Tarrow";
    ASSERT_TRUE(std::filesystem::create_directory(strFolder));
    ASSERT_EQ(::chmod(strFolder.c_str(), 01777), 0);
    EXPECT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  CHILD_CHECK(ConfigureLog({"%TEMP%\\Tarrow\\", "t.log", 0, 1, "full", true}) ==
                              strFolder + "/: other users may write in the folder");
                  CHILD_CHECK(g_nLogThreshold.load() == 0);
                  TLOG_DEBUG("Tarrow.cpp", 1) << "kept";
                  CHILD_CHECK(TakePendingLogRecords().size() == 1);
                  return 0;
              }));
    EXPECT_TRUE(std::filesystem::is_empty(strFolder));
}

TEST(LogSafety, LinkAtAFileOfTheSetIsNotFollowed) {
    for (const char* pszLinked : {"t.log", "t.log.3"}) {
        CScratchFolder scratch;
        const std::string strFolder = scratch.Path() + "/Tarrow";
        const std::string strTarget = scratch.Path() + "/precious";
        ASSERT_TRUE(std::filesystem::create_directory(strFolder));
        WriteFile(strTarget, "keep me");
        ASSERT_EQ(::symlink(strTarget.c_str(), (strFolder + "/" + pszLinked).c_str()), 0);
        EXPECT_EQ(0, RunInChild([&] {
                      PrepareChild(scratch.Path());
                      CHILD_CHECK(ConfigureLog({"%TEMP%\\Tarrow\\", "t.log", 0, 3, "full", true}) ==
                                  strFolder +
                                      "/t.log: a file of the log, or its folder, is a link or "
                                      "not the user's own");
                      CHILD_CHECK(g_nLogThreshold.load() == 0);
                      TLOG_DEBUG("Tarrow.cpp", 1) << "kept";
                      CHILD_CHECK(TakePendingLogRecords().size() == 1);
                      return 0;
                  }))
            << pszLinked;
        EXPECT_EQ(ReadFile(strTarget), "keep me") << pszLinked;
        // Not even erased at start: the set is left alone as a whole.
        EXPECT_TRUE(std::filesystem::is_symlink(strFolder + "/" + pszLinked));
        EXPECT_FALSE(Exists(strFolder + "/t.log.2"));
    }
}

TEST(LogSafety, LinkPlantedWhileRunningIsNotFollowedWhenRolling) {
    CScratchFolder scratch;
    const std::string strFolder = scratch.Path() + "/Tarrow";
    const std::string strTarget = scratch.Path() + "/precious";
    WriteFile(strTarget, "keep me");
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  std::vector<std::string> arrSaid;
                  SetLogWriteFailureHandler(
                      [&](const std::string& strWhy) { arrSaid.push_back(strWhy); });
                  ConfigureLog({"%TEMP%\\Tarrow\\", "t.log", kMaxSize, 3, "full", true});
                  CHILD_CHECK(::symlink(strTarget.c_str(), (strFolder + "/t.log.2").c_str()) == 0);
                  for (int i = 0; i < 30; ++i)
                      TLOG_DEBUG("EnumMgr.cpp", 70) << "statement " << i << std::string(60, '.');
                  // Lost entries are said once, for the program to pass on.
                  CHILD_CHECK(arrSaid == std::vector<std::string>{
                                             strFolder + "/t.log.2: the name holds something "
                                                         "other than a plain file of the user's"});
                  return 0;
              }));
    EXPECT_EQ(ReadFile(strTarget), "keep me");
    EXPECT_TRUE(std::filesystem::is_symlink(strFolder + "/t.log.2"));
    // Entries that would have gone to the linked file are lost; the first file kept
    // what it had.
    EXPECT_GT(ReadFile(strFolder + "/t.log").size(), static_cast<std::size_t>(kMaxSize));
    EXPECT_FALSE(Exists(strFolder + "/t.log.3"));
}

TEST(LogSafety, AWriteThatFailsIsSaidOnceAndTheLogGoesOn) {
    // A full disk, as any user can have one: a limit on the size of the files written.
    CScratchFolder scratch;
    const std::string strLog = scratch.Path() + "/Tarrow/t.log";
    EXPECT_EQ(
        0, RunInChild([&] {
            PrepareChild(scratch.Path());
            std::vector<std::string> arrSaid;
            SetLogWriteFailureHandler(
                [&](const std::string& strWhy) { arrSaid.push_back(strWhy); });
            CHILD_CHECK(ConfigureLog({"%TEMP%\\Tarrow\\", "t.log", 0, 1, "full", true}).empty());
            CHILD_CHECK(arrSaid.empty());
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit;
            CHILD_CHECK(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
            const rlim_t nHard = limit.rlim_cur;
            limit.rlim_cur = 600;
            CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
            for (int i = 0; i < 20; ++i)
                TLOG_DEBUG("EnumMgr.cpp", 70) << "statement " << i << std::string(60, '.');
            CHILD_CHECK(ReadFile(strLog).size() == 600u);
            // Room again: the entries after it are written, and nothing more is said.
            limit.rlim_cur = nHard;
            CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
            TLOG_DEBUG("EnumMgr.cpp", 70) << "after";
            CHILD_CHECK(ReadFile(strLog).ends_with("\r\nafter\r\n\r\n"));
            CHILD_CHECK(arrSaid == std::vector<std::string>{strLog + ": File too large"});
            return 0;
        }));
}

TEST(LogSafety, OtherPlacesOfTheFileAreRefused) {
    // A hard link, a pipe and a folder at the file's place: none is written.
    CScratchFolder scratch;
    const std::string strFolder = scratch.Path() + "/Tarrow";
    ASSERT_TRUE(std::filesystem::create_directory(strFolder));
    const std::string strTarget = scratch.Path() + "/precious";
    WriteFile(strTarget, "keep me");
    ASSERT_EQ(::link(strTarget.c_str(), (strFolder + "/hard.log").c_str()), 0);
    ASSERT_EQ(::mkfifo((strFolder + "/pipe.log").c_str(), 0600), 0);
    ASSERT_TRUE(std::filesystem::create_directory(strFolder + "/dir.log"));
    for (const char* pszName : {"hard.log", "pipe.log", "dir.log"}) {
        EXPECT_EQ(0, RunInChild([&] {
                      PrepareChild(scratch.Path());
                      ConfigureLog({"%TEMP%\\Tarrow\\", pszName, 0, 1, "full", true});
                      CHILD_CHECK(g_nLogThreshold.load() == 0);
                      return 0;
                  }))
            << pszName;
    }
    EXPECT_EQ(ReadFile(strTarget), "keep me");
}

TEST(LogSafety, FolderOrFileOfAnotherUserIsNotUsed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand a folder to another user";
    const uid_t nOther = 65534; // nobody
    for (bool bFolder : {true, false}) {
        CScratchFolder scratch;
        const std::string strFolder = scratch.Path() + "/Tarrow";
        ASSERT_TRUE(std::filesystem::create_directory(strFolder));
        WriteFile(strFolder + "/t.log", "theirs");
        ASSERT_EQ(::chown((bFolder ? strFolder : strFolder + "/t.log").c_str(), nOther, nOther), 0);
        EXPECT_EQ(0, RunInChild([&] {
                      PrepareChild(scratch.Path());
                      ConfigureLog({"%TEMP%\\Tarrow\\", "t.log", 0, 1, "full", true});
                      CHILD_CHECK(g_nLogThreshold.load() == 0);
                      CHILD_CHECK(TakePendingLogRecords().empty());
                      TLOG_DEBUG("Tarrow.cpp", 1) << "kept";
                      CHILD_CHECK(TakePendingLogRecords().size() == 1);
                      return 0;
                  }))
            << (bFolder ? "folder" : "file");
        EXPECT_EQ(ReadFile(strFolder + "/t.log"), "theirs");
    }
}

TEST(LogRollingFile, NamesOfTheSet) {
    CScratchFolder scratch;
    CRollingFile file;
    ASSERT_TRUE(file.Open(scratch.Path() + "/", "a.log", 100, 3, false));
    EXPECT_EQ(file.GetFileName(0), "a.log");
    EXPECT_EQ(file.GetFileName(1), "a.log.2");
    EXPECT_EQ(file.GetFileName(2), "a.log.3");
    EXPECT_TRUE(file.IsFileOpen());
    EXPECT_FALSE(file.Open(scratch.Path(), "sub/a.log", 100, 3, false));
    EXPECT_FALSE(file.Open(scratch.Path() + "/missing", "a.log", 100, 3, false));
}

TEST(LogRollingFile, OpeningAFileOverTheSizeEmptiesIt) {
    CScratchFolder scratch;
    WriteFile(scratch.Path() + "/a.log", std::string(101, 'x'));
    WriteFile(scratch.Path() + "/a.log.2", std::string(101, 'y'));
    CRollingFile file;
    // No file of the set is below the size: the first one is taken, and emptied.
    ASSERT_TRUE(file.Open(scratch.Path(), "a.log", 100, 2, false));
    EXPECT_EQ(file.GetCurrentIndex(), 0);
    EXPECT_EQ(ReadFile(scratch.Path() + "/a.log"), "");
    file.Write(std::string(100, 'a')); // exactly the size: no roll
    EXPECT_EQ(file.GetCurrentIndex(), 0);
    file.Write("b");
    EXPECT_EQ(file.GetCurrentIndex(), 1);
    EXPECT_EQ(ReadFile(scratch.Path() + "/a.log.2"), "");
    file.Write("c");
    EXPECT_EQ(ReadFile(scratch.Path() + "/a.log"), std::string(100, 'a') + "b");
    EXPECT_EQ(ReadFile(scratch.Path() + "/a.log.2"), "c");
}
