#include "EnumMgr.h"

#include "Log.h"
#include "MftEnum.h"
#include "Path.h"
#include "ScanControl.h"
#include "SimpleEnum.h"
#include "StringTable.h"
#include "platform/NtfsJournal.h"
#include "platform/StorageDevice.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>
#include <strings.h>
#include <system_error>
#include <vector>

namespace {

// Separator of the worker's statements: space, em dash, space.
constexpr const char* S = " \xE2\x80\x94 ";

// The manager's error statement, for a caught error code and a worker that could not
// be started alike.
constexpr const char* kManagerErrorTag = TLOG_FILE_TAG("EnumMgr.cpp", 147);

constexpr const char* kExclusionAdded = "Exclusion filter is added: ";

// Statements of the group slots and the trash folders, in slot order.
constexpr const char* kGroupTags[] = {
    TLOG_FILE_TAG("EnumMgr.cpp", 218), TLOG_FILE_TAG("EnumMgr.cpp", 223),
    TLOG_FILE_TAG("EnumMgr.cpp", 228), TLOG_FILE_TAG("EnumMgr.cpp", 233)};
constexpr const char* kTrashTags[] = {TLOG_FILE_TAG("EnumMgr.cpp", 351),
                                      TLOG_FILE_TAG("EnumMgr.cpp", 355),
                                      TLOG_FILE_TAG("EnumMgr.cpp", 359)};

// The mount points, sorted once per worker: with thousands of folders standing as
// drives, going through all of them for each drive would cost more than the scan.
class CMountPoints {
public:
    explicit CMountPoints(std::vector<std::string> arr) : m_arr(std::move(arr)) {
        std::sort(m_arr.begin(), m_arr.end());
        m_arr.erase(std::unique(m_arr.begin(), m_arr.end()), m_arr.end());
    }

    // As MountPointOf: the longest one at or above the path, tried from the path up.
    std::string MountPointOf(std::string_view strPath) const {
        return std::string(NearestAtOrAbove(strPath, [this](std::string_view s) {
            return std::binary_search(m_arr.begin(), m_arr.end(), s);
        }));
    }

