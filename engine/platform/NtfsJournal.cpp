#include "NtfsJournal.h"

#include "MountTable.h"
#include "NtfsVolume.h"
#include "Path.h"
#include "VolumeSource.h"
#include "VolumeTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

class CNtfsJournal final : public IVolumeJournal {
public:
    CNtfsJournal(std::string strMountInfo, std::shared_ptr<const IVolumeOpener> pOpener)
        : m_strMountInfo(std::move(strMountInfo)), m_pOpener(std::move(pOpener)) {}
    ~CNtfsJournal() override {
        CloseRootDirectory();
        Close();
    }

    DWORD Open(const std::string& strRoot) override {
        Close();
        std::string strCanonical;
        if (!CanonicalPath(strRoot, strCanonical))
            return errno;
        struct stat st;
        if (::stat(strRoot.c_str(), &st) != 0)
            return errno;
        std::unique_ptr<IBlockReader> pReader;
        if (DWORD dw = m_pOpener->Open(strRoot, pReader))
            return dw;
        m_strCanonicalRoot = strCanonical;
        m_strRoot = FolderPrefix(strRoot);
        FindInnerMounts(ReadMountEntries(m_strMountInfo));
        if (DWORD dw = m_volume.Open(std::move(pReader)))
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
        if (!CanonicalPath(strPath, strCanonical))
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
        m_bInnerMountsFresh = true;
        m_arrInnerMounts.clear();
        if (!m_strCanonicalRoot.empty()) // open
            m_arrInnerMounts = MountsInside(arrMounts, m_strCanonicalRoot, m_strRoot);
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
    const std::shared_ptr<const IVolumeOpener> m_pOpener;
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

std::unique_ptr<IVolumeJournal> CreateVolumeJournal(const std::string& strMountInfo) {
    return CreateVolumeJournal(strMountInfo, SystemVolumeOpener(strMountInfo));
}

std::unique_ptr<IVolumeJournal> CreateVolumeJournal(const std::string& strMountInfo,
                                                    std::shared_ptr<const IVolumeOpener> pOpener) {
    return std::make_unique<CNtfsJournal>(strMountInfo, std::move(pOpener));
}
