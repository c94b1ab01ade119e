#include "platform/VolumeTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const std::string kDir = TARROW_MOUNTINFO_DIR;

// Devices as the fixtures' machines had them.
class CFixtureDevices final : public IBlockDevices {
public:
    dev_t DeviceOf(const std::string& strSource) const override {
        return strSource == "/dev/sda2" ? makedev(8, 2) : 0;
    }
    // The container's disk (254:1) has no sysfs entry there: its flag is unknown.
    int IsRemovable(dev_t dev) const override {
        return dev == makedev(8, 17) ? 1 : major(dev) == 254 ? -1 : 0;
    }
    bool HasNtfsBootSector(const std::string& strSource, dev_t) const override {
        return strSource == "/dev/sda3";
    }
    bool IsImageFile(const std::string&) const override { return false; }
    bool QueryRoot(const std::string& strRoot, DWORD& dwError) const override {
        if (m_refused.count(strRoot)) {
            dwError = EACCES;
            return false;
        }
        return true;
    }
    bool CanReadVolume(const std::string& strRoot) const override { return strRoot == "/mnt/win"; }
    std::set<std::string> m_refused;
};

std::map<std::string, std::string> Drives(const IVolumeTable& t) {
    std::map<std::string, std::string> m;
    for (const std::string& s : t.GetLogicalDrives())
        m[s] = DriveTypeName(t.GetDriveType(s));
    return m;
}

std::unique_ptr<IVolumeTable> Table(const std::string& strFixture,
                                    std::shared_ptr<CFixtureDevices> p = nullptr) {
    return CreateMountTable(kDir + "/" + strFixture, p ? p : std::make_shared<CFixtureDevices>());
}

} // namespace

