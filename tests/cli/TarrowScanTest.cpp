#include "RunProcess.h"
#include "ScanTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kScan = TARROW_SCAN_PATH;

class TarrowScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tree.File("docs/a.doc", 1536);
        m_tree.File("docs/B.PDF", 1073741824);
        m_tree.File("img/x.png", 100);
        m_tree.File("img/caf\xE9.jpg", 5); // Latin-1: not UTF-8
        m_tree.File("music/s.mp3", 0);
        m_tree.File("other/readme.txt", 10);
        m_strTemp = m_temp.Folder("t");
    }

    ProcessResult Scan(std::vector<std::string> args, const std::string& strZone = "UTC0") {
        args.insert(args.begin(), kScan);
        return RunProcess(args, {"TEMP=" + m_strTemp, "TMPDIR=" + m_strTemp, "TZ=" + strZone});
    }

    std::string Read(const std::string& strPath) {
        std::ifstream in(strPath, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    CTempTree m_tree;
    CTempTree m_temp;
    std::string m_strTemp;
};

int Threads(pid_t pid) {
    int n = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

} // namespace

TEST_F(TarrowScanTest, TableOfTheFiveRows) {
    ProcessResult r = Scan({m_tree.Root()});
    EXPECT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut, "           Files     Size\n"
                        "Documents      2  1.00 GB\n"
                        "Images         2    105 B\n"
                        "Music          1      0 B\n"
                        "Video          0      0 B\n"
                        "Total          5  1.00 GB\n");
    EXPECT_EQ(r.strErr, ""); // no progress when stderr is not a terminal
}

TEST_F(TarrowScanTest, JsonWithEveryFile) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {1299234030, 0}}; // 2011-03-04 10:20:30 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, m_tree.Path("docs/a.doc").c_str(), times, 0), 0);
    ProcessResult r = Scan({"--json", "--files", m_tree.Root()}, kIndiaTimeZone);
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    const std::string& s = r.strOut;
    EXPECT_NE(s.find("{\"name\": \"Documents\", \"files\": 2, \"bytes\": 1073743360}"), s.npos)
        << s;
    EXPECT_NE(s.find("{\"name\": \"Video\", \"files\": 0, \"bytes\": 0}"), s.npos);
    EXPECT_NE(s.find("\"total\": {\"files\": 5, \"bytes\": 1073743465}"), s.npos);
    EXPECT_NE(s.find("{\"root\": \"" + m_tree.Root() + "\", \"fileSystem\": "), s.npos);
    EXPECT_NE(s.find("\"enumerator\": \"walk\"}"), s.npos);
    EXPECT_NE(s.find("\"stopped\": false"), s.npos);
    EXPECT_TRUE(std::regex_search(s, std::regex("\"elapsedSeconds\": [0-9]+\\.[0-9]{3}")));
    // The name that is not UTF-8 keeps its byte as an escape; the JSON stays valid.
    EXPECT_NE(s.find("\"path\": \"" + m_tree.Root() + "/img/caf\\udce9.jpg\"}"), s.npos) << s;
    EXPECT_EQ(s.find('\xE9'), s.npos);
    // The local time of the file, in the zone the program runs in.
    EXPECT_NE(s.find("{\"group\": \"Documents\", \"size\": 1536, \"modified\": "
                     "\"2011-03-04T15:50:30\", \"path\": \"" +
                     m_tree.Root() + "/docs/a.doc\"}"),
              s.npos)
        << s;
}

TEST_F(TarrowScanTest, ListFilesByteForByte) {
    ASSERT_EQ(::mkdir((m_strTemp + "/Tarrow").c_str(), 0700), 0);
    ProcessResult r = Scan({"--lists", m_tree.Root()});
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    const std::string R = m_tree.Root();
    std::string strDocs = Read(m_strTemp + "/Tarrow/Documents.log");
    EXPECT_TRUE(strDocs == R + "/docs/a.doc\r\n" + R + "/docs/B.PDF\r\n" ||
                strDocs == R + "/docs/B.PDF\r\n" + R + "/docs/a.doc\r\n")
        << strDocs;
    std::string strImages = Read(m_strTemp + "/Tarrow/Images.log");
    EXPECT_NE(strImages.find(R + "/img/caf\xE9.jpg\r\n"), std::string::npos); // raw bytes
    EXPECT_EQ(strImages.size(),
              2 * R.size() + std::string("/img/x.png\r\n/img/caf\xE9.jpg\r\n").size());
    EXPECT_EQ(Read(m_strTemp + "/Tarrow/Music.log"), R + "/music/s.mp3\r\n");
    EXPECT_FALSE(fs::exists(m_strTemp + "/Tarrow/Video.log")); // a group without files
}

