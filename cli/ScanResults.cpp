#include "ScanReport.h"

#include "BackupReport.h"
#include "Path.h"
#include "SizeText.h"
#include "StringTable.h"
#include "TextEscape.h"

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <set>
#include <sstream>

struct CScanResults::DriveCounts {
    explicit DriveCounts(std::string_view strRoot) : strRoot(strRoot) {}

    const std::string strRoot;
    bool bHoldsOthers = false; // another drive's root lies below this one
    std::atomic<std::int64_t> nFiles{0};
    CByteCounter nBytes;
    std::atomic<std::int64_t> nUnreadable{0};
    // Under m_lock:
    std::chrono::steady_clock::time_point started;
    bool bStarted = false;
    double seconds = 0;
    std::vector<std::pair<std::string, LeftOutReason>> arrLeftOut;
    std::set<std::string> setLeftOut;
};

CScanResults::CScanResults(bool bKeepFiles, const std::vector<std::string>& arrDriveRoots)
    : m_bKeepFiles(bKeepFiles) {
    for (int i = 0; i < kGroupCount; ++i)
        m_arrNames[i] = LoadString(g_groupTable[i].nNameId);
    for (const std::string& strRoot : arrDriveRoots) {
        const std::string_view strTrimmed = TrimTrailingSeparators(strRoot);
        if (FindRoot(strTrimmed))
            continue;
        m_arrDrives.push_back(std::make_unique<DriveCounts>(strTrimmed));
        m_mapDrives.emplace(m_arrDrives.back()->strRoot, m_arrDrives.back().get());
    }
    // Thousands of folders can stand as drives: sorted, those below a root follow it.
    std::vector<std::string_view> arrSorted;
    for (const auto& p : m_arrDrives)
        arrSorted.push_back(p->strRoot);
    std::ranges::sort(arrSorted);
    for (const auto& pOuter : m_arrDrives) {
        const std::string strPrefix = std::string(FolderPrefix(pOuter->strRoot)) + "/";
        auto it = std::ranges::lower_bound(arrSorted, std::string_view(strPrefix));
        pOuter->bHoldsOthers = it != arrSorted.end() && it->starts_with(strPrefix);
    }
}

CScanResults::~CScanResults() = default;

CScanResults::DriveCounts* CScanResults::FindRoot(std::string_view strRoot) const {
    auto it = m_mapDrives.find(strRoot);
    return it == m_mapDrives.end() ? nullptr : it->second;
}

CScanResults::DriveCounts* CScanResults::FindDrive(std::string_view strPath) const {
    if (m_arrDrives.empty())
        return nullptr;
    // Mostly one lookup: the last file's drive, when no other drive lies inside it.
    DriveCounts* pLast = m_pLastDrive.load(std::memory_order_relaxed);
    if (pLast && !pLast->bHoldsOthers) {
        if (strPath != pLast->strRoot && IsPathAtOrBelow(strPath, pLast->strRoot))
            return pLast;
    }
    // Otherwise the longest root above the path.
    DriveCounts* pFound = nullptr;
    NearestAtOrAbove(strPath,
                     [&](std::string_view s) { return (pFound = FindRoot(s)) != nullptr; });
    if (pFound)
        m_pLastDrive.store(pFound, std::memory_order_relaxed);
    return pFound;
}

void CScanResults::DriveStarted(const std::string& strRoot) {
    if (DriveCounts* p = FindRoot(TrimTrailingSeparators(strRoot))) {
        std::lock_guard lock(m_lock);
        p->started = std::chrono::steady_clock::now();
        p->bStarted = true;
    }
}

void CScanResults::DriveFinished(const std::string& strRoot) {
    if (DriveCounts* p = FindRoot(TrimTrailingSeparators(strRoot))) {
        std::lock_guard lock(m_lock);
        if (p->bStarted) {
            p->seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - p->started)
                    .count();
        }
    }
}

