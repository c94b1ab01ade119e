// Real NTFS volumes: images made with mkntfs, filled through an ntfs-3g mount, then
// enumerated both from their file records and by walking their folders. Whatever the
// volume holds, both must report the same files with the same sizes.
#include "EnumMgr.h"
#include "Log.h"
#include "MftEnum.h"
#include "SimpleEnum.h"
#include "StringTable.h"
#include "engine/FakeVolumeJournal.h"
#include "platform/NtfsJournal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace ntfs_test;
namespace fs = std::filesystem;

namespace {

// Runs a program with its output captured; the exit status, or -1.
int RunProgram(const std::vector<std::string>& args, std::string* pOutput = nullptr) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        std::vector<char*> argv;
        for (const std::string& s : args)
            argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string strOut;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        strOut.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int nStatus = 0;
    if (pid < 0 || ::waitpid(pid, &nStatus, 0) != pid)
        return -1;
    if (pOutput)
        *pOutput = strOut;
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

bool HaveProgram(const char* pszName) {
    return RunProgram({"sh", "-c", std::string("command -v ") + pszName}) == 0;
}

// An image file with an NTFS volume, mounted with ntfs-3g from the file itself or
// from a loop device over it. Everything is undone at destruction.
class CNtfsImage {
public:
    struct Options {
        std::string strSize = "48M";
        std::vector<std::string> mkntfsArgs;
        bool bLoopDevice = false;
        unsigned nLoopSectorSize = 0;
    };

    ~CNtfsImage() {
        Unmount();
        if (!m_strLoop.empty())
            RunProgram({"losetup", "-d", m_strLoop});
        if (!m_strDir.empty()) {
            std::error_code ec;
            fs::remove_all(m_strDir, ec);
        }
    }

    // Empty when mounted; otherwise why the volume cannot be had here.
    std::string Make(const Options& options) {
        if (::geteuid() != 0)
            return "needs root to mount images";
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            return "no /dev/fuse";
        for (const char* psz : {"mkntfs", "ntfs-3g", "losetup"}) {
            if (!HaveProgram(psz))
                return std::string(psz) + " is not installed";
        }
        char szTemplate[] = "/tmp/tarrow-ntfs-XXXXXX";
        if (!::mkdtemp(szTemplate))
            return "cannot make a temporary folder";
        m_strDir = szTemplate;
        m_strImage = m_strDir + "/volume.img";
        m_strRoot = m_strDir + "/mnt";
        fs::create_directory(m_strRoot);
        std::string strOut;
        if (RunProgram({"truncate", "-s", options.strSize, m_strImage}, &strOut) != 0)
            return "truncate: " + strOut;
        std::vector<std::string> mkntfs = {"mkntfs", "-F", "-q", "-f"};
        mkntfs.insert(mkntfs.end(), options.mkntfsArgs.begin(), options.mkntfsArgs.end());
        mkntfs.push_back(m_strImage);
        if (RunProgram(mkntfs, &strOut) != 0)
            return "mkntfs: " + strOut;
        m_strSource = m_strImage;
        if (options.bLoopDevice) {
            std::vector<std::string> losetup = {"losetup", "-f", "--show"};
            if (options.nLoopSectorSize)
                losetup.insert(losetup.end(),
                               {"--sector-size", std::to_string(options.nLoopSectorSize)});
            losetup.push_back(m_strImage);
            if (RunProgram(losetup, &strOut) != 0)
                return "no loop device: " + strOut;
            m_strLoop = strOut.substr(0, strOut.find('\n'));
            m_strSource = m_strLoop;
        }
        return Mount();
    }

    std::string Mount() {
        std::string strOut;
        if (RunProgram({"ntfs-3g", m_strSource, m_strRoot}, &strOut) != 0)
            return "ntfs-3g cannot mount here: " + strOut;
        m_bMounted = true;
        return {};
    }

    void Unmount() {
        if (m_bMounted)
            RunProgram({"umount", m_strRoot});
        m_bMounted = false;
    }

