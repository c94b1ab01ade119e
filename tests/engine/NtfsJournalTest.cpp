// Finding the device behind a mount point: the mount table as the kernel writes it.
#include "platform/NtfsJournal.h"

#include <gtest/gtest.h>

TEST(NtfsJournal, ParsesMountInfoWithOptionalFieldsAndEscapes) {
    const char* pszText =
        "22 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
        "45 22 0:40 / /mnt/my\\040drive rw,relatime shared:7 master:2 - fuse /tmp/a\\134b.img "
        "rw,user_id=0,group_id=0,allow_other\n"
        "garbage line\n"
        "46 22 7:0 /Users /mnt/bind rw - fuseblk /dev/loop0 rw,user_id=0\n"
        "47 22 7:1 / /mnt/my\\040drive rw - fuseblk /dev/loop1 rw,user_id=0";
    auto mounts = ParseMountInfo(pszText);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[0].nMajor, 254u);
    EXPECT_EQ(mounts[0].nMinor, 1u);
    EXPECT_EQ(mounts[0].strFsType, "ext4");
    EXPECT_EQ(mounts[1].strMountPoint, "/mnt/my drive");
    EXPECT_EQ(mounts[1].strSource, "/tmp/a\\b.img");
    EXPECT_EQ(mounts[1].strSuperOptions, "rw,user_id=0,group_id=0,allow_other");
    EXPECT_EQ(mounts[2].strRoot, "/Users");
    // The last mount at a point hides the earlier ones.
    const MountEntry* pTop = FindMount(mounts, "/mnt/my drive");
    ASSERT_NE(pTop, nullptr);
    EXPECT_EQ(pTop->strSource, "/dev/loop1");
    EXPECT_EQ(FindMount(mounts, "/mnt/none"), nullptr);
}

TEST(NtfsJournal, FoldersThatAreNoNtfsMountsCannotBeReadRaw) {
    EXPECT_FALSE(CanOpenVolumeForRawRead("/proc"));      // no device behind it
    EXPECT_FALSE(CanOpenVolumeForRawRead("/proc/self")); // no mount point
    EXPECT_FALSE(CanOpenVolumeForRawRead("/nonexistent/folder"));
    std::string strSource;
    EXPECT_NE(LocateVolumeSource("/proc/self", strSource), 0u);
}
