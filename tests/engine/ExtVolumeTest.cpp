// The ext2/3/4 table reader on synthetic volumes: what it rebuilds of every layout it
// claims, what damaged structures do to it (never more than the folder they are in),
// how it stops, and what it holds in memory.
#include "platform/ExtVolume.h"
#include "engine/ExtTestVolume.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>
#include <set>
#include <string>

using namespace ext_test;

namespace {

ExtReadHooks KeepDocuments() {
    ExtReadHooks hooks;
    hooks.mayRead = [] { return true; };
    hooks.groupOf = [](std::string_view s) { return s.ends_with(".doc") ? 0 : -1; };
    return hooks;
}

std::string FolderPath(const CExtVolume& v, std::uint32_t f) {
    std::string s;
    const auto folders = v.GetFolders();
    while (f != 0) {
        if (f == CExtVolume::kNone)
            return "?" + s;
        s = "/" + std::string(v.Name(folders[f].nName, folders[f].nNameLength)) + s;
        f = folders[f].nParent;
    }
    return s;
}

// Every kept file as "path size seconds.nanoseconds [linked]", and every folder the table
// cannot vouch for with its doubt.
struct Tree {
    std::set<std::string> files;
    std::map<std::string, ExtDoubt> doubts;
};

Tree TreeOf(const CExtVolume& v) {
    Tree t;
    const auto folders = v.GetFolders();
    for (std::uint32_t i = 0; i < folders.size(); ++i) {
        if (folders[i].doubt != ExtDoubt::none)
            t.doubts[FolderPath(v, i)] = folders[i].doubt;
    }
    for (const CExtVolume::File& f : v.GetFiles()) {
        // As the report goes: only below the root, and not below a folder the kernel is
        // asked about.
        bool bReported = true;
        for (std::uint32_t k = f.nFolder; bReported && k != 0; k = folders[k].nParent)
            bReported = k != CExtVolume::kNone && folders[k].doubt == ExtDoubt::none;
        if (!bReported || folders[0].doubt != ExtDoubt::none)
            continue;
        const CExtVolume::Facts facts = v.GetFacts(f);
        t.files.insert(FolderPath(v, f.nFolder) + "/" +
                       std::string(v.Name(f.nName, f.nNameLength)) + " " +
                       std::to_string(facts.nSize) + " " + std::to_string(facts.nMtime) + "." +
                       std::to_string(facts.nMtimeNs) + (facts.bSeveralNames ? " linked" : ""));
    }
    return t;
}

// A tree with what every layout must carry: nesting, names of any bytes, sizes past 4 GiB,
// times before 1970 and past 2038 to the nanosecond, a file of two names, and entries
// that are no files.
struct Sample {
    std::uint32_t a, b, deep, link, free;
};

Sample Fill(CTestVolume& t, std::uint32_t nFlagsOfB = 0) {
    Sample s{};
    s.a = t.Dir(t.Root(), "a");
    s.free = t.Unused(); // among the used ones: read, and found free
    s.b = t.Dir(s.a, "b", 0, nFlagsOfB);
    t.File(t.Root(), "top.doc", 5, 1'700'000'000, 123'456'789);
    t.File(s.a, "big.doc", 5'368'709'120);
    t.File(s.a, "skip.txt", 1);
    t.File(s.b, "1969.doc", 7, -86'400);
    t.File(s.b, "2100.doc", 8, 4'102'444'800, 999'999'999);
    t.File(s.b, std::string("not utf-8 \xff\xfe.doc"), 9);
    s.link = t.File(s.a, "two.doc", 10);
    t.Link(s.b, "two again.doc", s.link);
    t.Symlink(s.b, "link.doc");
    s.deep = s.b;
    for (int i = 0; i < 20; ++i)
        s.deep = t.Dir(s.deep, "level" + std::to_string(i));
    t.File(s.deep, "deep.doc", 11);
    // Enough entries that the folder takes several blocks (and, without extents, an
    // indirect block).
    const std::uint32_t many = t.Dir(t.Root(), "many");
    for (int i = 0; i < 400; ++i)
        t.File(many, "entry with a longer name " + std::to_string(i) + (i % 2 ? ".doc" : ".txt"),
               1);
    return s;
}

std::set<std::string> ExpectedFiles(bool bNanoseconds) {
    const std::string ns = bNanoseconds ? "123456789" : "0";
    const std::string ns2 = bNanoseconds ? "999999999" : "0";
    std::set<std::string> s = {
        "/top.doc 5 1700000000." + ns,
        "/a/big.doc 5368709120 1600000000.0",
        "/a/b/1969.doc 7 -86400.0",
        // Without the extra field the seconds past 2038 are lost, as the kernel loses them.
        bNanoseconds ? "/a/b/2100.doc 8 4102444800." + ns2 : "/a/b/2100.doc 8 -192522496.0",
        "/a/b/not utf-8 \xff\xfe.doc 9 1600000000.0",
        "/a/two.doc 10 1600000000.0 linked",
        "/a/b/two again.doc 10 1600000000.0 linked",
    };
    std::string strDeep = "/a/b";
    for (int i = 0; i < 20; ++i)
        strDeep += "/level" + std::to_string(i);
    s.insert(strDeep + "/deep.doc 11 1600000000.0");
    for (int i = 1; i < 400; i += 2)
        s.insert("/many/entry with a longer name " + std::to_string(i) + ".doc 1 1600000000.0");
    return s;
}

} // namespace

TEST(ExtVolume, RebuildsTheSameTreeFromEveryLayout) {
    struct Layout {
        const char* pszWhat;
        Options o;
        std::uint32_t nDeepFolderFlags = 0;
    };
    auto opts = [](auto change) {
        Options o;
        change(o);
        return o;
    };
    const Layout layouts[] = {
        {"4 KiB blocks, checksums", {}},
        {"1 KiB blocks", opts([](Options& o) { o.nBlockSize = 1024; })},
        {"128-byte inodes", opts([](Options& o) { o.nInodeSize = 128; })},
        {"64-bit descriptors", opts([](Options& o) { o.b64Bit = true; })},
        {"older descriptor checksums", opts([](Options& o) {
             o.bMetadataCsum = false;
             o.bGdtCsum = true;
         })},
        {"no checksums at all", opts([](Options& o) {
             o.bMetadataCsum = false;
             o.bGarbageInTail = false;
         })},
        {"block maps, as ext3 made them", opts([](Options& o) {
             o.bExtents = false;
             o.nBlockSize = 1024;
         })},
        {"no entry types", opts([](Options& o) { o.bFileType = false; })},
        {"extent trees below the inode", {}, kDeepExtents},
        {"inline folders", {}, kInline},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.pszWhat);
        CTestVolume t(l.o);
        const Sample s = Fill(t);
        if (l.nDeepFolderFlags) {
            // One more folder in the layout under test, holding a file of its own.
            const std::uint32_t special = t.Dir(s.a, "special", 0, l.nDeepFolderFlags);
            t.File(special, "in.doc", 3);
        }
        t.Build();
        CExtVolume v;
        ASSERT_EQ(v.Open(t.Reader()), 0u) << v.GetWhy();
        ASSERT_EQ(v.Read(KeepDocuments()), 0u) << v.GetWhy();
        std::set<std::string> expected = ExpectedFiles(l.o.nInodeSize > 128);
        if (l.nDeepFolderFlags)
            expected.insert("/a/special/in.doc 3 1600000000.0");
        const Tree tree = TreeOf(v);
        EXPECT_EQ(tree.files, expected);
        EXPECT_TRUE(tree.doubts.empty());
    }
}

TEST(ExtVolume, DamageLeavesTheFolderItIsInToTheKernelAndReadsTheRest) {
    // With the older descriptor checksums only, so that the structures themselves are
    // what is tested (a changed descriptor is signed again).
    Options o;
    o.bMetadataCsum = false;
    o.bGdtCsum = true;
    struct Case {
        const char* pszWhat;
        std::function<void(CTestVolume&, const Sample&)> damage;
        DWORD dwOpen = 0;
        DWORD dwRead = 0;
        std::set<std::string> doubted = {}; // folders left to the kernel
        std::set<std::string> lost = {};    // files no longer reported from the table
    };
    const std::string B = "/a/b";
    const Case cases[] = {
        {"sound", [](CTestVolume&, const Sample&) {}},
        {"a group's inode table past the end",
         [](CTestVolume& t, const Sample&) {
             t.Image().Put(t.DescriptorOffset(1) + 0x08, t.Image().Size() / 4096 + 10, 4);
             t.SignDescriptors();
         },
         EUCLEAN},
        {"a descriptor that fails its checksum",
         [](CTestVolume& t, const Sample&) { t.Image().Put(t.DescriptorOffset(1) + 0x1C, 3, 2); },
         EUCLEAN},
        {"an incompatible feature not known",
         [](CTestVolume& t, const Sample&) {
             t.Image().Put(kExtSuperblockOffset + 0x60, 0x80002, 4);
         },
         ENOTSUP},
        {"a superblock claiming more than the device",
         [](CTestVolume& t, const Sample&) {
             t.Image().Put(kExtSuperblockOffset + 0x04, t.Image().Size() / 4096 + 1, 4);
         },
         EUCLEAN},
        {"no superblock",
         [](CTestVolume& t, const Sample&) { t.Image().Put(kExtSuperblockOffset + 0x38, 0, 2); },
         EMEDIUMTYPE},
        {"more unused inodes than the group has",
         [](CTestVolume& t, const Sample&) {
             t.Image().Put(t.DescriptorOffset(0) + 0x1C, 65, 2);
             t.SignDescriptors();
         },
         EUCLEAN},
        {"the root's inode unused",
         [](CTestVolume& t, const Sample&) { t.Image().Put(t.InodeOffset(2) + 0x1A, 0, 2); }, 0,
         EUCLEAN},
        {"an extent loop",
         [](CTestVolume& t, const Sample& s) {
             // The index node points at itself: one level down must be the leaf.
             const std::uint64_t nLeaf = t.LeafBlock(s.b);
             t.Image().Put(nLeaf * 4096 + 6, 1, 2); // the leaf claims depth 1
             t.Image().Put(nLeaf * 4096 + 12, 0, 4);
             t.Image().Put(nLeaf * 4096 + 16, nLeaf, 4);
         },
         0,
         0,
         {B},
         {B}},
        {"an extent past the end",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.InodeOffset(s.a) + 0x28 + 12 + 8, 0xFFFFFFF0, 4);
         },
         0,
         0,
         {"/a"},
         {"/a"}},
        {"a folder that is its own parent",
         [](CTestVolume& t, const Sample& s) {
             const std::uint64_t e = t.EntryOffset(s.b, "link.doc"); // renamed into a loop
             t.Image().Put(e, s.b, 4);
             t.Image().Put(e + 7, kTypeDir, 1);
         },
         0,
         0,
         {B},
         {B}},
        {"an entry naming a free inode",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.EntryOffset(s.b, "1969.doc"), s.free, 4);
         },
         0,
         0,
         {},
         {B + "/1969.doc"}},
        {"an entry naming an inode never initialised",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.EntryOffset(s.b, "1969.doc"), t.FirstNeverUsed(), 4);
         },
         0,
         0,
         {},
         {B + "/1969.doc"}},
        {"a record length of 0",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.EntryOffset(s.b, "1969.doc") + 4, 0, 2);
         },
         0,
         0,
         {B},
         {B}},
        {"a record length past the block",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.EntryOffset(s.b, "1969.doc") + 4, 8192, 2);
         },
         0,
         0,
         {B},
         {B}},
        {"a name past its record",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.EntryOffset(s.b, "1969.doc") + 6, 200, 1);
         },
         0,
         0,
         {B},
         {B}},
        {"a name with a slash",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.EntryOffset(s.b, "1969.doc") + 8 + 2, '/', 1);
         },
         0,
         0,
         {B},
         {B}},
        {"an entry past the last inode",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.EntryOffset(s.b, "1969.doc"), 0xFFFFFFF0, 4);
         },
         0,
         0,
         {B},
         {B}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CTestVolume t(o);
        const Sample s = Fill(t, kDeepExtents); // b's blocks through an index node
        t.Build();
        c.damage(t, s);
        CExtVolume v;
        ASSERT_EQ(v.Open(t.Reader()), c.dwOpen) << v.GetWhy();
        if (c.dwOpen != 0) {
            EXPECT_FALSE(v.GetWhy().empty());
            continue;
        }
        ASSERT_EQ(v.Read(KeepDocuments()), c.dwRead) << v.GetWhy();
        if (c.dwRead != 0)
            continue;
        const Tree tree = TreeOf(v);
        std::set<std::string> doubted;
        for (const auto& [strFolder, doubt] : tree.doubts) {
            doubted.insert(strFolder);
            EXPECT_EQ(doubt, ExtDoubt::damaged) << strFolder;
        }
        EXPECT_EQ(doubted, c.doubted);
        // Everything else is still there, and nothing below a doubted folder.
        std::set<std::string> expected;
        for (const std::string& f : ExpectedFiles(true)) {
            bool bLost = false;
            for (const std::string& strLost : c.lost)
                bLost |= f.starts_with(strLost + "/") || f.starts_with(strLost + " ");
            if (!bLost)
                expected.insert(f);
        }
        std::set<std::string> found;
        for (const std::string& f : tree.files) {
            bool bBelow = false;
            for (const std::string& strDoubted : c.doubted)
                bBelow |= f.starts_with(strDoubted + "/");
            if (!bBelow)
                found.insert(f);
        }
        EXPECT_EQ(found, expected);
    }
}

