// The cost of a log statement, against the work it cannot do with less:
//   a filtered statement   against one comparison of the threshold;
//   a written entry        against one write(2) of the same bytes to a file.
#include "Log.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>

namespace {

const std::string g_strRoot = "/mnt/data/";

void FilteredStatement(benchmark::State& state) {
    std::int64_t n = 0;
    for (auto _ : state) {
        TLOG_DEBUG("EnumMgr.cpp", 181)
            << "Working thread for drive " << g_strRoot << " started " << ++n;
        benchmark::ClobberMemory();
    }
}

void OneComparison(benchmark::State& state) {
    for (auto _ : state) {
        bool bPass = g_nLogThreshold.load(std::memory_order_relaxed) <= LogLevel::debug;
        benchmark::DoNotOptimize(bPass);
        benchmark::ClobberMemory();
    }
}

void WrittenEntry(benchmark::State& state) {
    std::int64_t n = 0;
    for (auto _ : state)
        TLOG_INFO("EnumMgr.cpp", 181)
            << "Working thread for drive " << g_strRoot << " started " << ++n;
}

// An entry of the same length as those above, written and measured the same way
// the log does: appended, then the position read, emptied past the same size.
void RawWrite(benchmark::State& state) {
    const std::string strEntry =
        "2011-03-04 10:20:30.123 [info]   [Thread ID: 12,345] [Log #123,456]  [File: "
        ".\\EnumMgr.cpp] [Line: 181]\r\nWorking thread for drive /mnt/data/ started "
        "123,456\r\n\r\n";
    std::string strPath = std::string(std::getenv("TEMP")) + "/raw.log";
    int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_TRUNC | O_CLOEXEC, 0600);
    for (auto _ : state) {
        if (::write(fd, strEntry.data(), strEntry.size()) < 0)
            state.SkipWithError("write failed");
        if (::lseek(fd, 0, SEEK_CUR) > 0x200000 && ::ftruncate(fd, 0) != 0)
            state.SkipWithError("truncate failed");
    }
    ::close(fd);
}

BENCHMARK(OneComparison);
BENCHMARK(FilteredStatement);
BENCHMARK(RawWrite);
BENCHMARK(WrittenEntry);

// Keeps each benchmark's time per iteration for the ratios.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                m_mapTimes[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatio(const char* pszWhat, const char* pszPeer) {
        auto it = m_mapTimes.find(pszWhat), itPeer = m_mapTimes.find(pszPeer);
        if (it == m_mapTimes.end() || itPeer == m_mapTimes.end() || itPeer->second <= 0)
            return;
        std::printf("%-18s / %-14s = %6.2f  (%.2f ns / %.2f ns)\n", pszWhat, pszPeer,
                    it->second / itPeer->second, it->second, itPeer->second);
    }

private:
    std::map<std::string, double> m_mapTimes;
};

} // namespace

int main(int argc, char** argv) {
    // A scratch folder for the log, so the benchmark writes nothing anywhere else.
    std::string strTemp = (std::filesystem::temp_directory_path() / "tarrow-bench-XXXXXX").string();
    if (::mkdtemp(strTemp.data()) == nullptr)
        return 1;
    ::setenv("TEMP", strTemp.c_str(), 1);
    // "info": debug statements are filtered, info statements written.
    ConfigureLog({"%TEMP%\\Tarrow\\", "bench.log", 0x200000, 1, "info", true});

    benchmark::Initialize(&argc, argv);
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.PrintRatio("FilteredStatement", "OneComparison");
    reporter.PrintRatio("WrittenEntry", "RawWrite");

    std::filesystem::remove_all(strTemp);
    return 0;
}
