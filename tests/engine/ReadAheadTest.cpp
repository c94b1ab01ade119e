#include "ReadAhead.h"
#include "Log.h"
#include "MemoryLister.h"
#include "ScanTestSupport.h"
#include "SimpleEnum.h"
#include "platform/StorageDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <tuple>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Report = std::vector<std::tuple<std::string, std::string, std::int64_t>>;

constexpr int kThreads = 4;

ReadAheadOptions Always(ReadAheadStats& stats, int nThreads = kThreads) {
    ReadAheadOptions o;
    o.nThreads = nThreads;
    o.bAlways = true;
    o.pStats = &stats;
    return o;
}

// What one walk of the folder reports, in order, and the folders it could not read.
Report Walk(const std::string& strRoot, const ReadAheadOptions& options,
            std::vector<std::string>* pNotRead = nullptr,
            std::chrono::microseconds perFile = std::chrono::microseconds(0),
            std::unique_ptr<IDirectoryLister> pLister = CreateDirectoryLister()) {
    CRecordingTarget target;
    if (perFile.count() > 0)
        target.OnFound([perFile](const FoundFile&) { std::this_thread::sleep_for(perFile); });
    CSimpleEnum walker(std::move(pLister));
    AddProgramGroups(walker);
    walker.SetReadAhead(options);
    if (pNotRead)
        walker.SetFolderNotRead([&](const std::string& s, DWORD) { pNotRead->push_back(s); });
    walker.EnumerateDrive(strRoot);
    Report r;
    for (const FoundFile& f : target.Found())
        r.emplace_back(f.prop.m_strPath, f.strGroup, f.prop.m_nSize);
    return r;
}

// The system's lister, counting the folders it opens and the attributes it reads, for
// the walk's thread apart from the read-ahead's.
class CCountingLister final : public IDirectoryLister {
public:
    struct Counts {
        std::atomic<int> nRoots{0};      // roots opened
        std::atomic<int> nOpened{0};     // other folders opened
        std::atomic<int> nAttributes{0}; // attributes read, but a folder's own
    };
    CCountingLister(Counts& mine, Counts& others)
        : m_p(CreateDirectoryLister()), m_mine(mine), m_others(others) {}

    int OpenRoot(const std::string& s, DWORD& dw) override {
        return Opened(m_mine.nRoots, m_p->OpenRoot(s, dw));
    }
    int OpenChild(int h, std::string_view s, DWORD& dw) override {
        return Opened(m_mine.nOpened, m_p->OpenChild(h, s, dw));
    }
    int OpenBelow(int h, std::string_view s, DWORD& dw) override {
        return Opened(m_mine.nOpened, m_p->OpenBelow(h, s, dw));
    }
    int OpenBeneath(int h, std::string_view s, DWORD& dw) override {
        return Opened(m_mine.nOpened, m_p->OpenBeneath(h, s, dw));
    }
    bool Next(int h, DirEntry& e, DWORD& dw) override { return m_p->Next(h, e, dw); }
    void Close(int h) override { m_p->Close(h); }
    bool GetAttributes(int h, std::string_view s, FileAttributes& a, DWORD& dw) override {
        if (s != ".")
            ++m_mine.nAttributes;
        return m_p->GetAttributes(h, s, a, dw);
    }
    std::unique_ptr<IDirectoryLister> ForAnotherThread() const override {
        return std::make_unique<CCountingLister>(m_others, m_others);
    }

private:
    static int Opened(std::atomic<int>& n, int h) {
        if (h >= 0)
            ++n;
        return h;
    }
    std::unique_ptr<IDirectoryLister> m_p;
    Counts& m_mine;
    Counts& m_others;
};

