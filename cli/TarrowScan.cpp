// tarrow-scan: the scan of the windowed program, without a window. Scans every fixed
// drive, or the folders given, and prints what the main window would show.
#include "BackupListing.h"
#include "EnumMgr.h"
#include "Environment.h"
#include "GroupList.h"
#include "Log.h"
#include "ModulePath.h"
#include "Path.h"
#include "SafeFile.h"
#include "ScanReport.h"
#include "StringTable.h"

#include <boost/program_options.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits.h>
#include <map>
#include <mutex>
#include <optional>
#include <ranges>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

struct Options {
    bool bJson = false;
    bool bFiles = false;
    bool bLists = false;
    bool bDebug = false;
    std::optional<int> nReadAhead;
    std::vector<std::string> arrFolders;
    std::vector<std::string> arrExclude;  // absolute
    std::vector<std::string> arrBackedUp; // the listings of backups, "-" standard input
    std::string strMetricsFolder;         // with strMetricsName: --metrics, when given
    std::string strMetricsName;
};

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

// For --help and --version, which end the program.
[[noreturn]] void PrintAndExit(const std::string& strText) {
    if (DWORD dwError = WriteStandardOutput(strText)) {
        std::cerr << "tarrow-scan: write error: " << std::strerror(static_cast<int>(dwError))
                  << "\n";
        std::exit(kExitError);
    }
    std::exit(0);
}

std::string Join(const std::vector<std::string>& arr) {
    std::string s;
    for (const std::string& str : arr)
        s += (s.empty() ? "" : ", ") + str;
    return s;
}

// "*.doc; *.docx" as ".doc .docx".
std::string Extensions(const std::string& strFilter) {
    std::string s;
    std::istringstream in(strFilter);
    std::string strToken;
    while (std::getline(in, strToken, ';')) {
        const std::size_t n = strToken.find('*');
        if (n != std::string::npos)
            s += (s.empty() ? "" : " ") + strToken.substr(n + 1);
    }
    return s;
}

