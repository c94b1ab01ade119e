#include "NtfsJournal.h"

#include "NtfsVolume.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A file of the proc or sys filesystems, whole (their sizes read as 0 or 4096).
bool ReadSmallFile(const char* pszPath, std::string& strText) {
    const int fd = ::open(pszPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    strText.clear();
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        strText.append(buf, static_cast<std::size_t>(n));
    }
}

// mountinfo writes space, tab, newline and backslash as a backslash and three octal
// digits.
std::string Unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && s.size() - i > 3 && s[i + 1] >= '0' && s[i + 1] <= '3' &&
            s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out +=
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool ParseUnsigned(std::string_view s, unsigned& n) {
    if (s.empty() || s.size() > 9)
        return false;
    n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

bool ParseMountLine(std::string_view strLine, MountEntry& entry) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < strLine.size()) {
        const std::size_t j = strLine.find(' ', i);
        const std::size_t nEnd = j == std::string_view::npos ? strLine.size() : j;
        if (nEnd > i)
            fields.push_back(strLine.substr(i, nEnd - i));
        i = nEnd + 1;
    }
    // id, parent, major:minor, root, mount point, options, optional fields..., "-",
    // filesystem type, source, super options.
    std::size_t nDash = 6;
    while (nDash < fields.size() && fields[nDash] != "-")
        ++nDash;
    if (fields.size() < 6 || nDash + 3 > fields.size())
        return false;
    const std::string_view strDevice = fields[2];
    const std::size_t nColon = strDevice.find(':');
    if (nColon == std::string_view::npos ||
        !ParseUnsigned(strDevice.substr(0, nColon), entry.nMajor) ||
        !ParseUnsigned(strDevice.substr(nColon + 1), entry.nMinor))
        return false;
    entry.strRoot = Unescape(fields[3]);
    entry.strMountPoint = Unescape(fields[4]);
    entry.strFsType = Unescape(fields[nDash + 1]);
    entry.strSource = Unescape(fields[nDash + 2]);
    entry.strSuperOptions = nDash + 3 < fields.size() ? Unescape(fields[nDash + 3]) : std::string();
    return true;
}

bool ReadMounts(std::vector<MountEntry>& arrMounts) {
    std::string strText;
    if (!ReadSmallFile("/proc/self/mountinfo", strText))
        return false;
    arrMounts = ParseMountInfo(strText);
    return true;
}

bool Canonical(const std::string& strPath, std::string& strCanonical) {
    char buf[PATH_MAX];
    if (!::realpath(strPath.c_str(), buf))
        return false;
    strCanonical = buf;
    return true;
}

// The user a FUSE mount was made by, from its "user_id=N" super option.
bool GetFuseOwner(const std::string& strOptions, unsigned& nUid) {
    std::string_view s = strOptions;
    std::size_t i = 0;
    while (i <= s.size()) {
        const std::size_t j = std::min(s.find(',', i), s.size());
        const std::string_view opt = s.substr(i, j - i);
        if (opt.substr(0, 8) == "user_id=")
            return ParseUnsigned(opt.substr(8), nUid);
        i = j + 1;
    }
    return false;
}

DWORD LocateBlockDevice(const MountEntry& mount, std::string& strSource) {
    const std::string strUevent = "/sys/dev/block/" + std::to_string(mount.nMajor) + ":" +
                                  std::to_string(mount.nMinor) + "/uevent";
    std::string strText;
    if (!ReadSmallFile(strUevent.c_str(), strText))
        return ENODEV;
    std::size_t i = 0;
    std::string strName;
    while (i < strText.size()) {
        const std::size_t j = std::min(strText.find('\n', i), strText.size());
        const std::string_view line = std::string_view(strText).substr(i, j - i);
        if (line.substr(0, 8) == "DEVNAME=")
            strName = line.substr(8);
        i = j + 1;
    }
    if (strName.empty() || strName.find("..") != std::string::npos)
        return ENODEV;
    strSource = "/dev/" + strName;
    // The node must be the very device the kernel mounted.
    struct stat st;
    if (::stat(strSource.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) ||
        st.st_rdev != makedev(mount.nMajor, mount.nMinor))
        return ENODEV;
    return 0;
}