void CScanResults::FolderNotRead(const std::string& strFolder) {
    // A drive's root that cannot be read is its own.
    DriveCounts* p = FindRoot(TrimTrailingSeparators(strFolder));
    if (!p)
        p = FindDrive(strFolder);
    if (p)
        p->nUnreadable.fetch_add(1, std::memory_order_relaxed);
}

void CScanResults::FolderLeftOut(const std::string& strRoot, const std::string& strFolder,
                                 LeftOutReason reason) {
    if (DriveCounts* p = FindRoot(TrimTrailingSeparators(strRoot))) {
        std::lock_guard lock(m_lock);
        if (p->setLeftOut.insert(strFolder).second)
            p->arrLeftOut.emplace_back(strFolder, reason);
    }
}

DriveTally CScanResults::Drive(const std::string& strRoot) const {
    DriveTally t;
    if (const DriveCounts* p = FindRoot(TrimTrailingSeparators(strRoot))) {
        t.nFiles = p->nFiles.load(std::memory_order_relaxed);
        t.nBytes = p->nBytes.Load();
        t.nUnreadableFolders = p->nUnreadable.load(std::memory_order_relaxed);
        std::lock_guard lock(m_lock);
        t.seconds = p->seconds;
        t.arrLeftOut = p->arrLeftOut;
    }
    return t;
}

LRESULT CScanResults::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_FILEFOUND) {
        const char* pszGroup = reinterpret_cast<const char*>(wParam);
        const auto* pProp = reinterpret_cast<const FileProperty*>(lParam);
        for (int i = 0; i < kGroupCount; ++i) {
            if (m_arrNames[i] == pszGroup) {
                m_nFiles[i].fetch_add(1, std::memory_order_relaxed);
                m_nBytes[i].Add(pProp->m_nSize);
                if (DriveCounts* pDrive = FindDrive(pProp->m_strPath)) {
                    pDrive->nFiles.fetch_add(1, std::memory_order_relaxed);
                    pDrive->nBytes.Add(pProp->m_nSize);
                }
                const bool bBackedUp = m_pNotBackedUp && m_pNotBackedUp->Count(i, *pProp);
                if (m_bKeepFiles)
                    m_arrRecords.push_back({i, *pProp, bBackedUp});
                break;
            }
        }
    } else if (nMsg == WM_ENUMFINISH) {
        std::lock_guard lock(m_lock);
        m_bFinished = true;
        m_finished.notify_all();
    }
    return 0;
}

void CScanResults::CompareWith(const CBackupIndex& backups) {
    m_pNotBackedUp = std::make_unique<CNotBackedUp>(backups);
}

bool CScanResults::WaitFinished(int nMilliseconds) {
    std::unique_lock lock(m_lock);
    return m_finished.wait_for(lock, std::chrono::milliseconds(nMilliseconds),
                               [&] { return m_bFinished; });
}

std::int64_t CScanResults::TotalFiles() const {
    std::int64_t n = 0;
    for (int i = 0; i < kGroupCount; ++i)
        n += Files(i);
    return n;
}

ByteCount CScanResults::TotalBytes() const {
    ByteCount n = 0;
    for (int i = 0; i < kGroupCount; ++i)
        n += Bytes(i);
    return n;
}

namespace {

std::string Pad(const std::string& s, std::size_t nWidth, bool bRight) {
    if (s.size() >= nWidth)
        return s;
    std::string strFill(nWidth - s.size(), ' ');
    return bRight ? strFill + s : s + strFill;
}

} // namespace