std::string Usage() {
    const std::string strFolder = GetLogFolder();
    std::ostringstream o;
    o << "Usage: tarrow-scan [OPTION]... [FOLDER]...\n"
         "Counts the documents, images, music and video files that would be lost\n"
         "without a backup, on every fixed drive or in the folders given.\n"
         "\n"
         "  --json      print one JSON object instead of the table\n"
         "  --files     with --json: list every file found (group, size, local time of\n"
         "              the last write, path); bytes of a path that are not UTF-8 are\n"
         "              written as \\udcXX escapes\n"
         "  --lists     write the per-group list files, as the window does at the end\n"
         "              of a scan, into "
      << strFolder
      << " (Documents.log and so on,\n"
         "              one path per line); the folder is created private when it is\n"
         "              missing, and a list that cannot be written is an error\n"
         "  --exclude FOLDER\n"
         "              leave this folder and everything below it out, as the folders\n"
         "              below are; may be given again. Compared byte for byte with the\n"
         "              paths of the scan (a relative one is taken from the working\n"
         "              folder); a folder that does not exist is no error\n"
         "  --backed-up FILE\n"
         "              also count what a backup does not hold: FILE is the backup tool's\n"
         "              listing of one snapshot, from restic ls --json SNAPSHOT (restic\n"
         "              0.14 or newer) or borg list --json-lines ARCHIVE (borg 1.2 or\n"
         "              newer); - reads standard input; may be given again. A file is\n"
         "              held when a listing has a regular file at its path, of its size\n"
         "              and written no earlier (to the second, fractions dropped)\n"
         "  --metrics FILE\n"
         "              also write the figures to FILE in the Prometheus text format,\n"
         "              for node_exporter's textfile collector (FILE ending in .prom in\n"
         "              its folder); written whole, through a new file renamed over it,\n"
         "              where FILE is missing or a plain file of yours (else an error)\n"
         "  --debug     write the diagnostic log to "
      << strFolder << GetModuleFileName()
      << ".log\n"
         "  --read-ahead=N  N threads read folders ahead of each walk once it waits for\n"
         "              the disk (0: none); by default two per processor, 4 to 8, on a\n"
         "              disk without seeks, 4 on a rotational one\n"
         "  --help      show this help and exit\n"
         "  --version   show the version and exit\n"
         "\n"
         "Files are sorted into groups by their extension, in any letter case:\n";
    for (int i = 0; i < kGroupCount; ++i) {
        std::string strName = LoadString(g_groupTable[i].nNameId);
        strName.resize(std::max<std::size_t>(strName.size(), 11), ' ');
        o << "  " << strName << Extensions(LoadString(g_groupTable[i].nFilterId)) << "\n";
    }
    const KnownFolderSet known = SystemKnownFolders()->Get();
    std::vector<std::string> arrSystem = known.arrSystem;
    arrSystem.insert(arrSystem.end(), known.arrPrograms.begin(), known.arrPrograms.end());
    arrSystem.insert(arrSystem.end(), known.arrProgramData.begin(), known.arrProgramData.end());
    std::vector<std::string> arrCaches = known.arrInternetCache;
    arrCaches.insert(arrCaches.end(), known.arrTemporary.begin(), known.arrTemporary.end());
    o << "Sizes are apparent sizes: the length of each file (as ls -l shows it), not the\n"
         "space it takes on the disk. A file with several names (hard links) is counted\n"
         "once, under the first name met. Symbolic links are not followed.\n"
         "Byte sums never wrap: --json gives each exactly, as a whole number of up to 39\n"
         "digits (sparse files can sum to more than 16 EiB, the most 64 bits hold), and the\n"
         "table goes on past GB in PB, EB, ZB, YB, RB and QB from 1 PiB on.\n"
         "\n"
         "Left out of every scan:\n"
         "  system and programs: "
      << Join(arrSystem)
      << "\n"
         "  caches and temporary files: "
      << Join(arrCaches)
      << "\n"
         "  the trash of every user: .Trash and .Trash-* at each drive's root, and\n"
         "  .local/share/Trash in every home (yours: "
      << known.strUserTrash
      << ")\n"
         "  other file systems mounted inside a drive (each fixed drive is scanned on its own)\n"
         "A folder named on the command line is scanned even when it is one of these: it was\n"
         "asked for. What lies below it and is left out stays left out.\n"
         "\n"
         "NTFS, ext2, ext3 and ext4 drives are read through their own tables (much\n"
         "faster than walking their folders, and the same files) where this program may\n"
         "read the drive's device, and for ext2/3/4 every folder: run it as root, or\n"
         "start the systemd unit installed with it, which runs it as root:\n"
         "  systemctl start tarrow-scan.service\n"
         "It never asks for that access itself (nobody may be there to answer); without\n"
         "it the drives are walked.\n"
         "\n"
         "Folders that cannot be read are counted, and the count said on standard error\n"
         "(--debug lists them in the log); a folder named that cannot be read is an error.\n"
         "Ctrl-C stops the scan and prints what was found until then (exit status 130);\n"
         "a second Ctrl-C ends the program at once. Exit status 0: the scan ran to its end\n"
         "and everything asked for was written; 1: a folder named could not be read or\n"
         "scanned, or the report, a list, the metrics or the diagnostic log could not be\n"
         "written; 2: wrong usage, or a backup listing that cannot be used (nothing is then\n"
         "scanned); 130: stopped.\n";
    return o.str();
}

[[noreturn]] void UsageError(const std::string& strReason) {
    std::cerr << "tarrow-scan: " << strReason
              << "\nTry 'tarrow-scan --help' for more information.\n";
    std::exit(kExitUsage);
}

// Absolute and normal (Path.h): the scan compares paths byte for byte, and a folder to
// leave out need not exist.
std::string AbsoluteFolder(const std::string& strFolder) {
    std::string s = NormalFolder(strFolder);
    if (s.empty())
        UsageError(strFolder + ": " + std::strerror(errno));
    return s;
}

