// tarrow-scan: the scan of the windowed program, without a window. Scans every fixed
// drive, or the folders given, and prints what the main window would show.
#include "AskedFolders.h"
#include "BackupListing.h"
#include "EnumMgr.h"
#include "Environment.h"
#include "GroupList.h"
#include "Log.h"
#include "ModulePath.h"
#include "Path.h"
#include "SafeFile.h"
#include "ScanOptions.h"
#include "ScanReport.h"
#include "StopOnSignal.h"
#include "StringTable.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <ranges>
#include <string>
#include <system_error>
#include <thread>
#include <variant>
#include <vector>

#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

// Everything is written through here, so that a write that fails (a full disk,
// /dev/full) is an error and never a report cut short with status 0. 0 or errno.
DWORD WriteStandardOutput(const std::string& strText) {
    const char* p = strText.data();
    std::size_t nLeft = strText.size();
    while (nLeft > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, nLeft);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? static_cast<DWORD>(errno) : EIO;
        p += n;
        nLeft -= static_cast<std::size_t>(n);
    }
    return 0;
}

// The list files, into the log's folder, which is created by the log's rules when it
// is missing (private, never through a link). Says on stderr each list that was not
// written, and why; false when one was not.
bool WriteLists(const CScanResults& results) {
    const std::string strFolder = GetLogFolder();
    CFileHandle folder;
    if (SafeFileResult r = OpenPrivateFolder(strFolder, true, folder); !r) {
        std::cerr << "tarrow-scan: no list file was written: " << strFolder << ": " << r.GetText()
                  << "\n";
        return false;
    }
    bool bAll = true;
    for (int i = 0; i < kGroupCount; ++i) {
        auto records = results.Records() |
                       std::views::filter([i](const FoundRecord& r) { return r.nGroup == i; }) |
                       std::views::transform(&FoundRecord::prop);
        const std::string& strGroup = results.GroupName(i);
        if (SafeFileResult r = WriteGroupListFile(folder, strGroup, GroupListText(records)); !r) {
            std::cerr << "tarrow-scan: " << strFolder << GroupListFileName(strGroup)
                      << " was not written: " << r.GetText() << "\n";
            bAll = false;
        }
    }
    return bAll;
}

std::size_t TerminalWidth() {
    struct winsize ws;
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1)
        return ws.ws_col - 1u;
    return 79;
}

std::string HostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return buf;
}

// The metrics file, written whole into its folder, which was opened before the scan.
bool WriteMetrics(const Options& options, const CFileHandle& folder, const std::string& strText) {
    // Readable by the collector, which runs as a user of its own.
    constexpr mode_t kMetricsMode = 0644;
    if (SafeFileResult r = ReplaceWholeFile(folder, options.strMetricsName, strText, kMetricsMode);
        !r) {
        std::cerr << "tarrow-scan: " << JoinPath(options.strMetricsFolder, options.strMetricsName)
                  << " was not written: " << r.GetText() << "\n";
        return false;
    }
    return true;
}

// The groups' own test: a listing keeps only the files a scan can ask about.
class CGroupFilter final : public IFsEnum {
public:
    CGroupFilter() {
        for (const GroupEntry& g : g_groupTable)
            AddGroup(LoadString(g.nNameId), LoadString(g.nFilterId));
    }
    bool EnumeratePath(const std::string&) override { return false; }
    bool EnumerateDrive(const std::string&) override { return false; }
};

// The listings of --backed-up, read whole; 0, or the exit status when one is no use.
int ReadBackups(const Options& options, const CStopOnSignal& stop, CBackupIndex& backups) {
    const CGroupFilter groups;
    const ListingPathFilter keep = [&groups, strGroup = std::string()](std::string_view s) mutable {
        return groups.MatchGroup(s, strGroup);
    };
    ListingReadOptions read;
    read.stopped = [&stop] { return stop.Stopped(); };
    for (const std::string& strFile : options.arrBackedUp) {
        const ListingResult r = ReadListingFile(strFile, backups, keep, read);
        if (r.m_status == ListingStatus::stopped) {
            std::cerr << "tarrow-scan: stopped while reading the backup listings; nothing was "
                         "scanned\n";
            return kExitStopped;
        }
        if (r.m_status == ListingStatus::failed) {
            std::cerr << "tarrow-scan: " << (strFile == "-" ? "standard input" : strFile) << ": "
                      << r.m_strWhy << "\n";
            return kExitUsage;
        }
    }
    backups.Seal();
    return 0;
}

