// Finding the device behind a mount point: the mount table as the kernel writes it, and
// which mounts show a whole NTFS volume that may be read raw.
#include "platform/NtfsJournal.h"
#include "ScanTestSupport.h"
#include "engine/NtfsTestVolume.h"
#include "platform/VolumeTable.h"

#include <gtest/gtest.h>

#include <fstream>

#include <sys/sysmacros.h>
#include <unistd.h>

using namespace ntfs_test;

namespace {

std::string WriteText(const std::string& strPath, const std::string& strText) {
    std::ofstream(strPath, std::ios::binary) << strText;
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
    const auto img = volume.Build();
    const std::string strImage = tree.Path("volume.img");
    std::ofstream(strImage, std::ios::binary)
        .write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
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
}

TEST(NtfsJournal, FoldersOfThisMachineThatAreNoNtfsMountsCannotBeReadRaw) {
    EXPECT_FALSE(CanOpenVolumeForRawRead("/proc"));      // no device behind it
    EXPECT_FALSE(CanOpenVolumeForRawRead("/proc/self")); // no mount point
    EXPECT_FALSE(CanOpenVolumeForRawRead("/nonexistent/folder"));
    std::string strSource;
    EXPECT_NE(LocateVolumeSource("/proc/self", strSource), 0u);
}
