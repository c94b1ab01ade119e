// Statements from many threads at once. Also run under ThreadSanitizer.
#include "Log.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <thread>

namespace {

constexpr int kThreads = 8;
constexpr int kStatements = 10000;

void MakeStatements(int nThread) {
    for (int i = 0; i < kStatements; ++i)
        TLOG_DEBUG("EnumMgr.cpp", 181) << "worker " << nThread << " statement " << i;
}

void RunWorkers() {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(MakeStatements, t);
    for (auto& thread : threads)
        thread.join();
}

// Each thread's statements, in the order they appear, with the thread id of each.
struct ThreadTrack {
    int nNext = 0;
    std::uint32_t nThreadId = 0;
};

void CheckOwnOrder(std::map<int, ThreadTrack>& tracks, int nThread, int nStatement,
                   std::uint32_t nThreadId) {
    ThreadTrack& track = tracks[nThread];
    ASSERT_EQ(nStatement, track.nNext) << "worker " << nThread;
    if (track.nNext == 0)
        track.nThreadId = nThreadId;
    ASSERT_EQ(nThreadId, track.nThreadId) << "worker " << nThread;
    ++track.nNext;
}

bool ParseMessage(const std::string& str, int& nThread, int& nStatement) {
    return std::sscanf(str.c_str(), "worker %d statement %d", &nThread, &nStatement) == 2;
}

} // namespace

TEST(LogThreads, EightWritersGiveWholeEntriesNumberedInFileOrder) {
    CScratchFolder scratch;
    ASSERT_EQ(0, RunInChild([&] {
                  PrepareChild(scratch.Path());
                  ConfigureLog({"%TEMP%\\Tarrow\\", "t.log", 0x7FFFFFFF, 1, "full", true});
                  RunWorkers();
                  return 0;
              }));
    std::vector<LogEntry> entries;
    std::string strError;
    ASSERT_TRUE(ParseLogFile(ReadFile(scratch.Path() + "/Tarrow/t.log"), entries, strError))
        << strError;
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kStatements + 1));
    std::map<int, ThreadTrack> tracks;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(entries[i].nNumber, static_cast<std::int64_t>(i + 1));
        if (i == 0)
            continue; // the version report
        int nThread = -1, nStatement = -1;
        ASSERT_TRUE(ParseMessage(entries[i].strMessage, nThread, nStatement))
            << entries[i].strMessage;
        ASSERT_EQ(entries[i].strFileTag, " [File: .\\EnumMgr.cpp] [Line: 181]");
        CheckOwnOrder(tracks, nThread, nStatement, entries[i].nThreadId);
    }
    ASSERT_EQ(tracks.size(), static_cast<std::size_t>(kThreads));
    std::set<std::uint32_t> threadIds;
    for (auto& [nThread, track] : tracks) {
        EXPECT_EQ(track.nNext, kStatements) << "worker " << nThread;
        threadIds.insert(track.nThreadId);
    }
    EXPECT_EQ(threadIds.size(), static_cast<std::size_t>(kThreads));
}

TEST(LogThreads, UnconfiguredLogKeepsEveryStatementOfEveryThread) {
    TakePendingLogRecords();
    RunWorkers();
    auto records = TakePendingLogRecords();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kThreads * kStatements));
    std::map<int, ThreadTrack> tracks;
    for (const PendingLogRecord& record : records) {
        int nThread = -1, nStatement = -1;
        ASSERT_TRUE(ParseMessage(record.strMessage, nThread, nStatement)) << record.strMessage;
        CheckOwnOrder(tracks, nThread, nStatement, record.nThreadId);
    }
    EXPECT_EQ(tracks.size(), static_cast<std::size_t>(kThreads));
}
