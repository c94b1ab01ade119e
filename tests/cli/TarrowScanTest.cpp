#include "RunProcess.h"
#include "ScanTestSupport.h"
#include "StringTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
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
    // Read-ahead, none or some, changes nothing that is found.
    for (const char* pszReadAhead : {"--read-ahead=4", "--read-ahead=0", "--"}) {
        ProcessResult r = Scan({pszReadAhead, m_tree.Root()});
        EXPECT_EQ(r.nExitStatus, 0) << r.strErr;
        EXPECT_EQ(r.strOut, "           Files     Size\n"
                            "Documents      2  1.00 GB\n"
                            "Images         2    105 B\n"
                            "Music          1      0 B\n"
                            "Video          0      0 B\n"
                            "Total          5  1.00 GB\n");
        EXPECT_EQ(r.strErr, ""); // no progress when stderr is not a terminal
    }
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
    // The local time of the file, in the zone the program runs in, with its offset.
    EXPECT_NE(s.find("{\"group\": \"Documents\", \"size\": 1536, \"modified\": "
                     "\"2011-03-04T15:50:30+05:30\", \"path\": \"" +
                     m_tree.Root() + "/docs/a.doc\"}"),
              s.npos)
        << s;
}

// Sparse files of 4 EiB on a 1 MiB file system, as any user can make them.
class CSmallTmpfs {
public:
    CSmallTmpfs() {
        m_strRoot = m_folder.Folder("fs");
        m_bMounted = ::mount("tmpfs", m_strRoot.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                             "size=1m,mode=0755") == 0;
    }
    ~CSmallTmpfs() {
        if (m_bMounted)
            ::umount2(m_strRoot.c_str(), MNT_DETACH);
    }
    bool IsMounted() const { return m_bMounted; }
    const std::string& Root() const { return m_strRoot; }
    bool Sparse(const std::string& strName, off_t nSize) const {
        const std::string strPath = m_strRoot + "/" + strName;
        const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        const bool bOk = fd >= 0 && ::ftruncate(fd, nSize) == 0;
        if (fd >= 0)
            ::close(fd);
        return bOk;
    }

private:
    CTempTree m_folder;
    std::string m_strRoot;
    bool m_bMounted = false;
};

TEST_F(TarrowScanTest, ByteSumsOfSparseFilesNeverWrap) {
    CSmallTmpfs fs;
    if (!fs.IsMounted())
        GTEST_SKIP() << "mounting a small tmpfs is not allowed here (needs root)";
    constexpr off_t k4EiB = off_t{1} << 62;
    for (const char* pszName : {"a.mkv", "b.mkv", "c.mkv"})
        ASSERT_TRUE(fs.Sparse(pszName, k4EiB)) << pszName;
    ProcessResult r = Scan({"--json", fs.Root()});
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("{\"name\": \"Video\", \"files\": 3, \"bytes\": 13835058055282163712}"),
              std::string::npos)
        << r.strOut;
    EXPECT_NE(r.strOut.find("\"total\": {\"files\": 3, \"bytes\": 13835058055282163712}"),
              std::string::npos)
        << r.strOut;
    r = Scan({fs.Root()});
    EXPECT_NE(r.strOut.find("Video          3  12.00 EB\n"), std::string::npos) << r.strOut;

    // Past 16 EiB, what 64 bits hold, the sum goes on exactly.
    ASSERT_TRUE(fs.Sparse("d.mkv", k4EiB));
    ASSERT_TRUE(fs.Sparse("e.pdf", k4EiB));
    r = Scan({"--json", fs.Root()});
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("{\"name\": \"Video\", \"files\": 4, \"bytes\": 18446744073709551616}"),
              std::string::npos)
        << r.strOut;
    EXPECT_NE(r.strOut.find("\"total\": {\"files\": 5, \"bytes\": 23058430092136939520}"),
              std::string::npos)
        << r.strOut;
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