TEST(VolumeTable, DesktopWithUsbStickCdNetworkShareAndNtfsPartition) {
    auto t = Table("desktop.txt");
    std::vector<std::string> order = t->GetLogicalDrives();
    EXPECT_EQ(order, (std::vector<std::string>{"/", "/boot/efi", "/dev/shm", "/home",
                                               "/media/bob/CD ROM", "/media/bob/My Disk",
                                               "/media/bob/STICK", "/mnt/nas", "/mnt/win", "/run",
                                               "/run/user/1000", "/run/user/1000/gvfs"}));
    std::map<std::string, std::string> expected = {
        {"/", "DRIVE_FIXED"},
        {"/boot/efi", "DRIVE_FIXED"},
        {"/dev/shm", "DRIVE_RAMDISK"},
        {"/home", "DRIVE_FIXED"},
        {"/media/bob/CD ROM", "DRIVE_CDROM"},
        {"/media/bob/My Disk", "DRIVE_FIXED"},
        {"/media/bob/STICK", "DRIVE_REMOVABLE"},
        {"/mnt/nas", "DRIVE_REMOTE"},
        {"/mnt/win", "DRIVE_FIXED"},
        {"/run", "DRIVE_RAMDISK"},
        {"/run/user/1000", "DRIVE_RAMDISK"},
        {"/run/user/1000/gvfs", "DRIVE_REMOTE"},
    };
    EXPECT_EQ(Drives(*t), expected);
    // Pseudo filesystems and the bind mount of a folder of /home are no drives.
    EXPECT_EQ(t->GetDriveType("/proc"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(t->GetDriveType("/srv/www"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(t->GetDriveType("/nowhere"), DRIVE_NO_ROOT_DIR);
    // ...but they are mount points all the same: workers never walk into them.
    std::vector<std::string> points = t->GetMountPoints();
    for (const char* psz : {"/proc", "/sys/kernel/debug", "/srv/www", "/run/user/1000/doc"})
        EXPECT_NE(std::find(points.begin(), points.end(), psz), points.end()) << psz;
}

TEST(VolumeTable, FileSystemNames) {
    auto p = std::make_shared<CFixtureDevices>();
    p->m_refused.insert("/home");
    auto t = Table("desktop.txt", p);
    std::string strFs;
    DWORD dwError = 0;
    ASSERT_TRUE(t->GetVolumeInformation("/", strFs, dwError));
    EXPECT_EQ(strFs, "ext4");
    ASSERT_TRUE(t->GetVolumeInformation("/boot/efi", strFs, dwError));
    EXPECT_EQ(strFs, "vfat");
    ASSERT_TRUE(t->GetVolumeInformation("/mnt/win", strFs, dwError));
    EXPECT_EQ(strFs, "NTFS"); // a FUSE mount whose device carries an NTFS boot sector
    EXPECT_FALSE(t->GetVolumeInformation("/home", strFs, dwError));
    EXPECT_EQ(dwError, static_cast<DWORD>(EACCES));
    EXPECT_TRUE(t->CanReadVolume("/mnt/win"));
    EXPECT_FALSE(t->CanReadVolume("/"));
}

TEST(VolumeTable, NtfsUnderFuseWhenTheDeviceCannotBeRead) {
    // Mounted by ntfs-3g for a user who may not read the device: the mount table names
    // the driver when it was given a subtype; otherwise the devices are asked.
    auto t = Table("ntfs-fuse.txt");
    std::map<std::string, std::string> names;
    for (const std::string& strRoot : t->GetLogicalDrives()) {
        DWORD dwError = 0;
        ASSERT_TRUE(t->GetVolumeInformation(strRoot, names[strRoot], dwError)) << strRoot;
    }
    EXPECT_EQ(names, (std::map<std::string, std::string>{{"/", "ext4"},
                                                         {"/mnt/win", "NTFS"},
                                                         {"/mnt/data", "NTFS"},
                                                         {"/mnt/low", "NTFS"},
                                                         {"/mnt/exfat", "fuseblk"}}));
}

TEST(BlockDevices, LibblkidsCacheTellsNtfsWhenTheDeviceCannotBeRead) {
    // Sources that exist but cannot be opened, even by root (sockets), and a cache of
    // the test's own saying what libblkid once found on them.
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tarrow-blkid-" + std::to_string(::getpid()));
    std::filesystem::create_directory(dir);
    auto unopenable = [&](const char* pszName) {
        const std::string strPath = (dir / pszName).string();
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        strPath.copy(addr.sun_path, sizeof addr.sun_path - 1);
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
        return strPath;
    };
    const std::string strNtfs = unopenable("ntfs"), strExfat = unopenable("exfat"),
                      strUnknown = unopenable("unknown");
    const std::string strCache = (dir / "blkid.tab").string();
    {
        std::ofstream out(strCache);
        out << "<device DEVNO=\"0x0803\" TIME=\"1700000000.1\" TYPE=\"ntfs\">" << strNtfs
            << "</device>\n<device DEVNO=\"0x0807\" TIME=\"1700000000.1\" TYPE=\"exfat\">"
            << strExfat << "</device>\n";
    }
    const auto written = std::filesystem::last_write_time(strCache);
    ::setenv("BLKID_FILE", strCache.c_str(), 1);
    std::shared_ptr<const IBlockDevices> p = SystemBlockDevices();
    EXPECT_TRUE(p->HasNtfsBootSector(strNtfs, 0));
    EXPECT_FALSE(p->HasNtfsBootSector(strExfat, 0));
    EXPECT_FALSE(p->HasNtfsBootSector(strUnknown, 0));
    ::unsetenv("BLKID_FILE");
    EXPECT_EQ(std::filesystem::last_write_time(strCache), written); // asked, never written
    std::filesystem::remove_all(dir);
}

TEST(VolumeTable, SnapPackagesAreNotFixed) {
    auto t = Table("snaps.txt");
    std::map<std::string, std::string> expected = {
        {"/", "DRIVE_FIXED"},
        {"/run/snapd/ns", "DRIVE_RAMDISK"},
        {"/snap/core22/1380", "DRIVE_UNKNOWN"},
        {"/snap/firefox/4173", "DRIVE_UNKNOWN"},
        {"/snap/snapd/21465", "DRIVE_UNKNOWN"},
    };
    EXPECT_EQ(Drives(*t), expected);
}

TEST(VolumeTable, ContainerWithOverlayRootAndAVolume) {
    auto t = Table("container.txt");
    EXPECT_EQ(t->GetDriveType("/"), DRIVE_UNKNOWN);   // an overlay layer
    EXPECT_EQ(t->GetDriveType("/data"), DRIVE_FIXED); // an unknown removable flag: not removable
    EXPECT_EQ(t->GetDriveType("/dev"), DRIVE_RAMDISK);
    EXPECT_EQ(t->GetDriveType("/proc"), DRIVE_NO_ROOT_DIR);
}

TEST(VolumeTable, BtrfsSubvolumesZfsAndOvermountedFolders) {
    auto t = Table("btrfs.txt");
    std::map<std::string, std::string> expected = {
        {"/", "DRIVE_FIXED"},     // subvolume @, on /dev/sda2
        {"/home", "DRIVE_FIXED"}, // subvolume @home: a drive of its own
        {"/tank", "DRIVE_FIXED"}, // zfs: local, without a block device
        {"/tmp", "DRIVE_RAMDISK"},
    };
    EXPECT_EQ(Drives(*t), expected); // @home mounted again and a folder of it: one drive
    std::vector<std::string> points = t->GetMountPoints();
    EXPECT_EQ(std::count(points.begin(), points.end(), "/tmp"), 1);
}

// A service's sandbox mounts folders of the root file system again onto themselves,
// read-only or writable: the same files in the same place, walked as part of the drive.
// What shows a folder of another place, or another file system, is still a mount.
TEST(VolumeTable, FoldersMountedAgainOntoThemselvesAreWalkedWithTheirDrive) {
    auto t = Table("service.txt");
    EXPECT_EQ(t->GetLogicalDrives(),
              (std::vector<std::string>{"/", "/home/bob/data", "/run", "/run/user"}));
    std::vector<std::string> points = t->GetMountPoints();
    std::sort(points.begin(), points.end());
    EXPECT_EQ(points, (std::vector<std::string>{"/", "/dev", "/home/bob/data",
                                                "/home/bob/data/photos/music", "/proc", "/run",
                                                "/run/user", "/srv/www"}));
}

TEST(VolumeTable, UnreadableMountTableHasNoDrives) {
    auto t = Table("no-such-file.txt");
    EXPECT_TRUE(t->GetLogicalDrives().empty());
    EXPECT_TRUE(t->GetMountPoints().empty());
}

TEST(VolumeTable, FoldersStandingAsDrives) {
    std::shared_ptr<const IVolumeTable> pMounts = Table("desktop.txt");
    auto t = CreateFolderTable({"/tmp/", "/mnt/win", "/tmp"}, pMounts);
    EXPECT_EQ(t->GetLogicalDrives(), (std::vector<std::string>{"/mnt/win", "/tmp"}));
    EXPECT_EQ(t->GetDriveType("/tmp"), DRIVE_FIXED);
    EXPECT_EQ(t->GetDriveType("/"), DRIVE_NO_ROOT_DIR);
    std::string strFs;
    DWORD dwError = 0;
    ASSERT_TRUE(t->GetVolumeInformation("/tmp", strFs, dwError));
    EXPECT_EQ(strFs, "ext4");                  // the file system of the mount it lies on
    EXPECT_TRUE(t->CanReadVolume("/mnt/win")); // the NTFS mount point itself
    EXPECT_FALSE(t->CanReadVolume("/tmp"));
    std::vector<std::string> points = t->GetMountPoints();
    EXPECT_NE(std::find(points.begin(), points.end(), "/tmp"), points.end());

    auto missing = CreateFolderTable({"/no/such/folder"}, pMounts);
    EXPECT_FALSE(missing->GetVolumeInformation("/no/such/folder", strFs, dwError));
    EXPECT_EQ(dwError, static_cast<DWORD>(ENOENT));
}

// In a chroot the kernel lists no mount reaching the root, or /proc is not there at
// all: a folder named is still scanned, as a volume of its own.
TEST(VolumeTable, FolderThatNoMountHolds) {
    const std::string strTemp = std::filesystem::temp_directory_path().string();
    for (const char* pszFixture : {"chroot.txt", "no-such-file.txt"}) {
        SCOPED_TRACE(pszFixture);
        auto t = CreateFolderTable({strTemp, "/no/such/folder"}, Table(pszFixture));
        std::string strFs;
        DWORD dwError = 0;
        ASSERT_TRUE(t->GetVolumeInformation(strTemp, strFs, dwError)) << dwError;
        EXPECT_FALSE(strFs.empty());
        EXPECT_NE(strFs, "NTFS");
        EXPECT_FALSE(t->CanReadVolume(strTemp));
        EXPECT_FALSE(t->GetVolumeInformation("/no/such/folder", strFs, dwError));
        EXPECT_EQ(dwError, static_cast<DWORD>(ENOENT));
    }
}

TEST(VolumeTable, FoldersOfOneFileSystemShareAWorker) {
    std::shared_ptr<const IVolumeTable> pMounts = Table("desktop.txt");
    const std::string strTemp = std::filesystem::temp_directory_path().string();
    auto t = CreateFolderTable({strTemp, "/proc", "/proc/self", "/no/such/folder"}, pMounts);
    EXPECT_EQ(t->GetFileSystemId(strTemp), t->GetFileSystemId(strTemp + "/."));
    EXPECT_EQ(t->GetFileSystemId("/proc"), t->GetFileSystemId("/proc/self"));
    EXPECT_NE(t->GetFileSystemId(strTemp), t->GetFileSystemId("/proc"));
    // A folder that cannot be queried is a file system of its own.
    EXPECT_NE(t->GetFileSystemId("/no/such/folder"), t->GetFileSystemId("/no/such/other"));
    // Drives of the mount table are each a file system of their own.
    EXPECT_NE(pMounts->GetFileSystemId("/"), pMounts->GetFileSystemId("/home"));
}

TEST(VolumeTable, MountPointOfAPath) {
    std::vector<std::string> points = {"/", "/home", "/home/bob/nas", "/homework"};
    EXPECT_EQ(MountPointOf("/home/bob/a.doc", points), "/home");
    EXPECT_EQ(MountPointOf("/home", points), "/home");
    EXPECT_EQ(MountPointOf("/homework/x", points), "/homework");
    EXPECT_EQ(MountPointOf("/home/bob/nas/y", points), "/home/bob/nas");
    EXPECT_EQ(MountPointOf("/usr/bin", points), "/");
    EXPECT_EQ(MountPointOf("relative", points), "");
    EXPECT_TRUE(IsPathAtOrBelow("/a/b", "/a/"));
    EXPECT_FALSE(IsPathAtOrBelow("/ab", "/a"));
}

TEST(DriveTypeName, EveryValue) {
    EXPECT_STREQ(DriveTypeName(0), "DRIVE_UNKNOWN");
    EXPECT_STREQ(DriveTypeName(1), "DRIVE_NO_ROOT_DIR");
    EXPECT_STREQ(DriveTypeName(3), "DRIVE_FIXED");
    EXPECT_STREQ(DriveTypeName(6), "DRIVE_RAMDISK");
    EXPECT_STREQ(DriveTypeName(7), "Unknown");
}
