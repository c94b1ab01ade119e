// The ext2/3/4 volume enumerator on synthetic volumes: what it reports from the table,
// what it leaves to the walk (folders and whole volumes), and how it pauses and stops.
#include "ExtEnum.h"
#include "Log.h"
#include "MemoryLister.h"
#include "ScanTestSupport.h"
#include "engine/ExtTestVolume.h"
#include "engine/FakeVolumeJournal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include <sys/stat.h>

using namespace ext_test;
using ntfs_test::CScanTarget;

namespace {

// What the kernel shows in any folder the enumerator walks: one file.
std::unique_ptr<IDirectoryLister> WalkedFolder() {
    auto p = std::make_unique<CMemoryLister>();
    p->Add("walked.doc", EntryKind::File, 3);
    return p;
}

class ExtEnumTest : public ::testing::Test {
protected:
    ExtEnumTest() : m_strRoot(m_tree.Root()) {
        std::ofstream(m_tree.Path("mountinfo")); // no mounts
        TakePendingLogRecords();
    }

    std::unique_ptr<CExtEnum> Make(std::shared_ptr<const IVolumeOpener> pOpener) {
        auto p =
            std::make_unique<CExtEnum>(std::move(pOpener), WalkedFolder, m_tree.Path("mountinfo"));
        AddProgramGroups(*p);
        p->SetFlushFirst(false);
        return p;
    }
    std::unique_ptr<CExtEnum> Make(CTestVolume& t) {
        return Make(std::make_shared<CImageOpener>(t.ImagePointer()));
    }

    std::map<std::string, FoundFile> Found() const {
        std::map<std::string, FoundFile> m;
        for (const FoundFile& f : m_target.Found())
            EXPECT_TRUE(m.emplace(f.prop.m_strPath, f).second) << f.prop.m_strPath << " twice";
        return m;
    }
    std::set<std::string> Paths() const {
        std::set<std::string> s;
        for (const auto& [strPath, f] : Found())
            s.insert(strPath);
        return s;
    }
    std::string P(const std::string& s) const { return m_strRoot + "/" + s; }

    CTempTree m_tree;
    std::string m_strRoot;
    CScanTarget m_target;
};

// A local time as the walk computes it for a UTC one.
COleDateTime LocalDate(std::time_t nSeconds, long nNanoseconds) {
    FileProperty p;
    p.SetModifiedFromUtc({nSeconds, nNanoseconds}, SystemLocalTime());
    return p.m_dtModified;
}

std::uint64_t DeviceOf(const std::string& strPath) {
    struct stat st;
    EXPECT_EQ(::stat(strPath.c_str(), &st), 0);
    return st.st_dev;
}

} // namespace

