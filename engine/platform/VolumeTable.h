// Drives and volumes: which mounted filesystems are drives, of what type, carrying
// which file system. Read afresh for each scan from the kernel's mount table.
//
// A drive is a mounted filesystem named by its mount point. Kernel pseudo
// filesystems are no drives at all; a filesystem mounted more than once (bind
// mounts, the same subvolume twice) is one drive.
#pragma once

#include "MountTable.h"
#include "Path.h"
#include "Types.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

inline constexpr UINT DRIVE_UNKNOWN = 0;
inline constexpr UINT DRIVE_NO_ROOT_DIR = 1;
inline constexpr UINT DRIVE_REMOVABLE = 2;
inline constexpr UINT DRIVE_FIXED = 3;
inline constexpr UINT DRIVE_REMOTE = 4;
inline constexpr UINT DRIVE_CDROM = 5;
inline constexpr UINT DRIVE_RAMDISK = 6;

// "DRIVE_FIXED" and so on; "Unknown" for any other value.
const char* DriveTypeName(UINT nType);

// All operations are safe to call from several threads at once.
class IVolumeTable {
public:
    virtual ~IVolumeTable() = default;
    // The roots of every drive, of any type, in mount-point order.
    virtual std::vector<std::string> GetLogicalDrives() const = 0;
    // DRIVE_NO_ROOT_DIR for a root that names no drive.
    virtual UINT GetDriveType(const std::string& strRoot) const = 0;
    // The file-system name ("NTFS" for an NTFS volume whatever the driver); false
    // with the error code when the root cannot be queried.
    virtual bool GetVolumeInformation(const std::string& strRoot, std::string& strFileSystem,
                                      DWORD& dwError) const = 0;
    // Every mount point, of any kind (drives or not).
    virtual std::vector<std::string> GetMountPoints() const = 0;
    // Whether the drive's volume (NTFS, ext2/3/4) can be opened for a raw read of its table.
    virtual bool CanReadVolume(const std::string& strRoot) const = 0;
    // Drives with the same answer lie on one file system: one worker scans them one
    // after another. Each drive is a file system of its own unless a table knows better.
    virtual std::string GetFileSystemId(const std::string& strRoot) const { return strRoot; }
};

// What the volume table needs to know about devices beyond the mount table.
class IBlockDevices {
public:
    virtual ~IBlockDevices() = default;
    // The device number of a block device node (the source of a mount); 0 if none.
    virtual dev_t DeviceOf(const std::string& strSource) const = 0;
    // The disk's removable-medium flag, inherited by its partitions; -1 if unknown.
    virtual int IsRemovable(dev_t dev) const = 0;
    // Whether the source (block device or image file) starts with an NTFS boot sector;
    // when it cannot be read, whether libblkid's cache knows it as NTFS.
    virtual bool HasNtfsBootSector(const std::string& strSource, dev_t dev) const = 0;
    // Whether the source is an existing regular file (a mounted image).
    virtual bool IsImageFile(const std::string& strSource) const = 0;
    // Whether the root can be queried; false with the error code.
    virtual bool QueryRoot(const std::string& strRoot, DWORD& dwError) const = 0;
    // Whether the volume of this mount (NTFS, ext2/3/4) can be opened for a raw read.
    virtual bool CanReadVolume(const std::string& strMountPoint) const = 0;
};

// The real devices: sysfs, device nodes, statfs.
std::shared_ptr<const IBlockDevices> SystemBlockDevices();

// The volume table of a mountinfo file (normally /proc/self/mountinfo).
std::unique_ptr<IVolumeTable>
CreateMountTable(const std::string& strMountInfo = "/proc/self/mountinfo",
                 std::shared_ptr<const IBlockDevices> pDevices = SystemBlockDevices());

// Folders standing as fixed drives: each is its own drive root, with the file-system
// name of the mount it lies on; mount points below them come from the real table.
std::unique_ptr<IVolumeTable> CreateFolderTable(std::vector<std::string> arrFolders,
                                                std::shared_ptr<const IVolumeTable> pMounts);

// The mount point among arrMountPoints that is the longest one at or above strPath;
// empty when none is.
std::string MountPointOf(std::string_view strPath, const std::vector<std::string>& arrMountPoints);

// The mount points strictly below a canonical mount point, spelled as paths below
// strRoot (the same folder, as the caller names it): what hides the volume's own files
// there.
std::vector<std::string> MountsInside(const std::vector<MountEntry>& arrMounts,
                                      const std::string& strCanonical, std::string_view strRoot);