int Scan(const Options& options) {
    CStopOnSignal stop;

    // First of all: a listing that is no use costs no scan and writes nothing.
    CBackupIndex backups;
    if (!options.arrBackedUp.empty()) {
        if (const int nExit = ReadBackups(options, stop, backups))
            return nExit;
    }

    // Before the scan, so that a folder that cannot take the metrics costs no scan.
    CFileHandle metricsFolder;
    if (!options.strMetricsName.empty()) {
        if (SafeFileResult r = OpenFolder(options.strMetricsFolder, metricsFolder); !r) {
            std::cerr << "tarrow-scan: cannot write the metrics into " << options.strMetricsFolder
                      << ": " << r.GetText() << "\n";
            return kExitError;
        }
        if (SafeFileResult r = CheckReplaceable(metricsFolder, options.strMetricsName); !r) {
            std::cerr << "tarrow-scan: cannot write the metrics to "
                      << JoinPath(options.strMetricsFolder, options.strMetricsName) << ": "
                      << r.GetText() << "\n";
            return kExitError;
        }
    }

    auto pSetup = std::make_shared<ScanSetup>(
        options.arrFolders.empty() ? SystemScanSetup() : FolderScanSetup(options.arrFolders));
    if (!options.arrFolders.empty()) {
        pSetup->pKnownFolders =
            std::make_shared<CAskedFolders>(pSetup->pKnownFolders, options.arrFolders);
    }
    pSetup->arrExclude = options.arrExclude;
    pSetup->nReadAheadThreads = options.nReadAhead;

    // The drives the report goes by; the manager reads the same table afresh.
    std::vector<std::string> arrRoots;
    auto pVolumes = pSetup->volumeTable();
    for (const std::string& strRoot : pVolumes->GetLogicalDrives()) {
        if (pVolumes->GetDriveType(strRoot) == DRIVE_FIXED)
            arrRoots.push_back(strRoot);
    }
    CScanResults results(options.bFiles || options.bLists, arrRoots);
    if (!options.arrBackedUp.empty())
        results.CompareWith(backups);

    CNotRead notRead(options.arrFolders);
    pSetup->onFolderNotRead = [&](const std::string& strFolder, DWORD dwError) {
        notRead.FolderNotRead(strFolder, dwError);
        results.FolderNotRead(strFolder);
    };
    pSetup->onDriveNotScanned = [&notRead](const std::string& strRoot, DWORD dwError) {
        notRead.DriveNotScanned(strRoot, dwError);
    };
    pSetup->onDriveStarted = [&results](const std::string& strRoot) {
        results.DriveStarted(strRoot);
    };
    pSetup->onDriveFinished = [&results](const std::string& strRoot) {
        results.DriveFinished(strRoot);
    };
    // How each drive was read: a table reader may step back to the walk.
    std::mutex enumeratorsLock;
    std::map<std::string, std::string> mapEnumerators;
    pSetup->onDriveEnumerator = [&](const std::string& strRoot, const char* pszEnumerator) {
        std::lock_guard lock(enumeratorsLock);
        mapEnumerators[strRoot] = pszEnumerator;
    };
    // What does not exist holds nothing the totals could miss.
    pSetup->onFolderLeftOut = [&results](const std::string& strRoot, const std::string& strFolder,
                                         LeftOutReason reason) {
        struct stat st;
        if (::lstat(strFolder.c_str(), &st) == 0)
            results.FolderLeftOut(strRoot, strFolder, reason);
    };

    CDirectWindow window([&](UINT nMsg, WPARAM wParam, LPARAM lParam) {
        return results.OnMessage(nMsg, wParam, lParam);
    });
    g_hTargetWnd = window.GetSafeHwnd();

    const bool bProgress = ::isatty(STDERR_FILENO) == 1;
    ScanRun run{TARROW_VERSION, HostName(), std::chrono::system_clock::now(), 0, false};
    const auto start = std::chrono::steady_clock::now();
    std::thread manager = StartManagerThread(pSetup);
    bool bShown = false;
    while (!results.WaitFinished(100)) {
        if (stop.Stopped())
            ForceEvent.Set(); // again, in case the manager's start reset it
        if (bProgress) {
            std::cerr << "\r\x1b[K" << FormatProgress(results, TerminalWidth()) << std::flush;
            bShown = true;
        }
    }
    manager.join();
    run.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (bShown)
        std::cerr << "\r\x1b[K" << std::flush;
    const bool bStopped = stop.Stopped();
    run.bStopped = bStopped;

    // The lists and metrics before the report: a reader that stops early (| head -1)
    // ends this process as the report is written, and must not take them with it.
    const bool bListsWritten = !options.bLists || WriteLists(results);

    std::vector<DriveReport> drives;
    if (options.bJson || metricsFolder.IsOpen()) {
        for (const std::string& strRoot : arrRoots) {
            DriveReport d{strRoot, {}, {}};
            DWORD dwError = 0;
            if (pVolumes->GetVolumeInformation(strRoot, d.strFileSystem, dwError)) {
                const auto it = mapEnumerators.find(strRoot);
                d.strEnumerator = it != mapEnumerators.end()
                                      ? it->second
                                      : EnumeratorFor(*pSetup, *pVolumes, strRoot, d.strFileSystem);
            }
            drives.push_back(std::move(d));
        }
    }
    const bool bMetricsWritten =
        !metricsFolder.IsOpen() ||
        WriteMetrics(options, metricsFolder, FormatMetrics(results, drives, run));

    const std::string strReport = options.bJson ? FormatJson(results, drives, run, options.bFiles)
                                                : FormatTable(results, bStopped);
    const DWORD dwWriteError = WriteStandardOutput(strReport);
    const bool bAllRead = notRead.Report(options.bDebug);
    if (dwWriteError != 0) {
        std::cerr << "tarrow-scan: write error: " << std::strerror(static_cast<int>(dwWriteError))
                  << "\n";
        return kExitError;
    }
    if (bStopped)
        return kExitStopped;
    return bAllRead && bListsWritten && bMetricsWritten ? 0 : kExitError;
}

} // namespace

