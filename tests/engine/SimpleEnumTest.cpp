#include "SimpleEnum.h"
#include "Log.h"
#include "MemoryLister.h"
#include "ScanTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class SimpleEnumTest : public ::testing::Test {
protected:
    void SetUp() override { SetScanRunning(); }
    void TearDown() override { SetScanIdle(); }

    std::set<std::string> Paths() const {
        std::set<std::string> s;
        for (const FoundFile& f : m_target.Found())
            s.insert(f.prop.m_strPath);
        return s;
    }

    CTempTree m_tree;
    CRecordingTarget m_target;
};

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

std::unique_ptr<CSimpleEnum> WalkerOf(std::unique_ptr<CMemoryLister> pLister) {
    auto p = std::make_unique<CSimpleEnum>(std::move(pLister));
    AddProgramGroups(*p);
    return p;
}

} // namespace

TEST_F(SimpleEnumTest, ReportsMatchingFilesWithGroupSizeAndDate) {
    m_tree.File("a.doc", 100);
    m_tree.File("sub/deeper/Photo.JPG", 2048);
    m_tree.File("sub/.hidden.mp3", 3);
    m_tree.File("sub/notes.txt", 5);
    m_tree.File("report.doc/inside.pdf", 7); // a folder named like a document
    m_tree.File("empty.avi");
    fs::create_directory_symlink(m_tree.Path("sub"), m_tree.Path("link-to-sub"));
    fs::create_symlink(m_tree.Path("a.doc"), m_tree.Path("link.doc"));
    ASSERT_EQ(::mkfifo(m_tree.Path("pipe.mp3").c_str(), 0600), 0);
    struct timespec times[2] = {{0, UTIME_OMIT}, {1299234030, 0}}; // 2011-03-04 10:20:30 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, m_tree.Path("a.doc").c_str(), times, 0), 0);

    CTimeZone india(kIndiaTimeZone);
    CSimpleEnum walker;
    AddProgramGroups(walker);
    EXPECT_TRUE(walker.EnumerateDrive(m_tree.Root()));

    std::set<std::string> expected = {
        m_tree.Path("a.doc"), m_tree.Path("sub/deeper/Photo.JPG"), m_tree.Path("sub/.hidden.mp3"),
        m_tree.Path("report.doc/inside.pdf"), m_tree.Path("empty.avi")};
    EXPECT_EQ(Paths(), expected);
    for (const FoundFile& f : m_target.Found()) {
        std::string strName = FileProperty(f.prop).GetFileName();
        if (strName == "a.doc") {
            EXPECT_EQ(f.strGroup, "Documents");
            EXPECT_EQ(f.prop.m_nSize, 100);
            EXPECT_EQ(f.prop.m_dtModified.m_status, DateTimeStatus::valid);
            // 15:50:30 in India: day 40606 and 57,030 of its 86,400 seconds.
            EXPECT_NEAR(f.prop.m_dtModified.m_dt, 40606 + 57030 / 86400.0, 1e-7);
        }
        if (strName == "Photo.JPG") {
            EXPECT_EQ(f.strGroup, "Images");
            EXPECT_EQ(f.prop.m_nSize, 2048);
        }
        EXPECT_TRUE(f.prop.m_strType.empty());
    }
}

TEST_F(SimpleEnumTest, EmptyRootAndTrailingSeparator) {
    m_tree.File("x/a.pdf", 1);
    CSimpleEnum walker;
    AddProgramGroups(walker);
    EXPECT_FALSE(walker.EnumerateDrive(""));
    EXPECT_TRUE(m_target.Found().empty());
    EXPECT_TRUE(walker.EnumerateDrive(m_tree.Root() + "/"));
    EXPECT_EQ(Paths(), std::set<std::string>{m_tree.Path("x/a.pdf")}); // never "//"
}

TEST_F(SimpleEnumTest, PathsFromTheFileSystemRootHaveOneSeparator) {
    auto pLister = std::make_unique<CMemoryLister>();
    pLister->Add("a.pdf", EntryKind::File, 1);
    pLister->Add("home/b.pdf", EntryKind::File, 1);
    auto pWalker = WalkerOf(std::move(pLister));
    pWalker->EnumerateDrive("/");
    EXPECT_EQ(Paths(), (std::set<std::string>{"/a.pdf", "/home/b.pdf"}));
}