// A FUSE mount names its image file (or device) as its source, and anyone may mount one:
// reading a source the mounting user could not read would hand the names of its files
// to that user's filesystem, in the lookups of the report.
DWORD LocateFuseSource(const MountEntry& mount, std::string& strSource) {
    if (mount.strSource.empty() || mount.strSource.front() != '/')
        return ENODEV;
    struct stat st;
    if (::stat(mount.strSource.c_str(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        return ENODEV;
    unsigned nOwner = 0;
    if (!GetFuseOwner(mount.strSuperOptions, nOwner))
        return EACCES;
    if (nOwner != 0 && st.st_uid != nOwner)
        return EACCES;
    strSource = mount.strSource;
    return 0;
}

class CFileBlockReader final : public IBlockReader {
public:
    explicit CFileBlockReader(int fd) : m_fd(fd) {}
    ~CFileBlockReader() override { ::close(m_fd); }
    CFileBlockReader(const CFileBlockReader&) = delete;
    CFileBlockReader& operator=(const CFileBlockReader&) = delete;

    DWORD ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) override {
        if (n == 0)
            return 0;
        while (n > 0) {
            if (nOffset > static_cast<std::uint64_t>(LLONG_MAX))
                break;
            const ssize_t nRead = ::pread(m_fd, p, n, static_cast<off_t>(nOffset));
            if (nRead < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (nRead == 0)
                break; // the end of the device: the rest reads as zeros
            p += nRead;
            n -= static_cast<std::size_t>(nRead);
            nOffset += static_cast<std::uint64_t>(nRead);
        }
        std::memset(p, 0, n);
        return 0;
    }

private:
    int m_fd;
};

// Opens the source read-only: writing behind a mounted filesystem's back would
// corrupt it.
DWORD OpenSource(const std::string& strSource, int& fd) {
    fd = ::open(strSource.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    return fd < 0 ? errno : 0;
}

class CNtfsJournal final : public IVolumeJournal {
public:
    ~CNtfsJournal() override {
        CloseRootDirectory();
        Close();
    }

    DWORD Open(const std::string& strRoot) override {
        Close();
        std::string strSource;
        if (DWORD dw = LocateVolumeSource(strRoot, strSource))
            return dw;
        struct stat st;
        if (::stat(strRoot.c_str(), &st) != 0)
            return errno;
        int fd;
        if (DWORD dw = OpenSource(strSource, fd))
            return dw;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        if (DWORD dw = m_volume.Open(std::make_unique<CFileBlockReader>(fd)))
            return dw;
        m_nDevice = st.st_dev;
        return 0;
    }

    bool IsOpen() const override { return m_volume.IsOpen(); }
    void Close() override {
        m_volume.Close();
        ForgetDirectory();
    }

    // Always an active journal: the table is there to be read.
    DWORD Query(USN_JOURNAL_DATA_V0& data) override {
        if (!IsOpen())
            return EBADF;
        data = {};
        data.UsnJournalID = m_volume.GetBootSector().nSerialNumber;
        data.MaxUsn = INT64_MAX;
        data.MaximumSize = 0x800000;
        data.AllocationDelta = 0x100000;
        return 0;
    }

    // Nothing is ever created or deleted on the volume.
    DWORD Create(const CREATE_USN_JOURNAL_DATA&) override { return EROFS; }
    DWORD DeleteAndWait(const DELETE_USN_JOURNAL_DATA&) override { return EROFS; }

    DWORD OpenRootDirectory(const std::string& strRoot) override {
        CloseRootDirectory();
        m_hRoot = ::open(strRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return m_hRoot < 0 ? errno : 0;
    }

    DWORD GetRootFileReference(std::uint64_t& nReference) override {
        struct stat st;
        if (m_hRoot < 0)
            return EBADF;
        if (::fstat(m_hRoot, &st) != 0)
            return errno;
        // The folder must still be the root of the volume that was opened.
        if (!IsOpen() || st.st_dev != m_nDevice)
            return EXDEV;
        return m_volume.GetRootReference(nReference);
    }

    void CloseRootDirectory() override {
        if (m_hRoot >= 0)
            ::close(m_hRoot);
        m_hRoot = -1;
    }

    DWORD Enumerate(const MFT_ENUM_DATA_V0& in, std::uint8_t* pBuffer, std::size_t nSize,
                    std::size_t& nReturned) override {
        return m_volume.Enumerate(in.StartFileReferenceNumber, pBuffer, nSize, nReturned);
    }

    DWORD GetFileAttributes(const std::string& strPath, FileAttributes& attr) override {
        // Kept files come in table order, where the files of one folder mostly lie
        // together: the folder is looked up once, each file then by its name alone.
        const std::size_t nSlash = strPath.rfind('/');
        if (nSlash == std::string::npos || nSlash + 1 == strPath.size())
            return EINVAL;
        const std::string_view strDir(strPath.data(), nSlash == 0 ? 1 : nSlash);
        if (!m_bDirKnown || strDir != m_strDir) {
            if (m_hDir >= 0)
                ::close(m_hDir);
            m_strDir = strDir;
            m_hDir = ::open(m_strDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            m_dwDirError = m_hDir < 0 ? errno : 0;
            m_bDirKnown = true;
        }
        if (m_hDir < 0)
            return m_dwDirError;
        struct stat st;
        if (::fstatat(m_hDir, strPath.c_str() + nSlash + 1, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno;
        // A path that leads onto another filesystem mounted inside the volume names
        // some other file than the record it was built from.
        if (st.st_dev != m_nDevice)
            return EXDEV;
        if (S_ISREG(st.st_mode))
            attr.kind = EntryKind::File;
        else if (S_ISDIR(st.st_mode))
            attr.kind = EntryKind::Directory;
        else if (S_ISLNK(st.st_mode))
            attr.kind = EntryKind::Symlink;
        else
            attr.kind = EntryKind::Other;
        attr.nSize = static_cast<std::int64_t>(st.st_size);
        attr.mtime = st.st_mtim;
        return 0;
    }

    std::string GetVolumeRoot(const std::string& strPath) override {
        std::string strCanonical;
        std::vector<MountEntry> arrMounts;
        if (!Canonical(strPath, strCanonical) || !ReadMounts(arrMounts))
            return strPath;
        std::string strBest;
        for (const MountEntry& m : arrMounts) {
            const std::string& mp = m.strMountPoint;
            const bool bBelow =
                strCanonical.compare(0, mp.size(), mp) == 0 &&
                (strCanonical.size() == mp.size() || mp == "/" || strCanonical[mp.size()] == '/');
            if (bBelow && mp.size() >= strBest.size())
                strBest = mp;
        }
        return strBest.empty() ? strPath : strBest;
    }

private:
    void ForgetDirectory() {
        if (m_hDir >= 0)
            ::close(m_hDir);
        m_hDir = -1;
        m_bDirKnown = false;
        m_strDir.clear();
    }

    CNtfsVolume m_volume;
    dev_t m_nDevice = 0;
    int m_hRoot = -1;
    // The folder of the last attribute read, open for lookups by name (-1: it could
    // not be opened).
    std::string m_strDir;
    int m_hDir = -1;
    DWORD m_dwDirError = 0;
    bool m_bDirKnown = false;
};

} // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view strText) {
    std::vector<MountEntry> arrMounts;
    std::size_t i = 0;
    while (i < strText.size()) {
        const std::size_t j = std::min(strText.find('\n', i), strText.size());
        MountEntry entry;
        if (ParseMountLine(strText.substr(i, j - i), entry))
            arrMounts.push_back(std::move(entry));
        i = j + 1;
    }
    return arrMounts;
}

const MountEntry* FindMount(const std::vector<MountEntry>& arrMounts,
                            std::string_view strMountPoint) {
    const MountEntry* pFound = nullptr;
    for (const MountEntry& m : arrMounts) {
        if (m.strMountPoint == strMountPoint)
            pFound = &m;
    }
    return pFound;
}

DWORD LocateVolumeSource(const std::string& strMountPoint, std::string& strSource) {
    std::string strCanonical;
    if (!Canonical(strMountPoint, strCanonical))
        return errno;
    std::vector<MountEntry> arrMounts;
    if (!ReadMounts(arrMounts))
        return errno ? errno : EIO;
    const MountEntry* pMount = FindMount(arrMounts, strCanonical);
    if (!pMount)
        return EINVAL; // no mount point
    // A bind mount of a folder shows only part of the volume: its records would be
    // rebuilt under the wrong root.
    if (pMount->strRoot != "/")
        return EINVAL;
    return pMount->nMajor != 0 ? LocateBlockDevice(*pMount, strSource)
                               : LocateFuseSource(*pMount, strSource);
}

bool CanOpenVolumeForRawRead(const std::string& strMountPoint) {
    std::string strSource;
    if (LocateVolumeSource(strMountPoint, strSource) != 0)
        return false;
    int fd;
    if (OpenSource(strSource, fd) != 0)
        return false;
    CFileBlockReader reader(fd);
    std::uint8_t boot[kNtfsBootSectorSize];
    NtfsBootSector parsed;
    return reader.ReadAt(0, boot, sizeof boot) == 0 &&
           ParseNtfsBootSector(boot, sizeof boot, parsed);
}

std::unique_ptr<IVolumeJournal> CreateVolumeJournal() {
    return std::make_unique<CNtfsJournal>();
}