    // Those strictly below a folder, in order.
    std::vector<std::string> Below(const std::string& strFolder) const {
        const std::string strPrefix = strFolder == "/" ? strFolder : strFolder + "/";
        std::vector<std::string> arr;
        for (auto it = std::lower_bound(m_arr.begin(), m_arr.end(), strPrefix);
             it != m_arr.end() && it->starts_with(strPrefix); ++it) {
            if (*it != strFolder)
                arr.push_back(*it);
        }
        return arr;
    }

private:
    std::vector<std::string> m_arr;
};

// What a worker looks up once for all its drives, after its release.
struct WorkerState {
    CLinkedFiles links; // hard links never cross a file system
    std::optional<CMountPoints> mounts;
    std::optional<KnownFolderSet> known;
};

// Adds a folder to leave out and tells the caller that reports it.
void Exclude(IFsEnum& e, const std::string& strRoot, const std::string& strFolder,
             LeftOutReason reason, const ScanSetup& setup) {
    if (e.AddExclusion(strFolder) && setup.onFolderLeftOut)
        setup.onFolderLeftOut(strRoot, strFolder, reason);
}

void AddExclusions(IFsEnum& e, const std::string& strRoot,
                   const std::vector<std::string>& arrFolders, const CMountPoints& mounts,
                   const char* pszTag, LeftOutReason reason, const ScanSetup& setup) {
    for (const std::string& strFolder : arrFolders) {
        if (mounts.MountPointOf(strFolder) != strRoot)
            continue; // lies on another drive
        Exclude(e, strRoot, strFolder, reason, setup);
        TLOG_TAGGED(LogLevel::debug, pszTag) << strRoot << S << kExclusionAdded << strFolder;
    }
}

// The per-user trash folders at a drive's root, whoever they belong to: a scan run by
// one user must not count another's deleted files.
std::vector<std::string> RootTrashFolders(const std::string& strRoot) {
    std::vector<std::string> arrNames;
    std::unique_ptr<IDirectoryLister> pLister = CreateDirectoryLister();
    DWORD dwError = 0;
    const int hRoot = pLister->OpenRoot(strRoot, dwError);
    if (hRoot < 0)
        return arrNames; // the walk tells why
    DirEntry entry;
    while (pLister->Next(hRoot, entry, dwError)) {
        if (entry.strName.starts_with(".Trash-") &&
            (entry.kind == EntryKind::Directory || entry.kind == EntryKind::Unknown))
            arrNames.emplace_back(entry.strName);
    }
    pLister->Close(hRoot);
    std::sort(arrNames.begin(), arrNames.end());
    return arrNames;
}

// false when the drive's root is left out: its volume is then not even read.
bool PrepareAndEnumerate(IFsEnum& e, const std::string& strRoot, const ScanSetup& setup,
                         const IVolumeTable& volumes, WorkerState& state) {
    if (!state.mounts)
        state.mounts.emplace(volumes.GetMountPoints());
    if (!state.known)
        state.known = setup.pKnownFolders->Get();
    const CMountPoints& mounts = *state.mounts;
    const KnownFolderSet& known = *state.known;

    for (int i = 0; i < kGroupCount; ++i) {
        const std::string strName = LoadString(g_groupTable[i].nNameId);
        const std::string strFilter = LoadString(g_groupTable[i].nFilterId);
        e.AddGroup(strName, strFilter);
        TLOG_TAGGED(LogLevel::debug, kGroupTags[i])
            << strRoot << S << strName
            << " group is added with the following filter: " << strFilter;
    }

    AddExclusions(e, strRoot, known.arrSystem, mounts, TLOG_FILE_TAG("EnumMgr.cpp", 260),
                  LeftOutReason::system, setup);
    AddExclusions(e, strRoot, known.arrPrograms, mounts, TLOG_FILE_TAG("EnumMgr.cpp", 281),
                  LeftOutReason::programs, setup);
    AddExclusions(e, strRoot, known.arrProgramData, mounts, TLOG_FILE_TAG("EnumMgr.cpp", 302),
                  LeftOutReason::programData, setup);
    AddExclusions(e, strRoot, known.arrInternetCache, mounts, TLOG_FILE_TAG("EnumMgr.cpp", 323),
                  LeftOutReason::cache, setup);

    for (const std::string& strTemp : known.arrTemporary) {
        if (mounts.MountPointOf(strTemp) != strRoot)
            continue;
        const std::string strLong = setup.pKnownFolders->LongPathName(strTemp);
        // AddExclusion refuses the empty long form of a folder that is gone.
        Exclude(e, strRoot, strLong, LeftOutReason::temporary, setup);
        TLOG_DEBUG("EnumMgr.cpp", 346) << strRoot << S << kExclusionAdded << strLong;
    }

    const std::string strOwnTrash = ".Trash-" + std::to_string(known.nUserId);
    std::vector<std::string> arrTrash = {JoinPath(strRoot, ".Trash"),
                                         JoinPath(strRoot, strOwnTrash)};
    for (const std::string& strName : RootTrashFolders(strRoot)) {
        if (strName != strOwnTrash)
            arrTrash.push_back(JoinPath(strRoot, strName));
    }
    for (std::size_t i = 0; i < arrTrash.size(); ++i) {
        Exclude(e, strRoot, arrTrash[i], LeftOutReason::trash, setup);
        TLOG_TAGGED(LogLevel::debug, kTrashTags[std::min<std::size_t>(i, 1)])
            << strRoot << S << kExclusionAdded << arrTrash[i];
    }
    std::vector<std::string> arrHomeTrash = {known.strUserTrash};
    for (const std::string& strTrash : known.arrHomeTrash) {
        if (strTrash != known.strUserTrash)
            arrHomeTrash.push_back(strTrash);
    }
    AddExclusions(e, strRoot, arrHomeTrash, mounts, kTrashTags[2], LeftOutReason::trash, setup);

    // Never walk into another mount: each fixed drive has its own worker, and what
    // else is mounted below (system, network, removable) is not ours to scan.
    for (const std::string& strMount : mounts.Below(strRoot)) {
        Exclude(e, strRoot, strMount, LeftOutReason::mount, setup);
        TLOG_DEBUG("EnumMgr.cpp", 361) << strRoot << S << kExclusionAdded << strMount;
    }

    // The user's own: on this drive, or holding the drive's root (then nothing of it
    // is scanned).
    for (const std::string& strFolder : setup.arrExclude) {
        if (mounts.MountPointOf(strFolder) != strRoot &&
            !IsPathAtOrBelow(TrimTrailingSeparators(strRoot), strFolder))
            continue;
        Exclude(e, strRoot, strFolder, LeftOutReason::asked, setup);
        TLOG_DEBUG("EnumMgr.cpp", 362) << strRoot << S << kExclusionAdded << strFolder;
    }

    // A drive whose root is left out has nothing to give: its volume is not even read.
    if (e.IsExcluded(strRoot))
        return false;
    e.EnumerateDrive(strRoot);
    return true;
}

// std::thread says by an exception that a thread cannot be started; the engine's
// failures are codes. Answers 0, or the errno value.
DWORD StartWorker(std::vector<std::thread>& arrWorkers, const std::vector<std::string>& arrRoots,
                  const ScanSetup& setup, const IVolumeTable& volumes) {
    try {
        arrWorkers.emplace_back(WorkerThreadProc, std::cref(arrRoots), std::cref(setup),
                                std::cref(volumes));
    } catch (const std::system_error& e) {
        return static_cast<DWORD>(e.code().value());
    }
    return 0;
}

} // namespace

