#include "EnumMgr.h"

#include "Log.h"
#include "MftEnum.h"
#include "ScanControl.h"
#include "SimpleEnum.h"
#include "StringTable.h"

#include <strings.h>
#include <system_error>
#include <vector>

namespace {

// Separator of the worker's statements: space, em dash, space.
constexpr const char* S = " \xE2\x80\x94 ";

// Statements of the known-folder slots, in slot order.
constexpr const char* kGroupTags[] = {
    TLOG_FILE_TAG("EnumMgr.cpp", 218), TLOG_FILE_TAG("EnumMgr.cpp", 223),
    TLOG_FILE_TAG("EnumMgr.cpp", 228), TLOG_FILE_TAG("EnumMgr.cpp", 233)};
constexpr const char* kTrashTags[] = {TLOG_FILE_TAG("EnumMgr.cpp", 351),
                                      TLOG_FILE_TAG("EnumMgr.cpp", 355),
                                      TLOG_FILE_TAG("EnumMgr.cpp", 359)};

void AddExclusions(IFsEnum& e, const std::string& strRoot,
                   const std::vector<std::string>& arrFolders,
                   const std::vector<std::string>& arrMountPoints, const char* pszTag) {
    for (const std::string& strFolder : arrFolders) {
        if (MountPointOf(strFolder, arrMountPoints) != strRoot)
            continue; // lies on another drive
        e.AddExclusion(strFolder);
        TLOG_TAGGED(LogLevel::debug, pszTag)
            << strRoot << S << "Exclusion filter is added: " << strFolder;
    }
}

void PrepareAndEnumerate(IFsEnum& e, const std::string& strRoot, const ScanSetup& setup,
                         const IVolumeTable& volumes) {
    const std::vector<std::string> arrMountPoints = volumes.GetMountPoints();
    const KnownFolderSet known = setup.pKnownFolders->Get();

    for (int i = 0; i < kGroupCount; ++i) {
        const std::string strName = LoadString(g_groupTable[i].nNameId);
        const std::string strFilter = LoadString(g_groupTable[i].nFilterId);
        e.AddGroup(strName, strFilter);
        TLOG_TAGGED(LogLevel::debug, kGroupTags[i])
            << strRoot << S << strName
            << " group is added with the following filter: " << strFilter;
    }

    AddExclusions(e, strRoot, known.arrSystem, arrMountPoints, TLOG_FILE_TAG("EnumMgr.cpp", 260));
    AddExclusions(e, strRoot, known.arrPrograms, arrMountPoints, TLOG_FILE_TAG("EnumMgr.cpp", 281));
    AddExclusions(e, strRoot, known.arrProgramData, arrMountPoints,
                  TLOG_FILE_TAG("EnumMgr.cpp", 302));
    AddExclusions(e, strRoot, known.arrInternetCache, arrMountPoints,
                  TLOG_FILE_TAG("EnumMgr.cpp", 323));

    for (const std::string& strTemp : known.arrTemporary) {
        if (MountPointOf(strTemp, arrMountPoints) != strRoot)
            continue;
        const std::string strLong = setup.pKnownFolders->LongPathName(strTemp);
        e.AddExclusion(strLong); // refuses the empty long form of a folder that is gone
        TLOG_DEBUG("EnumMgr.cpp", 346) << strRoot << S << "Exclusion filter is added: " << strLong;
    }

    const std::string strBase = strRoot == "/" ? std::string() : strRoot;
    const std::string arrTrash[] = {strBase + "/.Trash",
                                    strBase + "/.Trash-" + std::to_string(known.nUserId)};
    for (int i = 0; i < 2; ++i) {
        e.AddExclusion(arrTrash[i]);
        TLOG_TAGGED(LogLevel::debug, kTrashTags[i])
            << strRoot << S << "Exclusion filter is added: " << arrTrash[i];
    }
    AddExclusions(e, strRoot, {known.strUserTrash}, arrMountPoints, kTrashTags[2]);

    // Never walk into another mount: each fixed drive has its own worker, and what
    // else is mounted below (system, network, removable) is not ours to scan.
    for (const std::string& strMount : arrMountPoints) {
        if (strMount != strRoot && IsPathAtOrBelow(strMount, strRoot)) {
            e.AddExclusion(strMount);
            TLOG_DEBUG("EnumMgr.cpp", 361)
                << strRoot << S << "Exclusion filter is added: " << strMount;
        }
    }

    e.EnumerateDrive(strRoot);
}

} // namespace