TEST_F(TarrowScanTest, AGroupWithoutFilesLeavesItsListOfAnEarlierScanAsItWas) {
    const std::string strVideo = m_tree.File("video/b.mkv", 10);
    ProcessResult r = Scan({"--lists", m_tree.Root()});
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_EQ(Read(m_strTemp + "/Tarrow/Video.log"), strVideo + "\r\n");
    // A scan that does not reach the videos (here: of the documents alone) rewrites the
    // lists of what it found and keeps the others.
    r = Scan({"--lists", m_tree.Path("docs")});
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_EQ(Read(m_strTemp + "/Tarrow/Video.log"), strVideo + "\r\n");
    EXPECT_EQ(Read(m_strTemp + "/Tarrow/Documents.log").find(m_tree.Path("docs")), 0u);
    EXPECT_TRUE(fs::exists(m_strTemp + "/Tarrow/Music.log"));
}

TEST_F(TarrowScanTest, ListsMakeTheirFolderPrivateAndNeverWriteThroughALink) {
    ProcessResult r = Scan({"--lists", m_tree.Root()});
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    struct stat st;
    ASSERT_EQ(::lstat((m_strTemp + "/Tarrow").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::exists(m_strTemp + "/Tarrow/Documents.log"));

    // A link at a list's name is replaced, and what it pointed to is left alone.
    ASSERT_TRUE(fs::remove(m_strTemp + "/Tarrow/Documents.log"));
    fs::create_symlink(m_strTemp + "/victim", m_strTemp + "/Tarrow/Documents.log");
    r = Scan({"--lists", m_tree.Root()});
    ASSERT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_FALSE(fs::exists(m_strTemp + "/victim"));
    EXPECT_FALSE(fs::is_symlink(m_strTemp + "/Tarrow/Documents.log"));
}

TEST_F(TarrowScanTest, ARefusedListFolderIsSaidAndFailsTheRun) {
    // The folder is a link to a place of someone else's choosing: nothing is written
    // there, and the run says so instead of ending well.
    ASSERT_EQ(::mkdir((m_strTemp + "/elsewhere").c_str(), 0700), 0);
    fs::create_symlink(m_strTemp + "/elsewhere", m_strTemp + "/Tarrow");
    ProcessResult r = Scan({"--lists", m_tree.Root()});
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_NE(r.strErr.find("no list file was written"), std::string::npos) << r.strErr;
    EXPECT_TRUE(fs::is_empty(m_strTemp + "/elsewhere"));
    EXPECT_NE(r.strOut.find("Documents"), std::string::npos) << "the report is still printed";

    // A folder others may write in is refused the same way.
    ASSERT_TRUE(fs::remove(m_strTemp + "/Tarrow"));
    ASSERT_EQ(::mkdir((m_strTemp + "/Tarrow").c_str(), 0700), 0);
    ASSERT_EQ(::chmod((m_strTemp + "/Tarrow").c_str(), 0777), 0);
    r = Scan({"--lists", m_tree.Root()});
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_FALSE(fs::exists(m_strTemp + "/Tarrow/Documents.log"));
}

TEST_F(TarrowScanTest, UsageErrors) {
    for (std::vector<std::string> args : {std::vector<std::string>{m_tree.Path("missing")},
                                          {m_tree.Path("docs/a.doc")},
                                          {"--frobnicate"},
                                          {"--read-ahead=", m_tree.Root()},
                                          {"--read-ahead=-1", m_tree.Root()},
                                          {"--read-ahead=1000", m_tree.Root()},
                                          {"--read-ahead", m_tree.Root()},
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

TEST_F(TarrowScanTest, ADiagnosticLogThatCannotBeWrittenIsSaidOnceAndFailsTheRun) {
    CSmallTmpfs fs;
    if (!fs.IsMounted())
        GTEST_SKIP() << "mounting a small tmpfs is not allowed here (needs root)";
    const auto lines = [](const std::string& s) { return std::count(s.begin(), s.end(), '\n'); };
    // Full: the folder and the file are made, no entry fits.
    {
        std::ofstream fill(fs.Root() + "/fill", std::ios::binary);
        const std::string strBlock(64 * 1024, 'x');
        while (fill.write(strBlock.data(), strBlock.size()))
            ;
    }
    ProcessResult r = RunProcess({kScan, "--debug", m_tree.Root()}, {"TEMP=" + fs.Root()});
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_EQ(r.strErr, "tarrow-scan: the diagnostic log could not be written: " + fs.Root() +
                            "/Tarrow/tarrow-scan.log: No space left on device\n");
    EXPECT_EQ(lines(r.strOut), 6) << r.strOut; // the report all the same

    // Read-only, with the folder and an old log there.
    ASSERT_EQ(::unlink((fs.Root() + "/fill").c_str()), 0);
    std::ofstream(fs.Root() + "/Tarrow/tarrow-scan.log") << "old";
    ASSERT_EQ(::mount(nullptr, fs.Root().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    r = RunProcess({kScan, "--debug", m_tree.Root()}, {"TEMP=" + fs.Root()});
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_EQ(r.strErr, "tarrow-scan: the diagnostic log could not be written: " + fs.Root() +
                            "/Tarrow/tarrow-scan.log: Read-only file system\n");
    EXPECT_EQ(lines(r.strOut), 6) << r.strOut;
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

namespace {

// The task's state letter from /proc; 0 once it is gone.
char State(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(in)), {});
    std::size_t n = s.rfind(") ");
    return n == std::string::npos ? 0 : s[n + 2];
}

// Whether the process blocks SIGINT now.
bool BlocksInterrupt(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string strLine;
    while (std::getline(in, strLine)) {
        if (strLine.rfind("SigBlk:", 0) == 0)
            return (std::stoull(strLine.substr(7), nullptr, 16) >> (SIGINT - 1)) & 1;
    }
    return false;
}

// Tasks of a user, all processes together: what RLIMIT_NPROC counts.
int TasksOf(uid_t uid) {
    int n = 0;
    std::error_code ec;
    for (auto& p : fs::directory_iterator("/proc", ec)) {
        struct stat st;
        if (std::isdigit(static_cast<unsigned char>(p.path().filename().string()[0])) &&
            ::stat(p.path().c_str(), &st) == 0 && st.st_uid == uid)
            n += Threads(std::stoi(p.path().filename().string()));
    }
    return n;
}

} // namespace

TEST_F(TarrowScanTest, WriteErrorsOnStandardOutputAreErrors) {
    int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--json", m_tree.Root()}, {m_tree.Root()}, {"--help"}}) {
        args.insert(args.begin(), kScan);
        ProcessResult r = RunProcess(args, {"TEMP=" + m_strTemp}, nullptr, fd);
        EXPECT_EQ(r.nExitStatus, 1) << args[1];
        EXPECT_EQ(r.strErr, "tarrow-scan: write error: No space left on device\n") << args[1];
    }
    ::close(fd);
}

TEST_F(TarrowScanTest, ListFilesAreWrittenBeforeTheReport) {
    ASSERT_EQ(::mkdir((m_strTemp + "/Tarrow").c_str(), 0700), 0);
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    ::close(p[0]); // a reader that has gone, as head -1 has once it has its line
    ProcessResult r =
        RunProcess({kScan, "--lists", m_tree.Root()}, {"TEMP=" + m_strTemp}, nullptr, p[1]);
    ::close(p[1]);
    EXPECT_NE(r.nExitStatus, 0);
    EXPECT_TRUE(fs::exists(m_strTemp + "/Tarrow/Documents.log"));
    EXPECT_TRUE(fs::exists(m_strTemp + "/Tarrow/Images.log"));
}

TEST_F(TarrowScanTest, CtrlCInTheFirstMillisecondsStillGivesTheReport) {
    // Folders named by paths of thousands of components take a while to resolve: the
    // start is long. The signal comes as soon as the program blocks it, or after half
    // a second if it does not.
    std::string strLong = m_tree.Path("docs");
    while (strLong.size() < PATH_MAX - 16)
        strLong += "/../docs";
    std::vector<std::string> args = {kScan, "--json"};
    args.insert(args.end(), 300, strLong);
    // On a busy machine this side may not run again before the scan is over; such a
    // round tells nothing and is taken again.
    ProcessResult r;
    bool bEndedFirst = true;
    for (int nRound = 0; nRound < 5 && bEndedFirst; ++nRound) {
        r = RunProcess(args, {"TEMP=" + m_strTemp}, [&bEndedFirst](pid_t pid) {
            const auto deadline = std::chrono::steady_clock::now() + 500ms;
            while (!BlocksInterrupt(pid) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(100us);
            siginfo_t info{};
            bEndedFirst =
                ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == pid;
            ::kill(pid, SIGINT);
        });
    }
    ASSERT_FALSE(bEndedFirst) << "the scan always ended before the signal could be sent";
    EXPECT_EQ(r.nExitStatus, 130);
    EXPECT_NE(r.strOut.find("\"stopped\": true"), std::string::npos) << r.strOut;
}

TEST_F(TarrowScanTest, HelpSaysWhatIsCountedWhatIsLeftOutAndWhereFilesGo) {
    ProcessResult r = Scan({"--help"});
    ASSERT_EQ(r.nExitStatus, 0);
    const std::string& s = r.strOut;
    for (const GroupEntry& g : g_groupTable) {
        EXPECT_NE(s.find(LoadString(g.nNameId)), s.npos);
        std::string strFilter = LoadString(g.nFilterId);
        for (std::size_t i = strFilter.find("*."); i != std::string::npos;
             i = strFilter.find("*.", i + 1)) {
            std::string strExt = strFilter.substr(i + 1, strFilter.find(';', i) - i - 1);
            EXPECT_TRUE(std::regex_search(s, std::regex("\\" + strExt + "( |\n)"))) << strExt;
        }
    }
    for (const char* psz :
         {"/usr", "/etc", "/var/lib", "/var/cache", "/var/tmp", ".Trash-*", ".local/share/Trash",
          "apparent size", "run it as root", "  systemctl start tarrow-scan.service\n"})
        EXPECT_NE(s.find(psz), s.npos) << psz;
    EXPECT_NE(s.find(m_strTemp + ","), s.npos); // the temporary folder is left out
    EXPECT_NE(s.find("into " + m_strTemp + "/Tarrow/ (Documents.log"), s.npos);
    EXPECT_NE(s.find("log to " + m_strTemp + "/Tarrow/tarrow-scan.log"), s.npos);
}

TEST_F(TarrowScanTest, AFolderLeftOutOfEveryScanIsScannedWhenAskedFor) {
    // The temporary folder is left out of every scan, and so of its parent's.
    m_temp.File("t/x/a.doc", 1);
    m_temp.File("b.doc", 1);
    ProcessResult r = Scan({m_temp.Root()});
    EXPECT_NE(r.strOut.find("Total          1"), std::string::npos) << r.strOut;
    r = Scan({m_strTemp});
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_NE(r.strOut.find("Total          1"), std::string::npos) << r.strOut;
}

TEST_F(TarrowScanTest, FoldersThatCannotBeReadAreCountedAndAGivenOneIsAnError) {
    std::vector<std::string> prefix;
    if (!UnprivilegedPrefix(prefix))
        GTEST_SKIP() << "cannot run as an unprivileged user here (no setpriv)";
    // Readable by nobody, but for two folders; a temporary folder of nobody's own.
    ASSERT_EQ(::chmod(m_tree.Root().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(m_temp.Root().c_str(), 0755), 0);
    const std::string strTemp = m_temp.Folder("nobody");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(strTemp.c_str(), kNobody, kNobody), 0);
    }
    const std::string strLocked = m_tree.Folder("docs/locked");
    m_tree.File("docs/locked/hidden.doc");
    m_tree.File("img/locked/hidden.png");
    ASSERT_EQ(::chmod(strLocked.c_str(), 0), 0);
    ASSERT_EQ(::chmod(m_tree.Path("img/locked").c_str(), 0), 0);
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), kScan);
        args.insert(args.begin(), prefix.begin(), prefix.end());
        return RunProcess(args, {"TEMP=" + strTemp, "TMPDIR=" + strTemp});
    };

    ProcessResult r = run({"--debug", m_tree.Root()});
    EXPECT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("Total          5"), std::string::npos) << r.strOut;
    EXPECT_EQ(r.strErr, "tarrow-scan: 2 folders could not be read; the files in them are not "
                        "counted (listed in " +
                            strTemp + "/Tarrow/tarrow-scan.log)\n");
    std::string strLog = Read(strTemp + "/Tarrow/tarrow-scan.log");
    // Listed by tarrow-scan under its own tag: the walk itself writes no log lines.
    EXPECT_NE(strLog.find("[File: .\\TarrowScan.cpp] [Line: 375]\r\nCannot read folder " +
                          strLocked + ": Permission denied\r\n"),
              std::string::npos)
        << strLog;
    EXPECT_EQ(strLog.find("SimpleEnum.cpp"), std::string::npos) << strLog;

    // A folder given that cannot be read at all is an error; the others are reported.
    r = run({strLocked, m_tree.Path("img")});
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_EQ(r.strErr,
              "tarrow-scan: cannot read folder '" + strLocked +
                  "': Permission denied\n"
                  "tarrow-scan: 1 folder could not be read; the files in them are not counted "
                  "(--debug lists them in the log)\n");
    EXPECT_NE(r.strOut.find("Images         2"), std::string::npos) << r.strOut;

    ::chmod(strLocked.c_str(), 0755);
    ::chmod(m_tree.Path("img/locked").c_str(), 0755);
}