ScanSetup SystemScanSetup() {
    ScanSetup setup;
    setup.volumeTable = [] { return std::shared_ptr<const IVolumeTable>(CreateMountTable()); };
    setup.pKnownFolders = SystemKnownFolders();
    setup.createVolumeEnum = [](std::shared_ptr<const IVolumeOpener> pOpener) {
        return pOpener ? std::make_unique<CMftEnum>(
                             CreateVolumeJournal(kSystemMountInfo, std::move(pOpener)))
                       : std::make_unique<CMftEnum>();
    };
    setup.createExtEnum = [](std::shared_ptr<const IVolumeOpener> pOpener) {
        return pOpener ? std::make_unique<CExtEnum>(std::move(pOpener),
                                                    [] { return CreateDirectoryLister(); })
                       : std::make_unique<CExtEnum>();
    };
    setup.mayReadEveryFolder = MayReadEveryFolder;
    return setup;
}

std::function<DWORD(const std::string&, std::shared_ptr<const IVolumeOpener>&, std::string&)>
GrantVolumeThrough(std::shared_ptr<IDeviceGrants> pGrants) {
    return [pGrants = std::move(pGrants)](
               const std::string& strRoot, std::shared_ptr<const IVolumeOpener>& pOpener,
               std::string& strWhy) { return AskForVolume(*pGrants, strRoot, pOpener, strWhy); };
}

ScanSetup FolderScanSetup(std::vector<std::string> arrFolders) {
    ScanSetup setup = SystemScanSetup();
    setup.volumeTable = [arrFolders = std::move(arrFolders)] {
        return std::shared_ptr<const IVolumeTable>(
            CreateFolderTable(arrFolders, std::shared_ptr<const IVolumeTable>(CreateMountTable())));
    };
    return setup;
}

bool IsExtFileSystem(const std::string& strFileSystem) {
    return strFileSystem == "ext4" || strFileSystem == "ext3" || strFileSystem == "ext2";
}

bool UsesVolumeEnum(const ScanSetup& setup, const IVolumeTable& volumes, const std::string& strRoot,
                    const std::string& strFileSystem) {
    if (::strcasecmp(strFileSystem.c_str(), "NTFS") == 0)
        return setup.createVolumeEnum && volumes.CanReadVolume(strRoot);
    // The table names every file of every folder: it is read only by a process from which
    // no folder is closed, so that nobody learns what their walk could not show them.
    return IsExtFileSystem(strFileSystem) && setup.createExtEnum && setup.mayReadEveryFolder &&
           setup.mayReadEveryFolder() && volumes.CanReadVolume(strRoot);
}

const char* EnumeratorFor(const ScanSetup& setup, const IVolumeTable& volumes,
                          const std::string& strRoot, const std::string& strFileSystem) {
    if (!UsesVolumeEnum(setup, volumes, strRoot, strFileSystem))
        return "walk";
    return IsExtFileSystem(strFileSystem) ? "ext4" : "mft";
}