TEST_F(SimpleEnumTest, ExcludedFoldersAreNotEnteredNamesCompareByteForByte) {
    m_tree.File("trash/a.doc");
    m_tree.File("Trash/b.doc"); // another folder: the file system tells the two apart
    m_tree.File("keep/a.doc");
    m_tree.File("trashCan/a.doc"); // a neighbour with the same prefix
    m_tree.File("cache/x/y.png");
    m_tree.File("mnt/c.doc");
    m_tree.File("MNT/d.DOC"); // beside a folder "mnt" that is excluded; extensions in any case
    CSimpleEnum walker;
    AddProgramGroups(walker);
    walker.AddExclusion(m_tree.Path("trash/"));
    walker.AddExclusion(m_tree.Path("cache"));
    walker.AddExclusion(m_tree.Path("mnt"));
    walker.AddExclusion(m_tree.Path("keep/a.doc")); // a file can be excluded too
    walker.EnumerateDrive(m_tree.Root());
    EXPECT_EQ(Paths(),
              (std::set<std::string>{m_tree.Path("Trash/b.doc"), m_tree.Path("trashCan/a.doc"),
                                     m_tree.Path("MNT/d.DOC")}));

    auto pLister = std::make_unique<CMemoryLister>();
    pLister->Add("skip/deep/a.doc", EntryKind::File);
    pLister->Add("walk/a.doc", EntryKind::File);
    CMemoryLister& lister = *pLister;
    auto pWalker = WalkerOf(std::move(pLister));
    pWalker->AddExclusion("/r/skip");
    pWalker->EnumerateDrive("/r");
    std::vector<std::string> opened = lister.Opened();
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "skip"), 0);
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "walk"), 1);
}

TEST_F(SimpleEnumTest, FilesOver4GiBKeepTheirFullSize) {
    const std::int64_t nSize = 5LL * 1024 * 1024 * 1024 + 17;
    m_tree.File("big.mkv", nSize); // sparse: takes no space
    CSimpleEnum walker;
    AddProgramGroups(walker);
    walker.EnumerateDrive(m_tree.Root());
    ASSERT_EQ(m_target.Found().size(), 1u);
    EXPECT_EQ(m_target.Found()[0].prop.m_nSize, nSize);
}

TEST_F(SimpleEnumTest, NamesThatAreNotUtf8SurviveByteForByte) {
    const std::string strName = "caf\xE9-\xFF\xFE.pdf"; // Latin-1 bytes, not UTF-8
    const std::string strFolder = "d\x80ir";
    m_tree.File(strFolder + "/" + strName, 1);
    CSimpleEnum walker;
    AddProgramGroups(walker);
    walker.EnumerateDrive(m_tree.Root());
    EXPECT_EQ(Paths(), std::set<std::string>{m_tree.Root() + "/" + strFolder + "/" + strName});
}