// Waits until the condition holds; false after a generous while.
template <class F> bool Eventually(F f) {
    for (auto t = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < t;) {
        if (f())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return f();
}

// A tmpfs of the test's own on a folder, where this process may mount one.
class CTmpfs {
public:
    explicit CTmpfs(std::string strFolder)
        : m_str(std::move(strFolder)),
          m_bMounted(::mount("tarrow-test", m_str.c_str(), "tmpfs", 0, "size=64m") == 0) {}
    ~CTmpfs() {
        if (m_bMounted)
            ::umount2(m_str.c_str(), MNT_DETACH);
    }
    CTmpfs(const CTmpfs&) = delete;
    CTmpfs& operator=(const CTmpfs&) = delete;
    bool Mounted() const { return m_bMounted; }

private:
    std::string m_str;
    bool m_bMounted;
};

class ReadAheadTest : public ::testing::Test {
protected:
    void SetUp() override { SetScanRunning(); }
    void TearDown() override { SetScanIdle(); }

    // Many folders, a few levels deep, with odd names and files of every kind.
    void MakeTree(int nFolders) {
        for (int i = 0; i < nFolders; ++i) {
            std::string s = "top" + std::to_string(i % 7) + "/mid" + std::to_string(i % 13) + "/f" +
                            std::to_string(i);
            m_tree.File(s + "/a.doc", i);
            m_tree.File(s + "/b.txt", 1);
            m_tree.File(s + "/c.JPG", 2 * i);
        }
        m_tree.File("odd/name\nwith newline.mp3", 3);
        m_tree.File("odd/\xff\xfe not utf-8/x.avi", 4);
        m_tree.File("odd/looks like.doc/inside.png", 5); // a folder named like a file
        m_tree.File("odd/ spaces /.hidden.pdf", 6);
        ASSERT_EQ(::link(m_tree.Path("top0/mid0/f0/a.doc").c_str(),
                         m_tree.Path("odd/second name.doc").c_str()),
                  0);
        ASSERT_EQ(::symlink("../top1", m_tree.Path("odd/link").c_str()), 0);
    }

    CTempTree m_tree;
    CTmpfs m_tmpfs{m_tree.Root()}; // quicker to fill, and churned without a disk
};

} // namespace

TEST_F(ReadAheadTest, SameFilesSameOrderAsTheWalkAlone) {
    MakeTree(300);
    m_tree.File("locked/inside/x.doc", 1);
    ::chmod(m_tree.Path("locked").c_str(), 0); // unreadable unless root
    m_tree.File("noexec/y.doc", 1);
    m_tree.File("noexec/inside/z.doc", 1);
    ::chmod(m_tree.Path("noexec").c_str(), 0444); // listed, nothing in it read, unless root
    std::vector<std::string> notReadAlone, notRead;
    const Report alone = Walk(m_tree.Root(), {}, &notReadAlone);
    ASSERT_GE(alone.size(), 600u);

    ReadAheadStats stats;
    // A walk slowed as a cold disk slows it, so that the read-ahead can keep ahead.
    EXPECT_EQ(Walk(m_tree.Root(), Always(stats), &notRead, 20us), alone);
    EXPECT_EQ(notRead, notReadAlone);
    EXPECT_EQ(stats.nRunning, 0);
    // Not a vacuous pass: the walk did take folders read ahead of it.
    EXPECT_GT(stats.nReachedAhead, 0u);
    EXPECT_GT(stats.nReads, 0u);

    // Tight bounds change what is read ahead, never what is found.
    for (std::size_t nBytes : {std::size_t{4} << 20, std::size_t{16} << 10}) {
        ReadAheadStats tight;
        ReadAheadOptions o = Always(tight);
        o.nMaxAhead = 2;
        o.nMaxQueued = 3;
        o.nMaxBytes = nBytes;
        notRead.clear();
        EXPECT_EQ(Walk(m_tree.Root(), o, &notRead), alone);
        EXPECT_EQ(notRead, notReadAlone);
        EXPECT_LE(tight.nMostAhead, 2u);
        EXPECT_LE(tight.nMostQueued, 3u);
        EXPECT_LE(tight.nMostBytes, nBytes);
    }
    ::chmod(m_tree.Path("locked").c_str(), 0755);
    ::chmod(m_tree.Path("noexec").c_str(), 0755);
}

