#include "VolumeTable.h"

#include "MountTable.h"
#include "NtfsFileRecord.h"
#include "Path.h"
#include "VolumeSource.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <set>
#include <string_view>

#include <blkid/blkid.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using namespace std::string_view_literals;

// Kernel and desktop pseudo filesystems: no files a user keeps, no drives at all.
constexpr std::array kPseudo = {
    "proc"sv,         "sysfs"sv,       "cgroup"sv,     "cgroup2"sv,     "devpts"sv,
    "devtmpfs"sv,     "debugfs"sv,     "tracefs"sv,    "securityfs"sv,  "pstore"sv,
    "bpf"sv,          "configfs"sv,    "fusectl"sv,    "mqueue"sv,      "hugetlbfs"sv,
    "autofs"sv,       "binfmt_misc"sv, "efivarfs"sv,   "rpc_pipefs"sv,  "nsfs"sv,
    "selinuxfs"sv,    "smackfs"sv,     "nfsd"sv,       "sockfs"sv,      "pipefs"sv,
    "anon_inodefs"sv, "binder"sv,      "rootfs"sv,     "devfs"sv,       "usbfs"sv,
    "xenfs"sv,        "spufs"sv,       "fuse.lxcfs"sv, "fuse.portal"sv, "cgroupfs"sv,
};

// Network filesystems, kernel and FUSE.
constexpr std::array kNetwork = {
    "nfs"sv,
    "nfs4"sv,
    "cifs"sv,
    "smb3"sv,
    "smbfs"sv,
    "ceph"sv,
    "glusterfs"sv,
    "9p"sv,
    "afs"sv,
    "ncpfs"sv,
    "coda"sv,
    "lustre"sv,
    "orangefs"sv,
    "beegfs"sv,
    "gpfs"sv,
    "davfs"sv,
    "virtiofs"sv,
    "drvfs"sv,
    "fuse.sshfs"sv,
    "fuse.rclone"sv,
    "fuse.s3fs"sv,
    "fuse.gcsfuse"sv,
    "fuse.glusterfs"sv,
    "fuse.ceph-fuse"sv,
    "fuse.davfs2"sv,
    "fuse.curlftpfs"sv,
    "fuse.gvfsd-fuse"sv,
    "fuse.goofys"sv,
    "fuse.blobfuse"sv,
    "fuse.juicefs"sv,
    "fuse.mergerfs.remote"sv,
};

// Read-only images and overlay layers: drives, but not fixed ones.
constexpr std::array kImagesAndLayers = {
    "squashfs"sv, "erofs"sv,         "cramfs"sv,          "overlay"sv,
    "aufs"sv,     "fuse.snapfuse"sv, "fuse.squashfuse"sv, "fuse.fuse-overlayfs"sv,
};

