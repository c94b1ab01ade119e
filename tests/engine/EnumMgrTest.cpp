#include "EnumMgr.h"
#include "ExtTestVolume.h"
#include "Log.h"
#include "ScanTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const std::string S = " \xE2\x80\x94 ";

// Folders of a temporary tree standing as drives.
class CFakeVolumes final : public IVolumeTable {
public:
    struct Drive {
        std::string strRoot;
        UINT nType = DRIVE_FIXED;
        std::string strFileSystem = "ext4";
        DWORD dwError = 0;
    };

    std::vector<std::string> GetLogicalDrives() const override {
        if (m_onList)
            m_onList();
        std::vector<std::string> roots;
        for (const Drive& d : m_drives)
            roots.push_back(d.strRoot);
        return roots;
    }
    UINT GetDriveType(const std::string& strRoot) const override {
        const Drive* p = Find(strRoot);
        return p ? p->nType : DRIVE_NO_ROOT_DIR;
    }
    bool GetVolumeInformation(const std::string& strRoot, std::string& strFs,
                              DWORD& dwError) const override {
        const Drive* p = Find(strRoot);
        if (!p || p->dwError) {
            dwError = p ? p->dwError : ENOENT;
            return false;
        }
        strFs = p->strFileSystem;
        return true;
    }
    std::vector<std::string> GetMountPoints() const override {
        std::vector<std::string> points = m_arrOtherMounts;
        for (const Drive& d : m_drives)
            points.push_back(d.strRoot);
        return points;
    }
    bool CanReadVolume(const std::string&) const override { return m_bCanRead; }
    std::string GetFileSystemId(const std::string& strRoot) const override {
        auto it = m_fileSystems.find(strRoot);
        return it == m_fileSystems.end() ? strRoot : it->second;
    }

    std::vector<Drive> m_drives;
    std::map<std::string, std::string> m_fileSystems; // root -> file system, when shared
    std::vector<std::string> m_arrOtherMounts;
    std::function<void()> m_onList;
    bool m_bCanRead = false;

private:
    const Drive* Find(const std::string& strRoot) const {
        for (const Drive& d : m_drives) {
            if (d.strRoot == strRoot)
                return &d;
        }
        return nullptr;
    }
};

class CFakeKnownFolders final : public IKnownFolders {
public:
    KnownFolderSet Get() const override { return m_set; }
    std::string LongPathName(const std::string& strPath) const override {
        return m_gone.count(strPath) ? std::string() : strPath;
    }
    KnownFolderSet m_set;
    std::set<std::string> m_gone;
};

struct LogLine {
    std::uint32_t nLevel;
    std::string strTag;
    std::string strMessage;
    bool operator==(const LogLine&) const = default;
};

std::string Tag(int nLine) {
    return " [File: .\\EnumMgr.cpp] [Line: " + std::to_string(nLine) + "]";
}

LogLine Debug(int nLine, std::string strMessage) {
    return {LogLevel::debug, Tag(nLine), std::move(strMessage)};
}
LogLine Error(int nLine, std::string strMessage) {
    return {LogLevel::error, Tag(nLine), std::move(strMessage)};
}

class EnumMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetScanIdle();
        TakePendingLogRecords();
        m_pVolumes = std::make_shared<CFakeVolumes>();
        m_pKnown = std::make_shared<CFakeKnownFolders>();
        m_pKnown->m_set.nUserId = 1000;
        m_setup = std::make_shared<ScanSetup>();
        m_setup->volumeTable = [p = m_pVolumes] { return p; };
        m_setup->pKnownFolders = m_pKnown;
    }
    void TearDown() override { SetScanIdle(); }

    void AddDrive(const std::string& strName, UINT nType = DRIVE_FIXED, std::string strFs = "ext4",
                  DWORD dwError = 0) {
        m_pVolumes->m_drives.push_back({m_tree.Folder(strName), nType, std::move(strFs), dwError});
    }

    void Scan() { StartManagerThread(m_setup).join(); }

    std::set<std::string> Found(const CRecordingTarget& target) const {
        std::set<std::string> s;
        for (const FoundFile& f : target.Found())
            s.insert(f.prop.m_strPath);
        return s;
    }

    // Statements by thread, each thread's in its order; the manager's thread first.
    static std::map<std::uint32_t, std::vector<LogLine>> LogByThread() {
        std::map<std::uint32_t, std::vector<LogLine>> m;
        for (PendingLogRecord& r : TakePendingLogRecords())
            m[r.nThreadId].push_back({r.nLevel, r.strFileTag, r.strMessage});
        return m;
    }
    static std::vector<LogLine> WorkerLog(const std::map<std::uint32_t, std::vector<LogLine>>& m,
                                          const std::string& strRoot) {
        for (const auto& [id, lines] : m) {
            if (!lines.empty() &&
                lines[0] == Debug(181, "Working thread for drive " + strRoot + " started"))
                return lines;
        }
        return {};
    }
    static std::vector<LogLine> ManagerLog(const std::map<std::uint32_t, std::vector<LogLine>>& m) {
        for (const auto& [id, lines] : m) {
            if (!lines.empty() && lines[0] == Debug(70, "Manager Thread is started"))
                return lines;
        }
        return {};
    }

    CTempTree m_tree;
    std::shared_ptr<CFakeVolumes> m_pVolumes;
    std::shared_ptr<CFakeKnownFolders> m_pKnown;
    std::shared_ptr<ScanSetup> m_setup;
};

} // namespace

