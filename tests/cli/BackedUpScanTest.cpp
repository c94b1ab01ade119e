// tarrow-scan --backed-up, run as a user runs it. The real backup tools' listings are
// tried by report_test.py (backup checks); these are written here.
#include "RunProcess.h"
#include "ScanTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kScan = TARROW_SCAN_PATH;

class BackedUpScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_strDoc = m_tree.File("docs/a.doc", 1536);
        m_tree.File("img/x.png", 100);
        m_tree.File("music/s.mp3", 7);
        // 2024-05-06 10:20:30.75 UTC; the program runs in UTC.
        struct timespec times[2] = {{0, UTIME_OMIT}, {1714990830, 750'000'000}};
        for (const char* psz : {"docs/a.doc", "img/x.png", "music/s.mp3"})
            ::utimensat(AT_FDCWD, m_tree.Path(psz).c_str(), times, 0);
        m_strTemp = m_temp.Folder("t");
    }

    std::string Write(const std::string& strName, const std::string& strText) {
        const std::string strPath = m_temp.Path(strName);
        std::ofstream(strPath, std::ios::binary) << strText;
        return strPath;
    }

    // A borg listing: a.doc as it is, x.png smaller than it is now, nothing of s.mp3.
    std::string BorgListing() {
        const std::string R = m_tree.Root().substr(1);
        return R"({"type": "-", "mode": "-rw-r--r--", "path": ")" + R +
               R"(/docs/a.doc", "healthy": true, "size": 1536, "mtime": "2024-05-06T10:20:30.750000"})"
               "\n"
               R"({"type": "-", "mode": "-rw-r--r--", "path": ")" +
               R + R"(/img/x.png", "healthy": true, "size": 99, "mtime": "2024-05-06T10:20:31"})" +
               "\n";
    }

    ProcessResult Scan(std::vector<std::string> args,
                       const std::function<void(pid_t)>& onStarted = nullptr) {
        args.insert(args.begin(), kScan);
        return RunProcess(args, {"TEMP=" + m_strTemp, "TMPDIR=" + m_strTemp, "TZ=UTC0"}, onStarted);
    }

    CTempTree m_tree;
    CTempTree m_temp;
    std::string m_strTemp;
    std::string m_strDoc;
};

// The writing end of a named pipe, once a reader has opened it (-1 after 10 s without).
int OpenWriter(const std::string& strPipe) {
    for (int i = 0; i < 10'000; ++i) {
        const int fd = ::open(strPipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO)
            return fd;
        std::this_thread::sleep_for(1ms);
    }
    return -1;
}

std::string Read(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST_F(BackedUpScanTest, TheTableAndJsonSayWhatNoBackupHolds) {
    const std::string strListing = Write("borg.json", BorgListing());
    ProcessResult r = Scan({"--backed-up", strListing, m_tree.Root()});
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut, "           Files     Size  Not backed up\n"
                        "Documents      1  1.50 KB       0    0 B\n"
                        "Images         1    100 B       1  100 B\n"
                        "Music          1      7 B       1    7 B\n"
                        "Video          0      0 B       0    0 B\n"
                        "Total          3  1.60 KB       2  107 B\n");

    // The listing on standard input, and --files marking each file.
    r = RunProcess({"/bin/sh", "-c", "exec \"$0\" --json --files --backed-up - \"$1\" < \"$2\"",
                    kScan, m_tree.Root(), strListing},
                   {"TEMP=" + m_strTemp, "TZ=UTC0"});
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    const std::string& s = r.strOut;
    EXPECT_NE(s.find("\"bytes\": 1536, \"notBackedUp\": {\"files\": 0, \"bytes\": 0}}"), s.npos)
        << s;
    EXPECT_NE(s.find("\"total\": {\"files\": 3, \"bytes\": 1643, \"notBackedUp\": {\"files\": 2, "
                     "\"bytes\": 107}}"),
              s.npos);
    EXPECT_NE(s.find("\"path\": \"" + m_strDoc + "\", \"backedUp\": true}"), s.npos);
    EXPECT_NE(s.find("/img/x.png\", \"backedUp\": false}"), s.npos);
    EXPECT_NE(s.find("\"backups\": [\n    {\"tool\": \"borg\", \"listing\": \"-\", \"snapshot\": "
                     "null, \"time\": null, \"host\": null, \"paths\": null, \"files\": 2}\n  ]"),
              s.npos);
    // Without a listing, none of it.
    r = Scan({"--json", "--files", m_tree.Root()});
    EXPECT_EQ(r.strOut.find("backedUp"), std::string::npos);
    EXPECT_EQ(r.strOut.find("backups"), std::string::npos);
}

