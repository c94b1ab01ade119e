#include "ExtEnum.h"

#include "Log.h"
#include "Path.h"
#include "ScanControl.h"
#include "platform/VolumeTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Separator of the drive's statements: space, em dash, space.
constexpr const char* S = " \xE2\x80\x94 ";

// Pending writes of the volume go to its tables before they are read: a file written
// in the seconds before the scan has its size in the kernel's memory only until
// writeback allocates its blocks (delayed allocation), and the walk's stat sees that
// size. Measured on an idle volume: under a millisecond.
bool FlushVolume(const std::string& strRoot) {
    const int fd = ::open(strRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool bDone = ::syncfs(fd) == 0;
    ::close(fd);
    return bDone;
}

} // namespace

CExtEnum::CExtEnum() : CExtEnum(SystemVolumeOpener(), [] { return CreateDirectoryLister(); }) {}

CExtEnum::CExtEnum(std::shared_ptr<const IVolumeOpener> pOpener, ListerFactory makeLister,
                   std::string strMountInfo)
    : m_pOpener(std::move(pOpener)), m_makeLister(std::move(makeLister)),
      m_strMountInfo(std::move(strMountInfo)) {}

CExtEnum::~CExtEnum() = default;

// The walk of what the table cannot say, with the groups and folders left out of the
// scan, and whatever was mounted inside the volume since they were made.
CSimpleEnum& CExtEnum::Walker() {
    if (!m_walker) {
        m_walker.emplace(m_makeLister());
        CSimpleEnum& w = *m_walker;
        for (const auto& [strName, strFilter] : m_mapGroups)
            w.AddGroup(strName, strFilter);
        w.m_arrInclude = m_arrInclude;
        for (const std::string& s : m_arrExclude)
            w.AddExclusion(s);
        for (const std::string& s : m_arrInnerMounts)
            w.AddExclusion(s);
        w.SetLocalTime(*m_pLocalTime);
        w.ShareLinkedFiles(*m_pLinks);
        w.SetFolderNotRead(m_onFolderNotRead);
        w.SetReadAhead(m_readAhead);
    }
    return *m_walker;
}

bool CExtEnum::EnumeratePath(const std::string& strPath) {
    if (strPath.empty())
        return false;
    return Walker().EnumeratePath(strPath);
}

bool CExtEnum::EnumerateDrive(const std::string& strRoot) {
    TLOG_DEBUG("ExtEnum.cpp", 60) << strRoot << S << "Inode table enumeration is started";
    m_bFromTable = false;
    m_bSteppedBack = false;
    m_bStopped = false;
    m_arrWalked.clear();
    m_arrInnerMounts.clear();
    m_walker.reset();
    m_nPeakMemory = 0;
    if (strRoot.empty())
        return false;
    std::string strWhy;
    const DWORD dw = ReadVolume(strRoot, strWhy);
    if (dw == ECANCELED) {
        m_volume.Close();
        return false; // stopped: nothing of this volume is reported
    }
    if (dw != 0) {
        m_volume.Close();
        TLOG_DEBUG("ExtEnum.cpp", 75)
            << strRoot << S << "The volume cannot be read through its table (" << strWhy
            << "); its folders are walked";
        m_arrWalked.emplace_back(strRoot, dw == ENOTSUP   ? ExtDoubt::unsupported
                                          : dw == EUCLEAN ? ExtDoubt::damaged
                                                          : ExtDoubt::unreadable);
        m_bSteppedBack = true;
        return Walker().EnumerateDrive(strRoot);
    }
    m_bFromTable = true;
    ReportTree(strRoot);
    m_volume.Close();
    return !m_bStopped;
}