// --metrics FILE as its folder and name; the folder is checked when it is opened.
void SetMetricsFile(Options& o, const std::string& strFile) {
    const std::size_t n = strFile.rfind('/');
    o.strMetricsName = n == std::string::npos ? strFile : strFile.substr(n + 1);
    o.strMetricsFolder = n == std::string::npos ? "." : n == 0 ? "/" : strFile.substr(0, n);
    if (o.strMetricsName.empty() || o.strMetricsName == "." || o.strMetricsName == "..")
        UsageError("--metrics needs a file name: '" + strFile + "'");
}

// Boost.Program_options: the project's own Boost, one more component. Its errors name
// the option concerned, which keeps our messages; the style below keeps today's
// spellings (no abbreviations, no bundled short options, no "-json").
Options ParseOptions(int argc, char** argv) {
    namespace po = boost::program_options;
    namespace style = po::command_line_style;
    po::options_description desc;
    desc.add_options()("json", "")("files", "")("lists", "")("debug", "")("help,h", "")(
        "version", "")("exclude", po::value<std::string>())("metrics", po::value<std::string>())(
        "read-ahead", po::value<std::string>())("backed-up", po::value<std::string>())(
        "folder", po::value<std::string>());
    po::positional_options_description positional;
    positional.add("folder", -1);

    po::parsed_options parsed(&desc);
    try {
        parsed =
            po::command_line_parser(argc, argv)
                .options(desc)
                .positional(positional)
                .style(style::allow_long | style::long_allow_adjacent | style::long_allow_next |
                       style::allow_short | style::allow_dash_for_short | style::short_allow_next)
                .run();
    } catch (const po::unknown_option& e) {
        UsageError("unknown option '" + e.get_option_name() + "'");
    } catch (const po::error& e) {
        UsageError(e.what());
    }

    Options o;
    for (const po::option& opt : parsed.options) {
        const std::string& strKey = opt.string_key;
        const std::string strValue = opt.value.empty() ? std::string() : opt.value.front();
        if (strKey == "folder" && opt.position_key < 0) // the name given as an option
            UsageError("unknown option '" + opt.original_tokens.front() + "'");
        if (strKey == "folder")
            o.arrFolders.push_back(strValue);
        else if (strKey == "json")
            o.bJson = true;
        else if (strKey == "files")
            o.bFiles = true;
        else if (strKey == "lists")
            o.bLists = true;
        else if (strKey == "debug")
            o.bDebug = true;
        else if (strKey == "exclude")
            o.arrExclude.push_back(strValue.empty() ? strValue : AbsoluteFolder(strValue));
        else if (strKey == "metrics")
            SetMetricsFile(o, strValue);
        else if (strKey == "backed-up")
            o.arrBackedUp.push_back(strValue);
        else if (strKey == "read-ahead") {
            if (strValue.empty() || strValue.size() > 3 ||
                strValue.find_first_not_of("0123456789") != std::string::npos)
                UsageError("--read-ahead needs a number of threads from 0 to 999");
            o.nReadAhead = std::stoi(strValue);
        } else if (strKey == "help")
            PrintAndExit(Usage());
        else if (strKey == "version")
            PrintAndExit("tarrow-scan (" + LoadString(IDS_APP_TITLE) + ") " + TARROW_VERSION +
                         "\n");
    }
    if (std::ranges::find(o.arrExclude, std::string()) != o.arrExclude.end())
        UsageError("--exclude needs a folder");
    if (o.bFiles && !o.bJson)
        UsageError("--files needs --json");
    if (std::ranges::find(o.arrBackedUp, std::string()) != o.arrBackedUp.end())
        UsageError("--backed-up needs a file");
    if (std::ranges::count(o.arrBackedUp, std::string("-")) > 1)
        UsageError("--backed-up can read standard input once");
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

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1); // sent by CStopOnSignal's destructor: the program is ending
    return set;
}

