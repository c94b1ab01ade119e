// Finding the device behind a mount point: the mount table as the kernel writes it, and
// which mounts show a whole NTFS volume that may be read raw.
#include "platform/NtfsJournal.h"
#include "ScanTestSupport.h"
#include "engine/NtfsTestVolume.h"
#include "platform/LittleEndian.h"
#include "platform/VolumeTable.h"

#include <gtest/gtest.h>

#include <fstream>

#include <sys/sysmacros.h>
#include <unistd.h>

using namespace ntfs_test;

namespace {

constexpr std::uint16_t kDirectory = kNtfsRecordInUse | kNtfsRecordIsDirectory;

std::string WriteText(const std::string& strPath, const std::string& strText) {
    std::ofstream(strPath, std::ios::binary) << strText;
    return strPath;
}

std::string WriteImage(const std::string& strPath, const CTestVolume& volume) {
    const auto img = volume.Build();
    std::ofstream(strPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
    return strPath;
}

} // namespace

TEST(NtfsJournal, ReadsTheMountTableWithOptionalFieldsEscapesAndHiddenMounts) {
    CTempTree tree;
    const std::string strTable =
        WriteText(tree.Path("mountinfo"),
                  "22 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
                  "45 22 0:40 / /mnt/my\\040drive rw,relatime shared:7 master:2 - fuse "
                  "/tmp/a\\134b.img rw,user_id=0,group_id=0,allow_other\n"
                  "46 22 7:0 /Users /mnt/bind rw - fuseblk /dev/loop0 rw,user_id=0\n"
                  "47 22 7:1 / /mnt/my\\040drive rw - fuseblk /dev/loop1 rw,user_id=1000\n");
    const auto mounts = ReadMountEntries(strTable);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[0].dev, makedev(254, 1));
    EXPECT_EQ(mounts[0].strFsType, "ext4");
    EXPECT_EQ(mounts[1].strMountPoint, "/mnt/my drive");
    EXPECT_EQ(mounts[1].strSource, "/tmp/a\\b.img");
    EXPECT_EQ(mounts[2].strRoot, "/Users");
    // The last mount at a point hides the earlier ones.
    const MountEntry* pTop = FindMountAt(mounts, "/mnt/my drive");
    ASSERT_NE(pTop, nullptr);
    EXPECT_EQ(pTop->strSource, "/dev/loop1");
    std::string strValue;
    ASSERT_TRUE(GetFsOption(*pTop, "user_id", strValue));
    EXPECT_EQ(strValue, "1000");
    EXPECT_FALSE(GetFsOption(*pTop, "allow_other", strValue));
    EXPECT_EQ(FindMountAt(mounts, "/mnt/none"), nullptr);
    EXPECT_TRUE(ReadMountEntries(tree.Path("missing")).empty());
}

TEST(NtfsJournal, ReadsRawOnlyAnNtfsImageMountedWholeByItsOwner) {
    CTempTree tree;
    const std::string strPoint = tree.Folder("mnt");
    CTestVolume volume;
    volume.AddStandardRecords();
    const std::string strImage = WriteImage(tree.Path("volume.img"), volume);
    const std::string strOther = WriteText(tree.Path("other.img"), std::string(4096, '\0'));
    const std::string strUid = std::to_string(::getuid());
    const std::string strOtherUid = std::to_string(::getuid() + 1);

    struct Case {
        const char* pszWhat;
        const char* pszRoot; // the folder of the volume that the mount shows
        std::string strSource;
        std::string strOptions;
        DWORD dwLocate;
        bool bRaw;
    };
    const Case cases[] = {
        {"the owner's image", "/", strImage, "rw,user_id=" + strUid, 0, true},
        {"mounted by root for anyone", "/", strImage, "rw,user_id=0", 0, true},
        {"another user's mount of it", "/", strImage, "rw,user_id=" + strOtherUid, EACCES, false},
        {"no mounting user", "/", strImage, "rw", EACCES, false},
        {"a folder bound from it", "/Users", strImage, "rw,user_id=0", EINVAL, false},
        {"a relative source", "/", "volume.img", "rw,user_id=0", ENODEV, false},
        {"no NTFS in it", "/", strOther, "rw,user_id=0", 0, false},
    };
    for (const Case& c : cases) {
        const std::string strTable = WriteText(
            tree.Path("mountinfo"), "30 1 0:50 " + std::string(c.pszRoot) + " " + strPoint +
                                        " rw - fuseblk " + c.strSource + " " + c.strOptions + "\n");
        std::string strSource;
        EXPECT_EQ(LocateVolumeSource(strPoint, strSource, strTable), c.dwLocate) << c.pszWhat;
        if (c.dwLocate == 0) {
            EXPECT_EQ(strSource, c.strSource) << c.pszWhat;
        }
        EXPECT_EQ(CanOpenVolumeForRawRead(strPoint, strTable), c.bRaw) << c.pszWhat;
        // Only the mount point shows the whole volume.
        EXPECT_FALSE(CanOpenVolumeForRawRead(tree.Root(), strTable)) << c.pszWhat;
    }
    // This machine's own mounts: none is an NTFS volume here.
    EXPECT_FALSE(CanOpenVolumeForRawRead("/proc"));      // no device behind it
    EXPECT_FALSE(CanOpenVolumeForRawRead("/proc/self")); // no mount point
    EXPECT_FALSE(CanOpenVolumeForRawRead("/nonexistent/folder"));
}

