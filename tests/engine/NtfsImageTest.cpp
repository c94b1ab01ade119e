// Real NTFS volumes: images made with mkntfs, filled through an ntfs-3g mount, then
// enumerated both from their file records and by walking their folders. Whatever the
// volume holds, both must report the same files with the same sizes.
#include "EnumMgr.h"
#include "ImageSupport.h"
#include "Log.h"
#include "MftEnum.h"
#include "SimpleEnum.h"
#include "StringTable.h"
#include "engine/FakeVolumeJournal.h"
#include "platform/NtfsJournal.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace ntfs_test;
namespace fs = std::filesystem;

namespace {

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
        if (std::string strWhy = WhyNoTools({"mkntfs", "ntfs-3g", "losetup"}); !strWhy.empty())
            return strWhy;
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            return "no /dev/fuse";
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

// ---- Filling a volume through its mount ---------------------------------------------------

void MakeDirs(const std::string& strPath) {
    fs::create_directories(strPath);
}

// ---- Both enumerators on the mount ------------------------------------------------------------

// One reported file: path, size and modification date.
struct Reported {
    std::string strPath;
    std::int64_t nSize;
    COleDateTime dtModified;
    auto Key() const {
        return std::tuple(strPath, nSize, dtModified.m_dt, static_cast<int>(dtModified.m_status));
    }
    friend bool operator<(const Reported& a, const Reported& b) { return a.Key() < b.Key(); }
    friend bool operator==(const Reported& a, const Reported& b) { return a.Key() == b.Key(); }
};
using FileSet = std::multiset<Reported>;

std::string Text(const Reported& f) {
    return f.strPath + " " + std::to_string(f.nSize) + " " + std::to_string(f.dtModified.m_dt) +
           (f.dtModified.m_status == DateTimeStatus::valid ? "" : " (invalid)");
}

// The system's journal source, with every attribute answer it gives kept for a look
// at the file through the mount afterwards.
class CRecordingJournal final : public IVolumeJournal {
public:
    struct Answer {
        std::string strPath;
        FileAttributes attr;
    };
    CRecordingJournal(std::vector<Answer>& answers, std::function<void()> onFirstEnumerate)
        : m_pJournal(CreateVolumeJournal()), m_answers(answers),
          m_onFirstEnumerate(std::move(onFirstEnumerate)) {}