TEST_F(SimpleEnumTest, TreesDeeperThanPathMax) {
    // 60 levels of 100-character names: about 6,000 bytes of path.
    const std::string strPart(100, 'd');
    int fd = ::open(m_tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 60; ++i) {
        ASSERT_EQ(::mkdirat(fd, strPart.c_str(), 0755), 0);
        int fdNext = ::openat(fd, strPart.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(fdNext, 0);
        fd = fdNext;
    }
    int fdFile = ::openat(fd, "deep.doc", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fdFile, 0);
    ASSERT_EQ(::ftruncate(fdFile, 42), 0);
    ::close(fdFile);
    ::close(fd);

    CSimpleEnum walker;
    AddProgramGroups(walker);
    walker.EnumerateDrive(m_tree.Root());
    ASSERT_EQ(m_target.Found().size(), 1u);
    const FileProperty p = m_target.Found()[0].prop;
    EXPECT_GT(p.m_strPath.size(), static_cast<std::size_t>(PATH_MAX));
    EXPECT_EQ(p.m_strPath.size(), m_tree.Root().size() + 60 * 101 + 9);
    EXPECT_EQ(p.m_nSize, 42);
    // The path is whole: it names the file, component by component.
    EXPECT_EQ(p.GetFileName(), "deep.doc");

    // remove_all cannot go that deep by path on every system: take it down by hand.
    std::string strRel;
    for (int i = 0; i < 60; ++i)
        strRel += (i ? "/" : "") + strPart;
    int fdTop = ::open(m_tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
    ::unlinkat(fdTop, (strRel + "/deep.doc").c_str(), 0);
    for (int i = 60; i > 0; --i) {
        ::unlinkat(fdTop, strRel.c_str(), AT_REMOVEDIR);
        strRel.resize(strRel.size() > 101 ? strRel.size() - 101 : 0);
    }
    ::close(fdTop);
}

TEST_F(SimpleEnumTest, FoldersThatCannotBeListedAndFilesThatVanishOrAreReplaced) {
    auto pLister = std::make_unique<CMemoryLister>();
    pLister->Add("locked/a.doc", EntryKind::File).bCannotOpen = false;
    pLister->Add("locked", EntryKind::Directory).bCannotOpen = true;
    pLister->Add("gone.doc", EntryKind::File).bVanished = true;
    pLister->Add("unknown.doc", EntryKind::File).bHideKind = true;
    pLister->Add("unknown-dir", EntryKind::Directory).bHideKind = true;
    pLister->Add("unknown-dir/b.png", EntryKind::File, 4);
    pLister->Add("link.doc", EntryKind::Symlink);
    pLister->Add("replaced.doc", EntryKind::File).readKind = EntryKind::Symlink;
    pLister->Add("replaced.png", EntryKind::File).readKind = EntryKind::Directory;
    pLister->Add("after.doc", EntryKind::File, 1);
    CMemoryLister& lister = *pLister;
    auto pWalker = WalkerOf(std::move(pLister));
    EXPECT_TRUE(pWalker->EnumerateDrive("/r"));
    EXPECT_EQ(Paths(),
              (std::set<std::string>{"/r/unknown.doc", "/r/unknown-dir/b.png", "/r/after.doc"}));
    EXPECT_EQ(lister.OpenCount(), 0);
}

TEST_F(SimpleEnumTest, FileWhoseTimeCannotBeMadeLocalIsReportedWithAnInvalidDate) {
    class CFailingLocalTime final : public ILocalTime {
    public:
        bool FileTimeToLocalFileTime(const std::timespec&, FILETIME&) const override {
            return false;
        }
    } failing;
    auto pLister = std::make_unique<CMemoryLister>();
    pLister->Add("a.doc", EntryKind::File, 3);
    auto pWalker = WalkerOf(std::move(pLister));
    pWalker->SetLocalTime(failing);
    pWalker->EnumerateDrive("/r");
    const std::vector<FoundFile> found = m_target.Found();
    ASSERT_EQ(found.size(), 1u);
    const FileProperty& p = found[0].prop;
    EXPECT_EQ(p.m_nSize, 3);
    EXPECT_EQ(p.m_dtModified.m_status, DateTimeStatus::invalid);
    EXPECT_EQ(p.m_dtModified.m_dt, 0.0);
}

TEST_F(SimpleEnumTest, NothingSentWithoutTargetButTheWalkEnds) {
    m_tree.File("a.doc");
    g_hTargetWnd = HWND{};
    CSimpleEnum walker;
    AddProgramGroups(walker);
    EXPECT_TRUE(walker.EnumerateDrive(m_tree.Root()));
    EXPECT_TRUE(m_target.Found().empty());
}

TEST_F(SimpleEnumTest, PauseHoldsWithinOneEntryAndResumeContinuesThere) {
    for (int i = 0; i < 40; ++i)
        m_tree.File("d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".doc");

    // The order of an undisturbed walk.
    CSimpleEnum reference;
    AddProgramGroups(reference);
    reference.EnumerateDrive(m_tree.Root());
    std::vector<std::string> expected;
    for (const FoundFile& f : m_target.Found())
        expected.push_back(f.prop.m_strPath);
    ASSERT_EQ(expected.size(), 40u);

    CRecordingTarget target;
    std::atomic<int> nSeen{0};
    target.OnFound([&](const FoundFile&) {
        if (++nSeen == 10)
            ResumeEvent.Reset(); // paused by the user between two files
    });
    CSimpleEnum walker;
    AddProgramGroups(walker);
    std::thread worker([&] { walker.EnumerateDrive(m_tree.Root()); });
    while (nSeen < 10)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(target.Found().size(), 10u); // held before the next entry
    ResumeEvent.Set();
    worker.join();

    std::vector<std::string> got;
    for (const FoundFile& f : target.Found())
        got.push_back(f.prop.m_strPath);
    EXPECT_EQ(got, expected); // nothing lost, nothing twice, same order
}

TEST_F(SimpleEnumTest, StopDuringADeepWalkReportsNothingMoreAndClosesEveryFolder) {
    std::string strDeep;
    for (int i = 0; i < 30; ++i) {
        strDeep += "level" + std::to_string(i) + "/";
        for (int k = 0; k < 3; ++k)
            m_tree.File(strDeep + "f" + std::to_string(k) + ".png");
    }
    const int nBefore = OpenDescriptors();

    std::atomic<int> nSeen{0};
    m_target.OnFound([&](const FoundFile&) {
        if (++nSeen == 40)
            ForceEvent.Set();
    });
    CSimpleEnum walker;
    AddProgramGroups(walker);
    bool bResult = false;
    std::thread worker([&] { bResult = walker.EnumerateDrive(m_tree.Root()); });
    worker.join();
    EXPECT_TRUE(bResult);
    EXPECT_EQ(m_target.Found().size(), 40u);
    EXPECT_EQ(OpenDescriptors(), nBefore);

    // Stop while paused: the stop wins and the walk leaves at once.
    CRecordingTarget second;
    ForceEvent.Reset();
    ResumeEvent.Reset();
    std::atomic<bool> bDone{false};
    std::thread paused([&] {
        CSimpleEnum w;
        AddProgramGroups(w);
        w.EnumerateDrive(m_tree.Root());
        bDone = true;
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(bDone);
    ForceEvent.Set();
    paused.join();
    EXPECT_TRUE(second.Found().empty());
    EXPECT_EQ(OpenDescriptors(), nBefore);
}

TEST_F(SimpleEnumTest, AFileWithSeveralNamesIsReportedOnceUnderTheFirstNameMet) {
    m_tree.File("a/report.doc", 1000);
    ASSERT_EQ(::link(m_tree.Path("a/report.doc").c_str(), m_tree.Path("copy.doc").c_str()), 0);
    m_tree.Folder("b");
    ASSERT_EQ(::link(m_tree.Path("a/report.doc").c_str(), m_tree.Path("b/same.doc").c_str()), 0);
    m_tree.File("b/other.doc", 7); // one name: never remembered, always reported

    CSimpleEnum walker;
    AddProgramGroups(walker);
    walker.EnumerateDrive(m_tree.Root());
    std::int64_t nBytes = 0;
    for (const FoundFile& f : m_target.Found())
        nBytes += f.prop.m_nSize;
    EXPECT_EQ(m_target.Found().size(), 2u);
    EXPECT_EQ(nBytes, 1007);

    // The name reported is the first the walk met, in the order it lists.
    auto pLister = std::make_unique<CMemoryLister>();
    pLister->Add("z/first.pdf", EntryKind::File, 10);
    pLister->Link("z/first.pdf", "a/second.pdf");
    pLister->Link("z/first.pdf", "third.pdf");
    auto pWalker = WalkerOf(std::move(pLister));
    CRecordingTarget target;
    pWalker->EnumerateDrive("/r");
    ASSERT_EQ(target.Found().size(), 1u);
    EXPECT_EQ(target.Found()[0].prop.m_strPath, "/r/z/first.pdf");
}

TEST_F(SimpleEnumTest, TreesDeeperThanTheDescriptorLimitAreWalkedWhole) {
    const int nLevels = 3000;
    MakeDeepTree(m_tree.Root(), nLevels);
    for (unsigned long nLimit : {1024ul, DescriptorLimitLeaving(6)}) {
        CRecordingTarget target;
        int nBefore = OpenDescriptorCount();
        {
            CDescriptorLimit limit(nLimit);
            CSimpleEnum walker;
            AddProgramGroups(walker);
            EXPECT_TRUE(walker.EnumerateDrive(m_tree.Root()));
        }
        EXPECT_EQ(target.Found().size(), static_cast<std::size_t>(nLevels + 1)) << nLimit;
        EXPECT_EQ(OpenDescriptorCount(), nBefore);
    }
    RemoveDeepTree(m_tree.Root(), nLevels);
}

TEST_F(SimpleEnumTest, FoldersThatCannotBeReadAreToldButNeverLogged) {
    auto pLister = std::make_unique<CMemoryLister>();
    pLister->Add("locked/a.doc", EntryKind::File);
    pLister->Add("locked", EntryKind::Directory).bCannotOpen = true;
    pLister->Add("gone/b.doc", EntryKind::File);
    pLister->Add("gone", EntryKind::Directory).bVanished = true; // listed, then removed
    pLister->Add("broken/c.doc", EntryKind::File, 1);
    pLister->Add("broken/d.doc", EntryKind::File, 1);
    pLister->Add("broken", EntryKind::Directory).nFailAfter = 1;
    pLister->Add("noexec/e.doc", EntryKind::File).dwAttributesError = EACCES;
    pLister->Add("noexec/f.doc", EntryKind::File).dwAttributesError = EACCES;
    pLister->Add("vanished.doc", EntryKind::File).bVanished = true; // nothing lost: not told
    pLister->Add("ok.doc", EntryKind::File);
    auto pWalker = WalkerOf(std::move(pLister));
    std::vector<std::pair<std::string, DWORD>> told;
    pWalker->SetFolderNotRead([&](const std::string& s, DWORD dw) { told.emplace_back(s, dw); });
    TakePendingLogRecords();
    EXPECT_TRUE(pWalker->EnumerateDrive("/r"));

    EXPECT_EQ(Paths(), (std::set<std::string>{"/r/broken/c.doc", "/r/ok.doc"}));
    const std::vector<std::pair<std::string, DWORD>> expected = {
        {"/r/locked", EACCES}, {"/r/gone", ENOENT}, {"/r/broken", EIO}, {"/r/noexec", EACCES}};
    EXPECT_EQ(told, expected);
    // The walk passes them over silently: whoever is told may say so.
    EXPECT_TRUE(TakePendingLogRecords().empty());

    // A root that cannot be listed at all is told too.
    auto pLocked = std::make_unique<CMemoryLister>();
    pLocked->Root().bCannotOpen = true;
    auto pLockedWalker = WalkerOf(std::move(pLocked));
    told.clear();
    pLockedWalker->SetFolderNotRead(
        [&](const std::string& s, DWORD dw) { told.emplace_back(s, dw); });
    EXPECT_TRUE(pLockedWalker->EnumerateDrive("/r"));
    EXPECT_EQ(told, (std::vector<std::pair<std::string, DWORD>>{{"/r", EACCES}}));
}

TEST_F(SimpleEnumTest, DeepChainsWithFewDescriptorsAndFoldersReplacedWhileClosed) {
    // 100 levels; levels 3 and 40 list a folder "side" after the deep branch, so they
    // are reached again only on the way back, long after they were closed.
    auto chain = [](CMemoryLister& lister) {
        std::string strDeep;
        for (int i = 0; i < 100; ++i) {
            lister.Add(strDeep + "f.doc", EntryKind::File, 1);
            if (i == 3 || i == 40) {
                lister.Add(strDeep + "d", EntryKind::Directory);
                lister.Add(strDeep + "side/x.doc", EntryKind::File, 1);
            }
            strDeep += "d/";
        }
    };
    auto level = [](int n) {
        std::string s = "/r";
        for (int i = 0; i < n; ++i)
            s += "/d";
        return s;
    };
    {
        // Without a shortage, a walk still keeps few folders open: others need some.
        auto pLister = std::make_unique<CMemoryLister>();
        CMemoryLister& lister = *pLister;
        chain(lister);
        CRecordingTarget target;
        auto pWalker = WalkerOf(std::move(pLister));
        pWalker->EnumerateDrive("/r");
        EXPECT_EQ(target.Found().size(), 102u);
        EXPECT_LE(lister.MostOpen(), 32);
    }
    for (bool bReplace : {false, true}) {
        auto pLister = std::make_unique<CMemoryLister>();
        CMemoryLister& lister = *pLister;
        chain(lister);
        lister.LimitOpen(8);
        int nOpens = 0;
        lister.OnOpen([&](const std::string&) {
            // At the bottom: level 3 is renamed away and a new, empty one made.
            if (++nOpens == 100 && bReplace)
                lister.Replace("d/d/d");
        });
        CRecordingTarget target;
        auto pWalker = WalkerOf(std::move(pLister));
        std::vector<std::pair<std::string, DWORD>> told;
        pWalker->SetFolderNotRead(
            [&](const std::string& s, DWORD dw) { told.emplace_back(s, dw); });
        pWalker->EnumerateDrive("/r");

        std::set<std::string> paths;
        for (const FoundFile& f : target.Found())
            paths.insert(f.prop.m_strPath);
        EXPECT_EQ(paths.size(), bReplace ? 100u : 102u) << bReplace;
        EXPECT_EQ(paths.count(level(3) + "/side/x.doc"), bReplace ? 0u : 1u);
        EXPECT_EQ(paths.count(level(40) + "/side/x.doc"), bReplace ? 0u : 1u);
        // What was left to list below the replaced folder is told, never dropped.
        using Told = std::vector<std::pair<std::string, DWORD>>;
        const Told expected = bReplace ? Told{{level(40), ENOENT}, {level(3), ENOENT}} : Told{};
        EXPECT_EQ(told, expected);
        EXPECT_LE(lister.MostOpen(), 8);
        EXPECT_EQ(lister.OpenCount(), 0);
    }
}
