#include "MftEnum.h"

#include "Log.h"
#include "Path.h"
#include "ScanControl.h"
#include "Utf16.h"
#include "platform/LittleEndian.h"
#include "platform/NtfsJournal.h"

#include <algorithm>

namespace {

// Without a bound, a journal that can never be created, or a deletion that never ends,
// would keep the query loop turning forever without a look at the stop event. After
// this many rounds of waiting and creating, the query counts as failed.
constexpr int kMaxJournalRounds = 8;

constexpr std::uint64_t kMaxJournalSize = 0x800000;
constexpr std::uint64_t kJournalAllocationDelta = 0x100000;

// A start reference names a file record; the top 16 bits may carry its sequence.
constexpr std::uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;

// A name that cannot stand as one component of a path would rebuild a path naming
// some other file, or none.
bool IsUsableName(const std::string& strName) {
    // "." and "..", by their length first: this runs for every record.
    if (strName.empty() ||
        (strName[0] == '.' && (strName.size() == 1 || (strName.size() == 2 && strName[1] == '.'))))
        return false;
    for (char c : strName) {
        if (c == '/' || c == '\0')
            return false;
    }
    return true;
}

// The root entry's name: the mount point without its trailing slashes, so that joining
// it and a name with one '/' gives the path the directory walk gives ("/" becomes "").
std::string RootEntryName(const std::string& strRoot) {
    return std::string(FolderPrefix(strRoot));
}

} // namespace

CMftEnum::CMftEnum() : CMftEnum(CreateVolumeJournal()) {}

CMftEnum::CMftEnum(std::unique_ptr<IVolumeJournal> pJournal) : m_pJournal(std::move(pJournal)) {
    m_mapDirIndex.reserve(4096);
}

CMftEnum::~CMftEnum() {
    Reset();
}

bool CMftEnum::EnumeratePath(const std::string& strPath) {
    if (strPath.empty())
        return false;
    return EnumerateDrive(m_pJournal->GetVolumeRoot(strPath));
}

bool CMftEnum::EnumerateDrive(const std::string& strRoot) {
    TLOG_DEBUG("MftEnum.cpp", 205) << "MFT enumeration is started";
    bool bResult = true;
    Reset();
    try {
        DWORD dwError = 0;
        if (!OpenVolume(strRoot, dwError)) {
            TLOG_ERROR("MftEnum.cpp", 214) << "Cannot open volume " << strRoot;
            RaiseError(dwError);
        }

        // The journal query loop.
        USN_JOURNAL_DATA_V0 journal{};
        int nRounds = 0;
        for (;;) {
            if (!bResult)
                RaiseError(dwError);
            dwError = m_pJournal->Query(journal);
            if (dwError == 0)
                break;
            if (dwError == ERROR_JOURNAL_DELETE_IN_PROGRESS && nRounds < kMaxJournalRounds) {
                ++nRounds;
                TLOG_DEBUG("MftEnum.cpp", 228)
                    << "The system is deleting a journal. We need to wait for it to finish "
                       "before trying to query it again.";
                WaitForJournalDeletion();
            } else if (dwError == ERROR_JOURNAL_NOT_ACTIVE && nRounds < kMaxJournalRounds) {
                ++nRounds;
                TLOG_DEBUG("MftEnum.cpp", 235)
                    << "The journal is not active on the volume. We need to create it and "
                       "then query for its information again";
                CreateJournal();
            } else {
                TLOG_ERROR("MftEnum.cpp", 242)
                    << "Some other error happened while querying the journal information. "
                       "There is nothing we can do from here";
                bResult = false;
            }
        }

        // The root entry: every chain of parents ends there.
        dwError = m_pJournal->OpenRootDirectory(strRoot);
        if (dwError != 0) {
            TLOG_ERROR("MftEnum.cpp", 260) << "Cannot create file for drive " << strRoot;
            RaiseError(dwError);
        }
        std::uint64_t nRoot = 0;
        dwError = m_pJournal->GetRootFileReference(nRoot);
        if (dwError != 0) {
            TLOG_ERROR("MftEnum.cpp", 267) << "Cannot get file information by handle";
            m_pJournal->CloseRootDirectory();
            RaiseError(dwError);
        }
        m_pJournal->CloseRootDirectory();
        AddDirectory(nRoot, RootEntryName(strRoot), 0);

        // The pass.
        MFT_ENUM_DATA_V0 request{0, 0, journal.NextUsn};
        auto pBuffer = std::make_unique<std::uint8_t[]>(kUsnBufferSize); // zero-filled
        for (;;) {
            std::size_t nReturned = 0;
            if (m_pJournal->Enumerate(request, pBuffer.get(), kUsnBufferSize, nReturned) != 0)
                break; // the end of the table, or a failure: the report runs with what we have
            nReturned = std::min(nReturned, kUsnBufferSize);
            if (nReturned < sizeof(std::uint64_t))
                break;
            if (!WalkRecords(pBuffer.get(), nReturned))
                return false; // stopped: nothing of this volume is reported
            // A start that does not move on would ask for the same records forever.
            const std::uint64_t nNext = ReadLe64(pBuffer.get());
            if ((nNext & kRecordNumberMask) <=
                (request.StartFileReferenceNumber & kRecordNumberMask))
                break;
            request.StartFileReferenceNumber = nNext;
        }

        ReportFiles();
        return bResult;
    } catch (DWORD dwCode) {
        TLOG_ERROR("MftEnum.cpp", 325) << GetErrorText(dwCode);
        Reset();
        return bResult;
    }
}