template <std::size_t N> bool In(const std::array<std::string_view, N>& list, std::string_view s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

// An NTFS driver that runs under FUSE and names itself: "fuseblk.ntfs-3g" and so on.
bool IsNtfsFuseType(std::string_view strType) {
    const std::size_t nDot = strType.find('.');
    if (nDot == std::string_view::npos ||
        (strType.substr(0, nDot) != "fuse" && strType.substr(0, nDot) != "fuseblk"))
        return false;
    const std::string_view strSubtype = strType.substr(nDot + 1);
    return strSubtype == "ntfs" || strSubtype == "ntfs-3g" || strSubtype == "lowntfs-3g";
}

// What libblkid last found on a device it probed, from its cache: a user who may not
// read the device (an ntfs-3g mount) still learns that it is NTFS. Nothing is probed
// or written here.
bool CachedAsNtfs(const std::string& strDevice) {
    blkid_cache cache = nullptr;
    if (blkid_get_cache(&cache, nullptr) != 0)
        return false;
    bool bNtfs = false;
    if (blkid_dev dev = blkid_get_dev(cache, strDevice.c_str(), 0)) {
        blkid_tag_iterate it = blkid_tag_iterate_begin(dev);
        const char* pszType = nullptr;
        const char* pszValue = nullptr;
        while (it && blkid_tag_next(it, &pszType, &pszValue) == 0) {
            if (std::string_view(pszType) == "TYPE")
                bNtfs = std::string_view(pszValue) == "ntfs";
        }
        blkid_tag_iterate_end(it);
    }
    blkid_put_cache(cache);
    return bNtfs;
}

struct Mount {
    int nId = 0;
    dev_t dev = 0;
    std::string strRoot;   // the folder of the filesystem that is mounted
    std::string strTarget; // the mount point
    std::string strType;
    std::string strSource;
    std::string strFsOptions;
    bool bDrive = false;
    UINT nType = DRIVE_UNKNOWN;
};

std::vector<Mount> ReadMountInfo(const std::string& strPath) {
    std::vector<Mount> mounts;
    for (MountEntry& e : ReadMountEntries(strPath))
        mounts.push_back({e.nId, e.dev, std::move(e.strRoot), std::move(e.strMountPoint),
                          std::move(e.strFsType), std::move(e.strSource),
                          std::move(e.strFsOptions)});
    return mounts;
}

UINT TypeOf(const Mount& m, const IBlockDevices& devices) {
    if (In(kNetwork, m.strType))
        return DRIVE_REMOTE;
    if (m.strType == "iso9660" || m.strType == "udf")
        return DRIVE_CDROM;
    if (m.strType == "tmpfs" || m.strType == "ramfs")
        return DRIVE_RAMDISK;
    if (In(kImagesAndLayers, m.strType))
        return DRIVE_UNKNOWN;

    dev_t dev = major(m.dev) != 0 ? m.dev : devices.DeviceOf(m.strSource);
    if (major(dev) != 0)
        return devices.IsRemovable(dev) == 1 ? DRIVE_REMOVABLE : DRIVE_FIXED;

    const bool bFuse =
        m.strType == "fuse" || m.strType == "fuseblk" || m.strType.starts_with("fuse.");
    if (bFuse) // a FUSE filesystem is local only when it serves an image file
        return devices.IsImageFile(m.strSource) ? DRIVE_FIXED : DRIVE_UNKNOWN;
    return DRIVE_FIXED; // local filesystems without a block device, such as zfs
}

class CMountTable final : public IVolumeTable {
public:
    CMountTable(const std::string& strMountInfo, std::shared_ptr<const IBlockDevices> pDevices)
        : m_pDevices(std::move(pDevices)) {
        std::vector<Mount> all = ReadMountInfo(strMountInfo);
        // A mount point mounted over again shows only the last mount.
        for (std::size_t i = 0; i < all.size(); ++i) {
            bool bHidden = false;
            for (std::size_t j = i + 1; j < all.size() && !bHidden; ++j)
                bHidden = all[j].strTarget == all[i].strTarget;
            if (!bHidden)
                m_mounts.push_back(std::move(all[i]));
        }
        for (Mount& m : m_mounts) {
            m.bDrive = !In(kPseudo, m.strType);
            if (m.bDrive)
                m.nType = TypeOf(m, *m_pDevices);
        }
        // The same filesystem mounted again (bind mounts, a subvolume twice) is one
        // drive: the mount whose root holds the other's, the earlier one on a tie.
        for (std::size_t i = 0; i < m_mounts.size(); ++i) {
            for (std::size_t j = 0; j < m_mounts.size() && m_mounts[i].bDrive; ++j) {
                const Mount& a = m_mounts[i];
                const Mount& b = m_mounts[j];
                if (i == j || !b.bDrive || a.dev != b.dev || a.strSource != b.strSource)
                    continue;
                if (IsPathAtOrBelow(a.strRoot, b.strRoot) && (a.strRoot != b.strRoot || j < i))
                    m_mounts[i].bDrive = false;
            }
        }
    }

    std::vector<std::string> GetLogicalDrives() const override {
        std::vector<std::string> roots;
        for (const Mount& m : m_mounts) {
            if (m.bDrive)
                roots.push_back(m.strTarget);
        }
        std::sort(roots.begin(), roots.end());
        return roots;
    }

    UINT GetDriveType(const std::string& strRoot) const override {
        const Mount* p = Find(strRoot);
        return p && p->bDrive ? p->nType : DRIVE_NO_ROOT_DIR;
    }

    bool GetVolumeInformation(const std::string& strRoot, std::string& strFileSystem,
                              DWORD& dwError) const override {
        if (!m_pDevices->QueryRoot(strRoot, dwError))
            return false;
        const Mount* p = Find(strRoot);
        if (!p) {
            dwError = ENOENT;
            return false;
        }
        strFileSystem = p->strType;
        if (p->strType == "ntfs" || p->strType == "ntfs3" || IsNtfsFuseType(p->strType) ||
            ((p->strType == "fuseblk" || p->strType == "fuse") &&
             m_pDevices->HasNtfsBootSector(p->strSource, p->dev)))
            strFileSystem = "NTFS";
        return true;
    }

    std::vector<std::string> GetMountPoints() const override {
        std::vector<std::string> points;
        for (const Mount& m : m_mounts) {
            if (!ShowsWhatLiesBeneath(m))
                points.push_back(m.strTarget);
        }
        return points;
    }

    bool CanReadVolume(const std::string& strRoot) const override {
        return Find(strRoot) && m_pDevices->CanReadVolume(strRoot);
    }

private:
    // A folder of a filesystem mounted again onto itself (a service's sandbox makes
    // /home and /usr read-only this way, a rw path writable) shows the very files the
    // mount it lies on holds there: it is no other drive, and walking into it counts
    // nothing twice. A folder mounted elsewhere (/srv/www showing /home/bob/www) still is.
    bool ShowsWhatLiesBeneath(const Mount& m) const {
        const Mount* pUnder = nullptr;
        for (const Mount& o : m_mounts) {
            if (&o != &m && o.strTarget != m.strTarget &&
                IsPathAtOrBelow(m.strTarget, o.strTarget) &&
                (!pUnder || o.strTarget.size() > pUnder->strTarget.size()))
                pUnder = &o;
        }
        if (!pUnder || pUnder->dev != m.dev || pUnder->strSource != m.strSource ||
            pUnder->strType != m.strType)
            return false;
        const std::string_view strBelow =
            std::string_view(m.strTarget).substr(FolderPrefix(pUnder->strTarget).size() + 1);
        return JoinPath(pUnder->strRoot, strBelow) == m.strRoot;
    }

    const Mount* Find(const std::string& strTarget) const {
        for (const Mount& m : m_mounts) {
            if (m.strTarget == strTarget)
                return &m;
        }
        return nullptr;
    }

    std::shared_ptr<const IBlockDevices> m_pDevices;
    std::vector<Mount> m_mounts;
};

// The names mountinfo gives the file systems statfs can tell apart by their magic
// number (ext2, ext3 and ext4 share one and one driver).
std::string FileSystemNameOf(unsigned long nMagic) {
    struct Known {
        unsigned long nMagic;
        const char* pszName;
    };
    static constexpr Known kKnown[] = {
        {0xEF53, "ext4"},      {0x9123683E, "btrfs"}, {0x58465342, "xfs"},
        {0x01021994, "tmpfs"}, {0x858458F6, "ramfs"}, {0x794C7630, "overlay"},
        {0x2FC12FC1, "zfs"},   {0xF2F52010, "f2fs"},  {0x4D44, "vfat"},
        {0x2011BAB0, "exfat"}, {0x7366746E, "ntfs3"}, {0x5346544E, "ntfs"},
        {0x65735546, "fuse"},  {0x6969, "nfs"},       {0xFF534D42, "cifs"},
        {0x9660, "iso9660"},
    };
    const unsigned long nValue = nMagic & 0xFFFFFFFFul;
    for (const Known& k : kKnown) {
        if (k.nMagic == nValue)
            return k.pszName;
    }
    return "unknown";
}

class CFolderTable final : public IVolumeTable {
public:
    CFolderTable(std::vector<std::string> arrFolders, std::shared_ptr<const IVolumeTable> pMounts)
        : m_pMounts(std::move(pMounts)), m_arrMountPoints(m_pMounts->GetMountPoints()) {
        std::set<std::string> folders;
        for (const std::string& s : arrFolders)
            folders.emplace(TrimTrailingSeparators(s));
        m_arrFolders.assign(folders.begin(), folders.end());
    }

    std::vector<std::string> GetLogicalDrives() const override { return m_arrFolders; }

    UINT GetDriveType(const std::string& strRoot) const override {
        return std::binary_search(m_arrFolders.begin(), m_arrFolders.end(), strRoot)
                   ? DRIVE_FIXED
                   : DRIVE_NO_ROOT_DIR;
    }

    bool GetVolumeInformation(const std::string& strRoot, std::string& strFileSystem,
                              DWORD& dwError) const override {
        struct statfs st;
        if (::statfs(strRoot.c_str(), &st) != 0) {
            dwError = static_cast<DWORD>(errno);
            return false;
        }
        const std::string strMountPoint = MountPointOf(strRoot, m_arrMountPoints);
        if (strMountPoint.empty()) {
            // Inside a chroot whose root is no mount, or without /proc, no mount holds
            // the folder: it stands as its own volume, named by the kernel's answer.
            strFileSystem = FileSystemNameOf(static_cast<unsigned long>(st.f_type));
            return true;
        }
        return m_pMounts->GetVolumeInformation(strMountPoint, strFileSystem, dwError);
    }

    std::vector<std::string> GetMountPoints() const override {
        std::vector<std::string> points = m_arrMountPoints;
        points.insert(points.end(), m_arrFolders.begin(), m_arrFolders.end());
        return points;
    }

    // Folders on one file system are walked by one worker, one after another.
    std::string GetFileSystemId(const std::string& strRoot) const override {
        struct stat st;
        if (::stat(strRoot.c_str(), &st) != 0)
            return strRoot; // its worker finds out why
        return std::to_string(st.st_dev);
    }

    bool CanReadVolume(const std::string& strRoot) const override {
        // Only a folder that is the volume's mount point stands for the whole volume.
        return std::find(m_arrMountPoints.begin(), m_arrMountPoints.end(), strRoot) !=
                   m_arrMountPoints.end() &&
               m_pMounts->CanReadVolume(strRoot);
    }

private:
    std::shared_ptr<const IVolumeTable> m_pMounts;
    std::vector<std::string> m_arrMountPoints;
    std::vector<std::string> m_arrFolders;
};

std::string ReadFirstLine(const std::string& strPath) {
    std::ifstream in(strPath);
    std::string s;
    std::getline(in, s);
    return s;
}

class CSystemBlockDevices final : public IBlockDevices {
public:
    dev_t DeviceOf(const std::string& strSource) const override {
        struct stat st;
        if (strSource.empty() || strSource[0] != '/' || ::stat(strSource.c_str(), &st) != 0 ||
            !S_ISBLK(st.st_mode))
            return 0;
        return st.st_rdev;
    }

    int IsRemovable(dev_t dev) const override {
        std::string strSys = SysBlockPath(dev);
        char resolved[PATH_MAX];
        if (!::realpath(strSys.c_str(), resolved))
            return -1;
        std::string strDir = resolved;
        if (::access((strDir + "/partition").c_str(), F_OK) == 0)
            strDir = strDir.substr(0, strDir.rfind('/')); // a partition: ask its disk
        std::string s = ReadFirstLine(strDir + "/removable");
        return s == "1" ? 1 : s == "0" ? 0 : -1;
    }

    bool HasNtfsBootSector(const std::string& strSource, dev_t dev) const override {
        std::string strPath = strSource;
        if (major(dev) != 0) {
            std::string strNode = BlockDeviceNode(dev);
            if (!strNode.empty())
                strPath = strNode;
        }
        int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return CachedAsNtfs(strPath);
        std::uint8_t sector[kNtfsBootSectorSize];
        NtfsBootSector boot;
        bool bNtfs = ::pread(fd, sector, sizeof sector, 0) == static_cast<ssize_t>(sizeof sector) &&
                     ParseNtfsBootSector(sector, sizeof sector, boot);
        ::close(fd);
        return bNtfs;
    }

    bool IsImageFile(const std::string& strSource) const override {
        struct stat st;
        return !strSource.empty() && ::stat(strSource.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    bool QueryRoot(const std::string& strRoot, DWORD& dwError) const override {
        struct statfs st;
        if (::statfs(strRoot.c_str(), &st) == 0)
            return true;
        dwError = static_cast<DWORD>(errno);
        return false;
    }

    bool CanReadVolume(const std::string& strMountPoint) const override {
        return CanOpenVolumeForRawRead(strMountPoint);
    }

private:
    static std::string SysBlockPath(dev_t dev) {
        return "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    }
};

} // namespace

const char* DriveTypeName(UINT nType) {
    switch (nType) {
    case DRIVE_UNKNOWN:
        return "DRIVE_UNKNOWN";
    case DRIVE_NO_ROOT_DIR:
        return "DRIVE_NO_ROOT_DIR";
    case DRIVE_REMOVABLE:
        return "DRIVE_REMOVABLE";
    case DRIVE_FIXED:
        return "DRIVE_FIXED";
    case DRIVE_REMOTE:
        return "DRIVE_REMOTE";
    case DRIVE_CDROM:
        return "DRIVE_CDROM";
    case DRIVE_RAMDISK:
        return "DRIVE_RAMDISK";
    default:
        return "Unknown";
    }
}

std::shared_ptr<const IBlockDevices> SystemBlockDevices() {
    static const auto instance = std::make_shared<const CSystemBlockDevices>();
    return instance;
}

std::unique_ptr<IVolumeTable> CreateMountTable(const std::string& strMountInfo,
                                               std::shared_ptr<const IBlockDevices> pDevices) {
    return std::make_unique<CMountTable>(strMountInfo, std::move(pDevices));
}

std::unique_ptr<IVolumeTable> CreateFolderTable(std::vector<std::string> arrFolders,
                                                std::shared_ptr<const IVolumeTable> pMounts) {
    return std::make_unique<CFolderTable>(std::move(arrFolders), std::move(pMounts));
}

std::string MountPointOf(std::string_view strPath, const std::vector<std::string>& arrMountPoints) {
    const std::string* pBest = nullptr;
    for (const std::string& s : arrMountPoints) {
        if (IsPathAtOrBelow(strPath, s) && (!pBest || s.size() > pBest->size()))
            pBest = &s;
    }
    return pBest ? *pBest : std::string();
}

std::vector<std::string> MountsInside(const std::vector<MountEntry>& arrMounts,
                                      const std::string& strCanonical, std::string_view strRoot) {
    std::vector<std::string> arrInside;
    const std::string_view strPrefix = FolderPrefix(strRoot);
    for (const MountEntry& m : arrMounts) {
        if (m.strMountPoint != strCanonical && IsPathAtOrBelow(m.strMountPoint, strCanonical))
            arrInside.push_back(
                std::string(strPrefix) +
                m.strMountPoint.substr(strCanonical == "/" ? 0 : strCanonical.size()));
    }
    return arrInside;
}
