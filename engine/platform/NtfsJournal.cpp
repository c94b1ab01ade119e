#include "NtfsJournal.h"

#include "NtfsVolume.h"
#include "Path.h"
#include "VolumeTable.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

bool Canonical(const std::string& strPath, std::string& strCanonical) {
    char buf[PATH_MAX];
    if (!::realpath(strPath.c_str(), buf))
        return false;
    strCanonical = buf;
    return true;
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

// The source behind a canonical mount point of the table.
DWORD LocateSource(const std::string& strCanonical, const std::vector<MountEntry>& arrMounts,
                   std::string& strSource) {
    const MountEntry* pMount = FindMountAt(arrMounts, strCanonical);
    if (!pMount)
        return EINVAL; // no mount point, or no table to tell
    // A bind mount of a folder shows only part of the volume: its records would be
    // rebuilt under the wrong root.
    if (pMount->strRoot != "/")
        return EINVAL;
    if (major(pMount->dev) == 0)
        return LocateFuseSource(*pMount, strSource);
    strSource = BlockDeviceNode(pMount->dev);
    return strSource.empty() ? ENODEV : 0;
}

// A last-write time as the mounted filesystem shows it (ntfs-3g): whole seconds since
// 1970 rounded toward zero, and no fraction before 1970. Only for times from 1601 to
// 9999, which the record's facts guarantee.
std::timespec MountedTime(std::uint64_t nTicks) {
    constexpr std::int64_t kTicksPerSecond = 10'000'000;
    constexpr std::int64_t kTicksBefore1970 = 116'444'736'000'000'000;
    const std::int64_t nSince1970 = static_cast<std::int64_t>(nTicks) - kTicksBefore1970;
    std::timespec ts{};
    ts.tv_sec = static_cast<std::time_t>(nSince1970 / kTicksPerSecond);
    const std::int64_t nRest = nSince1970 % kTicksPerSecond;
    ts.tv_nsec = nRest > 0 ? static_cast<long>(nRest * 100) : 0;
    return ts;
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
    explicit CNtfsJournal(std::string strMountInfo) : m_strMountInfo(std::move(strMountInfo)) {}
    ~CNtfsJournal() override {
        CloseRootDirectory();
        Close();
    }

    DWORD Open(const std::string& strRoot) override {
        Close();
        std::string strCanonical, strSource;
        if (!Canonical(strRoot, strCanonical))
            return errno;
        const std::vector<MountEntry> arrMounts = ReadMountEntries(m_strMountInfo);
        if (DWORD dw = LocateSource(strCanonical, arrMounts, strSource))
            return dw;
        m_strCanonicalRoot = strCanonical;
        m_strRoot = FolderPrefix(strRoot);
        FindInnerMounts(arrMounts);
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
        m_strCanonicalRoot.clear();
        m_arrInnerMounts.clear();
        m_bInnerMountsFresh = true;
        m_arrKept.clear();
        m_arrKept.shrink_to_fit();
        m_nKeptCursor = 0;
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
        m_bInnerMountsFresh = false;
        return m_volume.Enumerate(in.StartFileReferenceNumber, pBuffer, nSize, nReturned);
    }

    void KeepFile(std::uint64_t nReference) override {
        if (const NtfsFileFacts* p = FindFacts(m_volume.GetFacts(), m_nFactsCursor, nReference))
            m_arrKept.push_back(*p);
    }

    DWORD GetFileAttributes(std::uint64_t nReference, const std::string& strPath,
                            FileAttributes& attr) override {
        // What was mounted during the pass hides files as well.
        if (!m_bInnerMountsFresh)
            FindInnerMounts(ReadMountEntries(m_strMountInfo));
        for (const std::string& strMount : m_arrInnerMounts) {
            if (IsPathAtOrBelow(strPath, strMount))
                return EXDEV;
        }
        if (const NtfsFileFacts* p = FindFacts(m_arrKept, m_nKeptCursor, nReference)) {
            attr.kind = EntryKind::File;
            attr.nSize = static_cast<std::int64_t>(p->nSize);
            attr.mtime = MountedTime(p->nModified);
            return 0;
        }
        return GetMountedAttributes(strPath, attr);
    }

    std::string GetVolumeRoot(const std::string& strPath) override {
        std::string strCanonical;
        if (!Canonical(strPath, strCanonical))
            return strPath;
        std::vector<std::string> arrPoints;
        for (const MountEntry& m : ReadMountEntries(m_strMountInfo))
            arrPoints.push_back(m.strMountPoint);
        const std::string strPoint = MountPointOf(strCanonical, arrPoints);
        return strPoint.empty() ? strPath : strPoint;
    }

private:
    static bool RecordBefore(const NtfsFileFacts& facts, std::uint64_t nRecord) {
        return (facts.nReference & kNtfsRecordNumberMask) < nRecord;
    }

    // The facts of a file among facts in record order. Files are kept and reported in
    // table order: the search goes on from where the last one ended (the cursor is
    // only a hint: any value finds the same).
    static const NtfsFileFacts* FindFacts(const std::vector<NtfsFileFacts>& facts,
                                          std::size_t& nCursor, std::uint64_t nReference) {
        const std::uint64_t nRecord = nReference & kNtfsRecordNumberMask;
        if (nCursor > facts.size() || (nCursor > 0 && !RecordBefore(facts[nCursor - 1], nRecord)))
            nCursor = static_cast<std::size_t>(
                std::lower_bound(facts.begin(), facts.end(), nRecord, RecordBefore) -
                facts.begin());
        while (nCursor < facts.size() && RecordBefore(facts[nCursor], nRecord))
            ++nCursor;
        return nCursor < facts.size() && facts[nCursor].nReference == nReference ? &facts[nCursor]
                                                                                 : nullptr;
    }

    // Whatever is mounted inside the volume hides the volume's own files there: the
    // paths of their records name other files, or none.
    void FindInnerMounts(const std::vector<MountEntry>& arrMounts) {
        m_arrInnerMounts.clear();
        m_bInnerMountsFresh = true;
        const std::string& strCanonical = m_strCanonicalRoot;
        if (strCanonical.empty())
            return; // closed
        for (const MountEntry& m : arrMounts) {
            if (m.strMountPoint != strCanonical && IsPathAtOrBelow(m.strMountPoint, strCanonical))
                m_arrInnerMounts.push_back(
                    m_strRoot +
                    m.strMountPoint.substr(strCanonical == "/" ? 0 : strCanonical.size()));
        }
    }

    // What the mount says, for a file whose record did not say for sure.
    DWORD GetMountedAttributes(const std::string& strPath, FileAttributes& attr) {
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
        // A filesystem mounted inside the volume since the table was read hides the
        // file of the record: the path names some other file.
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

    void ForgetDirectory() {
        if (m_hDir >= 0)
            ::close(m_hDir);
        m_hDir = -1;
        m_bDirKnown = false;
        m_strDir.clear();
    }

    const std::string m_strMountInfo;
    CNtfsVolume m_volume;
    dev_t m_nDevice = 0;
    std::string m_strCanonicalRoot;
    std::string m_strRoot;                     // as the enumerator's paths begin
    std::vector<std::string> m_arrInnerMounts; // below the root, as the enumerator's paths
    bool m_bInnerMountsFresh = true;
    std::vector<NtfsFileFacts> m_arrKept;
    std::size_t m_nFactsCursor = 0; // in the last answer's facts
    std::size_t m_nKeptCursor = 0;
    int m_hRoot = -1;
    // The folder of the last attribute read, open for lookups by name (-1: it could
    // not be opened).
    std::string m_strDir;
    int m_hDir = -1;
    DWORD m_dwDirError = 0;
    bool m_bDirKnown = false;
};

} // namespace

DWORD LocateVolumeSource(const std::string& strMountPoint, std::string& strSource,
                         const std::string& strMountInfo) {
    std::string strCanonical;
    if (!Canonical(strMountPoint, strCanonical))
        return errno;
    return LocateSource(strCanonical, ReadMountEntries(strMountInfo), strSource);
}

bool CanOpenVolumeForRawRead(const std::string& strMountPoint, const std::string& strMountInfo) {
    std::string strSource;
    if (LocateVolumeSource(strMountPoint, strSource, strMountInfo) != 0)
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

std::unique_ptr<IVolumeJournal> CreateVolumeJournal(const std::string& strMountInfo) {
    return std::make_unique<CNtfsJournal>(strMountInfo);
}