TEST_F(BackedUpScanTest, AListingThatIsNoUseIsSaidAndNothingIsScannedOrWritten) {
    const std::string strGood = BorgListing();
    const std::string strPipe = m_temp.Path("pipe");
    ASSERT_EQ(::mkfifo(strPipe.c_str(), 0600), 0);
    struct Case {
        std::string strFile;
        std::string strError; // after "tarrow-scan: FILE: "
    } cases[] = {
        {Write("cut.json", strGood.substr(0, strGood.size() - 20)),
         "line 2: not a whole JSON object"},
        {Write("long.json", strGood + std::string(10 << 20, 'x') + "\n"),
         "line 3: longer than 1 MiB"},
        {Write("type.json", R"({"type": "-", "mode": "-rw-r--r--", "path": 1})"
                            "\n"),
         "line 1: \"path\" is not a string"},
        {Write("old.json", R"([{"time":"2018-08-10T13:41:51+02:00","nodes":[]}])"
                           "\n"),
         "line 1: one JSON array, as restic 0.9.3 and older wrote their listings"},
        {Write("empty.json", ""), "empty: not a listing"},
        {strPipe, "a named pipe that nobody writes into"},
        {m_temp.Path("missing.json"), "No such file or directory"},
        {m_tree.Root(), "a folder, not a listing"},
    };
    const std::string strMetrics = Write("old.prom", "old figures\n");
    for (const Case& c : cases) {
        ProcessResult r = Scan({"--backed-up", Write("ok.json", strGood), "--backed-up", c.strFile,
                                "--lists", "--metrics", strMetrics, m_tree.Root()});
        EXPECT_EQ(r.nExitStatus, 2) << c.strFile;
        EXPECT_EQ(r.strErr.rfind("tarrow-scan: " + c.strFile + ": " + c.strError, 0), 0u)
            << r.strErr;
        EXPECT_EQ(std::count(r.strErr.begin(), r.strErr.end(), '\n'), 1) << r.strErr;
        EXPECT_EQ(r.strOut, "");
        EXPECT_EQ(Read(strMetrics), "old figures\n");
        EXPECT_FALSE(fs::exists(m_strTemp + "/Tarrow"));
    }
}

TEST_F(BackedUpScanTest, APipeIsReadAsItIsWrittenAndCtrlCStopsTheWait) {
    const std::string strPipe = m_temp.Path("pipe");
    ASSERT_EQ(::mkfifo(strPipe.c_str(), 0600), 0);
    const std::string strListing = BorgListing();
    std::thread writer([&] {
        const int fd = OpenWriter(strPipe);
        std::this_thread::sleep_for(300ms); // as a backup tool opens its repository first
        EXPECT_EQ(::write(fd, strListing.data(), strListing.size()),
                  static_cast<ssize_t>(strListing.size()));
        ::close(fd);
    });
    ProcessResult r = Scan({"--backed-up", strPipe, m_tree.Root()});
    writer.join();
    EXPECT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("Total          3  1.60 KB       2  107 B\n"), std::string::npos)
        << r.strOut;

    // A writer that says nothing is waited for, until Ctrl-C.
    int fdWriter = -1;
    std::thread opener([&] { fdWriter = OpenWriter(strPipe); });
    r = Scan({"--backed-up", strPipe, m_tree.Root()}, [](pid_t pid) {
        std::this_thread::sleep_for(500ms);
        ::kill(pid, SIGINT);
    });
    opener.join();
    ::close(fdWriter);
    EXPECT_EQ(r.nExitStatus, 130);
    EXPECT_EQ(r.strOut, "");
    EXPECT_NE(r.strErr.find("nothing was scanned"), std::string::npos) << r.strErr;
}