TEST_F(ReadAheadTest, WideAndDeepTreesStayWithinTheBounds) {
    for (int i = 0; i < 3000; ++i)
        m_tree.File("wide/w" + std::to_string(i) + "/f.doc", 1);
    const Report alone = Walk(m_tree.Root(), {});
    ASSERT_EQ(alone.size(), 3000u);
    {
        ReadAheadStats stats;
        ReadAheadOptions o = Always(stats);
        o.nMaxAhead = 16;
        o.nMaxQueued = 64;
        // A walk slowed as a cold disk slows it, so that the read-ahead can keep ahead.
        EXPECT_EQ(Walk(m_tree.Root(), o, nullptr, 100us), alone);
        EXPECT_LE(stats.nMostAhead, 16u);
        EXPECT_LE(stats.nMostQueued, 64u);
        EXPECT_GT(stats.nMostQueued, 32u); // the wide folder did fill the queue
        // Those let go for want of room too: the walk hands them on from its listing.
        EXPECT_GT(stats.nReachedAhead, 600u);
    }
    fs::remove_all(m_tree.Path("wide"));

    // Listings count against the bound, those waiting and those being read: folders of
    // a hundred files each, read far ahead of a slow walk, wait no more than it allows.
    constexpr std::size_t kBytes = 256 << 10;
    for (int i = 0; i < 100; ++i) {
        for (int j = 0; j < 100; ++j)
            m_tree.File("many/m" + std::to_string(i) + "/file" + std::to_string(j) + ".doc", 1);
    }
    const Report many = Walk(m_tree.Root(), {});
    {
        ReadAheadStats stats;
        ReadAheadOptions o = Always(stats);
        o.nMaxBytes = kBytes;
        EXPECT_EQ(Walk(m_tree.Root(), o, nullptr, 20us), many);
        EXPECT_LE(stats.nMostBytes, kBytes);
        EXPECT_GT(stats.nMostBytes, kBytes / 2); // not a vacuous pass
        EXPECT_GT(stats.nReachedAhead, 50u);
    }
    fs::remove_all(m_tree.Path("many"));

    const int nLevels = 3000; // deeper than a path can reach
    MakeDeepTree(m_tree.Root(), nLevels);
    ReadAheadStats stats;
    ReadAheadOptions o = Always(stats);
    o.nMaxBytes = kBytes;
    o.nMaxAhead = 16;
    // Slowed, so that the read-ahead has the folders nearest PATH_MAX before the walk:
    // those below them it can only reach again from an open folder, step by step.
    EXPECT_EQ(Walk(m_tree.Root(), o, nullptr, 20us).size(), static_cast<std::size_t>(nLevels + 1));
    EXPECT_LE(stats.nMostBytes, kBytes);
    EXPECT_LE(stats.nMostAhead, 16u);
    EXPECT_GT(stats.nReachedAhead, 0u);
    RemoveDeepTree(m_tree.Root(), nLevels);
}

// The walk takes what the threads read: every folder is listed once, and the
// attributes of every file it reports are read once, whoever reads them.
TEST_F(ReadAheadTest, EveryFolderListedOnceEveryAttributeReadOnce) {
    MakeTree(300);
    CCountingLister::Counts aloneWalk, none;
    const Report alone =
        Walk(m_tree.Root(), {}, nullptr, 0us, std::make_unique<CCountingLister>(aloneWalk, none));
    ASSERT_GT(aloneWalk.nOpened, 300);

    CCountingLister::Counts walk, threads;
    ReadAheadStats stats;
    EXPECT_EQ(Walk(m_tree.Root(), Always(stats), nullptr, 20us,
                   std::make_unique<CCountingLister>(walk, threads)),
              alone);
    EXPECT_GT(threads.nOpened, 0);
    EXPECT_EQ(walk.nRoots, 1);
    EXPECT_EQ(walk.nOpened + threads.nOpened, aloneWalk.nOpened);
    EXPECT_EQ(walk.nAttributes + threads.nAttributes, aloneWalk.nAttributes);
    EXPECT_EQ(stats.nReachedAhead + stats.nReachedFirst,
              static_cast<std::uint64_t>(aloneWalk.nOpened + 1)); // the root too
}