TEST_F(EnumMgrTest, WholeScanOfSeveralDrivesWithItsLog) {
    AddDrive("a");
    AddDrive("b", DRIVE_FIXED, "ntfs"); // NTFS in any case; this one cannot be read raw
    AddDrive("c", DRIVE_REMOVABLE, "vfat");
    AddDrive("d", DRIVE_REMOTE, "nfs4");
    const std::string A = m_tree.Path("a"), B = m_tree.Path("b");
    m_pVolumes->m_arrOtherMounts = {m_tree.Path("a/proc")};
    m_pKnown->m_set.arrSystem = {A + "/usr", "/elsewhere/etc"};
    m_pKnown->m_set.arrPrograms = {B + "/opt"};
    m_pKnown->m_set.arrInternetCache = {A + "/home/.cache"};
    m_pKnown->m_set.arrTemporary = {A + "/tmp", A + "/gone-tmp"};
    m_pKnown->m_gone = {A + "/gone-tmp"};
    m_pKnown->m_set.strUserTrash = A + "/home/.local/share/Trash";

    // Every user's trash is left out: each .Trash-UID at a drive's root, whoever owns
    // it, and the trash of each home on the drive.
    m_pKnown->m_set.arrHomeTrash = {A + "/home/alice/.local/share/Trash",
                                    "/elsewhere/home/bob/.local/share/Trash"};

    std::set<std::string> expected = {
        m_tree.File("a/x.doc", 10),          m_tree.File("a/home/photo.png", 20),
        m_tree.File("b/song.mp3", 30),       m_tree.File("b/Users/v.MKV", 40),
        m_tree.File("a/.trash/mine.doc", 1), m_tree.File("a/home/Trash/mine.doc", 1)};
    for (const char* psz :
         {"a/usr/share/a.pdf", "a/home/.cache/b.jpg", "a/tmp/c.doc", "a/.Trash/d.doc",
          "a/.Trash-1000/e.doc", "a/home/.local/share/Trash/files/f.doc", "a/proc/g.doc",
          "b/opt/h.pdf", "b/.Trash-1000/i.doc", "c/j.doc", "d/k.doc", "a/.Trash-0/files/l.doc",
          "a/.Trash-1001/files/m.doc", "b/.Trash-1002/files/n.doc",
          "a/home/alice/.local/share/Trash/files/o.doc"})
        m_tree.File(psz, 1);

    CRecordingTarget target;
    Scan();
    EXPECT_EQ(Found(target), expected);
    EXPECT_EQ(target.Finished(), 1);
    EXPECT_TRUE(EnumFinished.IsSet());
    EXPECT_TRUE(ResumeEvent.IsSet()); // as the completed scan left it
    EXPECT_FALSE(ForceEvent.IsSet());

    auto log = LogByThread();
    ASSERT_EQ(log.size(), 3u); // the manager and two workers
    const std::string C = m_tree.Path("c"), D = m_tree.Path("d");
    EXPECT_EQ(ManagerLog(log), (std::vector<LogLine>{
                                   Debug(70, "Manager Thread is started"),
                                   Debug(86, "Enumerating user's drives"),
                                   Debug(104, "Type of " + A + " is DRIVE_FIXED"),
                                   Debug(104, "Type of " + B + " is DRIVE_FIXED"),
                                   Debug(104, "Type of " + C + " is DRIVE_REMOVABLE"),
                                   Debug(104, "Type of " + D + " is DRIVE_REMOTE"),
                                   Debug(136, "2 working threads were created"),
                                   Debug(137, "Resume all the threads and wait for them to finish"),
                                   Debug(143, "All the working threads finished"),
                                   Debug(166, "Raise EnumFinished event"),
                                   Debug(172, "Manager Thread is finished"),
                               }));
    auto groups = [](const std::string& R) {
        return std::vector<LogLine>{
            Debug(218, R + S +
                           "Documents group is added with the following filter: *.doc; *.docx; "
                           "*.xls; *.xlsx; *.ppt; *.pptx; *.pdf; *.odf; *.rtf; *.pst; *.ost; "
                           "*.qbb; *.qdb"),
            Debug(223, R + S +
                           "Images group is added with the following filter: *.jpg; *.jpeg; "
                           "*.png; *.bmp; *.gif; *.psd; *.tiff"),
            Debug(228, R + S +
                           "Music group is added with the following filter: *.mp3; *.wav; "
                           "*.wma; *.aac; *.mpa; *.m4a; *.aiff; *.aif; *.aifc"),
            Debug(233, R + S +
                           "Video group is added with the following filter: *.avi; *.3gp; "
                           "*.flv; *.mkv; *.mov; *.mp4; *.mpg; *.wmv; *.m4v")};
    };
    // Neither volume may be read raw here: both are walked, and say so.
    std::vector<LogLine> a = {
        Debug(181, "Working thread for drive " + A + " started"),
        Debug(205, A + S + "File system of " + A + " is ext4"),
        Debug(207, A + S + "The volume cannot be read directly; its folders are walked")};
    for (LogLine& l : groups(A))
        a.push_back(l);
    for (LogLine l :
         {Debug(260, A + S + "Exclusion filter is added: " + A + "/usr"),
          Debug(323, A + S + "Exclusion filter is added: " + A + "/home/.cache"),
          Debug(346, A + S + "Exclusion filter is added: " + A + "/tmp"),
          Debug(346, A + S + "Exclusion filter is added: "), // gone: no long form
          Debug(351, A + S + "Exclusion filter is added: " + A + "/.Trash"),
          Debug(355, A + S + "Exclusion filter is added: " + A + "/.Trash-1000"),
          Debug(355, A + S + "Exclusion filter is added: " + A + "/.Trash-0"),
          Debug(355, A + S + "Exclusion filter is added: " + A + "/.Trash-1001"),
          Debug(359, A + S + "Exclusion filter is added: " + A + "/home/.local/share/Trash"),
          Debug(359, A + S + "Exclusion filter is added: " + A + "/home/alice/.local/share/Trash"),
          Debug(361, A + S + "Exclusion filter is added: " + A + "/proc"),
          Debug(369, A + S + "Working thread for drive " + A + " finished")})
        a.push_back(l);
    EXPECT_EQ(WorkerLog(log, A), a);

    std::vector<LogLine> b = {
        Debug(181, "Working thread for drive " + B + " started"),
        Debug(205, B + S + "File system of " + B + " is ntfs"),
        Debug(207, B + S + "The volume cannot be read directly; its folders are walked")};
    for (LogLine& l : groups(B))
        b.push_back(l);
    for (LogLine l : {Debug(281, B + S + "Exclusion filter is added: " + B + "/opt"),
                      Debug(351, B + S + "Exclusion filter is added: " + B + "/.Trash"),
                      Debug(355, B + S + "Exclusion filter is added: " + B + "/.Trash-1000"),
                      Debug(355, B + S + "Exclusion filter is added: " + B + "/.Trash-1002"),
                      Debug(369, B + S + "Working thread for drive " + B + " finished")})
        b.push_back(l);
    EXPECT_EQ(WorkerLog(log, B), b);
}