DWORD CExtEnum::ReadVolume(const std::string& strRoot, std::string& strWhy) {
    struct stat st;
    if (::stat(strRoot.c_str(), &st) != 0) {
        strWhy = std::strerror(errno);
        return static_cast<DWORD>(errno);
    }
    m_nDevice = static_cast<std::uint64_t>(st.st_dev);
    std::unique_ptr<IBlockReader> pReader;
    if (DWORD dw = m_pOpener->Open(strRoot, pReader)) {
        strWhy = std::string("its device cannot be opened: ") + std::strerror(static_cast<int>(dw));
        return dw;
    }
    if (m_bFlushFirst && !FlushVolume(strRoot)) {
        TLOG_DEBUG("ExtEnum.cpp", 95)
            << strRoot << S << "Pending writes cannot be flushed first: " << std::strerror(errno);
    }
    if (DWORD dw = m_volume.Open(std::move(pReader))) {
        strWhy =
            m_volume.GetWhy().empty() ? std::strerror(static_cast<int>(dw)) : m_volume.GetWhy();
        return dw;
    }

    std::string strGroup;
    ExtReadHooks hooks;
    hooks.mayRead = [this] { return WaitWhilePaused(); };
    hooks.groupOf = [this, &strGroup](std::string_view strName) {
        if (!MatchGroup(strName, strGroup))
            return -1;
        for (std::size_t i = 0; i < m_mapGroups.size(); ++i) {
            if (m_mapGroups[i].first == strGroup)
                return static_cast<int>(i);
        }
        return -1;
    };
    const DWORD dw = m_volume.Read(hooks);
    m_nPeakMemory = m_volume.GetPeakMemoryUse();
    if (dw != 0 && dw != ECANCELED)
        strWhy =
            m_volume.GetWhy().empty() ? std::strerror(static_cast<int>(dw)) : m_volume.GetWhy();
    return dw;
}

bool CExtEnum::ExclusionBelow(const std::string& strFolder) const {
    for (const std::string& s : m_arrExclude) {
        if (IsPathAtOrBelow(s, strFolder))
            return true;
    }
    for (const std::string& s : m_arrInnerMounts) {
        if (IsPathAtOrBelow(s, strFolder))
            return true;
    }
    return false;
}

bool CExtEnum::IsHidden(const std::string& strPath) const {
    if (IsExcluded(strPath) || !IsIncluded(strPath))
        return true;
    for (const std::string& s : m_arrInnerMounts) {
        if (IsPathAtOrBelow(strPath, s))
            return true;
    }
    return false;
}

bool CExtEnum::Walk(const std::string& strPath, ExtDoubt doubt) {
    TLOG_DEBUG("ExtEnum.cpp", 150)
        << "Folder " << strPath << " cannot be read through the volume's table ("
        << ExtDoubtText(doubt) << "); it is walked";
    m_arrWalked.emplace_back(strPath, doubt);
    return Walker().EnumeratePath(strPath);
}