// A folder changed after it was read ahead is reported as it was when read: not as it
// is when the walk gets there, nor as a mix of the two.
TEST_F(ReadAheadTest, AFolderChangedSinceItWasReadIsReportedAsItWasThen) {
    if (!m_tmpfs.Mounted())
        GTEST_SKIP() << "needs a tmpfs of its own, which lists the newest entry first";
    for (const std::string s : {"a", "b"}) {
        m_tree.File(s + "/keep.doc", 1);
        m_tree.File(s + "/gone.doc", 2);
        m_tree.File(s + "/renamed.doc", 3);
        m_tree.File(s + "/grows.doc", 4);
        m_tree.File(s + "/sub/old.doc", 5);
    }
    const Report alone = Walk(m_tree.Root(), {});
    ASSERT_EQ(alone.size(), 10u);

    // The walk is held at its first file, in the subfolder of one folder (listed first:
    // made last), until the other folder and its subfolder are read ahead; then that
    // folder changes.
    ReadAheadStats stats;
    CRecordingTarget target;
    std::string strChanged;
    target.OnFound([&](const FoundFile& f) {
        if (!strChanged.empty())
            return;
        strChanged = f.prop.m_strPath.starts_with(m_tree.Path("a/")) ? "b" : "a";
        ASSERT_TRUE(Eventually([&] { return stats.nListingsWaiting == 2; }));
        const std::string s = m_tree.Path(strChanged);
        fs::remove(s + "/gone.doc");
        fs::rename(s + "/renamed.doc", s + "/new name.doc");
        m_tree.File(strChanged + "/added.doc", 6);
        fs::resize_file(s + "/grows.doc", 4000);
        fs::rename(s + "/sub", s + "/sub moved");
        m_tree.File(strChanged + "/sub/new.doc", 7);
    });
    CSimpleEnum walker;
    AddProgramGroups(walker);
    walker.SetReadAhead(Always(stats));
    walker.EnumerateDrive(m_tree.Root());

    Report got;
    for (const FoundFile& f : target.Found())
        got.emplace_back(f.prop.m_strPath, f.strGroup, f.prop.m_nSize);
    EXPECT_EQ(got, alone);
    EXPECT_GE(stats.nReachedAhead, 2u);
}

// A folder read ahead by its path is opened again by the walk only for what it could
// not read ahead (here a mount below it), and only when it is still the same folder.
TEST_F(ReadAheadTest, AFolderReadAheadIsOpenedAgainOnlyAsItself) {
    for (bool bReplaced : {false, true}) {
        auto pLister = std::make_unique<CMemoryLister>();
        CMemoryLister& lister = *pLister;
        lister.Add("first.doc", EntryKind::File, 1);
        lister.Add("f/a.doc", EntryKind::File, 2);
        lister.Add("f/mnt", EntryKind::Directory).bMountPoint = true;
        lister.Add("f/mnt/m.doc", EntryKind::File, 3);
        lister.Add("f/b.doc", EntryKind::File, 4);
        CRecordingTarget target;
        ReadAheadStats stats;
        target.OnFound([&](const FoundFile& f) {
            if (f.prop.m_strPath == "/r/first.doc") {
                ASSERT_TRUE(Eventually([&] { return stats.nListingsWaiting > 0; }));
            } else if (f.prop.m_strPath == "/r/f/a.doc" && bReplaced) {
                lister.Replace("f"); // renamed away, another made in its place
                lister.Add("f/mnt/other.doc", EntryKind::File, 5);
            }
        });
        CSimpleEnum walker(std::move(pLister));
        AddProgramGroups(walker);
        walker.SetReadAhead(Always(stats));
        std::vector<std::pair<std::string, DWORD>> told;
        walker.SetFolderNotRead([&](const std::string& s, DWORD dw) { told.emplace_back(s, dw); });
        walker.EnumerateDrive("/r");

        std::vector<std::string> paths;
        for (const FoundFile& f : target.Found())
            paths.push_back(f.prop.m_strPath);
        using Paths = std::vector<std::string>;
        using Told = std::vector<std::pair<std::string, DWORD>>;
        EXPECT_EQ(stats.nReachedAhead, 1u);
        if (bReplaced) {
            EXPECT_EQ(paths, (Paths{"/r/first.doc", "/r/f/a.doc", "/r/f/b.doc"}));
            EXPECT_EQ(told, (Told{{"/r/f/mnt", ENOENT}}));
        } else {
            EXPECT_EQ(paths, (Paths{"/r/first.doc", "/r/f/a.doc", "/r/f/mnt/m.doc", "/r/f/b.doc"}));
            EXPECT_EQ(told, Told{});
        }
        EXPECT_EQ(lister.OpenCount(), 0);
    }
}