TEST_F(EnumMgrTest, EachFolderLeftOutIsToldWithItsReasonAndTheCallersOwnAreLeftOut) {
    AddDrive("a");
    AddDrive("x/b");
    const std::string A = m_tree.Path("a"), X = m_tree.Path("x"), XB = m_tree.Path("x/b");
    m_pVolumes->m_arrOtherMounts = {A + "/proc"};
    m_pKnown->m_set.arrSystem = {A + "/usr"};
    m_pKnown->m_set.arrPrograms = {A + "/opt"};
    m_pKnown->m_set.arrProgramData = {A + "/var/lib"};
    m_pKnown->m_set.arrInternetCache = {A + "/cache"};
    m_pKnown->m_set.arrTemporary = {A + "/tmp"};
    m_pKnown->m_set.strUserTrash = A + "/home/.local/share/Trash";
    // One on a drive, given with a '/' at its end; one that holds the other drive.
    m_setup->arrExclude = {A + "/mine/", X};

    using Told = std::tuple<std::string, std::string, LeftOutReason>;
    std::mutex lock;
    std::set<Told> told;
    std::multiset<std::string> started, finished;
    m_setup->onFolderLeftOut = [&](const std::string& strRoot, const std::string& strFolder,
                                   LeftOutReason reason) {
        std::lock_guard l(lock);
        told.emplace(strRoot, strFolder, reason);
    };
    m_setup->onDriveStarted = [&](const std::string& strRoot) {
        std::lock_guard l(lock);
        started.insert(strRoot);
    };
    m_setup->onDriveFinished = [&](const std::string& strRoot) {
        std::lock_guard l(lock);
        finished.insert(strRoot);
    };
    const std::set<std::string> expected = {m_tree.File("a/keep.doc", 1),
                                            m_tree.File("a/mine2/alike.doc", 1)};
    m_tree.File("a/mine/m.doc", 1);
    m_tree.File("x/b/b.doc", 1);

    CRecordingTarget target;
    Scan();
    EXPECT_EQ(Found(target), expected);
    EXPECT_EQ(told, (std::set<Told>{{A, A + "/usr", LeftOutReason::system},
                                    {A, A + "/opt", LeftOutReason::programs},
                                    {A, A + "/var/lib", LeftOutReason::programData},
                                    {A, A + "/cache", LeftOutReason::cache},
                                    {A, A + "/tmp", LeftOutReason::temporary},
                                    {A, A + "/.Trash", LeftOutReason::trash},
                                    {A, A + "/.Trash-1000", LeftOutReason::trash},
                                    {A, A + "/home/.local/share/Trash", LeftOutReason::trash},
                                    {A, A + "/proc", LeftOutReason::mount},
                                    {A, A + "/mine/", LeftOutReason::asked},
                                    {XB, XB + "/.Trash", LeftOutReason::trash},
                                    {XB, XB + "/.Trash-1000", LeftOutReason::trash},
                                    {XB, X, LeftOutReason::asked}}));
    EXPECT_EQ(started, (std::multiset<std::string>{A, XB}));
    EXPECT_EQ(finished, started);
}

TEST_F(EnumMgrTest, DeliveredOnTheReceiversThreadWhileWorkersWait) {
    AddDrive("a");
    AddDrive("b");
    for (int i = 0; i < 50; ++i) {
        m_tree.File("a/f" + std::to_string(i) + ".pdf", i);
        m_tree.File("b/f" + std::to_string(i) + ".jpg", i);
    }
    std::vector<std::string> found;
    std::int64_t nBytes = 0;
    bool bFinished = false;
    std::thread::id handler;
    CThreadWindow window([&](UINT nMsg, WPARAM, LPARAM lParam) -> LRESULT {
        handler = std::this_thread::get_id();
        if (nMsg == WM_FILEFOUND) {
            const auto* p = reinterpret_cast<const FileProperty*>(lParam);
            found.push_back(p->m_strPath);
            nBytes += p->m_nSize;
        } else if (nMsg == WM_ENUMFINISH) {
            bFinished = true;
        }
        return 0;
    });
    g_hTargetWnd = window.GetSafeHwnd();
    std::thread manager = StartManagerThread(m_setup);
    while (!bFinished)
        window.PumpMessages(10);
    manager.join();
    EXPECT_EQ(found.size(), 100u);
    EXPECT_EQ(nBytes, 2 * (49 * 50 / 2));
    EXPECT_EQ(handler, std::this_thread::get_id());
}