    const std::string& Root() const { return m_strRoot; }
    const std::string& Loop() const { return m_strLoop; }
    std::string Path(const std::string& strRelative) const { return m_strRoot + "/" + strRelative; }

private:
    std::string m_strDir;
    std::string m_strImage;
    std::string m_strSource;
    std::string m_strLoop;
    std::string m_strRoot;
    bool m_bMounted = false;
};

#define MAKE_IMAGE_OR_SKIP(image, options)                                                         \
    do {                                                                                           \
        const std::string strWhy = (image).Make(options);                                          \
        if (!strWhy.empty())                                                                       \
            GTEST_SKIP() << "NTFS image tests skipped: " << strWhy;                                \
    } while (false)

// ---- Filling a volume through its mount ---------------------------------------------------

void MakeDirs(const std::string& strPath) {
    fs::create_directories(strPath);
}

void WriteFile(const std::string& strPath, std::size_t nSize) {
    std::ofstream out(strPath, std::ios::binary);
    ASSERT_TRUE(out) << strPath;
    std::string strData(nSize, 'x');
    out.write(strData.data(), static_cast<std::streamsize>(strData.size()));
}

void SparseFile(const std::string& strPath, off_t nSize) {
    const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << strPath;
    ASSERT_EQ(::ftruncate(fd, nSize), 0) << strPath;
    ASSERT_EQ(::pwrite(fd, "tail", 4, nSize - 4), 4);
    ::close(fd);
}

// ---- Both enumerators on the mount ------------------------------------------------------------

using FileSet = std::multiset<std::pair<std::string, std::int64_t>>;

FileSet Scan(IFsEnum& e, const std::string& strRoot, bool* pResult = nullptr) {
    CScanTarget target;
    for (const GroupEntry& g : g_groupTable)
        e.AddGroup(LoadString(g.nNameId), LoadString(g.nFilterId));
    const bool bResult = e.EnumerateDrive(strRoot);
    if (pResult)
        *pResult = bResult;
    FileSet files;
    for (const FoundFile& f : target.Found())
        files.insert({f.prop.m_strPath, f.prop.m_nSize});
    return files;
}

FileSet ScanMft(const std::string& strRoot) {
    CMftEnum mft;
    bool bResult = false;
    FileSet files = Scan(mft, strRoot, &bResult);
    EXPECT_TRUE(bResult);
    return files;
}

FileSet ScanWalk(const std::string& strRoot) {
    CSimpleEnum walk;
    return Scan(walk, strRoot);
}

std::string Describe(const FileSet& a, const FileSet& b) {
    std::string s;
    for (const auto& f : a) {
        if (!b.count(f))
            s += "  only from records: " + f.first + " " + std::to_string(f.second) + "\n";
    }
    for (const auto& f : b) {
        if (!a.count(f))
            s += "  only from the walk: " + f.first + " " + std::to_string(f.second) + "\n";
    }
    return s;
}

void ExpectSameAsWalk(const std::string& strRoot, std::size_t nAtLeast) {
    ASSERT_TRUE(CanOpenVolumeForRawRead(strRoot));
    const FileSet mft = ScanMft(strRoot);
    const FileSet walk = ScanWalk(strRoot);
    EXPECT_GE(walk.size(), nAtLeast);
    EXPECT_TRUE(mft == walk) << Describe(mft, walk);
}

// Names in many scripts and forms, including UTF-16 that is no valid Unicode: a
// surrogate without its partner, which the mounted filesystem shows as three bytes.
const char* const kNames[] = {
    "Ünïcödé",
    "ドキュメント",
    "Документы",
    "مستندات",
    "emoji 😀🎵",
    "e\xCC\x81 decomposed",
    "lone \xED\xA0\x80 high",
    "lone \xED\xB0\x80 low",
    "reversed \xED\xB0\x80\xED\xA0\x80",
    "spaces  and 'quotes'",
    "back\\slash",
    "semi;colon",
    "UPPER",
    "a.b.c",
};

} // namespace

