#include "ReadAhead.h"
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
            std::chrono::microseconds perFile = std::chrono::microseconds(0)) {
    CRecordingTarget target;
    if (perFile.count() > 0)
        target.OnFound([perFile](const FoundFile&) { std::this_thread::sleep_for(perFile); });
    CSimpleEnum walker;
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
    std::vector<std::string> notReadAlone, notRead;
    const Report alone = Walk(m_tree.Root(), {}, &notReadAlone);
    ASSERT_GE(alone.size(), 600u);

    ReadAheadStats stats;
    EXPECT_EQ(Walk(m_tree.Root(), Always(stats), &notRead), alone);
    EXPECT_EQ(notRead, notReadAlone);
    EXPECT_EQ(stats.nRunning, 0);
    // Not a vacuous pass: the walk did find folders read ahead of it.
    EXPECT_GT(stats.nReachedAhead, 0u);
    EXPECT_GT(stats.nReads, 0u);

    // Tight bounds change what is read ahead, never what is found.
    ReadAheadStats tight;
    ReadAheadOptions o = Always(tight);
    o.nMaxAhead = 2;
    o.nMaxQueued = 3;
    EXPECT_EQ(Walk(m_tree.Root(), o), alone);
    EXPECT_LE(tight.nMostAhead, 2u);
    EXPECT_LE(tight.nMostQueued, 3u);
    ::chmod(m_tree.Path("locked").c_str(), 0755);
}

TEST_F(ReadAheadTest, WideAndDeepTreesStayWithinTheBounds) {
    for (int i = 0; i < 3000; ++i)
        m_tree.File("wide/w" + std::to_string(i) + "/f.doc", 1);
    const Report alone = Walk(m_tree.Root(), {});
    ASSERT_EQ(alone.size(), 3000u);
    ReadAheadStats stats;
    ReadAheadOptions o = Always(stats);
    o.nMaxAhead = 16;
    o.nMaxQueued = 64;
    // A walk slowed as a cold disk slows it, so that the read-ahead can keep ahead.
    EXPECT_EQ(Walk(m_tree.Root(), o, nullptr, 100us), alone);
    EXPECT_LE(stats.nMostAhead, 16u);
    EXPECT_LE(stats.nMostQueued, 64u);
    EXPECT_GT(stats.nMostQueued, 32u);    // the wide folder did fill the queue
    EXPECT_GT(stats.nReachedAhead, 600u); // those let go for want of room too
}

// Files made one after another get neighbouring inodes: one attribute read warms a
// block of them, and the read-ahead leaves the rest to the walk.
TEST_F(ReadAheadTest, OneAttributeReadForNeighbouringInodes) {
    // tmpfs numbers inodes one after another; other file systems (an overlay, say) need not.
    if (!m_tmpfs.Mounted())
        GTEST_SKIP() << "needs a tmpfs of its own, whose inode numbers follow each other";
    constexpr int kFolders = 10, kFiles = 64;
    for (int i = 0; i < kFolders; ++i) {
        for (int j = 0; j < kFiles; ++j)
            m_tree.File("d" + std::to_string(i) + "/f" + std::to_string(j) + ".doc", j);
    }
    const Report alone = Walk(m_tree.Root(), {});
    ASSERT_EQ(alone.size(), static_cast<std::size_t>(kFolders * kFiles));
    ReadAheadStats stats;
    EXPECT_EQ(Walk(m_tree.Root(), Always(stats, 1), nullptr, 200us), alone);
    ASSERT_GT(stats.nReachedAhead, 5u); // folders were read ahead, their files with them
    // An open and two listings a folder, and a read for each 16 files (64 at most where
    // the inodes were handed out in scattered batches); one read a file would be 640.
    EXPECT_LT(stats.nReads, static_cast<std::uint64_t>(kFolders * 3 + 3 + kFolders * kFiles / 4));
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