TEST_F(EnumMgrTest, StopBeforeTheRelease) {
    AddDrive("a");
    AddDrive("b");
    m_tree.File("a/x.doc");
    // The stop arrives after the manager reset the events, before it released anyone.
    m_pVolumes->m_onList = [] { ForceEvent.Set(); };
    CRecordingTarget target;
    Scan();
    EXPECT_TRUE(target.Found().empty());
    EXPECT_EQ(target.Finished(), 1);
    EXPECT_TRUE(ForceEvent.IsSet()); // stays set until the next scan starts
    auto log = LogByThread();
    for (const char* psz : {"a", "b"}) {
        const std::string R = m_tree.Path(psz);
        EXPECT_EQ(WorkerLog(log, R),
                  (std::vector<LogLine>{
                      Debug(181, "Working thread for drive " + R + " started"),
                      Debug(193, "Working thread for drive " + R +
                                     "received ForceEvent event and will be finished")}));
    }

    // The next scan is not stopped by what the last one left set.
    m_pVolumes->m_onList = nullptr;
    Scan();
    EXPECT_EQ(target.Found().size(), 1u);
    EXPECT_FALSE(ForceEvent.IsSet());
}

TEST_F(EnumMgrTest, StopAndPauseDuringAScan) {
    AddDrive("a");
    for (int i = 0; i < 200; ++i)
        m_tree.File("a/d" + std::to_string(i % 10) + "/f" + std::to_string(i) + ".doc");

    {
        CRecordingTarget target;
        std::atomic<int> n{0};
        target.OnFound([&](const FoundFile&) {
            if (++n == 20)
                ForceEvent.Set();
        });
        Scan();
        EXPECT_EQ(target.Found().size(), 20u);
        EXPECT_EQ(target.Finished(), 1); // a stopped scan ends like a complete one
        auto log = ManagerLog(LogByThread());
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), Debug(172, "Manager Thread is finished"));
    }
    {
        CRecordingTarget target;
        std::atomic<int> n{0};
        target.OnFound([&](const FoundFile&) {
            if (++n == 50)
                ResumeEvent.Reset();
        });
        std::thread manager = StartManagerThread(m_setup);
        while (n < 50)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(target.Found().size(), 50u);
        EXPECT_FALSE(EnumFinished.IsSet());
        ResumeEvent.Set();
        manager.join();
        EXPECT_EQ(target.Found().size(), 200u);
        EXPECT_EQ(Found(target).size(), 200u);
    }
}

TEST_F(EnumMgrTest, DriveThatCannotBeQueriedLeavesTheOthersScannedAndIsTold) {
    AddDrive("a", DRIVE_FIXED, "ext4", EACCES);
    AddDrive("b");
    m_pVolumes->m_drives.push_back({m_tree.Path("gone"), DRIVE_FIXED, "ext4", 0});
    m_tree.File("a/x.doc");
    m_tree.File("b/y.doc");
    std::mutex lock;
    std::set<std::pair<std::string, DWORD>> notScanned, notRead;
    m_setup->onDriveNotScanned = [&](const std::string& s, DWORD dw) {
        std::lock_guard guard(lock);
        notScanned.emplace(s, dw);
    };
    m_setup->onFolderNotRead = [&](const std::string& s, DWORD dw) {
        std::lock_guard guard(lock);
        notRead.emplace(s, dw);
    };
    CRecordingTarget target;
    Scan();
    EXPECT_EQ(Found(target), std::set<std::string>{m_tree.Path("b/y.doc")});
    EXPECT_EQ(notScanned, (std::set<std::pair<std::string, DWORD>>{{m_tree.Path("a"), EACCES}}));
    EXPECT_EQ(notRead, (std::set<std::pair<std::string, DWORD>>{{m_tree.Path("gone"), ENOENT}}));
    const std::string A = m_tree.Path("a");
    EXPECT_EQ(
        WorkerLog(LogByThread(), A),
        (std::vector<LogLine>{Debug(181, "Working thread for drive " + A + " started"),
                              Error(366, A + S + "Permission denied\r\n"),
                              Debug(369, A + S + "Working thread for drive " + A + " finished")}));
}

