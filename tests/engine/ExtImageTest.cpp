// Real ext2/3/4 volumes: images made by mkfs.ext4 with each layout the reader claims,
// filled through a loop mount, checked by e2fsck, then enumerated both from their
// tables and by walking their folders. Whatever the volume holds, both must report the
// same files with the same sizes and times. Needs root, loop devices and e2fsprogs;
// skipped, saying why, where they are missing.
#include "EnumMgr.h"
#include "ExtEnum.h"
#include "ImageSupport.h"
#include "Log.h"
#include "ScanTestSupport.h"
#include "SimpleEnum.h"
#include "StringTable.h"
#include "engine/FakeVolumeJournal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <linux/fscrypt.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// An image file with an ext2/3/4 volume, loop-mounted. Everything is undone at
// destruction.
class CExtImage {
public:
    struct Options {
        std::string strSize = "64M";
        std::vector<std::string> mkfsArgs;
    };

    ~CExtImage() { Unmount(); } // then the folder goes, with the image

    // Empty when mounted; otherwise why the volume cannot be had here.
    std::string Make(const Options& options) {
        if (std::string strWhy = WhyNoTools({"mkfs.ext4", "e2fsck", "losetup", "mount"});
            !strWhy.empty())
            return strWhy;
        if (::access("/dev/loop-control", R_OK | W_OK) != 0)
            return "no loop devices (/dev/loop-control)";
        m_strDir = m_folder.Root();
        ::chmod(m_strDir.c_str(), 0755); // other users look at the mount too
        m_strImage = m_strDir + "/volume.img";
        m_strRoot = m_strDir + "/mnt";
        fs::create_directory(m_strRoot);
        std::string strOut;
        if (RunProgram({"truncate", "-s", options.strSize, m_strImage}, &strOut) != 0)
            return "truncate: " + strOut;
        std::vector<std::string> mkfs = {"mkfs.ext4", "-q", "-F"};
        mkfs.insert(mkfs.end(), options.mkfsArgs.begin(), options.mkfsArgs.end());
        mkfs.push_back(m_strImage);
        if (RunProgram(mkfs, &strOut) != 0)
            return "mkfs.ext4 does not make this layout: " + strOut;
        return Mount();
    }

    std::string Mount() {
        std::string strOut;
        if (RunProgram({"mount", "-o", "loop", m_strImage, m_strRoot}, &strOut) != 0)
            return "this kernel does not mount it: " + strOut;
        m_bMounted = true;
        return {};
    }
    void Unmount() {
        if (m_bMounted)
            RunProgram({"umount", m_strRoot});
        m_bMounted = false;
    }
    // e2fsck's verdict on the unmounted volume: empty when it finds nothing wrong.
    std::string Check() const {
        std::string strOut;
        return RunProgram({"e2fsck", "-fn", m_strImage}, &strOut) == 0 ? std::string() : strOut;
    }

    const std::string& Root() const { return m_strRoot; }
    std::string Path(const std::string& strRelative) const { return m_strRoot + "/" + strRelative; }

private:
    CTempTree m_folder;
    std::string m_strDir;
    std::string m_strImage;
    std::string m_strRoot;
    bool m_bMounted = false;
};

// ---- Filling a volume through its mount ---------------------------------------------------

// Names of any bytes: scripts, forms, bytes that are no UTF-8, the longest a name may be.
const std::vector<std::string> kNames = {
    "Ünïcödé",
    "ドキュメント",
    "مستندات",
    "emoji 😀🎵",
    "e\xCC\x81 decomposed",
    "latin-1 \xE9t\xE9",
    "not utf-8 \xFF\xFE",
    "lone \x80 byte",
    "spaces  and 'quotes'",
    "back\\slash",
    "semi;colon",
    "a.b.c",
    std::string(250, 'L'),
};