// Depth first from the root, each folder's files before its subfolders. A folder left
// out is not entered; one the table cannot say for sure is walked, all below it.
void CExtEnum::ReportTree(const std::string& strRoot) {
    // What was mounted while the table was read hides the volume's files there too.
    std::string strCanonical;
    if (CanonicalPath(strRoot, strCanonical))
        m_arrInnerMounts = MountsInside(ReadMountEntries(m_strMountInfo), strCanonical, strRoot);

    const auto folders = m_volume.GetFolders();
    const auto files = m_volume.GetFiles();
    const std::size_t nFolders = folders.size();
    // Children and files of each folder, as offsets into one array each.
    std::vector<std::uint32_t> arrChildStart(nFolders + 1, 0), arrChildren;
    std::vector<std::uint32_t> arrFileStart(nFolders + 1, 0), arrFiles(files.size());
    for (const CExtVolume::Folder& f : folders) {
        if (f.nParent != CExtVolume::kNone)
            ++arrChildStart[f.nParent + 1];
    }
    for (const CExtVolume::File& f : files)
        ++arrFileStart[f.nFolder + 1];
    for (std::size_t i = 0; i < nFolders; ++i) {
        arrChildStart[i + 1] += arrChildStart[i];
        arrFileStart[i + 1] += arrFileStart[i];
    }
    arrChildren.resize(arrChildStart[nFolders]);
    {
        std::vector<std::uint32_t> next(arrChildStart.begin(), arrChildStart.end() - 1);
        for (std::size_t i = 0; i < nFolders; ++i) {
            if (folders[i].nParent != CExtVolume::kNone)
                arrChildren[next[folders[i].nParent]++] = static_cast<std::uint32_t>(i);
        }
        next.assign(arrFileStart.begin(), arrFileStart.end() - 1);
        for (std::size_t i = 0; i < files.size(); ++i)
            arrFiles[next[files[i].nFolder]++] = static_cast<std::uint32_t>(i);
    }
    m_nPeakMemory =
        std::max(m_nPeakMemory,
                 m_volume.GetMemoryUse() +
                     sizeof(std::uint32_t) * (arrChildStart.capacity() + arrChildren.capacity() +
                                              arrFileStart.capacity() + arrFiles.capacity()));

    std::string strPath;
    struct Level {
        std::uint32_t nFolder;
        std::size_t nParentLength;
    };
    std::vector<Level> stack = {{0, 0}};
    const std::string strRootPrefix(FolderPrefix(strRoot));
    while (!stack.empty()) {
        const Level level = stack.back();
        stack.pop_back();
        if (!WaitWhilePaused()) {
            m_bStopped = true;
            return;
        }
        const CExtVolume::Folder& folder = folders[level.nFolder];
        if (level.nFolder == 0) {
            strPath = strRootPrefix;
        } else {
            strPath.resize(level.nParentLength);
            strPath += '/';
            strPath += m_volume.Name(folder.nName, folder.nNameLength);
            if (IsHidden(strPath))
                continue;
        }
        ExtDoubt doubt = folder.doubt;
        // Paths left out are compared byte for byte, where a case-folded folder finds
        // its entries in any letter case: below one, only the kernel knows what a path
        // left out names.
        if (doubt == ExtDoubt::none && (folder.nFlags & CExtVolume::kFolderCasefold) &&
            ExclusionBelow(strPath))
            doubt = ExtDoubt::casefolded;
        if (doubt != ExtDoubt::none) {
            if (!Walk(level.nFolder == 0 ? strRoot : strPath, doubt)) {
                m_bStopped = true;
                return;
            }
            if (!WaitWhilePaused()) {
                m_bStopped = true;
                return;
            }
            continue;
        }

        const std::size_t nFolderLength = strPath.size();
        std::string strFile;
        for (std::uint32_t k = arrFileStart[level.nFolder]; k < arrFileStart[level.nFolder + 1];
             ++k) {
            if (!WaitWhilePaused()) {
                m_bStopped = true;
                return;
            }
            const CExtVolume::File& file = files[arrFiles[k]];
            strPath.resize(nFolderLength);
            strPath += '/';
            strPath += m_volume.Name(file.nName, file.nNameLength);
            if (IsHidden(strPath))
                continue;
            const CExtVolume::Facts facts = m_volume.GetFacts(file);
            // Data lost without a backup is counted once, whatever the number of names.
            if (facts.bSeveralNames && !m_pLinks->FirstMeeting({m_nDevice, facts.nIno}))
                continue;
            FileProperty prop;
            prop.m_strPath = strPath;
            prop.m_nSize = static_cast<std::int64_t>(facts.nSize);
            prop.SetModifiedFromUtc(
                {static_cast<std::time_t>(facts.nMtime), static_cast<long>(facts.nMtimeNs)},
                *m_pLocalTime);
            NotifyFileFound(m_mapGroups[file.nGroup].first, std::move(prop));
        }
        strPath.resize(nFolderLength);
        // Subfolders in the order the table gave them: the first on top.
        for (std::uint32_t k = arrChildStart[level.nFolder + 1]; k > arrChildStart[level.nFolder];
             --k)
            stack.push_back({arrChildren[k - 1], nFolderLength});
    }
}