namespace {

// One drive from its first wait to its last log line, on the thread of the worker of its
// file system: a drive that fails ends alone, and the worker goes on with the next.
void ScanDrive(const std::string& strRoot, const ScanSetup& setup, const IVolumeTable& volumes,
               WorkerState& state) {
    TLOG_DEBUG("EnumMgr.cpp", 181) << "Working thread for drive " << strRoot << " started";
    CSimpleEnum simpleEnum;
    simpleEnum.ShareLinkedFiles(state.links);
    simpleEnum.SetFolderNotRead(setup.onFolderNotRead);

    if (WaitForAnyEvent({&ForceEvent, &ResumeEvent}, INFINITE) == WAIT_OBJECT_0) {
        TLOG_DEBUG("EnumMgr.cpp", 193) << "Working thread for drive " << strRoot
                                       << "received ForceEvent event and will be finished";
        return;
    }

    if (!strRoot.empty()) {
        if (setup.onDriveStarted)
            setup.onDriveStarted(strRoot);
        try {
            std::string strFileSystem;
            DWORD dwError = 0;
            if (!volumes.GetVolumeInformation(strRoot, strFileSystem, dwError))
                RaiseError(dwError);
            TLOG_DEBUG("EnumMgr.cpp", 205)
                << strRoot << S << "File system of " << strRoot << " is " << strFileSystem;

            ReadAheadOptions readAhead;
            readAhead.nThreads = setup.nReadAheadThreads
                                     ? *setup.nReadAheadThreads
                                     : ReadAheadThreadsFor(IsRotational(strRoot), strFileSystem);
            simpleEnum.SetReadAhead(readAhead);

            const bool bNtfs = ::strcasecmp(strFileSystem.c_str(), "NTFS") == 0;
            const bool bExt = IsExtFileSystem(strFileSystem);
            const bool bHasReader =
                (bNtfs && setup.createVolumeEnum) || (bExt && setup.createExtEnum);
            std::shared_ptr<const IVolumeOpener> pGranted;
            bool bReadTable = bHasReader && UsesVolumeEnum(setup, volumes, strRoot, strFileSystem);
            // A device this process cannot open may be handed over by whoever may open it.
            if (bHasReader && !bReadTable && setup.grantVolume && !volumes.CanReadVolume(strRoot)) {
                TLOG_DEBUG("EnumMgr.cpp", 208)
                    << strRoot << S << "Read access to the volume is asked for";
                std::string strWhy;
                if (setup.grantVolume(strRoot, pGranted, strWhy) == 0 && pGranted) {
                    TLOG_DEBUG("EnumMgr.cpp", 209)
                        << strRoot << S << "Read access to the volume is granted";
                    bReadTable = true;
                } else {
                    pGranted.reset();
                    TLOG_DEBUG("EnumMgr.cpp", 210)
                        << strRoot << S << "Read access to the volume is not granted: " << strWhy;
                }
            }

            IFsEnum* pEnum = &simpleEnum;
            const char* pszEnumerator = "walk";
            std::unique_ptr<IFsEnum> pVolumeEnum;
            std::unique_ptr<CExtEnum> pExtEnum;
            if (bReadTable && bExt) {
                pExtEnum = setup.createExtEnum(pGranted);
                pExtEnum->ShareLinkedFiles(state.links);
                pExtEnum->SetFolderNotRead(setup.onFolderNotRead);
                pExtEnum->SetReadAhead(readAhead);
                pEnum = pExtEnum.get();
                pszEnumerator = "ext4";
            } else if (bReadTable) {
                pVolumeEnum = setup.createVolumeEnum(pGranted);
                pEnum = pVolumeEnum.get();
                pszEnumerator = "mft";
            }
            if (pEnum == &simpleEnum && (bNtfs || bExt)) {
                // Reading the table needs the raw volume, which only some users may open
                // (and an ext2/3/4 table only a user who may read every folder); everyone
                // else still gets the drive's files by walking it.
                TLOG_DEBUG("EnumMgr.cpp", 207)
                    << strRoot << S << "The volume cannot be read directly; its folders are walked";
            }
            if (PrepareAndEnumerate(*pEnum, strRoot, setup, volumes, state) && pExtEnum &&
                pExtEnum->SteppedBack())
                pszEnumerator = "walk"; // it stepped back
            if (setup.onDriveEnumerator)
                setup.onDriveEnumerator(strRoot, pszEnumerator);
        } catch (DWORD dwCode) {
            TLOG_ERROR("EnumMgr.cpp", 366) << strRoot << S << GetErrorText(dwCode);
            if (setup.onDriveNotScanned)
                setup.onDriveNotScanned(strRoot, dwCode);
        }
        if (setup.onDriveFinished)
            setup.onDriveFinished(strRoot);
    }
    TLOG_DEBUG("EnumMgr.cpp", 369)
        << strRoot << S << "Working thread for drive " << strRoot << " finished";
}

} // namespace

