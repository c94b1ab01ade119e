#include "VolumeSource.h"

#include "ExtFormat.h"
#include "NtfsFileRecord.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A FUSE mount names its image file (or device) as its source, and anyone may mount one:
// reading a source the mounting user could not read would hand the names of its files
// to that user's filesystem, in the lookups of the report.
DWORD LocateFuseSource(const MountEntry& mount, std::string& strSource) {
    if (mount.strSource.empty() || mount.strSource.front() != '/')
        return ENODEV;
    struct stat st;
    if (::stat(mount.strSource.c_str(), &st) != 0)
        return static_cast<DWORD>(errno);
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        return ENODEV;
    std::string strOwner;
    uid_t nOwner = 0;
    if (!GetFsOption(mount, "user_id", strOwner) ||
        std::from_chars(strOwner.data(), strOwner.data() + strOwner.size(), nOwner).ptr !=
            strOwner.data() + strOwner.size() ||
        strOwner.empty())
        return EACCES;
    if (nOwner != 0 && st.st_uid != nOwner)
        return EACCES;
    strSource = mount.strSource;
    return 0;
}

class CSystemVolumeOpener final : public IVolumeOpener {
public:
    explicit CSystemVolumeOpener(std::string strMountInfo)
        : m_strMountInfo(std::move(strMountInfo)) {}

    DWORD Open(const std::string& strMountPoint,
               std::unique_ptr<IBlockReader>& pReader) const override {
        std::string strSource;
        if (DWORD dw = LocateVolumeSource(strMountPoint, strSource, m_strMountInfo))
            return dw;
        return OpenVolumeSource(strSource, pReader);
    }

private:
    const std::string m_strMountInfo;
};

} // namespace

bool CanonicalPath(const std::string& strPath, std::string& strCanonical) {
    char buf[PATH_MAX];
    if (!::realpath(strPath.c_str(), buf))
        return false;
    strCanonical = buf;
    return true;
}

DWORD LocateVolumeSourceIn(const std::string& strCanonical,
                           const std::vector<MountEntry>& arrMounts, std::string& strSource) {
    const MountEntry* pMount = FindMountAt(arrMounts, strCanonical);
    if (!pMount)
        return EINVAL; // no mount point, or no table to tell
    // A bind mount of a folder shows only part of the volume: its table would be
    // rebuilt under the wrong root.
    if (pMount->strRoot != "/")
        return EINVAL;
    if (major(pMount->dev) == 0)
        return LocateFuseSource(*pMount, strSource);
    strSource = BlockDeviceNode(pMount->dev);
    return strSource.empty() ? ENODEV : 0;
}

DWORD LocateVolumeSource(const std::string& strMountPoint, std::string& strSource,
                         const std::string& strMountInfo) {
    std::string strCanonical;
    if (!CanonicalPath(strMountPoint, strCanonical))
        return static_cast<DWORD>(errno);
    return LocateVolumeSourceIn(strCanonical, ReadMountEntries(strMountInfo), strSource);
}

DWORD OpenVolumeSource(const std::string& strSource, std::unique_ptr<IBlockReader>& pReader) {
    const int fd = ::open(strSource.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return static_cast<DWORD>(errno);
    // Both tables are read mostly front to back.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    pReader = std::make_unique<CFileBlockReader>(fd);
    return 0;
}

std::shared_ptr<const IVolumeOpener> SystemVolumeOpener(const std::string& strMountInfo) {
    return std::make_shared<const CSystemVolumeOpener>(strMountInfo);
}

VolumeFormat ProbeVolumeFormat(IBlockReader& reader) {
    std::uint8_t boot[kNtfsBootSectorSize];
    NtfsBootSector parsed;
    if (reader.ReadAt(0, boot, sizeof boot) == 0 && ParseNtfsBootSector(boot, sizeof boot, parsed))
        return VolumeFormat::ntfs;
    std::uint8_t super[kExtSuperblockSize];
    if (reader.ReadAt(kExtSuperblockOffset, super, sizeof super) == 0 &&
        IsExtSuperblock(super, sizeof super))
        return VolumeFormat::ext;
    return VolumeFormat::unknown;
}

bool CanOpenVolumeForRawRead(const std::string& strMountPoint, const IVolumeOpener& opener) {
    std::unique_ptr<IBlockReader> pReader;
    return opener.Open(strMountPoint, pReader) == 0 &&
           ProbeVolumeFormat(*pReader) != VolumeFormat::unknown;
}

bool CanOpenVolumeForRawRead(const std::string& strMountPoint, const std::string& strMountInfo) {
    return CanOpenVolumeForRawRead(strMountPoint, *SystemVolumeOpener(strMountInfo));
}

bool MayReadEveryFolder() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    constexpr std::uint32_t kBits = 1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH;
    return (data[0].effective & kBits) != 0;
}
