// tarrow-scan: the scan of the windowed program, without a window. Scans every fixed
// drive, or the folders given, and prints what the main window would show.
#include "EnumMgr.h"
#include "Environment.h"
#include "GroupList.h"
#include "Log.h"
#include "ModulePath.h"
#include "ScanReport.h"
#include "StringTable.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits.h>
#include <string>
#include <thread>
#include <vector>

#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitStopped = 130;
constexpr int kExitUsage = 2;

struct Options {
    bool bJson = false;
    bool bFiles = false;
    bool bLists = false;
    bool bDebug = false;
    std::vector<std::string> arrFolders;
};

const char* const kUsage =
    "Usage: tarrow-scan [OPTION]... [FOLDER]...\n"
    "Counts the documents, images, music and video files that would be lost\n"
    "without a backup, on every fixed drive or in the folders given.\n"
    "\n"
    "  --json      print one JSON object instead of the table\n"
    "  --files     with --json: list every file found (group, size, local time of\n"
    "              the last write, path); bytes of a path that are not UTF-8 are\n"
    "              written as \\udcXX escapes\n"
    "  --lists     write the per-group list files, as the window does at the end\n"
    "              of a scan\n"
    "  --debug     write the diagnostic log\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Ctrl-C stops the scan and prints what was found until then (exit status 130);\n"
    "a second Ctrl-C ends the program at once.\n";

[[noreturn]] void UsageError(const std::string& strReason) {
    std::cerr << "tarrow-scan: " << strReason
              << "\nTry 'tarrow-scan --help' for more information.\n";
    std::exit(kExitUsage);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    bool bOptionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (!bOptionsEnd && s == "--") {
            bOptionsEnd = true;
        } else if (!bOptionsEnd && s.size() > 1 && s[0] == '-') {
            if (s == "--json")
                o.bJson = true;
            else if (s == "--files")
                o.bFiles = true;
            else if (s == "--lists")
                o.bLists = true;
            else if (s == "--debug")
                o.bDebug = true;
            else if (s == "--help" || s == "-h") {
                std::cout << kUsage;
                std::exit(0);
            } else if (s == "--version") {
                std::cout << "tarrow-scan (" << LoadString(IDS_APP_TITLE) << ") " << TARROW_VERSION
                          << "\n";
                std::exit(0);
            } else
                UsageError("unknown option '" + s + "'");
        } else {
            o.arrFolders.push_back(s);
        }
    }
    if (o.bFiles && !o.bJson)
        UsageError("--files needs --json");
    for (std::string& strFolder : o.arrFolders) {
        struct stat st;
        if (::stat(strFolder.c_str(), &st) != 0)
            UsageError(strFolder + ": " + std::strerror(errno));
        if (!S_ISDIR(st.st_mode))
            UsageError(strFolder + ": not a folder");
        char resolved[PATH_MAX];
        if (!::realpath(strFolder.c_str(), resolved))
            UsageError(strFolder + ": " + std::strerror(errno));
        strFolder = resolved;
    }
    return o;
}

// Deep trees keep one folder open per level: allow as many as the system lets us.
void RaiseOpenFileLimit() {
    struct rlimit rl;
    if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &rl);
    }
}

// Ctrl-C is Stop; the second one ends the program. Signals are taken by a thread of
// their own with sigwait, so that setting the stop event happens outside a handler.
class CStopOnSignal {
public:
    CStopOnSignal() {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        sigaddset(&m_set, SIGUSR1); // sent by the destructor: the program is ending
        pthread_sigmask(SIG_BLOCK, &m_set, nullptr); // inherited by every thread started later
        m_thread = std::thread([this] {
            for (;;) {
                int nSignal = 0;
                if (sigwait(&m_set, &nSignal) != 0)
                    continue;
                if (nSignal == SIGUSR1)
                    return;
                if (m_bStop.exchange(true))
                    std::_Exit(kExitStopped);
                ForceEvent.Set();
            }
        });
    }
    ~CStopOnSignal() {
        pthread_kill(m_thread.native_handle(), SIGUSR1);
        m_thread.join();
    }
    bool Stopped() const { return m_bStop.load(); }

private:
    sigset_t m_set;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

std::size_t TerminalWidth() {
    struct winsize ws;
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1)
        return ws.ws_col - 1u;
    return 79;
}

} // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);

    if (options.bDebug) {
        ConfigureLog({"%TEMP%\\Tarrow\\", GetModuleFileName() + ".log", 0x200000, 1, "full", true});
    }
    RaiseOpenFileLimit();

    // Blocks the stop signals before any other thread exists.
    CStopOnSignal stop;

    auto pSetup = std::make_shared<ScanSetup>(
        options.arrFolders.empty() ? SystemScanSetup() : FolderScanSetup(options.arrFolders));

    CScanResults results(options.bFiles || options.bLists);
    CDirectWindow window([&](UINT nMsg, WPARAM wParam, LPARAM lParam) {
        return results.OnMessage(nMsg, wParam, lParam);
    });
    g_hTargetWnd = window.GetSafeHwnd();

    const bool bProgress = ::isatty(STDERR_FILENO) == 1;
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
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (bShown)
        std::cerr << "\r\x1b[K" << std::flush;
    const bool bStopped = stop.Stopped();

    if (options.bJson) {
        std::vector<DriveReport> drives;
        auto pVolumes = pSetup->volumeTable();
        for (const std::string& strRoot : pVolumes->GetLogicalDrives()) {
            if (pVolumes->GetDriveType(strRoot) != DRIVE_FIXED)
                continue;
            DriveReport d{strRoot, {}, {}};
            DWORD dwError = 0;
            if (pVolumes->GetVolumeInformation(strRoot, d.strFileSystem, dwError))
                d.strEnumerator =
                    UsesVolumeEnum(*pSetup, *pVolumes, strRoot, d.strFileSystem) ? "mft" : "walk";
            drives.push_back(std::move(d));
        }
        std::cout << FormatJson(results, drives, bStopped, elapsed, options.bFiles);
    } else {
        std::cout << FormatTable(results, bStopped);
    }
    std::cout.flush();

    if (options.bLists) {
        for (int i = 0; i < kGroupCount; ++i) {
            std::vector<FileProperty> records;
            for (const FoundRecord& r : results.Records()) {
                if (r.nGroup == i)
                    records.push_back(r.prop);
            }
            WriteGroupListFile(GetLogFolder(), results.GroupName(i), GroupListText(records));
        }
    }
    return bStopped ? kExitStopped : 0;
}