std::string FormatTable(const CScanResults& results, bool bStopped) {
    const CNotBackedUp* pNot = results.NotBackedUp();
    struct Row {
        std::string strName, strFiles, strSize, strNotFiles, strNotSize;
    };
    std::vector<Row> rows = {{"", "Files", "Size", "", ""}};
    for (int i = 0; i < kGroupCount; ++i)
        rows.push_back({results.GroupName(i), std::to_string(results.Files(i)),
                        FormatTotalSize(results.Bytes(i)),
                        pNot ? std::to_string(pNot->Files(i)) : "",
                        pNot ? FormatTotalSize(pNot->Bytes(i)) : ""});
    rows.push_back({"Total", std::to_string(results.TotalFiles()),
                    FormatTotalSize(results.TotalBytes()),
                    pNot ? std::to_string(pNot->TotalFiles()) : "",
                    pNot ? FormatTotalSize(pNot->TotalBytes()) : ""});

    std::size_t w0 = 0, w1 = 0, w2 = 0, w3 = 0, w4 = 0;
    for (const Row& r : rows) {
        w0 = std::max(w0, r.strName.size());
        w1 = std::max(w1, r.strFiles.size());
        w2 = std::max(w2, r.strSize.size());
        w3 = std::max(w3, r.strNotFiles.size());
        w4 = std::max(w4, r.strNotSize.size());
    }
    // The files no backup holds and their size, under one heading.
    const std::string strNotHeading = "Not backed up";
    std::string s;
    for (const Row& r : rows) {
        s += Pad(r.strName, w0, false) + "  " + Pad(r.strFiles, w1, true) + "  " +
             Pad(r.strSize, w2, true);
        if (pNot) {
            const std::string strCell = &r == &rows.front() ? strNotHeading
                                                            : Pad(r.strNotFiles, w3, true) + "  " +
                                                                  Pad(r.strNotSize, w4, true);
            s += "  " + Pad(strCell, std::max(strNotHeading.size(), w3 + 2 + w4), true);
        }
        s += "\n";
    }
    if (bStopped)
        s += "Stopped before the end: these are the files found until then.\n";
    return s;
}

std::string FormatProgress(const CScanResults& results, std::size_t nWidth) {
    std::string s;
    for (int i = 0; i < kGroupCount; ++i)
        s += results.GroupName(i) + " " + std::to_string(results.Files(i)) + " (" +
             FormatTotalSize(results.Bytes(i)) + ")  ";
    s += "Total " + std::to_string(results.TotalFiles()) + " (" +
         FormatTotalSize(results.TotalBytes()) + ")";
    if (nWidth > 0 && s.size() > nWidth)
        s.resize(nWidth);
    return s;
}

namespace {

// The value read back holds a backslash of the path doubled and a byte that is not
// UTF-8 as \xHH, so that it leads back to the bytes; the format itself escapes each
// backslash, quote and line feed once more.
constexpr TextEscapes kLabelEscapes{[](char c, std::string& strOut) {
                                        if (c == '\\')
                                            strOut += "\\\\\\\\";
                                        else if (c == '"')
                                            strOut += "\\\"";
                                        else if (c == '\n')
                                            strOut += "\\n";
                                        else
                                            return false;
                                        return true;
                                    },
                                    [](unsigned char c, std::string& strOut) {
                                        static constexpr char kHex[] = "0123456789abcdef";
                                        strOut += {'\\', '\\', 'x', kHex[c >> 4], kHex[c & 15]};
                                    }};

} // namespace

const char* LeftOutReasonName(LeftOutReason reason) {
    switch (reason) {
    case LeftOutReason::system:
        return "system";
    case LeftOutReason::programs:
        return "programs";
    case LeftOutReason::programData:
        return "programData";
    case LeftOutReason::cache:
        return "cache";
    case LeftOutReason::temporary:
        return "temporary";
    case LeftOutReason::trash:
        return "trash";
    case LeftOutReason::mount:
        return "mount";
    case LeftOutReason::asked:
        return "exclude";
    }
    return "";
}

