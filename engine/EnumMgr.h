// One scan: the manager thread finds the fixed drives, starts one worker per drive,
// releases them together and reports the end of the scan.
#pragma once

#include "ExtEnum.h"
#include "FsEnum.h"
#include "VolumeGrant.h"
#include "platform/KnownFolders.h"
#include "platform/VolumeTable.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Why a folder is left out of a drive's scan.
enum class LeftOutReason { system, programs, programData, cache, temporary, trash, mount, asked };

// What a scan reads the machine through. The program uses the system's; tests and
// the command-line scanner substitute folders as drives.
struct ScanSetup {
    // Called once per scan: the volume table is read afresh each time.
    std::function<std::shared_ptr<const IVolumeTable>()> volumeTable;
    std::shared_ptr<const IKnownFolders> pKnownFolders;
    // The enumerator of NTFS volumes; null: NTFS volumes are walked like the others.
    // Each enumerator opens its volume through the opener given, or the system's (null).
    using VolumeEnumFactory =
        std::function<std::unique_ptr<IFsEnum>(std::shared_ptr<const IVolumeOpener>)>;
    VolumeEnumFactory createVolumeEnum;
    // The enumerator of ext2/3/4 volumes; null: they are walked like the others.
    using ExtEnumFactory =
        std::function<std::unique_ptr<CExtEnum>(std::shared_ptr<const IVolumeOpener>)>;
    ExtEnumFactory createExtEnum;
    // Whether this process may read every folder whatever its permissions: only then
    // is an ext2/3/4 table, which holds every folder's names, read at all.
    std::function<bool()> mayReadEveryFolder;
    // For a drive whose table would be read but whose volume this process cannot open:
    // asks for its device, waiting for the answer or a stop, on the drive's worker. 0
    // with an opener of the volume (it then counts as opened by a process that may read
    // every folder); otherwise why not, in words. Empty: nobody is asked.
    std::function<DWORD(const std::string& strRoot, std::shared_ptr<const IVolumeOpener>& pOpener,
                        std::string& strWhy)>
        grantVolume;

    // What a scan could not read, for a caller that says so; each may be empty. Called
    // on the scan's threads, several at once, with the reason (an errno value).
    // A folder a walk could not list, wholly or in part (a drive's root among them):
    std::function<void(const std::string& strFolder, DWORD dwError)> onFolderNotRead;
    // A drive that got no worker, or whose volume could not be queried:
    std::function<void(const std::string& strRoot, DWORD dwError)> onDriveNotScanned;

    // Folders to leave out besides the built-in ones, each with everything below it,
    // compared byte for byte (absolute paths). One that holds a drive's root leaves
    // the whole drive out.
    std::vector<std::string> arrExclude;

    // For a caller that reports per drive; each may be empty. Called on the drive's
    // worker thread: its start, each folder left out of it (before any of its files is
    // reported; folders that do not exist included), and its end.
    std::function<void(const std::string& strRoot)> onDriveStarted;
    std::function<void(const std::string& strRoot, const std::string& strFolder,
                       LeftOutReason reason)>
        onFolderLeftOut;
    std::function<void(const std::string& strRoot)> onDriveFinished;
    // How the drive was read, before its end: "mft" or "ext4" through its own table,
    // "walk" folder by folder (also when a table reader stepped back to the walk).
    std::function<void(const std::string& strRoot, const char* pszEnumerator)> onDriveEnumerator;

    // Threads that read ahead of each walk; unset: as many as suit the drive's disk.
    std::optional<int> nReadAheadThreads;
};

ScanSetup SystemScanSetup();
// A grantVolume that asks grants for the drive's device (AskForVolume).
std::function<DWORD(const std::string&, std::shared_ptr<const IVolumeOpener>&, std::string&)>
GrantVolumeThrough(std::shared_ptr<IDeviceGrants> pGrants);
// The system's, with these folders standing as the fixed drives (each its own root).
ScanSetup FolderScanSetup(std::vector<std::string> arrFolders);

// The manager thread's work, from the reset of the events to the scan-finished
// notification. The starter of a scan stores its window in g_hTargetWnd first.
void ManagerThreadProc(std::shared_ptr<const ScanSetup> pSetup);

// Starts ManagerThreadProc on a thread of its own; the caller owns and joins it.
std::thread StartManagerThread(std::shared_ptr<const ScanSetup> pSetup);

// Whether a drive with this file system is read through its own table rather than
// walked: NTFS with an NTFS enumerator, or ext2/3/4 with an ext enumerator and a process
// that may read every folder; and in both cases the raw volume readable.
bool UsesVolumeEnum(const ScanSetup& setup, const IVolumeTable& volumes, const std::string& strRoot,
                    const std::string& strFileSystem);
// The file systems the ext enumerator reads (the kernel's ext4 driver reads them all).
bool IsExtFileSystem(const std::string& strFileSystem);
// The enumerator a drive gets: "mft", "ext4" or "walk" (the ext4 reader may still step
// back to the walk once it has looked at the volume).
const char* EnumeratorFor(const ScanSetup& setup, const IVolumeTable& volumes,
                          const std::string& strRoot, const std::string& strFileSystem);

// One worker: the drives of one file system, named by their roots (valid for the
// worker's whole life), scanned one after another, each as a drive of its own. A file
// with several names among them is reported once.
void WorkerThreadProc(const std::vector<std::string>& arrRoots, const ScanSetup& setup,
                      const IVolumeTable& volumes);