TEST(NtfsJournal, AnswersKeptFilesFromTheirRecordsAndTheRestFromTheMount) {
    // The volume "mounted" at a folder of this machine's own filesystem: whatever the
    // journal reads through the mount comes from there.
    CTempTree tree;
    const std::string strPoint = tree.Folder("mnt");
    constexpr std::uint64_t kTicks1970 = 116'444'736'000'000'000;
    const std::vector<std::uint8_t> bytes(123, 'x');
    CTestVolume volume;
    volume.AddStandardRecords();
    volume.Set(16, CTestRecord(1)
                       .FileName(kRootReference, u"a.docx")
                       .Standard(kTicks1970 + 16'000'000'001'234'567)
                       .Resident(kNtfsAttrData, bytes));
    volume.Set(17, CTestRecord(1)
                       .FileName(kRootReference, u"link.docx")
                       .Standard(kTicks1970, 0x400)
                       .Resident(kNtfsAttrData, bytes));
    volume.Set(18, CTestRecord(1, kDirectory).FileName(kRootReference, u"Inner"));
    volume.Set(19, CTestRecord(1)
                       .FileName(NtfsReference(18, 1), u"c.docx")
                       .Standard(kTicks1970)
                       .Resident(kNtfsAttrData, bytes));
    volume.Set(20, CTestRecord(1)
                       .FileName(kRootReference, u"1969.docx")
                       .Standard(kTicks1970 - 15'000'000)
                       .Resident(kNtfsAttrData, bytes));
    volume.Set(21, CTestRecord(1)
                       .FileName(kRootReference, u"not kept.docx")
                       .Standard(kTicks1970)
                       .Resident(kNtfsAttrData, bytes));
    const std::string strImage = WriteImage(tree.Path("volume.img"), volume);
    const std::string strTable =
        WriteText(tree.Path("mountinfo"), "22 1 254:1 / / rw - ext4 /dev/vda1 rw\n"
                                          "30 22 0:50 / " +
                                              strPoint + " rw - fuseblk " + strImage +
                                              " rw,user_id=0\n31 30 0:51 / " + strPoint +
                                              "/Inner rw - tmpfs tmpfs rw\n");
    const std::string strSeven = tree.File("mnt/link.docx", 7);
    tree.File("mnt/not kept.docx", 9);

    auto pJournal = CreateVolumeJournal(strTable);
    EXPECT_EQ(pJournal->GetVolumeRoot(tree.Folder("mnt/Users/Bob")), strPoint);
    ASSERT_EQ(pJournal->Open(strPoint), 0u);
    // Answers of a record or two each: only what the last answer holds can be kept.
    std::vector<std::uint8_t> buffer(8 + 576 + 250);
    std::size_t nReturned = 0;
    int nAnswers = 0;
    for (MFT_ENUM_DATA_V0 in{};
         pJournal->Enumerate(in, buffer.data(), buffer.size(), nReturned) == 0;
         in.StartFileReferenceNumber = ReadLe64(buffer.data())) {
        ++nAnswers;
        for (std::uint64_t nRecord : {16, 17, 19, 20})
            pJournal->KeepFile(NtfsReference(nRecord, 1));
    }
    EXPECT_GE(nAnswers, 2);

    struct Case {
        const char* pszWhat;
        std::uint64_t nReference;
        std::string strPath;
        DWORD dwResult;
        std::int64_t nSize;
        std::timespec mtime;
    };
    const Case cases[] = {
        // Nothing lies at the path: the record alone answers.
        {"from its record",
         NtfsReference(16, 1),
         strPoint + "/a.docx",
         0,
         123,
         {1'600'000'000, 123'456'700}},
        {"before 1970, whole seconds toward 1970",
         NtfsReference(20, 1),
         strPoint + "/1969.docx",
         0,
         123,
         {-1, 0}},
        {"a record that does not say for sure", NtfsReference(17, 1), strSeven, 0, 7, {}},
        {"a record that was not kept", NtfsReference(21, 1), strPoint + "/not kept.docx", 0, 9, {}},
        {"a reference of another sequence", NtfsReference(16, 2), strSeven, 0, 7, {}},
        {"hidden by a mount inside the volume",
         NtfsReference(19, 1),
         strPoint + "/Inner/c.docx",
         EXDEV,
         0,
         {}},
        {"neither", NtfsReference(21, 1), strPoint + "/gone.docx", ENOENT, 0, {}},
        {"asked again, out of table order",
         NtfsReference(16, 1),
         strPoint + "/a.docx",
         0,
         123,
         {1'600'000'000, 123'456'700}},
    };
    for (const Case& c : cases) {
        FileAttributes attr;
        EXPECT_EQ(pJournal->GetFileAttributes(c.nReference, c.strPath, attr), c.dwResult)
            << c.pszWhat;
        if (c.dwResult != 0)
            continue;
        EXPECT_EQ(attr.kind, EntryKind::File) << c.pszWhat;
        EXPECT_EQ(attr.nSize, c.nSize) << c.pszWhat;
        if (c.mtime.tv_sec != 0) {
            EXPECT_EQ(attr.mtime.tv_sec, c.mtime.tv_sec) << c.pszWhat;
            EXPECT_EQ(attr.mtime.tv_nsec, c.mtime.tv_nsec) << c.pszWhat;
        }
    }
    pJournal->Close();
    FileAttributes attr;
    EXPECT_EQ(pJournal->GetFileAttributes(NtfsReference(16, 1), strPoint + "/a.docx", attr),
              static_cast<DWORD>(ENOENT))
        << "closing forgets the kept files";
}