// What the world can hand a listing (folders that cannot be opened or vanish, a
// listing cut short, attributes that cannot be read, entries of no kind) comes to the
// walk through a listing read ahead exactly as through its own: the same files, the
// same folders told and logged, in the same order.
TEST_F(ReadAheadTest, HostileListingsReadAheadAreReportedAsTheWalkAloneReportsThem) {
    auto build = [](CMemoryLister& l) {
        l.Add("first.doc", EntryKind::File, 1);
        l.Add("locked/a.doc", EntryKind::File);
        l.Add("locked", EntryKind::Directory).bCannotOpen = true;
        l.Add("gone/b.doc", EntryKind::File);
        l.Add("gone", EntryKind::Directory).bVanished = true;
        l.Add("broken/c.doc", EntryKind::File, 1);
        l.Add("broken/d.doc", EntryKind::File, 1);
        l.Add("broken", EntryKind::Directory).nFailAfter = 1;
        l.Add("noexec/e.doc", EntryKind::File).dwAttributesError = EACCES;
        l.Add("noexec/f.doc", EntryKind::File).dwAttributesError = EACCES;
        l.Add("nokind", EntryKind::Directory).bHideKind = true;
        l.Add("nokind/g.png", EntryKind::File, 4);
        l.Add("nokind/unknown.doc", EntryKind::File, 5).bHideKind = true;
        l.Add("nokind/vanished.doc", EntryKind::File).bVanished = true;
        l.Add("nokind/replaced.doc", EntryKind::File).readKind = EntryKind::Symlink;
        l.Add("nokind/link.doc", EntryKind::Symlink);
        l.Add("ok.doc", EntryKind::File, 2);
    };
    using Told = std::vector<std::pair<std::string, DWORD>>;
    auto walk = [&](ReadAheadStats* pStats, Told& told, std::vector<std::string>& log) {
        auto pLister = std::make_unique<CMemoryLister>();
        build(*pLister);
        CRecordingTarget target;
        if (pStats) {
            // Held until the three that can be read are read ahead.
            target.OnFound([&](const FoundFile& f) {
                if (f.prop.m_strPath == "/r/first.doc") {
                    ASSERT_TRUE(Eventually([&] { return pStats->nListingsWaiting == 3; }));
                }
            });
        }
        CSimpleEnum walker(std::move(pLister));
        AddProgramGroups(walker);
        if (pStats)
            walker.SetReadAhead(Always(*pStats));
        walker.SetFolderNotRead([&](const std::string& s, DWORD dw) { told.emplace_back(s, dw); });
        TakePendingLogRecords();
        walker.EnumerateDrive("/r");
        for (const PendingLogRecord& r : TakePendingLogRecords())
            log.push_back(r.strFileTag + r.strMessage);
        Report report;
        for (const FoundFile& f : target.Found())
            report.emplace_back(f.prop.m_strPath, f.strGroup, f.prop.m_nSize);
        return report;
    };
    Told toldAlone, told;
    std::vector<std::string> logAlone, log;
    const Report alone = walk(nullptr, toldAlone, logAlone);
    ASSERT_EQ(toldAlone.size(), 4u);
    ReadAheadStats stats;
    EXPECT_EQ(walk(&stats, told, log), alone);
    EXPECT_EQ(told, toldAlone);
    EXPECT_EQ(log, logAlone);
    EXPECT_EQ(stats.nReachedAhead, 3u);
}

TEST_F(ReadAheadTest, TreesUnderALowDescriptorLimit) {
    // Two descriptors to spare: the walk's root and the read-ahead's. The walk's first
    // subfolder finds none left and nothing of its own to close: the read-ahead gives
    // its back.
    for (int i = 0; i < 50; ++i)
        m_tree.File("flat/f" + std::to_string(i) + "/a.doc", 1);
    const Report alone = Walk(m_tree.Path("flat"), {});
    {
        // First with descriptors to spare: the undefined-behaviour sanitizer checks a
        // type it meets for the first time through a pipe, which the limit would refuse.
        ReadAheadStats warm;
        ASSERT_EQ(Walk(m_tree.Path("flat"), Always(warm)), alone);
    }
    {
        const int nBefore = OpenDescriptorCount();
        ReadAheadStats stats;
        Report got;
        {
            CDescriptorLimit limit(DescriptorLimitLeaving(2));
            got = Walk(m_tree.Path("flat"), Always(stats));
        }
        EXPECT_EQ(got, alone);
        EXPECT_EQ(OpenDescriptorCount(), nBefore);
    }
    fs::remove_all(m_tree.Path("flat"));

    // Deeper than PATH_MAX, with descriptors so few that the read-ahead's own may leave
    // the walk short.
    const int nLevels = 3000;
    MakeDeepTree(m_tree.Root(), nLevels);
    for (int nExtra : {6, 40}) {
        const int nBefore = OpenDescriptorCount();
        ReadAheadStats stats;
        Report got;
        {
            CDescriptorLimit limit(DescriptorLimitLeaving(nExtra));
            got = Walk(m_tree.Root(), Always(stats, 8));
        }
        EXPECT_EQ(got.size(), static_cast<std::size_t>(nLevels + 1)) << nExtra;
        EXPECT_EQ(OpenDescriptorCount(), nBefore);
        EXPECT_EQ(stats.nRunning, 0);
    }
    RemoveDeepTree(m_tree.Root(), nLevels);
}

