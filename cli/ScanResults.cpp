#include "ScanResults.h"

#include "Path.h"

#include <algorithm>
#include <chrono>
#include <set>

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
        const int i = pszGroup ? m_store.GroupOf(pszGroup) : CResultsStore::kNoGroup;
        if (i != CResultsStore::kNoGroup) {
            m_store.Add(i, *pProp);
            if (DriveCounts* pDrive = FindDrive(pProp->m_strPath)) {
                pDrive->nFiles.fetch_add(1, std::memory_order_relaxed);
                pDrive->nBytes.Add(pProp->m_nSize);
            }
            const bool bBackedUp = m_pNotBackedUp && m_pNotBackedUp->Count(i, *pProp);
            if (m_bKeepFiles)
                m_arrRecords.push_back({i, *pProp, bBackedUp});
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