TEST_F(EnumMgrTest, NoFixedDriveEndsAtOnce) {
    AddDrive("c", DRIVE_CDROM, "iso9660");
    CRecordingTarget target;
    Scan();
    EXPECT_EQ(target.Finished(), 1);
    EXPECT_TRUE(EnumFinished.IsSet());
    auto log = LogByThread();
    ASSERT_EQ(log.size(), 1u);
    auto lines = ManagerLog(log);
    EXPECT_NE(std::find(lines.begin(), lines.end(), Debug(136, "0 working threads were created")),
              lines.end());
}

TEST_F(EnumMgrTest, NoTargetWindowLeft) {
    AddDrive("a");
    m_tree.File("a/x.doc");
    { CRecordingTarget gone; }
    Scan(); // nothing to send to: the scan still runs to its end
    EXPECT_TRUE(EnumFinished.IsSet());
    auto lines = ManagerLog(LogByThread());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), Debug(172, "Manager Thread is finished"));
}

TEST_F(EnumMgrTest, VolumeTableFailureIsLoggedAndTheScanStillEnds) {
    m_setup->volumeTable = []() -> std::shared_ptr<const IVolumeTable> { RaiseError(EIO); };
    CRecordingTarget target;
    Scan();
    EXPECT_EQ(target.Finished(), 1);
    auto lines = ManagerLog(LogByThread());
    EXPECT_NE(std::find(lines.begin(), lines.end(), Error(147, "Input/output error\r\n")),
              lines.end());
}

TEST_F(EnumMgrTest, DrivesOfOneFileSystemShareOneWorkerAndCountAHardLinkOnce) {
    AddDrive("a");
    AddDrive("b");
    AddDrive("c");
    const std::string A = m_tree.Path("a"), B = m_tree.Path("b"), C = m_tree.Path("c");
    m_pVolumes->m_fileSystems = {{A, "one"}, {B, "one"}};
    m_tree.File("a/x.doc", 1000);
    ASSERT_EQ(::link(m_tree.Path("a/x.doc").c_str(), m_tree.Path("b/same.doc").c_str()), 0);
    m_tree.File("c/z.doc", 1);

    CRecordingTarget target;
    Scan();
    EXPECT_EQ(Found(target), (std::set<std::string>{A + "/x.doc", C + "/z.doc"}));

    auto log = LogByThread();
    ASSERT_EQ(log.size(), 3u); // the manager and two workers
    // The first worker scans a, then b, each as a drive of its own.
    std::vector<LogLine> ab = WorkerLog(log, A);
    std::vector<LogLine> markers;
    for (const LogLine& l : ab) {
        if (l.strTag == Tag(181) || l.strTag == Tag(369))
            markers.push_back(l);
    }
    EXPECT_EQ(markers, (std::vector<LogLine>{
                           Debug(181, "Working thread for drive " + A + " started"),
                           Debug(369, A + S + "Working thread for drive " + A + " finished"),
                           Debug(181, "Working thread for drive " + B + " started"),
                           Debug(369, B + S + "Working thread for drive " + B + " finished")}));
    EXPECT_FALSE(WorkerLog(log, C).empty());
}