TEST_F(ReadAheadTest, APauseHoldsEveryReadAndAStopEndsEveryThread) {
    MakeTree(200);
    const Report alone = Walk(m_tree.Root(), {});

    // Paused before the walk begins: nothing at all is read until the resume.
    ResumeEvent.Reset();
    ReadAheadStats stats;
    Report got;
    std::thread walk([&] { got = Walk(m_tree.Root(), Always(stats)); });
    EXPECT_TRUE(Eventually([&] { return stats.nWaiting == kThreads; }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(stats.nReads, 0u);
    ResumeEvent.Set();
    walk.join();
    EXPECT_EQ(got, alone);

    // Paused in the middle: once every thread waits, no read happens until the resume.
    ReadAheadStats paused;
    CRecordingTarget target;
    std::atomic<int> nSeen{0};
    target.OnFound([&](const FoundFile&) {
        if (++nSeen == 50)
            ResumeEvent.Reset();
    });
    std::thread walk2([&] {
        CSimpleEnum walker;
        AddProgramGroups(walker);
        walker.SetReadAhead(Always(paused));
        walker.EnumerateDrive(m_tree.Root());
    });
    EXPECT_TRUE(Eventually([&] { return nSeen >= 50 && paused.nWaiting == kThreads; }));
    const std::uint64_t nReads = paused.nReads;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(paused.nReads, nReads);
    ResumeEvent.Set();
    walk2.join();
    EXPECT_EQ(target.Found().size(), alone.size());

    // A stop, whether running or paused, ends the walk with every thread joined.
    for (bool bPaused : {false, true}) {
        SetScanRunning();
        const int nBefore = OpenDescriptorCount();
        ReadAheadStats stopped;
        CRecordingTarget t;
        std::atomic<int> n{0};
        t.OnFound([&](const FoundFile&) {
            if (++n == 30) {
                if (bPaused)
                    ResumeEvent.Reset();
                else
                    ForceEvent.Set();
            }
        });
        std::thread w([&] {
            CSimpleEnum walker;
            AddProgramGroups(walker);
            walker.SetReadAhead(Always(stopped));
            walker.EnumerateDrive(m_tree.Root());
        });
        if (bPaused) {
            EXPECT_TRUE(Eventually([&] { return n >= 30 && stopped.nWaiting == kThreads; }));
            ForceEvent.Set();
        }
        w.join();
        EXPECT_EQ(t.Found().size(), 30u);
        EXPECT_EQ(stopped.nRunning, 0);
        EXPECT_EQ(OpenDescriptorCount(), nBefore);
    }
}

TEST_F(ReadAheadTest, FoldersRenamedAndDeletedDuringTheWalk) {
    const std::string strRoot = m_tree.Folder("fs");
    for (int i = 0; i < 300; ++i)
        m_tree.File("fs/keep/k" + std::to_string(i % 20) + "/f" + std::to_string(i) + ".doc", 1);
    for (int i = 0; i < 100; ++i)
        m_tree.File("fs/churn/c" + std::to_string(i) + "/sub/g.doc", 1);

    for (int nRound = 0; nRound < 3; ++nRound) {
        std::atomic<bool> bDone{false};
        std::thread churn([&] {
            std::error_code ec;
            for (int i = 0; !bDone; i = (i + 1) % 100) {
                const fs::path a = strRoot + "/churn/c" + std::to_string(i);
                const fs::path b = strRoot + "/churn/moved" + std::to_string(i);
                fs::rename(a, b, ec);
                fs::remove_all(b, ec);
                fs::create_directories(a / "sub", ec);
                std::ofstream(a / "sub/g.doc") << "x";
            }
        });
        ReadAheadStats stats;
        const Report got = Walk(strRoot, Always(stats));
        bDone = true;
        churn.join();
        std::set<std::string> seen;
        int nKept = 0;
        for (const auto& [strPath, strGroup, nSize] : got) {
            EXPECT_TRUE(seen.insert(strPath).second) << strPath;
            EXPECT_TRUE(strPath.starts_with(strRoot + "/")) << strPath;
            nKept += strPath.starts_with(strRoot + "/keep/");
        }
        EXPECT_EQ(nKept, 300);
        EXPECT_EQ(stats.nRunning, 0);
    }
}

TEST_F(ReadAheadTest, AWalkThatNeverWaitsForTheDiskIsLeftAlone) {
    // In memory the walk never reads from a disk: the read-ahead never starts.
    if (!m_tmpfs.Mounted() || !fs::exists("/proc/thread-self/io"))
        GTEST_SKIP() << "needs a tmpfs of its own and the kernel's I/O counters";
    MakeTree(100);
    const Report alone = Walk(m_tree.Root(), {});
    ReadAheadStats stats;
    ReadAheadOptions o;
    o.nThreads = kThreads;
    o.pStats = &stats;
    EXPECT_EQ(Walk(m_tree.Root(), o), alone);
    EXPECT_EQ(stats.nReads, 0u);
    EXPECT_EQ(stats.nReachedAhead, 0u);
}

// Keys compare as the walk meets their folders: by each index in turn as a number,
// a folder before those below it, across every length an index is written in.
TEST(ReadAheadKeyTest, KeysCompareInTheWalksOrder) {
    auto key = [](const std::vector<std::uint32_t>& indexes) {
        CReadAhead::Key k;
        for (std::uint32_t n : indexes)
            CReadAhead::AppendIndex(k, n);
        return k;
    };
    const std::vector<std::vector<std::uint32_t>> inOrder = {
        {},          {0},        {0, 0},     {0, 0xFFFFFFFF}, {5},         {5, 0},   {5, 127},
        {5, 128},    {6},        {127, 9},   {128},           {128, 0},    {0x3FFF}, {0x4000},
        {0x4000, 1}, {0x1FFFFF}, {0x200000}, {0xFFFFFFFE},    {0xFFFFFFFF}};
    for (std::size_t i = 0; i + 1 < inOrder.size(); ++i) {
        EXPECT_LT(key(inOrder[i]), key(inOrder[i + 1])) << i;
        EXPECT_NE(key(inOrder[i]), key(inOrder[i + 1])) << i;
    }
    EXPECT_EQ(key({1, 2, 3}).size(), 3u); // short enough to need no memory of its own
}

TEST(StorageDeviceTest, RotationalFlagOfTheDiskOrOfThePartitionsDisk) {
    CTempTree tree;
    struct stat st;
    ASSERT_EQ(::stat(tree.Root().c_str(), &st), 0);
    if (::major(st.st_dev) == 0)
        GTEST_SKIP() << "the temporary folder is on no block device";
    const std::string strDevice =
        std::to_string(::major(st.st_dev)) + ":" + std::to_string(::minor(st.st_dev));
    const std::string strSys = tree.Folder("sys");
    // A whole disk has its own queue.
    tree.Folder("sys/dev/block/" + strDevice + "/queue");
    std::ofstream(strSys + "/dev/block/" + strDevice + "/queue/rotational") << "1\n";
    EXPECT_EQ(IsRotational(tree.Root(), strSys), std::optional<bool>(true));
    // A partition reads its disk's, one level up from where its link leads.
    fs::remove_all(strSys + "/dev/block/" + strDevice);
    tree.Folder("sys/devices/disk/part");
    tree.Folder("sys/devices/disk/queue");
    std::ofstream(strSys + "/devices/disk/queue/rotational") << "0\n";
    ASSERT_EQ(::symlink("../../devices/disk/part", (strSys + "/dev/block/" + strDevice).c_str()),
              0);
    EXPECT_EQ(IsRotational(tree.Root(), strSys), std::optional<bool>(false));
    // Nothing to read, or nonsense: not known.
    std::ofstream(strSys + "/devices/disk/queue/rotational") << "maybe\n";
    EXPECT_EQ(IsRotational(tree.Root(), strSys), std::nullopt);
    EXPECT_EQ(IsRotational(tree.Root() + "/missing", strSys), std::nullopt);

    EXPECT_GT(ReadAheadThreadsFor(true, "ext4"), 0);
    EXPECT_LE(ReadAheadThreadsFor(true, "ext4"), ReadAheadThreadsFor(false, "ext4"));
    EXPECT_LE(ReadAheadThreadsFor(false, "ext4"), 8);
    EXPECT_GT(ReadAheadThreadsFor(std::nullopt, "btrfs"), 0);
    EXPECT_EQ(ReadAheadThreadsFor(std::nullopt, "tmpfs"), 0);
}