TEST_F(ExtEnumTest, ReportsFromTheTableWhatTheWalkWouldReport) {
    CTestVolume t;
    const std::uint32_t users = t.Dir(t.Root(), "Users");
    const std::uint32_t bob = t.Dir(users, "Bob");
    t.File(bob, "report.DOCX", 70'000, 1'234'567'890, 123'456'789);
    t.File(bob, "notes.txt", 10);
    t.File(bob, "mounted.doc", 1); // a file mounted over: left out like a folder
    t.File(t.Root(), "top.pdf", 5, -1);
    const std::uint32_t docs = t.Dir(t.Root(), "Folder.docx"); // walked, never reported
    t.File(t.Dir(docs, "inner"), "in.docx", 3);
    t.Symlink(t.Root(), "link.pdf");
    const std::uint32_t song = t.File(t.Dir(t.Root(), "a"), "two.mp3", 22);
    t.Link(t.Dir(t.Root(), "b"), "two again.mp3", song);
    const std::uint32_t other = t.File(t.Root(), "shared.mp3", 44);
    t.Link(t.Root(), "shared again.mp3", other);
    t.File(t.Root(), "not \xff utf-8.png", 6);
    t.File(t.Dir(t.Root(), "tmp"), "left out.doc", 1);
    t.File(t.Dir(t.Root(), "late"), "mounted during the pass.doc", 1);
    t.Build();

    // A mount made while the table is read hides what the volume holds below it.
    std::string strCanonical;
    ASSERT_TRUE(CanonicalPath(m_strRoot, strCanonical));
    std::ofstream(m_tree.Path("mountinfo"))
        << "40 1 0:50 / " << strCanonical << "/late rw - tmpfs tmpfs rw\n";

    CLinkedFiles links; // shared with the walks of the same file system
    ASSERT_TRUE(links.FirstMeeting({DeviceOf(m_strRoot), other}));
    auto e = Make(t);
    e->ShareLinkedFiles(links);
    e->AddExclusion(P("tmp"));
    e->AddExclusion(P("Users/Bob/mounted.doc"));
    ASSERT_TRUE(e->EnumerateDrive(m_strRoot));
    EXPECT_TRUE(e->WasReadFromTable());
    EXPECT_FALSE(e->SteppedBack());
    EXPECT_TRUE(e->GetWalkedFolders().empty());

    std::set<std::string> paths = Paths();
    // The file of two names once, under either.
    EXPECT_EQ(paths.count(P("a/two.mp3")) + paths.count(P("b/two again.mp3")), 1u);
    paths.erase(P("a/two.mp3"));
    paths.erase(P("b/two again.mp3"));
    EXPECT_EQ(paths,
              (std::set<std::string>{P("Users/Bob/report.DOCX"), P("top.pdf"),
                                     P("Folder.docx/inner/in.docx"), P("not \xff utf-8.png")}));
    const auto found = Found();
    const FoundFile& report = found.at(P("Users/Bob/report.DOCX"));
    EXPECT_EQ(report.strGroup, "Documents");
    EXPECT_EQ(report.prop.m_nSize, 70'000);
    EXPECT_EQ(report.prop.m_dtModified, LocalDate(1'234'567'890, 123'456'789));
    EXPECT_EQ(found.at(P("top.pdf")).prop.m_dtModified, LocalDate(-1, 0));
    EXPECT_EQ(found.at(P("not \xff utf-8.png")).strGroup, "Images");
}

TEST_F(ExtEnumTest, FoldersTheTableCannotVouchForAreWalked) {
    Options o;
    o.nExtraIncompat = ExtIncompat::Encrypt | ExtIncompat::Casefold;
    CTestVolume t(o);
    t.File(t.Dir(t.Root(), "plain"), "a.doc", 1);
    t.File(t.Dir(t.Root(), "secret", ExtInodeFlag::Encrypt), "ciphertext.doc", 1);
    // Case-folded: walked only where a path left out lies below it.
    const std::uint32_t cf = t.Dir(t.Root(), "cf", ExtInodeFlag::Casefold);
    t.File(t.Dir(cf, "Cache"), "b.doc", 1);
    t.File(t.Dir(t.Root(), "cf2", ExtInodeFlag::Casefold), "c.doc", 1);
    const std::uint32_t broken = t.Dir(t.Root(), "broken");
    t.File(broken, "d.doc", 1);
    t.Build();
    t.Image().Put(t.EntryOffset(broken, "d.doc") + 4, 0, 2); // a record length of 0
    t.SignFolderBlock(broken, t.FolderBlock(broken));

    auto e = Make(t);
    e->AddExclusion(P("cf/cache")); // not even the name on the disk: only the kernel knows
    ASSERT_TRUE(e->EnumerateDrive(m_strRoot));
    EXPECT_TRUE(e->WasReadFromTable());
    EXPECT_EQ(Paths(),
              (std::set<std::string>{P("plain/a.doc"), P("secret/walked.doc"), P("cf/walked.doc"),
                                     P("cf2/c.doc"), P("broken/walked.doc")}));
    std::map<std::string, ExtDoubt> walked(e->GetWalkedFolders().begin(),
                                           e->GetWalkedFolders().end());
    EXPECT_EQ(walked, (std::map<std::string, ExtDoubt>{{P("secret"), ExtDoubt::encrypted},
                                                       {P("cf"), ExtDoubt::casefolded},
                                                       {P("broken"), ExtDoubt::damaged}}));
    int nLogged = 0;
    for (const PendingLogRecord& r : TakePendingLogRecords())
        nLogged += r.strFileTag == " [File: .\\ExtEnum.cpp] [Line: 150]";
    EXPECT_EQ(nLogged, 3);
}

TEST_F(ExtEnumTest, AVolumeTheTableCannotReadIsWalkedWhole) {
    CTestVolume sound;
    sound.File(sound.Root(), "table.doc", 1);
    sound.Build();
    struct Case {
        const char* pszWhat;
        std::function<void(CSparseImage&)> change;
        DWORD dwOpen;
        ExtDoubt doubt;
        const char* pszWhy;
    };
    const Case cases[] = {
        {"a feature not known",
         [](CSparseImage& i) { i.Put(kExtSuperblockOffset + 0x60, 0x1042, 4); }, 0,
         ExtDoubt::unsupported, "incompatible features 0x1000 not known"},
        {"a damaged superblock", [](CSparseImage& i) { i.Put(kExtSuperblockOffset + 0x28, 7, 4); },
         0, ExtDoubt::damaged, "the superblock is damaged"},
        {"a device that cannot be opened", [](CSparseImage&) {}, EACCES, ExtDoubt::unreadable,
         "its device cannot be opened"},
        {"the root folder's inode unused",
         [&sound](CSparseImage& i) { i.Put(sound.InodeOffset(2) + 0x1A, 0, 2); }, 0,
         ExtDoubt::damaged, "the root folder's inode is damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        auto pImage = std::make_shared<CSparseImage>(sound.Image());
        c.change(*pImage);
        auto e = Make(std::make_shared<CImageOpener>(pImage, c.dwOpen));
        TakePendingLogRecords();
        const std::size_t nBefore = m_target.Found().size();
        ASSERT_TRUE(e->EnumerateDrive(m_strRoot));
        EXPECT_TRUE(e->SteppedBack());
        EXPECT_FALSE(e->WasReadFromTable());
        const auto found = m_target.Found();
        ASSERT_EQ(found.size(), nBefore + 1);
        EXPECT_EQ(found.back().prop.m_strPath, P("walked.doc"));
        ASSERT_EQ(e->GetWalkedFolders().size(), 1u);
        EXPECT_EQ(e->GetWalkedFolders()[0].second, c.doubt);
        bool bSaid = false;
        for (const PendingLogRecord& r : TakePendingLogRecords()) {
            if (r.strFileTag == " [File: .\\ExtEnum.cpp] [Line: 75]") {
                EXPECT_NE(r.strMessage.find(c.pszWhy), std::string::npos) << r.strMessage;
                EXPECT_NE(r.strMessage.find("its folders are walked"), std::string::npos);
                bSaid = true;
            }
        }
        EXPECT_TRUE(bSaid);
    }
}

// ---- Pause and stop, from another thread ----------------------------------------------------

namespace {

// Reads of a test image, counted, with a hook before each.
class CWatchedReader final : public IBlockReader {
public:
    CWatchedReader(std::shared_ptr<const CSparseImage> p, std::function<void(int)> onRead,
                   std::shared_ptr<std::atomic<int>> pReads)
        : m_reader(std::move(p)), m_onRead(std::move(onRead)), m_pReads(std::move(pReads)) {}
    DWORD ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) override {
        m_onRead(++*m_pReads);
        return m_reader.ReadAt(nOffset, p, n);
    }
    std::uint64_t GetSize() const override { return m_reader.GetSize(); }

private:
    CSparseReader m_reader;
    std::function<void(int)> m_onRead;
    std::shared_ptr<std::atomic<int>> m_pReads;
};

class CWatchedOpener final : public IVolumeOpener {
public:
    CWatchedOpener(std::shared_ptr<const CSparseImage> p, std::function<void(int)> onRead)
        : m_p(std::move(p)), m_onRead(std::move(onRead)) {}
    DWORD Open(const std::string&, std::unique_ptr<IBlockReader>& pReader) const override {
        pReader = std::make_unique<CWatchedReader>(m_p, m_onRead, m_pReads);
        return 0;
    }
    int Reads() const { return m_pReads->load(); }

private:
    std::shared_ptr<const CSparseImage> m_p;
    std::function<void(int)> m_onRead;
    std::shared_ptr<std::atomic<int>> m_pReads = std::make_shared<std::atomic<int>>(0);
};

bool WaitFor(const std::atomic<bool>& bFlag) {
    for (int i = 0; i < 1000 && !bFlag.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return bFlag.load();
}

} // namespace

TEST_F(ExtEnumTest, APauseHoldsEveryReadUntilTheResumeAndAStopReportsNothing) {
    CTestVolume t;
    const std::uint32_t a = t.Dir(t.Root(), "a", 0, kDeepExtents);
    for (int i = 0; i < 300; ++i)
        t.File(a, "file number " + std::to_string(i) + ".doc", 1);
    t.Build();
    for (const bool bStop : {false, true}) {
        SCOPED_TRACE(bStop ? "stop" : "resume");
        CScanTarget target;
        std::atomic<bool> bPaused{false};
        // Paused in the middle of the pass, after the read of the inode tables.
        auto pOpener = std::make_shared<CWatchedOpener>(t.ImagePointer(), [&](int nRead) {
            if (nRead == 3) {
                ResumeEvent.Reset();
                bPaused = true;
            }
        });
        auto e = Make(pOpener);
        std::atomic<bool> bResult{false};
        std::thread worker([&] { bResult = e->EnumerateDrive(m_strRoot); });
        ASSERT_TRUE(WaitFor(bPaused));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(pOpener->Reads(), 3) << "read while paused";
        EXPECT_TRUE(target.Found().empty());
        if (bStop)
            ForceEvent.Set();
        ResumeEvent.Set();
        worker.join();
        EXPECT_EQ(bResult, !bStop);
        EXPECT_EQ(target.Found().size(), bStop ? 0u : 300u);
        if (bStop) {
            EXPECT_EQ(pOpener->Reads(), 3) << "read after the stop";
        }
    }
}