// Ctrl-C is Stop; the second one ends the program. Signals are taken by a thread of
// their own with sigwait, so that setting the stop event happens outside a handler.
// main blocks them before anything else; a signal that came early waits for this.
class CStopOnSignal {
public:
    CStopOnSignal() : m_set(StopSignals()) {
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
    bool Stopped() const {
        if (m_bStop.load())
            return true;
        // A signal that came as the scan ended may not have reached the thread yet.
        sigset_t pending;
        return ::sigpending(&pending) == 0 &&
               (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1);
    }

private:
    sigset_t m_set;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// Folders given to the scan that are themselves among the folders every scan leaves
// out (/usr, the temporary folder, a trash) are scanned: the user asked for them.
class CAskedFolders final : public IKnownFolders {
public:
    CAskedFolders(std::shared_ptr<const IKnownFolders> pKnown, std::vector<std::string> arrAsked)
        : m_pKnown(std::move(pKnown)), m_setAsked(arrAsked.begin(), arrAsked.end()) {}

    KnownFolderSet Get() const override {
        KnownFolderSet s = m_pKnown->Get();
        for (auto* pList : {&s.arrSystem, &s.arrPrograms, &s.arrProgramData, &s.arrInternetCache,
                            &s.arrTemporary, &s.arrHomeTrash}) {
            std::erase_if(*pList, [&](const std::string& str) { return IsAsked(str); });
        }
        if (IsAsked(s.strUserTrash))
            s.strUserTrash.clear();
        return s;
    }
    std::string LongPathName(const std::string& strPath) const override {
        return m_pKnown->LongPathName(strPath);
    }

private:
    bool IsAsked(const std::string& strFolder) const {
        return m_setAsked.count(strFolder) || m_setAsked.count(m_pKnown->LongPathName(strFolder));
    }

    std::shared_ptr<const IKnownFolders> m_pKnown;
    std::set<std::string> m_setAsked;
};

// What the scan could not read. Told on the scan's threads.
class CNotRead {
public:
    explicit CNotRead(const std::vector<std::string>& arrAsked)
        : m_setAsked(arrAsked.begin(), arrAsked.end()) {}

    void FolderNotRead(const std::string& strFolder, DWORD dwError) {
        // The list that the message on standard error points to (--debug).
        TLOG_DEBUG("TarrowScan.cpp", 375)
            << "Cannot read folder " << strFolder << ": " << GetErrorText(dwError);
        std::lock_guard lock(m_lock);
        if (m_setAsked.count(strFolder))
            m_arrErrors.push_back("cannot read folder '" + strFolder + "': " + Text(dwError));
        else
            ++m_nFolders;
    }
    void DriveNotScanned(const std::string& strRoot, DWORD dwError) {
        std::lock_guard lock(m_lock);
        m_arrErrors.push_back("'" + strRoot + "' was not scanned: " + Text(dwError));
    }

    // Said on stderr once the scan has ended; false when something asked for is missing.
    bool Report(bool bDebug) const {
        std::lock_guard lock(m_lock);
        for (const std::string& s : m_arrErrors)
            std::cerr << "tarrow-scan: " << s << "\n";
        if (m_nFolders > 0) {
            std::cerr << "tarrow-scan: " << m_nFolders << (m_nFolders == 1 ? " folder" : " folders")
                      << " could not be read; the files in them are not counted ("
                      << (bDebug ? "listed in " + GetLogFolder() + GetModuleFileName() + ".log"
                                 : "--debug lists them in the log")
                      << ")\n";
        }
        return m_arrErrors.empty();
    }

private:
    static std::string Text(DWORD dwError) { return std::strerror(static_cast<int>(dwError)); }

    const std::set<std::string> m_setAsked;
    mutable std::mutex m_lock;
    std::vector<std::string> m_arrErrors;
    std::int64_t m_nFolders = 0;
};

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

    Options options = ParseOptions(argc, argv);

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