namespace {

// The folders not below another of them: a folder below a doubted one is never asked
// about.
std::set<std::string> Topmost(const std::set<std::string>& folders) {
    std::set<std::string> top;
    for (const std::string& f : folders) {
        bool bBelow = false;
        for (const std::string& g : folders)
            bBelow |= f.starts_with(g + "/");
        if (!bBelow)
            top.insert(f);
    }
    return top;
}

} // namespace

TEST(ExtVolume, ARecordThatFailsItsChecksumBecomesNoFile) {
    struct Case {
        const char* pszWhat;
        std::function<void(CTestVolume&, const Sample&)> damage;
        DWORD dwOpen = 0;
        std::set<std::string> doubted = {};
    };
    const Case cases[] = {
        {"the superblock",
         [](CTestVolume& t, const Sample&) { t.Image().Put(kExtSuperblockOffset + 0x10, 1, 4); },
         EUCLEAN},
        {"a group descriptor",
         [](CTestVolume& t, const Sample&) { t.Image().Put(t.DescriptorOffset(0) + 0x0C, 9, 2); },
         EUCLEAN},
        // A file's inode: the folder naming it is left to the kernel.
        {"a file's inode",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.InodeOffset(s.link) + 0x04, 11, 4);
         },
         0,
         {"/a", "/a/b"}},
        {"a folder's inode",
         [](CTestVolume& t, const Sample& s) { t.Image().Put(t.InodeOffset(s.b) + 0x10, 11, 4); },
         0,
         {"/a"}},
        {"a folder block",
         [](CTestVolume& t, const Sample& s) {
             t.Image().Put(t.EntryOffset(s.b, "1969.doc") + 8, 'X', 1);
         },
         0,
         {"/a/b"}},
        {"an extent block",
         [](CTestVolume& t, const Sample& s) { t.Image().Put(t.LeafBlock(s.b) * 4096 + 20, 1, 2); },
         0,
         {"/a/b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CTestVolume t;
        const Sample s = Fill(t, kDeepExtents);
        t.Build();
        c.damage(t, s);
        CExtVolume v;
        ASSERT_EQ(v.Open(t.Reader()), c.dwOpen) << v.GetWhy();
        if (c.dwOpen != 0)
            continue;
        ASSERT_EQ(v.Read(KeepDocuments()), 0u) << v.GetWhy();
        std::set<std::string> doubted;
        for (const auto& [strFolder, doubt] : TreeOf(v).doubts)
            doubted.insert(strFolder);
        const std::set<std::string> topmost = Topmost(doubted);
        const std::set<std::string> expected = Topmost(c.doubted);
        EXPECT_EQ(topmost, expected);
    }
}