std::string FormatJson(const CScanResults& results, const std::vector<DriveReport>& arrDrives,
                       const ScanRun& run, bool bFiles) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    const std::string strStarted = Rfc3339Time(run.startedAt);
    out << "{\n  \"formatVersion\": " << kJsonFormatVersion
        << ",\n  \"program\": {\"name\": \"tarrow-scan\", \"version\": "
        << JsonString(run.strVersion) << "},\n  \"host\": " << JsonString(run.strHost)
        << ",\n  \"startedAt\": " << (strStarted.empty() ? "null" : JsonString(strStarted))
        << ",\n  \"groups\": [";
    for (int i = 0; i < kGroupCount; ++i) {
        out << (i ? ",\n" : "\n") << "    {\"name\": " << JsonString(results.GroupName(i))
            << ", \"files\": " << results.Files(i)
            << ", \"bytes\": " << ByteCountText(results.Bytes(i))
            << (results.NotBackedUp() ? NotBackedUpJson(*results.NotBackedUp(), i) : "") << "}";
    }
    out << "\n  ],\n  \"total\": {\"files\": " << results.TotalFiles()
        << ", \"bytes\": " << ByteCountText(results.TotalBytes())
        << (results.NotBackedUp() ? NotBackedUpJson(*results.NotBackedUp(), -1) : "")
        << "},\n  \"drives\": [";
    for (std::size_t i = 0; i < arrDrives.size(); ++i) {
        const DriveReport& d = arrDrives[i];
        const DriveTally t = results.Drive(d.strRoot);
        out << (i ? ",\n" : "\n") << "    {\"root\": " << JsonString(d.strRoot)
            << ", \"fileSystem\": "
            << (d.strFileSystem.empty() ? "null" : JsonString(d.strFileSystem))
            << ", \"files\": " << t.nFiles << ", \"bytes\": " << ByteCountText(t.nBytes)
            << ", \"unreadableFolders\": " << t.nUnreadableFolders
            << ", \"seconds\": " << std::fixed << std::setprecision(3) << t.seconds
            << ", \"leftOut\": [";
        for (std::size_t j = 0; j < t.arrLeftOut.size(); ++j) {
            out << (j ? ",\n" : "\n") << "      {\"path\": " << JsonString(t.arrLeftOut[j].first)
                << ", \"reason\": \"" << LeftOutReasonName(t.arrLeftOut[j].second) << "\"}";
        }
        out << (t.arrLeftOut.empty() ? "" : "\n    ") << "], \"enumerator\": "
            << (d.strEnumerator.empty() ? "null" : JsonString(d.strEnumerator)) << "}";
    }
    out << (arrDrives.empty() ? "" : "\n  ")
        << "],\n  \"stopped\": " << (run.bStopped ? "true" : "false")
        << ",\n  \"elapsedSeconds\": " << std::fixed << std::setprecision(3) << run.elapsedSeconds;
    if (const CNotBackedUp* pNot = results.NotBackedUp())
        out << ",\n  \"backups\": " << BackupsJson(pNot->Index());
    if (bFiles) {
        out << ",\n  \"files\": [";
        bool bFirst = true;
        for (const FoundRecord& r : results.Records()) {
            std::string strDate = Rfc3339Date(r.prop.m_dtModified);
            out << (bFirst ? "\n" : ",\n")
                << "    {\"group\": " << JsonString(results.GroupName(r.nGroup))
                << ", \"size\": " << r.prop.m_nSize
                << ", \"modified\": " << (strDate.empty() ? "null" : "\"" + strDate + "\"")
                << ", \"path\": " << JsonString(r.prop.m_strPath)
                << (!results.NotBackedUp() ? ""
                    : r.bBackedUp          ? ", \"backedUp\": true"
                                           : ", \"backedUp\": false")
                << "}";
            bFirst = false;
        }
        out << (bFirst ? "" : "\n  ") << "]";
    }
    out << "\n}\n";
    return out.str();
}

std::string MetricLabel(const std::string& strBytes) {
    return QuoteText(strBytes, kLabelEscapes);
}