    DWORD Open(const std::string& strRoot) override { return m_pJournal->Open(strRoot); }
    bool IsOpen() const override { return m_pJournal->IsOpen(); }
    void Close() override { m_pJournal->Close(); }
    DWORD Query(USN_JOURNAL_DATA_V0& data) override { return m_pJournal->Query(data); }
    DWORD Create(const CREATE_USN_JOURNAL_DATA& data) override { return m_pJournal->Create(data); }
    DWORD DeleteAndWait(const DELETE_USN_JOURNAL_DATA& data) override {
        return m_pJournal->DeleteAndWait(data);
    }
    DWORD OpenRootDirectory(const std::string& strRoot) override {
        return m_pJournal->OpenRootDirectory(strRoot);
    }
    DWORD GetRootFileReference(std::uint64_t& nReference) override {
        return m_pJournal->GetRootFileReference(nReference);
    }
    void CloseRootDirectory() override { m_pJournal->CloseRootDirectory(); }
    DWORD Enumerate(const MFT_ENUM_DATA_V0& in, std::uint8_t* pBuffer, std::size_t nSize,
                    std::size_t& nReturned) override {
        if (m_onFirstEnumerate)
            std::exchange(m_onFirstEnumerate, nullptr)();
        return m_pJournal->Enumerate(in, pBuffer, nSize, nReturned);
    }
    void KeepFile(std::uint64_t nReference) override { m_pJournal->KeepFile(nReference); }
    DWORD GetFileAttributes(std::uint64_t nReference, const std::string& strPath,
                            FileAttributes& attr) override {
        const DWORD dw = m_pJournal->GetFileAttributes(nReference, strPath, attr);
        if (dw == 0)
            m_answers.push_back({strPath, attr});
        return dw;
    }
    std::string GetVolumeRoot(const std::string& strPath) override {
        return m_pJournal->GetVolumeRoot(strPath);
    }

private:
    std::unique_ptr<IVolumeJournal> m_pJournal;
    std::vector<Answer>& m_answers;
    std::function<void()> m_onFirstEnumerate;
};

FileSet Scan(IFsEnum& e, const std::string& strRoot, bool* pResult = nullptr) {
    CScanTarget target;
    for (const GroupEntry& g : g_groupTable)
        e.AddGroup(LoadString(g.nNameId), LoadString(g.nFilterId));
    const bool bResult = e.EnumerateDrive(strRoot);
    if (pResult)
        *pResult = bResult;
    FileSet files;
    for (const FoundFile& f : target.Found())
        files.insert({f.prop.m_strPath, f.prop.m_nSize, f.prop.m_dtModified});
    return files;
}

// What lstat says of the file through the mount, to the nanosecond, is what the
// journal answered, whether from the file's record or from the mount.
void ExpectAnswersAsTheMountShows(const std::vector<CRecordingJournal::Answer>& answers) {
    for (const auto& a : answers) {
        struct stat st;
        ASSERT_EQ(::lstat(a.strPath.c_str(), &st), 0) << a.strPath;
        EXPECT_EQ(a.attr.kind == EntryKind::File, S_ISREG(st.st_mode)) << a.strPath;
        if (!S_ISREG(st.st_mode))
            continue;
        EXPECT_EQ(a.attr.nSize, st.st_size) << a.strPath;
        EXPECT_EQ(a.attr.mtime.tv_sec, st.st_mtim.tv_sec) << a.strPath;
        EXPECT_EQ(a.attr.mtime.tv_nsec, st.st_mtim.tv_nsec) << a.strPath;
    }
}

FileSet ScanMft(const std::string& strRoot, std::function<void()> onFirstEnumerate = {}) {
    std::vector<CRecordingJournal::Answer> answers;
    CMftEnum mft(std::make_unique<CRecordingJournal>(answers, std::move(onFirstEnumerate)));
    bool bResult = false;
    FileSet files = Scan(mft, strRoot, &bResult);
    EXPECT_TRUE(bResult);
    EXPECT_GE(answers.size(), files.size());
    ExpectAnswersAsTheMountShows(answers);
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
            s += "  only from records: " + Text(f) + "\n";
    }
    for (const auto& f : b) {
        if (!a.count(f))
            s += "  only from the walk: " + Text(f) + "\n";
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

// NTFS file attributes, as ntfs-3g sets them through an extended attribute.
void SetNtfsAttributes(const std::string& strPath, std::uint32_t nAttributes) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(nAttributes >> 24), static_cast<std::uint8_t>(nAttributes >> 16),
        static_cast<std::uint8_t>(nAttributes >> 8), static_cast<std::uint8_t>(nAttributes)};
    ASSERT_EQ(::setxattr(strPath.c_str(), "system.ntfs_attrib_be", bytes, sizeof bytes, 0), 0)
        << strPath;
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
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{}, "NTFS");
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
    // A system file that is no special file: the mount tells what it is.
    WriteFile(r + "/Users/Bob/system.docx", 77);
    SetNtfsAttributes(r + "/Users/Bob/system.docx", 0x24);
    // Compressed files: their logical size, as the mount shows it.
    MakeDirs(r + "/Compressed");
    SetNtfsAttributes(r + "/Compressed", 0x800);
    WriteFile(r + "/Compressed/packed.docx", 200'000);
    WriteFile(r + "/Compressed/small.pdf", 3);
    // Times to the 100 ns, before 1970 (whole seconds toward 1970 through the mount),
    // the ends of the calendar, and beyond them both, where only the mount can say.
    struct Time {
        const char* pszFile;
        std::time_t nSeconds;
        long nNanoseconds;
    };
    const Time times[] = {
        {"/Users/Bob/final.docx", 4'102'444'800, 123'456'789}, // 2100
        {"/top.pdf", -1, 500'000'000},
        {"/Users/Bob/Documents/report.DOCX", -11'644'473'600, 0},         // 1601-01-01
        {"/Users/Alice/Pictures/img.JPeG", 253'402'300'799, 999'999'900}, // 9999-12-31
        {"/Users/Alice/Pictures/empty.png", -20'000'000'000, 0},          // 1336
        {"/Folder.docx/inner/in.docx", 600'000'000'000, 0},               // 20983
        {"/Compressed/packed.docx", 315'532'800, 0},                      // 1980
    };
    for (const Time& t : times)
        SetModified(r + t.pszFile, t.nSeconds, t.nNanoseconds);

    ExpectSameAsWalk(r, 30);
    const FileSet mft = ScanMft(r);
    auto find = [&mft](const std::string& strPath) -> const Reported* {
        for (const Reported& f : mft) {
            if (f.strPath == strPath)
                return &f;
        }
        return nullptr;
    };
    for (const auto& [strFile, nSize] : std::vector<std::pair<std::string, std::int64_t>>{
             {"/Users/Bob/huge.mkv", 5'368'709'120},
             {"/lone \xED\xA0\x80 high/lone \xED\xA0\x80 high.docx", 1000},
             {"/Users/Bob/final.docx", 9},
             {"/Users/Bob/Documents/report.DOCX", 70'000},
             {"/Compressed/packed.docx", 200'000},
             {"/Users/Bob/system.docx", 77}}) {
        const Reported* p = find(r + strFile);
        ASSERT_NE(p, nullptr) << strFile;
        EXPECT_EQ(p->nSize, nSize) << strFile;
    }
    for (const Time& t : times) {
        const Reported* p = find(r + t.pszFile);
        ASSERT_NE(p, nullptr) << t.pszFile;
        FileProperty expected;
        expected.SetModifiedFromUtc(
            {t.nSeconds < 0 ? t.nSeconds + (t.nNanoseconds > 0) : t.nSeconds,
             t.nSeconds < 0 ? 0 : t.nNanoseconds},
            SystemLocalTime());
        EXPECT_EQ(p->dtModified, expected.m_dtModified) << t.pszFile;
    }
    EXPECT_EQ(find(r + "/link.pdf"), nullptr);
    EXPECT_EQ(find(r + "/pipe.mp3"), nullptr);

    // The same after the volume was written out and mounted again.
    image.Unmount();
    ASSERT_EQ(image.Mount(), "");
    ExpectSameAsWalk(r, 30);
}

TEST(NtfsImage, AHardLinkedFileIsReportedOnceUnderOneOfItsNamesWithItsSizeAndTime) {
    CNtfsImage image;
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{}, "NTFS");
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
    SetModified(r + "/b/two again.docx", 1'234'567'890, 100);
    SetModified(r + "/a/many.docx", 987'654'321, 200);

    // Each file once, whatever name it is reported under, with the size and date that
    // every one of its names shows through the mount.
    const FileSet mft = ScanMft(r);
    std::map<ino_t, int> mapReported;
    std::int64_t nBytes = 0;
    for (const Reported& f : mft) {
        struct stat st;
        ASSERT_EQ(::lstat(f.strPath.c_str(), &st), 0) << f.strPath;
        ++mapReported[st.st_ino];
        nBytes += f.nSize;
        EXPECT_EQ(f.nSize, st.st_size) << f.strPath;
        FileProperty expected;
        expected.SetModifiedFromUtc(st.st_mtim, SystemLocalTime());
        EXPECT_EQ(f.dtModified, expected.m_dtModified) << f.strPath;
    }
    EXPECT_EQ(mapReported.size(), 3u);
    for (const auto& [nInode, nCount] : mapReported)
        EXPECT_EQ(nCount, 1) << "inode " << nInode;
    EXPECT_EQ(nBytes, 11 + 22 + 33);
    // The same files as the walk finds, each once too, by any of their names.
    std::map<ino_t, int> walked;
    for (const Reported& f : ScanWalk(r)) {
        struct stat st;
        ASSERT_EQ(::lstat(f.strPath.c_str(), &st), 0) << f.strPath;
        ++walked[st.st_ino];
    }
    EXPECT_EQ(walked, mapReported);
}

TEST(NtfsImage, FolderOfFiveThousandEntries) {
    CNtfsImage image;
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{}, "NTFS");
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
    MAKE_IMAGE_OR_SKIP(image, options, "NTFS");
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
        MAKE_IMAGE_OR_SKIP(image, options, "NTFS");
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
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{}, "NTFS");
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

TEST(NtfsImage, FilesHiddenByAnotherFilesystemMountedInsideAreNotReported) {
    CNtfsImage image;
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{}, "NTFS");
    const std::string r = image.Root();
    // The same names on both filesystems: one answered from its record, one (a system
    // file) through the mount.
    auto fill = [&r](std::int64_t nSize) {
        MakeDirs(r + "/Users/Bob");
        WriteFile(r + "/Users/Bob/a.docx", static_cast<std::size_t>(nSize));
        WriteFile(r + "/Users/system.docx", static_cast<std::size_t>(nSize + 1));
    };
    fill(10);
    SetNtfsAttributes(r + "/Users/system.docx", 0x24);
    WriteFile(r + "/top.docx", 5);
    ASSERT_EQ(RunProgram({"mount", "-t", "tmpfs", "tmpfs", r + "/Users"}), 0);
    struct Unmount {
        std::string strPoint;
        ~Unmount() { RunProgram({"umount", strPoint}); }
    } unmount{r + "/Users"};
    fill(99);

    FileSet mft = ScanMft(r);
    ASSERT_EQ(mft.size(), 1u);
    EXPECT_EQ(mft.begin()->strPath, r + "/top.docx");

    RunProgram({"umount", r + "/Users"});
    mft = ScanMft(r);
    EXPECT_EQ(mft.size(), 3u) << "the volume's own files, once nothing hides them";

    // Mounted while the table is read.
    mft = ScanMft(r, [&r] {
        ASSERT_EQ(RunProgram({"mount", "-t", "tmpfs", "tmpfs", r + "/Users"}), 0);
    });
    ASSERT_EQ(mft.size(), 1u);
    EXPECT_EQ(mft.begin()->strPath, r + "/top.docx");
}

// ---- A whole scan ---------------------------------------------------------------------------

TEST(NtfsImage, TheDriveWorkerReadsAnNtfsMountThroughItsFileTable) {
    CNtfsImage image;
    MAKE_IMAGE_OR_SKIP(image, CNtfsImage::Options{}, "NTFS");
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
            found.insert({p->m_strPath, p->m_nSize, p->m_dtModified});
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