TEST(ExtVolume, AStopEndsThePassBeforeItsNextRead) {
    CTestVolume t;
    Fill(t, kDeepExtents); // a map block to read too
    t.Build();
    int nAsks = 0; // in a whole pass
    {
        CExtVolume v;
        ASSERT_EQ(v.Open(t.Reader()), 0u);
        ExtReadHooks hooks = KeepDocuments();
        hooks.mayRead = [&] { return ++nAsks > 0; };
        ASSERT_EQ(v.Read(hooks), 0u);
        ASSERT_GE(nAsks, 3); // the inode tables, the map block, the folder blocks
    }
    for (int nAllowed = 0; nAllowed < nAsks; ++nAllowed) {
        SCOPED_TRACE(nAllowed);
        auto pReader = std::make_unique<CSparseReader>(t.ImagePointer());
        CSparseReader& reader = *pReader;
        CExtVolume v;
        ASSERT_EQ(v.Open(std::move(pReader)), 0u);
        ExtReadHooks hooks = KeepDocuments();
        int nAsked = 0;
        std::uint64_t nReadsAtStop = 0;
        hooks.mayRead = [&] {
            if (nAsked++ < nAllowed)
                return true;
            nReadsAtStop = reader.m_nReads;
            return false;
        };
        EXPECT_EQ(v.Read(hooks), static_cast<DWORD>(ECANCELED));
        EXPECT_EQ(reader.m_nReads, nReadsAtStop) << "read after the stop";
        EXPECT_EQ(nAsked, nAllowed + 1) << "asked again after the stop";
    }
}