// An ext4 drive is read through its table only where the volume can be read raw and the
// process may read every folder, or where its device was handed over on request (only an
// administrator can agree to that); otherwise it is walked, and the log says so. Only a
// drive whose device this process cannot open is asked for. The scan's caller hears how
// the drive was read, also where the table reader stepped back.
TEST_F(EnumMgrTest, AnExtDriveIsReadThroughItsTableOnlyByWhoMayReadEveryFolder) {
    AddDrive("ext");
    AddDrive("other", DRIVE_FIXED, "btrfs"); // walked whatever happens: never asked for
    const std::string R = m_tree.Path("ext");
    m_tree.File("ext/walked.doc", 1); // what a walk finds; the table holds another file
    ext_test::CTestVolume sound;
    sound.File(sound.Root(), "table.doc", 1);
    sound.Build();
    auto pUnknown = std::make_shared<ext_test::CSparseImage>(sound.Image());
    pUnknown->Put(kExtSuperblockOffset + 0x60, 0x1002, 4);
    enum class Grant { nobody, grants, refuses };
    struct Case {
        const char* pszWhat;
        bool bCanRead, bMayReadEvery;
        std::shared_ptr<const ext_test::CSparseImage> pImage; // the system's opener's
        Grant grant;
        const char* pszFound;
        const char* pszEnumerator;
        bool bLogged; // the "walked" statement of the worker
        int nAsked;
    };
    const Case cases[] = {
        {"root", true, true, sound.ImagePointer(), Grant::grants, "table.doc", "ext4", false, 0},
        {"a disk group member", true, false, sound.ImagePointer(), Grant::grants, "walked.doc",
         "walk", true, 0},
        {"no raw access", false, true, sound.ImagePointer(), Grant::nobody, "walked.doc", "walk",
         true, 0},
        {"a feature not known", true, true, pUnknown, Grant::nobody, "walked.doc", "walk", false,
         0},
        // The granted device is read, not the one the system's opener would give.
        {"a user given the device", false, false, pUnknown, Grant::grants, "table.doc", "ext4",
         false, 1},
        {"a user refused it", false, false, sound.ImagePointer(), Grant::refuses, "walked.doc",
         "walk", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        m_pVolumes->m_bCanRead = c.bCanRead;
        m_setup->mayReadEveryFolder = [&c] { return c.bMayReadEvery; };
        m_setup->createExtEnum = [&c](std::shared_ptr<const IVolumeOpener> pOpener) {
            if (!pOpener)
                pOpener = std::make_shared<ext_test::CImageOpener>(c.pImage);
            auto p = std::make_unique<CExtEnum>(std::move(pOpener),
                                                [] { return CreateDirectoryLister(); });
            p->SetFlushFirst(false);
            return p;
        };
        std::atomic<int> nAsked{0};
        m_setup->grantVolume = nullptr;
        if (c.grant != Grant::nobody)
            m_setup->grantVolume = [&](const std::string& strRoot,
                                       std::shared_ptr<const IVolumeOpener>& pOpener,
                                       std::string& strWhy) -> DWORD {
                EXPECT_EQ(strRoot, R);
                ++nAsked;
                if (c.grant == Grant::refuses) {
                    strWhy = "dismissed";
                    return EACCES;
                }
                pOpener = std::make_shared<ext_test::CImageOpener>(sound.ImagePointer());
                return 0;
            };
        std::string strEnumerator;
        m_setup->onDriveEnumerator = [&](const std::string& strRoot, const char* psz) {
            if (strRoot == R)
                strEnumerator = psz;
        };
        TakePendingLogRecords();
        CRecordingTarget target;
        Scan();
        EXPECT_EQ(Found(target), std::set<std::string>{R + "/" + c.pszFound});
        EXPECT_EQ(strEnumerator, c.pszEnumerator);
        EXPECT_EQ(nAsked, c.nAsked);
        bool bLogged = false;
        std::vector<LogLine> asked;
        for (const LogLine& l : WorkerLog(LogByThread(), R)) {
            bLogged |= l.strTag == Tag(207);
            if (l.strTag == Tag(208) || l.strTag == Tag(209) || l.strTag == Tag(210))
                asked.push_back(l);
        }
        EXPECT_EQ(bLogged, c.bLogged);
        std::vector<LogLine> expected;
        if (c.nAsked) {
            expected.push_back(Debug(208, R + S + "Read access to the volume is asked for"));
            expected.push_back(c.grant == Grant::grants
                                   ? Debug(209, R + S + "Read access to the volume is granted")
                                   : Debug(210, R + S +
                                                    "Read access to the volume is not granted: "
                                                    "dismissed"));
        }
        EXPECT_EQ(asked, expected);
        EXPECT_EQ(EnumeratorFor(*m_setup, *m_pVolumes, R, "ext4"),
                  std::string(c.bCanRead && c.bMayReadEvery ? "ext4" : "walk"));
    }
}