TEST_F(TarrowScanTest, ThousandsOfFoldersOnOneFileSystemTakeOneWorker) {
    // Workers are counted: threads reading ahead, which a cold disk starts, are not.
    std::vector<std::string> args = {kScan, "--read-ahead=0"};
    const std::string strMany = m_tree.Folder("many");
    for (int i = 0; i < 1000; ++i) {
        args.push_back(strMany + "/f" + std::to_string(i));
        ASSERT_EQ(::mkdir(args.back().c_str(), 0755), 0);
        if (i % 4 == 0)
            m_tree.File("many/f" + std::to_string(i) + "/a.doc", 1);
    }
    int nMost = 0;
    ProcessResult r = RunProcess(args, {"TEMP=" + m_strTemp}, [&](pid_t pid) {
        for (char c = State(pid); c != 0 && c != 'Z'; c = State(pid)) {
            nMost = std::max(nMost, Threads(pid));
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_EQ(r.nExitStatus, 0) << r.strErr;
    EXPECT_NE(r.strOut.find("Documents    250"), std::string::npos) << r.strOut;
    EXPECT_LE(nMost, 4); // the program, its signal thread, the manager and one worker
}

TEST_F(TarrowScanTest, AWorkerThatCannotBeStartedIsAnError) {
    std::vector<std::string> prefix;
    if (::geteuid() != 0 || !UnprivilegedPrefix(prefix) || ::access("/usr/bin/prlimit", X_OK))
        GTEST_SKIP() << "needs root, setpriv and prlimit to run under another user's task limit";
    ASSERT_EQ(::chmod(m_tree.Root().c_str(), 0755), 0);
    // Room for the program, its signal thread and the manager, not for a worker.
    const int nLimit = TasksOf(kNobody) + 3;
    std::vector<std::string> args = {"/usr/bin/prlimit", "--nproc=" + std::to_string(nLimit) + ":" +
                                                             std::to_string(nLimit)};
    args.insert(args.end(), prefix.begin(), prefix.end());
    args.insert(args.end(), {kScan, m_tree.Root()});
    ProcessResult r = RunProcess(args, {"TEMP=" + m_strTemp});
    EXPECT_EQ(r.nExitStatus, 1) << r.strOut;
    EXPECT_NE(r.strErr.find("Resource temporarily unavailable"), std::string::npos) << r.strErr;
    EXPECT_EQ(r.strErr.rfind("tarrow-scan: ", 0), 0u) << r.strErr;
}