// The bound the reader promises, on a volume of a million used inodes: 24 bytes a file
// or folder, more for each folder and for each file kept, and nothing for inodes never
// used (the volume has more than twice as many).
TEST(ExtVolume, AMillionInodesTakeWhatTheBoundSays) {
    Options o;
    o.nInodeSize = 128;
    o.nInodesPerGroup = 8192;
    o.bGarbageInTail = false;
    CTestVolume t(o);
    constexpr int kFolders = 50'000;
    constexpr int kFilesEach = 19;
    std::uint32_t nParent = t.Root();
    std::size_t nKeptNames = 0, nFolderNames = 0;
    for (int d = 0; d < kFolders; ++d) {
        const std::string strFolder = "folder " + std::to_string(d);
        nFolderNames += strFolder.size();
        // Chains ten deep, side by side.
        nParent = t.Dir(d % 10 == 0 ? t.Root() : nParent, strFolder);
        for (int f = 0; f < kFilesEach; ++f) {
            const std::string strName =
                "file " + std::to_string(f) + (f % 5 == 0 ? ".doc" : ".txt");
            t.File(nParent, strName, static_cast<std::uint64_t>(f));
            if (f % 5 == 0)
                nKeptNames += strName.size();
        }
    }
    t.Build();
    CExtVolume v;
    ASSERT_EQ(v.Open(t.Reader()), 0u);
    ASSERT_EQ(v.Read(KeepDocuments()), 0u);
    const std::size_t nInodes = kFolders * (kFilesEach + 1);
    ASSERT_EQ(nInodes, 1'000'000u);
    ASSERT_EQ(v.GetFolders().size(), kFolders + 1u);
    ASSERT_EQ(v.GetFiles().size(), kFolders * 4u);
    // The tables whose size is not known ahead (kept files, names, folder blocks) may
    // hold twice what they need while they grow.
    const std::size_t nBound =
        24 * nInodes + (24 + 16) * (kFolders + 1) +
        2 * (16 * (kFolders + 1) + 16 * v.GetFiles().size() + nFolderNames + nKeptNames) +
        (2u << 20) /* read buffer and scratch */;
    EXPECT_LE(v.GetPeakMemoryUse(), nBound);
    // Well below the 48 bytes a used inode above the walk that the reader may take.
    EXPECT_LE(v.GetPeakMemoryUse(), 48 * nInodes);
}