ScanSetup SystemScanSetup() {
    ScanSetup setup;
    setup.volumeTable = [] { return std::shared_ptr<const IVolumeTable>(CreateMountTable()); };
    setup.pKnownFolders = SystemKnownFolders();
    setup.createVolumeEnum = [] { return std::make_unique<CMftEnum>(); };
    return setup;
}

ScanSetup FolderScanSetup(std::vector<std::string> arrFolders) {
    ScanSetup setup = SystemScanSetup();
    setup.volumeTable = [arrFolders = std::move(arrFolders)] {
        return std::shared_ptr<const IVolumeTable>(
            CreateFolderTable(arrFolders, std::shared_ptr<const IVolumeTable>(CreateMountTable())));
    };
    return setup;
}

bool UsesVolumeEnum(const ScanSetup& setup, const IVolumeTable& volumes, const std::string& strRoot,
                    const std::string& strFileSystem) {
    return setup.createVolumeEnum && ::strcasecmp(strFileSystem.c_str(), "NTFS") == 0 &&
           volumes.CanReadVolume(strRoot);
}

void WorkerThreadProc(const std::string& strRoot, const ScanSetup& setup,
                      const IVolumeTable& volumes) {
    TLOG_DEBUG("EnumMgr.cpp", 181) << "Working thread for drive " << strRoot << " started";
    std::unique_ptr<IFsEnum> pVolumeEnum =
        setup.createVolumeEnum ? setup.createVolumeEnum() : nullptr;
    CSimpleEnum simpleEnum;

    if (WaitForAnyEvent({&ForceEvent, &ResumeEvent}, INFINITE) == WAIT_OBJECT_0) {
        TLOG_DEBUG("EnumMgr.cpp", 193) << "Working thread for drive " << strRoot
                                       << "received ForceEvent event and will be finished";
        return;
    }

    if (!strRoot.empty()) {
        try {
            std::string strFileSystem;
            DWORD dwError = 0;
            if (!volumes.GetVolumeInformation(strRoot, strFileSystem, dwError))
                RaiseError(dwError);
            TLOG_DEBUG("EnumMgr.cpp", 205)
                << strRoot << S << "File system of " << strRoot << " is " << strFileSystem;

            IFsEnum* pEnum = &simpleEnum;
            if (pVolumeEnum && UsesVolumeEnum(setup, volumes, strRoot, strFileSystem)) {
                pEnum = pVolumeEnum.get();
            } else if (::strcasecmp(strFileSystem.c_str(), "NTFS") == 0) {
                // Reading the file table needs the raw volume, which only some users
                // may open; everyone else still gets the drive's files by walking it.
                TLOG_DEBUG("EnumMgr.cpp", 207)
                    << strRoot << S << "The volume cannot be read directly; its folders are walked";
            }
            PrepareAndEnumerate(*pEnum, strRoot, setup, volumes);
        } catch (DWORD dwCode) {
            TLOG_ERROR("EnumMgr.cpp", 366) << strRoot << S << GetErrorText(dwCode);
        }
    }
    TLOG_DEBUG("EnumMgr.cpp", 369)
        << strRoot << S << "Working thread for drive " << strRoot << " finished";
}

void ManagerThreadProc(std::shared_ptr<const ScanSetup> pSetup) {
    TLOG_DEBUG("EnumMgr.cpp", 70) << "Manager Thread is started";
    ResumeEvent.Reset();
    ForceEvent.Reset();
    EnumFinished.Reset();

    std::vector<std::string> arrDrives;
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

        // Every worker is started before any is released: they wait on the events.
        arrWorkers.reserve(arrDrives.size());
        for (const std::string& strRoot : arrDrives) {
            if (pVolumes->GetDriveType(strRoot) != DRIVE_FIXED)
                continue;
            try {
                arrWorkers.emplace_back(WorkerThreadProc, std::cref(strRoot), std::cref(*pSetup),
                                        std::cref(*pVolumes));
            } catch (const std::system_error& e) {
                // The other drives are still scanned.
                TLOG_ERROR("EnumMgr.cpp", 147)
                    << GetErrorText(static_cast<DWORD>(e.code().value()));
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
        TLOG_ERROR("EnumMgr.cpp", 147) << GetErrorText(dwCode);
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
