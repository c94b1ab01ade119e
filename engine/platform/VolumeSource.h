// The bytes of a mounted volume, for the readers of its own tables (NTFS, ext2/3/4):
// which device or image is behind a mount point, whether this process may read it, and
// opening it read-only. The one place every raw reader gets its bytes from.
#pragma once

#include "BlockReader.h"
#include "MountTable.h"

#include <memory>
#include <string>
#include <vector>

inline constexpr const char* kSystemMountInfo = "/proc/self/mountinfo";

// The device or image file behind a mount point that shows a whole volume: for a block
// device, its node in /dev; for a FUSE mount of an image file, its source path. 0 and
// the path, or an errno value (EINVAL: no mount point, or a mount of a folder only).
DWORD LocateVolumeSource(const std::string& strMountPoint, std::string& strSource,
                         const std::string& strMountInfo = kSystemMountInfo);
// The same for a canonical mount point, in a mount table already read.
DWORD LocateVolumeSourceIn(const std::string& strCanonical,
                           const std::vector<MountEntry>& arrMounts, std::string& strSource);
// The path with every link and "." or ".." resolved (realpath); false with errno set.
bool CanonicalPath(const std::string& strPath, std::string& strCanonical);

// Opens what LocateVolumeSource found, read-only: writing behind a mounted filesystem's
// back would corrupt it.
DWORD OpenVolumeSource(const std::string& strSource, std::unique_ptr<IBlockReader>& pReader);

// How the raw readers open a volume. The system's locates the device behind the mount
// and opens its node, which takes the right to read it. Another may hand out a
// descriptor it was given by a service that asked the user (a CFileBlockReader over it).
class IVolumeOpener {
public:
    virtual ~IVolumeOpener() = default;
    // A reader of the whole volume at the mount point, or the errno value (that of
    // LocateVolumeSource or of the open).
    virtual DWORD Open(const std::string& strMountPoint,
                       std::unique_ptr<IBlockReader>& pReader) const = 0;
};

// The system's, finding volumes in the given mount table.
std::shared_ptr<const IVolumeOpener>
SystemVolumeOpener(const std::string& strMountInfo = kSystemMountInfo);

enum class VolumeFormat { unknown, ntfs, ext };

// What the first bytes of a volume say it is: an NTFS boot sector, an ext2/3/4
// superblock, or neither. Cheap: two small reads.
VolumeFormat ProbeVolumeFormat(IBlockReader& reader);

// Whether the volume at the mount point can be opened for a raw read of its table and
// is one whose table is read: NTFS or ext2/3/4.
bool CanOpenVolumeForRawRead(const std::string& strMountPoint,
                             const std::string& strMountInfo = kSystemMountInfo);
bool CanOpenVolumeForRawRead(const std::string& strMountPoint, const IVolumeOpener& opener);

// Whether this process may list and look into every folder whatever its permissions:
// it holds CAP_DAC_READ_SEARCH (or CAP_DAC_OVERRIDE, which includes it) in its
// effective set, as root normally does. Group membership (disk) does not count.
bool MayReadEveryFolder();