int main(int argc, char** argv) {
    // Before anything else, so that a Ctrl-C in the first milliseconds waits for the
    // scan to answer it; every thread started later inherits the mask.
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const std::variant<Options, UsageError> parsed = ParseOptions(argc, argv);
    if (const auto* pError = std::get_if<UsageError>(&parsed)) {
        std::cerr << "tarrow-scan: " << pError->strReason
                  << "\nTry 'tarrow-scan --help' for more information.\n";
        return kExitUsage;
    }
    const Options& options = std::get<Options>(parsed);
    if (options.action != Options::Action::scan) {
        const std::string strText =
            options.action == Options::Action::help
                ? Usage()
                : "tarrow-scan (" + LoadString(IDS_APP_TITLE) + ") " + TARROW_VERSION + "\n";
        if (DWORD dwError = WriteStandardOutput(strText)) {
            std::cerr << "tarrow-scan: write error: " << std::strerror(static_cast<int>(dwError))
                      << "\n";
            return kExitError;
        }
        return 0;
    }

    // A log asked for and not written whole is said once, and fails the run.
    static std::atomic<bool> s_bLogLost{false};
    if (options.bDebug) {
        SetLogWriteFailureHandler([](const std::string& strWhy) {
            std::cerr << "tarrow-scan: the diagnostic log could not be written: " << strWhy << "\n";
            s_bLogLost.store(true);
        });
        if (const std::string strWhy =
                ConfigureLog({kLogFolderSetting, GetModuleFileName() + ".log",
                              kDefaultMaxLogFileSize, 1, "full", true});
            !strWhy.empty()) {
            std::cerr << "tarrow-scan: the diagnostic log is not written: " << strWhy << "\n";
            s_bLogLost.store(true);
        }
    } else {
        // Nothing will read the log: its statements are not even kept.
        g_nLogThreshold.store(UINT32_MAX, std::memory_order_relaxed);
    }

    try {
        const int nStatus = Scan(options);
        return nStatus == 0 && s_bLogLost.load() ? kExitError : nStatus;
    } catch (const std::system_error& e) {
        // A thread of our own could not be started (a process limit): no scan at all.
        std::cerr << "tarrow-scan: cannot scan: " << e.code().message() << "\n";
        return kExitError;
    }
}