void WorkerThreadProc(const std::vector<std::string>& arrRoots, const ScanSetup& setup,
                      const IVolumeTable& volumes) {
    WorkerState state;
    for (const std::string& strRoot : arrRoots)
        ScanDrive(strRoot, setup, volumes, state);
}

void ManagerThreadProc(std::shared_ptr<const ScanSetup> pSetup) {
    TLOG_DEBUG("EnumMgr.cpp", 70) << "Manager Thread is started";
    ResumeEvent.Reset();
    ForceEvent.Reset();
    EnumFinished.Reset();

    std::vector<std::string> arrDrives;
    std::vector<std::vector<std::string>> arrFileSystems; // the drives of each worker
    std::vector<std::thread> arrWorkers;
    std::shared_ptr<const IVolumeTable> pVolumes;
    bool bReleased = false;

    TLOG_DEBUG("EnumMgr.cpp", 86) << "Enumerating user's drives";
    try {
        pVolumes = pSetup->volumeTable();
        for (const std::string& strRoot : pVolumes->GetLogicalDrives()) {
            UINT nType = pVolumes->GetDriveType(strRoot);
            if (nType == DRIVE_FIXED)
                arrDrives.push_back(strRoot);
            TLOG_DEBUG("EnumMgr.cpp", 104)
                << "Type of " << strRoot << " is " << DriveTypeName(nType);
        }

        // One worker per file system: a thread per folder given to the command-line
        // scanner would cost thousands of threads and gain nothing on one disk.
        std::map<std::string, std::size_t> mapFileSystem;
        for (const std::string& strRoot : arrDrives) {
            if (pVolumes->GetDriveType(strRoot) != DRIVE_FIXED)
                continue;
            auto [it, bNew] = mapFileSystem.try_emplace(pVolumes->GetFileSystemId(strRoot),
                                                        arrFileSystems.size());
            if (bNew)
                arrFileSystems.emplace_back();
            arrFileSystems[it->second].push_back(strRoot);
        }

        // Every worker is started before any is released: they wait on the events.
        arrWorkers.reserve(arrFileSystems.size());
        for (const std::vector<std::string>& arrRoots : arrFileSystems) {
            // The other drives are still scanned; these are said to be missing.
            if (DWORD dwCode = StartWorker(arrWorkers, arrRoots, *pSetup, *pVolumes)) {
                TLOG_TAGGED(LogLevel::error, kManagerErrorTag) << GetErrorText(dwCode);
                for (const std::string& strRoot : arrRoots) {
                    if (pSetup->onDriveNotScanned)
                        pSetup->onDriveNotScanned(strRoot, dwCode);
                }
            }
        }
        TLOG_DEBUG("EnumMgr.cpp", 136) << arrDrives.size() << " working threads were created";

        TLOG_DEBUG("EnumMgr.cpp", 137) << "Resume all the threads and wait for them to finish";
        ResumeEvent.Set();
        bReleased = true;
        for (std::thread& t : arrWorkers)
            t.join();
        TLOG_DEBUG("EnumMgr.cpp", 143) << "All the working threads finished";
    } catch (DWORD dwCode) {
        TLOG_TAGGED(LogLevel::error, kManagerErrorTag) << GetErrorText(dwCode);
    }

    // Workers that were started always end before the scan does: released ones finish
    // their drives, and none is left waiting for a release that will not come.
    if (!bReleased)
        ResumeEvent.Set();
    for (std::thread& t : arrWorkers) {
        if (t.joinable())
            t.join();
    }
    arrWorkers.clear();
    arrFileSystems.clear();
    arrDrives.clear();

    TLOG_DEBUG("EnumMgr.cpp", 166) << "Raise EnumFinished event";
    EnumFinished.Set();
    HWND hTarget = g_hTargetWnd.load();
    if (IsWindow(hTarget))
        SendMessage(hTarget, WM_ENUMFINISH, 0, 0);
    TLOG_DEBUG("EnumMgr.cpp", 172) << "Manager Thread is finished";
}

std::thread StartManagerThread(std::shared_ptr<const ScanSetup> pSetup) {
    return std::thread(ManagerThreadProc, std::move(pSetup));
}