TEST_F(TarrowScanTest, ListsAreNotWrittenWithoutTheFolderOrThroughALink) {
    ProcessResult r = Scan({"--lists", m_tree.Root()});
    ASSERT_EQ(r.nExitStatus, 0);
    EXPECT_FALSE(fs::exists(m_strTemp + "/Tarrow")); // never created by the lists

    ASSERT_EQ(::mkdir((m_strTemp + "/Tarrow").c_str(), 0700), 0);
    fs::create_symlink(m_strTemp + "/victim", m_strTemp + "/Tarrow/Documents.log");
    r = Scan({"--lists", m_tree.Root()});
    ASSERT_EQ(r.nExitStatus, 0);
    EXPECT_FALSE(fs::exists(m_strTemp + "/victim"));
    EXPECT_TRUE(fs::exists(m_strTemp + "/Tarrow/Images.log"));
}

TEST_F(TarrowScanTest, UsageErrors) {
    for (std::vector<std::string> args : {std::vector<std::string>{m_tree.Path("missing")},
                                          {m_tree.Path("docs/a.doc")},
                                          {"--frobnicate"},
                                          {"--files", m_tree.Root()}}) {
        ProcessResult r = Scan(args);
        EXPECT_EQ(r.nExitStatus, 2) << args[0];
        EXPECT_EQ(r.strOut, "");
        EXPECT_EQ(r.strErr.rfind("tarrow-scan: ", 0), 0u) << r.strErr;
        EXPECT_EQ(std::count(r.strErr.begin(), r.strErr.end(), '\n'), 2) << r.strErr;
    }
    EXPECT_NE(Scan({m_tree.Path("missing")}).strErr.find("No such file or directory"),
              std::string::npos);
    EXPECT_NE(Scan({m_tree.Path("docs/a.doc")}).strErr.find("not a folder"), std::string::npos);
}

TEST_F(TarrowScanTest, HelpAndVersion) {
    ProcessResult r = Scan({"--help"});
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_EQ(r.strOut.rfind("Usage: tarrow-scan", 0), 0u);
    r = Scan({"--version"});
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_TRUE(std::regex_match(r.strOut, std::regex("tarrow-scan \\(Quenby\\) [0-9.]+\n")));
}

TEST_F(TarrowScanTest, DebugWritesTheDiagnosticLog) {
    ProcessResult r = Scan({"--debug", m_tree.Root()});
    ASSERT_EQ(r.nExitStatus, 0);
    std::string strLog = Read(m_strTemp + "/Tarrow/tarrow-scan.log");
    EXPECT_NE(strLog.find("Manager Thread is started"), std::string::npos);
    EXPECT_NE(strLog.find("[File: .\\EnumMgr.cpp] [Line: 369]"), std::string::npos);
    EXPECT_EQ(::access((m_strTemp + "/Tarrow").c_str(), F_OK), 0);
}

TEST_F(TarrowScanTest, CtrlCStopsAndPrintsThePartialResults) {
    // A tree large enough that the scan is still running when the signal arrives.
    const int nFiles = 100'000;
    CTempTree big;
    int fdRoot = ::open(big.Root().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fdRoot, 0);
    for (int d = 0; d < 100; ++d) {
        std::string strDir = "d" + std::to_string(d);
        ASSERT_EQ(::mkdirat(fdRoot, strDir.c_str(), 0755), 0);
        int fdDir = ::openat(fdRoot, strDir.c_str(), O_RDONLY | O_DIRECTORY);
        for (int f = 0; f < nFiles / 100; ++f) {
            int fd = ::openat(fdDir, ("f" + std::to_string(f) + ".doc").c_str(),
                              O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ::close(fd);
        }
        ::close(fdDir);
    }
    ::close(fdRoot);

    bool bCaught = false;
    for (int nAttempt = 0; nAttempt < 5 && !bCaught; ++nAttempt) {
        ProcessResult r =
            RunProcess({kScan, "--json", big.Root()}, {"TEMP=" + m_strTemp}, [](pid_t pid) {
                // The manager and a worker run: the scan is on.
                for (int i = 0; i < 5000 && Threads(pid) < 4; ++i)
                    std::this_thread::sleep_for(100us);
                ::kill(pid, SIGINT);
            });
        if (r.nExitStatus == 0)
            continue; // finished before the signal came: try again
        bCaught = true;
        EXPECT_EQ(r.nExitStatus, 130) << r.strErr;
        EXPECT_NE(r.strOut.find("\"stopped\": true"), std::string::npos) << r.strOut;
        std::smatch m;
        ASSERT_TRUE(
            std::regex_search(r.strOut, m, std::regex("\"total\": \\{\"files\": ([0-9]+)")));
        EXPECT_LE(std::stoi(m[1]), nFiles);
    }
    EXPECT_TRUE(bCaught) << "every scan ended before Ctrl-C arrived";

    ProcessResult r = RunProcess({kScan, big.Root()}, {"TEMP=" + m_strTemp}, [](pid_t pid) {
        for (int i = 0; i < 5000 && Threads(pid) < 4; ++i)
            std::this_thread::sleep_for(100us);
        ::kill(pid, SIGINT);
    });
    if (r.nExitStatus == 130) {
        EXPECT_NE(r.strOut.find("Stopped before the end"), std::string::npos);
    }
}