std::string FormatMetrics(const CScanResults& results, const std::vector<DriveReport>& arrDrives,
                          const ScanRun& run) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    auto head = [&](const char* pszName, const char* pszHelp) {
        out << "# HELP " << pszName << " " << pszHelp << "\n# TYPE " << pszName << " gauge\n";
    };
    std::vector<DriveTally> tallies;
    std::int64_t nUnreadable = 0;
    for (const DriveReport& d : arrDrives) {
        tallies.push_back(results.Drive(d.strRoot));
        nUnreadable += tallies.back().nUnreadableFolders;
    }

    head("tarrow_scan_info", "The program that wrote these figures, in its labels.");
    out << "tarrow_scan_info{version=" << MetricLabel(run.strVersion) << "} 1\n";
    head("tarrow_scan_group_files", "Files found per group, that would be lost without a backup.");
    for (int i = 0; i < kGroupCount; ++i)
        out << "tarrow_scan_group_files{group=" << MetricLabel(results.GroupName(i)) << "} "
            << results.Files(i) << "\n";
    head("tarrow_scan_group_bytes", "Bytes of the files found per group (apparent sizes).");
    for (int i = 0; i < kGroupCount; ++i)
        out << "tarrow_scan_group_bytes{group=" << MetricLabel(results.GroupName(i)) << "} "
            << ByteCountText(results.Bytes(i)) << "\n";
    if (const CNotBackedUp* pNot = results.NotBackedUp()) {
        head("tarrow_scan_group_not_backed_up_files",
             "Files found per group that no backup listing given holds as they are now.");
        for (int i = 0; i < kGroupCount; ++i)
            out << "tarrow_scan_group_not_backed_up_files{group="
                << MetricLabel(results.GroupName(i)) << "} " << pNot->Files(i) << "\n";
        head("tarrow_scan_group_not_backed_up_bytes",
             "Bytes of the files found per group that no backup listing given holds.");
        for (int i = 0; i < kGroupCount; ++i)
            out << "tarrow_scan_group_not_backed_up_bytes{group="
                << MetricLabel(results.GroupName(i)) << "} " << ByteCountText(pNot->Bytes(i))
                << "\n";
    }
    head("tarrow_scan_files", "Files found in all groups.");
    out << "tarrow_scan_files " << results.TotalFiles() << "\n";
    head("tarrow_scan_bytes", "Bytes of the files found in all groups.");
    out << "tarrow_scan_bytes " << ByteCountText(results.TotalBytes()) << "\n";
    head("tarrow_scan_unreadable_folders",
         "Folders that could not be read; the files in them are not counted.");
    out << "tarrow_scan_unreadable_folders " << nUnreadable << "\n";
    head("tarrow_scan_stopped", "1 when the scan was stopped before its end.");
    out << "tarrow_scan_stopped " << (run.bStopped ? 1 : 0) << "\n";
    head("tarrow_scan_duration_seconds", "How long the scan took.");
    out << "tarrow_scan_duration_seconds " << std::fixed << std::setprecision(3)
        << run.elapsedSeconds << "\n";
    head("tarrow_scan_start_time_seconds", "When the scan started, in seconds since 1970.");
    out << "tarrow_scan_start_time_seconds "
        << std::chrono::duration_cast<std::chrono::seconds>(run.startedAt.time_since_epoch())
               .count()
        << "\n";
    if (!arrDrives.empty()) {
        struct Field {
            const char* pszName;
            const char* pszHelp;
        };
        const Field fields[] = {
            {"tarrow_scan_drive_files", "Files found per drive."},
            {"tarrow_scan_drive_bytes", "Bytes of the files found per drive."},
            {"tarrow_scan_drive_unreadable_folders", "Folders that could not be read, per drive."},
            {"tarrow_scan_drive_duration_seconds", "How long the scan of each drive took."}};
        for (int f = 0; f < 4; ++f) {
            head(fields[f].pszName, fields[f].pszHelp);
            for (std::size_t i = 0; i < arrDrives.size(); ++i) {
                out << fields[f].pszName << "{drive=" << MetricLabel(arrDrives[i].strRoot) << "} ";
                const DriveTally& t = tallies[i];
                if (f == 0)
                    out << t.nFiles;
                else if (f == 1)
                    out << ByteCountText(t.nBytes);
                else if (f == 2)
                    out << t.nUnreadableFolders;
                else
                    out << std::fixed << std::setprecision(3) << t.seconds;
                out << "\n";
            }
        }
    }
    return out.str();
}