bool CMftEnum::OpenVolume(const std::string& strRoot, DWORD& dwError) {
    dwError = m_pJournal->Open(strRoot);
    return dwError == 0;
}

void CMftEnum::CreateJournal() {
    m_pJournal->Create({kMaxJournalSize, kJournalAllocationDelta});
}

void CMftEnum::WaitForJournalDeletion() {
    m_pJournal->DeleteAndWait({0, USN_DELETE_FLAG_NOTIFY});
}

void CMftEnum::Reset() {
    if (m_pJournal && m_pJournal->IsOpen())
        m_pJournal->Close();
    m_arrDirNames.clear();
    m_arrDirParents.clear();
    m_mapDirIndex.clear();
    m_arrFileNames.clear();
    m_arrFileParents.clear();
    m_arrFileGroups.clear();
    m_arrFileReferences.clear();
}

bool CMftEnum::AddDirectory(std::uint64_t nReference, const std::string& strName,
                            std::uint64_t nParent) {
    auto [it, bInserted] =
        m_mapDirIndex.try_emplace(nReference, static_cast<int>(m_arrDirNames.size()));
    if (!bInserted)
        return false;
    m_arrDirNames.push_back(strName);
    m_arrDirParents.push_back(nParent);
    return true;
}

bool CMftEnum::BuildDirectoryPath(std::uint64_t nReference, std::string& strPath) const {
    strPath.clear();
    // The chain from the directory up to the root entry. On a damaged volume a chain
    // may loop: no sound chain is longer than the number of directories.
    std::vector<int>& arrChain = m_arrChain;
    arrChain.clear();
    std::uint64_t nRef = nReference;
    for (;;) {
        auto it = m_mapDirIndex.find(nRef);
        if (it == m_mapDirIndex.end() || arrChain.size() >= m_arrDirNames.size())
            return false;
        arrChain.push_back(it->second);
        nRef = m_arrDirParents[static_cast<std::size_t>(it->second)];
        if (nRef == 0)
            break;
    }
    for (auto i = arrChain.rbegin(); i != arrChain.rend(); ++i) {
        if (i != arrChain.rbegin())
            strPath += '/';
        strPath += m_arrDirNames[static_cast<std::size_t>(*i)];
    }
    return true;
}

bool CMftEnum::WalkRecords(const std::uint8_t* pBuffer, std::size_t nReturned) {
    namespace R = UsnRecordV2;
    std::string strName;
    std::string strGroup;
    std::size_t nPos = sizeof(std::uint64_t);
    while (nPos < nReturned) {
        if (!WaitWhilePaused())
            return false;
        // A record that does not fit ends this buffer's walk: whatever follows it
        // cannot be found.
        if (nReturned - nPos < R::HeaderSize)
            break;
        const std::uint8_t* pRecord = pBuffer + nPos;
        const std::uint32_t nLength = ReadLe32(pRecord + R::RecordLength);
        if (nLength < R::HeaderSize || nLength > nReturned - nPos)
            break;
        nPos += nLength;

        const std::size_t nNameBytes = ReadLe16(pRecord + R::FileNameLength);
        const std::size_t nNameOffset = ReadLe16(pRecord + R::FileNameOffset);
        if (nNameOffset > nLength || nNameBytes > nLength - nNameOffset)
            continue; // a name outside its record
        strName.clear();
        AppendUtf16LeAsUtf8(pRecord + nNameOffset, nNameBytes / 2, strName);
        if (!IsUsableName(strName))
            continue;

        const std::uint64_t nReference = ReadLe64(pRecord + R::FileReferenceNumber);
        const std::uint64_t nParent = ReadLe64(pRecord + R::ParentFileReferenceNumber);
        if (ReadLe32(pRecord + R::FileAttributes) & FILE_ATTRIBUTE_DIRECTORY) {
            AddDirectory(nReference, strName, nParent);
        } else if (MatchGroup(strName, strGroup)) {
            m_arrFileNames.push_back(strName);
            m_arrFileParents.push_back(nParent);
            m_arrFileGroups.push_back(strGroup);
            m_arrFileReferences.push_back(nReference);
            m_pJournal->KeepFile(nReference);
        }
    }
    return true;
}

void CMftEnum::ReportFiles() {
    const std::size_t nCount = m_arrFileNames.size();
    std::string strPath, strFolder;
    // The files of one folder mostly lie together in the table: their folder's path is
    // built once for them all.
    bool bFolderBuilt = false, bFolderFound = false;
    std::uint64_t nFolder = 0;
    for (std::size_t i = 0; i < nCount; ++i) {
        if (!WaitWhilePaused())
            return;
        if (!bFolderBuilt || m_arrFileParents[i] != nFolder) {
            nFolder = m_arrFileParents[i];
            bFolderFound = BuildDirectoryPath(nFolder, strFolder);
            bFolderBuilt = true;
        }
        if (!bFolderFound)
            continue;
        strPath = strFolder;
        strPath += '/';
        strPath += m_arrFileNames[i];
        if (!IsIncluded(strPath) || IsExcluded(strPath))
            continue;
        FileAttributes attr;
        // Only regular files, as the directory walk: a link or a device named like a
        // document holds no data of the user's.
        if (m_pJournal->GetFileAttributes(m_arrFileReferences[i], strPath, attr) != 0 ||
            attr.kind != EntryKind::File)
            continue;

        FileProperty prop;
        prop.m_strPath = strPath;
        prop.m_nSize = attr.nSize;
        prop.SetModifiedFromUtc(attr.mtime, *m_pLocalTime);
        NotifyFileFound(m_arrFileGroups[i], std::move(prop));
    }
}