TEST(NtfsImage, MixedTreeMatchesTheWalk) {
    CNtfsImage image;
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{});
    const std::string r = image.Root();

    MakeDirs(r + "/Users/Bob/Documents");
    MakeDirs(r + "/Users/Alice/Pictures");
    std::string strDeep = r;
    for (int i = 0; i < 14; ++i)
        strDeep += "/level" + std::to_string(i);
    MakeDirs(strDeep);
    WriteFile(strDeep + "/deep.pdf", 321);
    for (const char* pszName : kNames) {
        MakeDirs(r + "/" + pszName);
        WriteFile(r + "/" + pszName + "/" + pszName + ".docx", 1000);
        WriteFile(r + "/Users/" + pszName + ".mp3", 17);
    }
    // Matching and other names, letter cases and sizes.
    WriteFile(r + "/Users/Bob/Documents/report.DOCX", 70'000);
    WriteFile(r + "/Users/Bob/Documents/notes.txt", 10);
    WriteFile(r + "/Users/Bob/Documents/old.doc.bak", 10);
    WriteFile(r + "/Users/Alice/Pictures/img.JPeG", 4096);
    WriteFile(r + "/Users/Alice/Pictures/raw.tif", 4096);
    WriteFile(r + "/Users/Alice/Pictures/empty.png", 0);
    WriteFile(r + "/top.pdf", 5);
    // A folder named like a document is walked, not reported.
    MakeDirs(r + "/Folder.docx/inner");
    WriteFile(r + "/Folder.docx/inner/in.docx", 3);
    // Sparse files, one of 5 GiB.
    SparseFile(r + "/Users/Bob/huge.mkv", 5'368'709'120);
    SparseFile(r + "/Users/Bob/holes.avi", 3'000'000);
    // Deleted files keep their names in records no longer in use; new files take
    // their records again with a new sequence number.
    MakeDirs(r + "/Trash");
    for (int i = 0; i < 60; ++i)
        WriteFile(r + "/Trash/gone" + std::to_string(i) + ".docx", 100);
    for (int i = 0; i < 60; i += 2)
        fs::remove(r + "/Trash/gone" + std::to_string(i) + ".docx");
    for (int i = 0; i < 10; ++i)
        WriteFile(r + "/Users/Alice/new" + std::to_string(i) + ".jpg", 200);
    MakeDirs(r + "/Old/sub");
    WriteFile(r + "/Old/sub/x.docx", 1);
    fs::remove_all(r + "/Old");
    // Renamed and moved files.
    WriteFile(r + "/Users/draft.txt", 9);
    fs::rename(r + "/Users/draft.txt", r + "/Users/Bob/final.docx");
    // DOS short names beside the long ones (ntfs-3g writes them on request).
    for (const char* pszFile : {"/Users/Bob/Documents/report.DOCX", "/top.pdf"}) {
        const std::string strShort =
            std::string(pszFile) == "/top.pdf" ? "TOP~1.PDF" : "REPORT~1.DOC";
        ::setxattr((r + pszFile).c_str(), "system.ntfs_dos_name", strShort.data(), strShort.size(),
                   0);
    }
    // Links and special files named like documents hold no data of the user's.
    fs::create_symlink("top.pdf", r + "/link.pdf");
    ::mkfifo((r + "/pipe.mp3").c_str(), 0644);

    ExpectSameAsWalk(r, 30);
    const FileSet mft = ScanMft(r);
    EXPECT_EQ(mft.count({r + "/Users/Bob/huge.mkv", 5'368'709'120}), 1u);
    EXPECT_EQ(mft.count({r + "/lone \xED\xA0\x80 high/lone \xED\xA0\x80 high.docx", 1000}), 1u);
    EXPECT_EQ(mft.count({r + "/Users/Bob/final.docx", 9}), 1u);
    EXPECT_EQ(mft.count({r + "/Users/Bob/Documents/report.DOCX", 70'000}), 1u);
    EXPECT_EQ(mft.count({r + "/link.pdf", 7}), 0u);

    // The same after the volume was written out and mounted again.
    image.Unmount();
    ASSERT_EQ(image.Mount(), "");
    ExpectSameAsWalk(r, 30);
}

TEST(NtfsImage, HardLinksAreReportedOnceUnderOneOfTheirNames) {
    CNtfsImage image;
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{});
    const std::string r = image.Root();
    MakeDirs(r + "/a");
    MakeDirs(r + "/b");
    WriteFile(r + "/a/single.docx", 11);
    WriteFile(r + "/a/two.docx", 22);
    fs::create_hard_link(r + "/a/two.docx", r + "/b/two again.docx");
    // So many long names that they spill into extension records.
    WriteFile(r + "/a/many.docx", 33);
    for (int i = 0; i < 40; ++i)
        fs::create_hard_link(r + "/a/many.docx",
                             r + "/b/" + std::string(100, 'L') + std::to_string(i) + ".docx");

    // Both report each file once, each under a name of its own choosing (the first
    // it meets): the same files, counted the same, whatever the names.
    auto reported = [](const FileSet& files) {
        std::map<ino_t, std::pair<int, std::int64_t>> m; // inode -> times reported, size
        for (const auto& f : files) {
            struct stat st;
            EXPECT_EQ(::lstat(f.first.c_str(), &st), 0) << f.first;
            ++m[st.st_ino].first;
            m[st.st_ino].second = f.second;
        }
        return m;
    };
    const auto mft = reported(ScanMft(r));
    const auto walk = reported(ScanWalk(r));
    EXPECT_EQ(mft.size(), 3u);
    EXPECT_EQ(mft, walk);
    for (const auto& [nInode, reports] : mft)
        EXPECT_EQ(reports.first, 1) << "inode " << nInode;
}

TEST(NtfsImage, FolderOfFiveThousandEntries) {
    CNtfsImage image;
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{});
    const std::string strFolder = image.Path("Camera Roll");
    MakeDirs(strFolder);
    for (int i = 0; i < 5000; ++i)
        WriteFile(strFolder + "/IMG_" + std::to_string(10000 + i) + (i % 2 ? ".jpg" : ".dat"),
                  i % 7);
    ExpectSameAsWalk(image.Root(), 2500);
}

TEST(NtfsImage, FourKilobyteSectorsOnALoopDevice) {
    CNtfsImage image;
    CNtfsImage::Options options;
    options.mkntfsArgs = {"-s", "4096"};
    options.bLoopDevice = true;
    options.nLoopSectorSize = 4096;
    MAKE_IMAGE_OR_SKIP(image, options);
    std::string strSource;
    ASSERT_EQ(LocateVolumeSource(image.Root(), strSource), 0u);
    EXPECT_EQ(strSource, image.Loop());
    for (int d = 0; d < 20; ++d) {
        const std::string strDir = image.Path("dir" + std::to_string(d));
        MakeDirs(strDir);
        for (int i = 0; i < 20; ++i)
            WriteFile(strDir + "/" + kNames[i % std::size(kNames)] + std::to_string(i) + ".pptx",
                      100u * i);
    }
    ExpectSameAsWalk(image.Root(), 400);
}

TEST(NtfsImage, LargeClusters) {
    for (const char* pszCluster : {"65536", "131072"}) {
        CNtfsImage image;
        CNtfsImage::Options options;
        options.strSize = "256M";
        options.mkntfsArgs = {"-c", pszCluster};
        MAKE_IMAGE_OR_SKIP(image, options);
        for (int d = 0; d < 10; ++d) {
            const std::string strDir = image.Path("d" + std::to_string(d));
            MakeDirs(strDir);
            for (int i = 0; i < 30; ++i)
                WriteFile(strDir + "/f" + std::to_string(i) + ".wav", i % 3 ? 10 : 200'000);
        }
        SCOPED_TRACE(pszCluster);
        ExpectSameAsWalk(image.Root(), 300);
    }
}

TEST(NtfsImage, AFolderBoundElsewhereIsNoVolumeToReadRaw) {
    CNtfsImage image;
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{});
    MakeDirs(image.Path("Users/Bob"));
    WriteFile(image.Path("Users/Bob/a.docx"), 1);
    const std::string strBind = image.Root() + "-bind";
    MakeDirs(strBind);
    ASSERT_EQ(RunProgram({"mount", "--bind", image.Path("Users"), strBind}), 0);
    EXPECT_FALSE(CanOpenVolumeForRawRead(strBind));
    TakePendingLogRecords();
    EXPECT_TRUE(ScanMft(strBind).empty()) << "records under the bound folder would get wrong paths";
    auto log = TakePendingLogRecords();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].strMessage, "Cannot open volume " + strBind);
    RunProgram({"umount", strBind});
    fs::remove(strBind);
}

// ---- A whole scan ---------------------------------------------------------------------------

TEST(NtfsImage, TheDriveWorkerReadsAnNtfsMountThroughItsFileTable) {
    CNtfsImage image;
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{});
    MakeDirs(image.Path("Users/Bob"));
    WriteFile(image.Path("Users/Bob/a.docx"), 1234);
    WriteFile(image.Path("b.PNG"), 56);
    const FileSet walked = ScanWalk(image.Root());

    auto pSetup = std::make_shared<ScanSetup>(SystemScanSetup());
    pSetup->volumeTable = [strRoot = image.Root()] {
        return std::shared_ptr<const IVolumeTable>(
            CreateFolderTable({strRoot}, std::shared_ptr<const IVolumeTable>(CreateMountTable())));
    };
    FileSet found;
    CDirectWindow target([&](UINT nMsg, WPARAM, LPARAM lParam) -> LRESULT {
        if (nMsg == WM_FILEFOUND) {
            const auto* p = reinterpret_cast<const FileProperty*>(lParam);
            found.insert({p->m_strPath, p->m_nSize});
        }
        return 0;
    });
    g_hTargetWnd = target.GetSafeHwnd();
    TakePendingLogRecords();
    StartManagerThread(pSetup).join();
    g_hTargetWnd = HWND{};

    EXPECT_EQ(found, walked) << Describe(found, walked);
    bool bMft = false;
    for (const PendingLogRecord& r : TakePendingLogRecords()) {
        bMft |= r.strFileTag == " [File: .\\MftEnum.cpp] [Line: 205]";
        EXPECT_NE(r.strFileTag, " [File: .\\EnumMgr.cpp] [Line: 207]") << r.strMessage;
    }
    EXPECT_TRUE(bMft) << "the volume was walked, not read through its file table";
}