// The tree every layout is tested with.
void Fill(const std::string& r) {
    fs::create_directories(r + "/Users/Bob/Documents");
    fs::create_directories(r + "/Users/Alice/Pictures");
    for (const std::string& strName : kNames) {
        fs::create_directories(r + "/" + strName);
        WriteFile(r + "/" + strName + "/" + strName.substr(0, 240) + ".docx", 100);
        WriteFile(r + "/Users/" + strName.substr(0, 240) + ".mp3", 17);
    }
    WriteFile(r + "/Users/Bob/Documents/report.DOCX", 70'000);
    WriteFile(r + "/Users/Bob/Documents/notes.txt", 10);
    WriteFile(r + "/Users/Alice/Pictures/img.JPeG", 4096);
    WriteFile(r + "/Users/Alice/Pictures/tiny.png", 3); // inline where the layout has it
    WriteFile(r + "/Users/Alice/Pictures/empty.png", 0);
    WriteFile(r + "/top.pdf", 5);
    fs::create_directories(r + "/Folder.docx/inner");
    WriteFile(r + "/Folder.docx/inner/in.docx", 3);
    SparseFile(r + "/Users/Bob/huge.mkv", 5'368'709'120);
    // A folder over one block: hashed where the layout has it.
    fs::create_directories(r + "/Camera Roll");
    for (int i = 0; i < 300; ++i)
        WriteFile(r + "/Camera Roll/IMG_" + std::to_string(10000 + i) + (i % 2 ? ".jpg" : ".dat"),
                  static_cast<std::size_t>(i % 7));
    // Deleted, renamed, and names used again.
    fs::create_directories(r + "/Trash");
    for (int i = 0; i < 40; ++i)
        WriteFile(r + "/Trash/gone" + std::to_string(i) + ".docx", 100);
    for (int i = 0; i < 40; i += 2)
        fs::remove(r + "/Trash/gone" + std::to_string(i) + ".docx");
    WriteFile(r + "/Users/draft.txt", 9);
    fs::rename(r + "/Users/draft.txt", r + "/Users/Bob/final.docx");
    // A file of many names, counted once; links and special files hold no data of the
    // user's.
    fs::create_directories(r + "/a");
    fs::create_directories(r + "/b");
    WriteFile(r + "/a/two.docx", 22);
    fs::create_hard_link(r + "/a/two.docx", r + "/b/two again.docx");
    WriteFile(r + "/a/many.docx", 33);
    for (int i = 0; i < 20; ++i)
        fs::create_hard_link(r + "/a/many.docx", r + "/b/link" + std::to_string(i) + ".docx");
    fs::create_symlink("top.pdf", r + "/link.pdf");
    ::mkfifo((r + "/pipe.mp3").c_str(), 0644);
    // Times before 1970, past 2038 and to the nanosecond.
    SetModified(r + "/top.pdf", -1, 500'000'000);
    SetModified(r + "/Users/Bob/final.docx", 4'102'444'800, 123'456'789); // 2100
    SetModified(r + "/Users/Bob/Documents/report.DOCX", -2'000'000'000, 1);
    SetModified(r + "/a/many.docx", 987'654'321, 200);
}

// ---- Both enumerators on the mount ------------------------------------------------------

// One reported file: path (or, for a file of several names, which file), size, date.
using Key = std::tuple<std::string, std::int64_t, double, int>;

std::multiset<Key> Keys(const std::vector<FoundFile>& found) {
    std::multiset<Key> keys;
    for (const FoundFile& f : found) {
        struct stat st;
        EXPECT_EQ(::lstat(f.prop.m_strPath.c_str(), &st), 0) << f.prop.m_strPath;
        keys.insert({st.st_nlink > 1 ? "inode " + std::to_string(st.st_ino) : f.prop.m_strPath,
                     f.prop.m_nSize, f.prop.m_dtModified.m_dt,
                     static_cast<int>(f.prop.m_dtModified.m_status)});
    }
    return keys;
}

std::vector<FoundFile> Scan(IFsEnum& e, const std::string& strRoot) {
    ntfs_test::CScanTarget target;
    AddProgramGroups(e);
    EXPECT_TRUE(e.EnumerateDrive(strRoot));
    return target.Found();
}

std::string Describe(const std::multiset<Key>& a, const std::multiset<Key>& b) {
    std::string s;
    for (const Key& k : a) {
        if (!b.count(k))
            s += "  only from the table: " + std::get<0>(k) + " " + std::to_string(std::get<1>(k)) +
                 "\n";
    }
    for (const Key& k : b) {
        if (!a.count(k))
            s += "  only from the walk: " + std::get<0>(k) + " " + std::to_string(std::get<1>(k)) +
                 "\n";
    }
    return s;
}

// Table and walk of the same mount; the table is read whole, nothing stepped back.
std::size_t ExpectSameAsWalk(const std::string& strRoot) {
    CExtEnum table;
    const auto fromTable = Keys(Scan(table, strRoot));
    EXPECT_TRUE(table.WasReadFromTable());
    EXPECT_TRUE(table.GetWalkedFolders().empty())
        << table.GetWalkedFolders().front().first << ": "
        << ExtDoubtText(table.GetWalkedFolders().front().second);
    CSimpleEnum walk;
    const auto fromWalk = Keys(Scan(walk, strRoot));
    EXPECT_TRUE(fromTable == fromWalk) << Describe(fromTable, fromWalk);
    return fromWalk.size();
}

} // namespace

TEST(ExtImage, EveryLayoutTheReaderClaimsFindsWhatTheWalkFinds) {
    struct Layout {
        const char* pszWhat;
        std::vector<std::string> mkfsArgs;
    };
    const Layout layouts[] = {
        {"defaults", {}},
        {"ext3: block maps", {"-t", "ext3"}},
        {"ext2: no journal", {"-t", "ext2"}},
        {"no flex_bg", {"-O", "^flex_bg"}},
        {"32-bit descriptors", {"-O", "^64bit"}},
        {"inline data", {"-O", "inline_data"}},
        {"older descriptor checksums", {"-O", "^metadata_csum,uninit_bg"}},
        {"no checksums", {"-O", "^metadata_csum,^uninit_bg"}},
        {"1 KiB blocks, 128-byte inodes", {"-b", "1024", "-I", "128"}},
        {"meta_bg", {"-O", "meta_bg,^resize_inode"}},
        {"large_dir", {"-O", "large_dir"}},
        {"bigalloc", {"-O", "bigalloc", "-C", "16384"}},
    };
    int nTested = 0;
    std::string strSkipped;
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.pszWhat);
        CExtImage image;
        if (const std::string strWhy = image.Make({"64M", l.mkfsArgs}); !strWhy.empty()) {
            if (::geteuid() != 0 || ::access("/dev/loop-control", W_OK) != 0)
                GTEST_SKIP() << "ext image tests skipped: " << strWhy;
            strSkipped += std::string("\n  ") + l.pszWhat + ": " + strWhy;
            continue;
        }
        Fill(image.Root());
        image.Unmount();
        EXPECT_EQ(image.Check(), "");
        ASSERT_EQ(image.Mount(), "");
        EXPECT_GE(ExpectSameAsWalk(image.Root()), 200u);
        ++nTested;
    }
    EXPECT_GE(nTested, 8) << "layouts this machine could not make or mount:" << strSkipped;
}

TEST(ExtImage, AFolderOfFiftyThousandEntriesHashedTwoLevelsDeep) {
    CExtImage image;
    MAKE_IMAGE_OR_SKIP(image, (CExtImage::Options{"256M", {"-b", "1024"}}), "ext");
    const std::string strFolder = image.Path("big");
    fs::create_directory(strFolder);
    const int fd = ::open(strFolder.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 50'000; ++i) {
        const std::string strName =
            "entry number " + std::to_string(100000 + i) + (i % 3 ? ".txt" : ".doc");
        const int f = ::openat(fd, strName.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(f, 0);
        ::close(f);
    }
    ::close(fd);
    image.Unmount();
    EXPECT_EQ(image.Check(), "");
    std::string strDump;
    RunProgram({"debugfs", "-R", "htree_dump /big", image.Root() + "/../volume.img"}, &strDump);
    EXPECT_NE(strDump.find("Indirect levels: 1"), std::string::npos) << "not two levels deep";
    ASSERT_EQ(image.Mount(), "");
    EXPECT_EQ(ExpectSameAsWalk(image.Root()), 16'667u);
}

TEST(ExtImage, PathsLongerThanPathMaxAreReportedAsTheWalkReportsThem) {
    CExtImage image;
    MAKE_IMAGE_OR_SKIP(image, CExtImage::Options{}, "ext");
    constexpr int kLevels = 2100; // "/d" each: past PATH_MAX
    MakeDeepTree(image.Root(), kLevels);
    CExtEnum table;
    const auto found = Scan(table, image.Root());
    ASSERT_EQ(found.size(), kLevels + 1u);
    std::size_t nLongest = 0;
    for (const FoundFile& f : found)
        nLongest = std::max(nLongest, f.prop.m_strPath.size());
    EXPECT_GT(nLongest, static_cast<std::size_t>(PATH_MAX));
    CSimpleEnum walk;
    std::set<std::string> a, b;
    for (const FoundFile& f : found)
        a.insert(f.prop.m_strPath);
    for (const FoundFile& f : Scan(walk, image.Root()))
        b.insert(f.prop.m_strPath);
    EXPECT_EQ(a, b);
}

// The kernel keeps what was written in the last seconds in its memory: a new file's
// size until writeback gives it blocks (delayed allocation). The table is read after
// the volume's pending writes went out, so that it says what stat says.
TEST(ExtImage, FilesChangedInTheSecondBeforeTheScanAreReportedAsTheWalkSeesThem) {
    CExtImage image;
    MAKE_IMAGE_OR_SKIP(image, CExtImage::Options{}, "ext");
    const std::string r = image.Root();
    for (int i = 0; i < 20; ++i)
        WriteFile(r + "/old" + std::to_string(i) + ".doc", 100);
    ::sync();
    // Made, grown, renamed and deleted just now.
    for (int i = 0; i < 20; ++i)
        WriteFile(r + "/new" + std::to_string(i) + ".doc", 1000u * (i + 1));
    for (int i = 0; i < 5; ++i) {
        std::ofstream(r + "/old" + std::to_string(i) + ".doc", std::ios::app)
            << std::string(5000, 'y');
        fs::rename(r + "/old" + std::to_string(i + 5) + ".doc",
                   r + "/renamed" + std::to_string(i) + ".doc");
        fs::remove(r + "/old" + std::to_string(i + 10) + ".doc");
    }
    ExpectSameAsWalk(r);
}

TEST(ExtImage, AScanLeavesOutWhatIsMountedInsideAndWhatItHidesAsTheWalkDoes) {
    CExtImage image;
    MAKE_IMAGE_OR_SKIP(image, CExtImage::Options{}, "ext");
    const std::string r = image.Root();
    Fill(r);
    // Files the volume holds under a mount point, where the walk sees other files.
    WriteFile(r + "/Users/Bob/hidden.doc", 1);
    WriteFile(r + "/covered.doc", 2);
    WriteFile(r + "/cover.txt", 3);
    ASSERT_EQ(RunProgram({"mount", "-t", "tmpfs", "tmpfs", r + "/Users/Bob"}), 0);
    ASSERT_EQ(RunProgram({"mount", "--bind", r + "/cover.txt", r + "/covered.doc"}), 0);
    struct Unmount {
        std::string r;
        ~Unmount() {
            RunProgram({"umount", r + "/covered.doc"});
            RunProgram({"umount", r + "/Users/Bob"});
        }
    } unmount{r};
    WriteFile(r + "/Users/Bob/on tmpfs.doc", 4);

    auto scan = [&](bool bTable, std::string& strEnumerator) {
        auto pSetup = std::make_shared<ScanSetup>(FolderScanSetup({r}));
        if (!bTable)
            pSetup->createExtEnum = nullptr;
        std::mutex lock;
        std::set<std::pair<std::string, int>> leftOut;
        pSetup->onFolderLeftOut = [&](const std::string&, const std::string& f, LeftOutReason why) {
            std::lock_guard g(lock);
            leftOut.insert({f, static_cast<int>(why)});
        };
        pSetup->onDriveEnumerator = [&](const std::string&, const char* psz) {
            strEnumerator = psz;
        };
        CRecordingTarget target;
        SetScanIdle();
        StartManagerThread(pSetup).join();
        return std::pair(Keys(target.Found()), leftOut);
    };
    std::string strTable, strWalk;
    const auto table = scan(true, strTable);
    const auto walk = scan(false, strWalk);
    EXPECT_EQ(strTable, "ext4");
    EXPECT_EQ(strWalk, "walk");
    EXPECT_TRUE(table.first == walk.first) << Describe(table.first, walk.first);
    EXPECT_EQ(table.second, walk.second);
    for (const Key& k : table.first) {
        EXPECT_EQ(std::get<0>(k).find("hidden.doc"), std::string::npos);
        EXPECT_EQ(std::get<0>(k).find("covered.doc"), std::string::npos);
    }
}

namespace {

// Sets an fscrypt policy on an empty folder with a key of its own; false where the
// kernel offers no encryption.
bool Encrypt(const std::string& strRoot, const std::string& strFolder) {
    const int fdRoot = ::open(strRoot.c_str(), O_RDONLY | O_DIRECTORY);
    std::vector<std::uint8_t> arg(sizeof(fscrypt_add_key_arg) + 64);
    auto* pAdd = reinterpret_cast<fscrypt_add_key_arg*>(arg.data());
    pAdd->key_spec.type = FSCRYPT_KEY_SPEC_TYPE_IDENTIFIER;
    pAdd->raw_size = 64;
    std::memset(pAdd->raw, 0x42, 64);
    const bool bAdded = ::ioctl(fdRoot, FS_IOC_ADD_ENCRYPTION_KEY, pAdd) == 0;
    ::close(fdRoot);
    if (!bAdded)
        return false;
    fscrypt_policy_v2 policy{};
    policy.version = FSCRYPT_POLICY_V2;
    policy.contents_encryption_mode = FSCRYPT_MODE_AES_256_XTS;
    policy.filenames_encryption_mode = FSCRYPT_MODE_AES_256_CTS;
    policy.flags = FSCRYPT_POLICY_FLAGS_PAD_32;
    std::memcpy(policy.master_key_identifier, pAdd->key_spec.u.identifier,
                FSCRYPT_KEY_IDENTIFIER_SIZE);
    const int fd = ::open(strFolder.c_str(), O_RDONLY | O_DIRECTORY);
    const bool bSet = ::ioctl(fd, FS_IOC_SET_ENCRYPTION_POLICY, &policy) == 0;
    ::close(fd);
    return bSet;
}

} // namespace

TEST(ExtImage, AnEncryptedFolderIsWalkedAndTheRestReadFromTheTable) {
    CExtImage image;
    MAKE_IMAGE_OR_SKIP(image, (CExtImage::Options{"64M", {"-O", "encrypt"}}), "ext");
    const std::string r = image.Root();
    Fill(r);
    fs::create_directory(r + "/secret");
    if (!Encrypt(r, r + "/secret"))
        GTEST_SKIP() << "this kernel encrypts no folders: " << std::strerror(errno);
    fs::create_directories(r + "/secret/inner");
    for (int i = 0; i < 10; ++i)
        WriteFile(r + "/secret/inner/plain name " + std::to_string(i) + ".docx", 10u * i);
    CExtEnum table;
    const auto fromTable = Keys(Scan(table, r));
    ASSERT_EQ(table.GetWalkedFolders().size(), 1u);
    EXPECT_EQ(table.GetWalkedFolders()[0].first, r + "/secret");
    EXPECT_EQ(table.GetWalkedFolders()[0].second, ExtDoubt::encrypted);
    CSimpleEnum walk;
    const auto fromWalk = Keys(Scan(walk, r));
    EXPECT_TRUE(fromTable == fromWalk) << Describe(fromTable, fromWalk);
    EXPECT_GE(fromWalk.size(), 200u);
}

TEST(ExtImage, ACaseFoldedFolderIsWalkedWhereAPathLeftOutLiesBelowIt) {
    CExtImage image;
    MAKE_IMAGE_OR_SKIP(image, (CExtImage::Options{"64M", {"-O", "casefold"}}), "ext");
    const std::string r = image.Root();
    fs::create_directory(r + "/cf");
    const int fd = ::open((r + "/cf").c_str(), O_RDONLY | O_DIRECTORY);
    int nFlags = 0;
    ::ioctl(fd, FS_IOC_GETFLAGS, &nFlags);
    nFlags |= 0x40000000; // case-folded
    const bool bSet = ::ioctl(fd, FS_IOC_SETFLAGS, &nFlags) == 0;
    ::close(fd);
    if (!bSet)
        GTEST_SKIP() << "this kernel folds no folders: " << std::strerror(errno);
    fs::create_directories(r + "/cf/Cache");
    WriteFile(r + "/cf/Cache/a.doc", 1);
    WriteFile(r + "/cf/b.doc", 2);
    for (const bool bExcluded : {false, true}) {
        CExtEnum table;
        if (bExcluded)
            table.AddExclusion(r + "/cf/cache"); // the kernel finds it, bytes do not
        const auto found = Scan(table, r);
        EXPECT_EQ(table.GetWalkedFolders().size(), bExcluded ? 1u : 0u);
        CSimpleEnum walk;
        if (bExcluded)
            walk.AddExclusion(r + "/cf/cache");
        EXPECT_TRUE(Keys(found) == Keys(Scan(walk, r)));
    }
}

// The table names every file of every folder: a member of the disk group may open the
// device, but not every folder, and walks.
TEST(ExtImage, ADiskGroupMemberWithoutTheRightToReadEveryFolderWalks) {
    CExtImage image;
    MAKE_IMAGE_OR_SKIP(image, CExtImage::Options{}, "ext");
    const std::string r = image.Root();
    EXPECT_TRUE(MayReadEveryFolder());
    EXPECT_TRUE(CanOpenVolumeForRawRead(r));
    const group* pDisk = ::getgrnam("disk");
    if (!pDisk)
        GTEST_SKIP() << "no disk group here";
    const gid_t nDisk = pDisk->gr_gid;
    // Our own loop device, as udev gives block devices to the group where it runs.
    std::string strDevice;
    ASSERT_EQ(LocateVolumeSource(r, strDevice), 0u);
    struct stat st;
    ASSERT_EQ(::stat(strDevice.c_str(), &st), 0);
    ASSERT_EQ(::chown(strDevice.c_str(), st.st_uid, nDisk), 0);
    ASSERT_EQ(::chmod(strDevice.c_str(), 0660), 0);
    struct Restore {
        std::string strDevice;
        struct stat st;
        ~Restore() {
            // Best effort: the loop device goes with the test, whoever owns it.
            [[maybe_unused]] const int nChown = ::chown(strDevice.c_str(), st.st_uid, st.st_gid);
            ::chmod(strDevice.c_str(), st.st_mode & 07777);
        }
    } restore{strDevice, st};
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(1, &nDisk) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        const std::shared_ptr<const IVolumeTable> pMounts(CreateMountTable());
        const auto pFolders = CreateFolderTable({r}, pMounts);
        const ScanSetup setup = SystemScanSetup();
        int nResult = 0;
        nResult |= CanOpenVolumeForRawRead(r) ? 1 : 0; // the device: the group may read it
        nResult |= MayReadEveryFolder() ? 2 : 0;
        nResult |= UsesVolumeEnum(setup, *pFolders, r, "ext4") ? 4 : 0;
        ::_exit(nResult);
    }
    int nStatus = 0;
    ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 1) << "1: the device may be opened; 2: every folder read; 4: "
                                          "the table chosen (10: the user not changed)";
}

// A loop of creates, renames and deletes in the volume while its table is read: nothing
// crashes, and every file reported is one a walk could have seen at some moment.
TEST(ExtImage, ALiveVolumeGivesOnlyFilesThatExistedAsTheyWere) {
    CExtImage image;
    MAKE_IMAGE_OR_SKIP(image, CExtImage::Options{}, "ext");
    const std::string r = image.Root();
    fs::create_directories(r + "/static");
    for (int i = 0; i < 200; ++i)
        WriteFile(r + "/static/s" + std::to_string(i) + ".doc", static_cast<std::size_t>(i));
    fs::create_directories(r + "/churn/sub");
    std::mutex lock;
    std::map<std::string, std::int64_t> made; // every name ever made, with its size
    std::atomic<bool> bStop{false};
    std::thread churn([&] {
        for (int i = 0; !bStop; ++i) {
            const std::string strNew = r + "/churn/c" + std::to_string(i) + ".doc";
            const std::string strMoved = r + "/churn/sub/m" + std::to_string(i) + ".doc";
            const auto nSize = static_cast<std::int64_t>((i % 5) * 1000);
            {
                std::lock_guard g(lock);
                made[strNew] = made[strMoved] = nSize;
            }
            WriteFile(strNew, static_cast<std::size_t>(nSize));
            fs::rename(strNew, strMoved);
            if (i >= 3)
                fs::remove(r + "/churn/sub/m" + std::to_string(i - 3) + ".doc");
        }
    });
    for (int nRound = 0; nRound < 3; ++nRound) {
        CExtEnum table;
        std::size_t nStatic = 0;
        for (const FoundFile& f : Scan(table, r)) {
            const std::string& p = f.prop.m_strPath;
            if (p.starts_with(r + "/static/")) {
                ++nStatic;
                continue;
            }
            std::lock_guard g(lock);
            auto it = made.find(p);
            ASSERT_NE(it, made.end()) << p << " never existed";
            // Just made, a file has no size yet.
            EXPECT_TRUE(f.prop.m_nSize == it->second || f.prop.m_nSize == 0) << p;
        }
        EXPECT_EQ(nStatic, 200u);
    }
    bStop = true;
    churn.join();
}
