// What tarrow-scan collects during a scan: the counts of the results store, per group
// and per drive, and the files when they are asked for.
#pragma once

#include "BackupIndex.h"
#include "EnumMgr.h"
#include "ResultsStore.h"
#include "ScanControl.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

struct FoundRecord {
    int nGroup;
    FileProperty prop;
    bool bBackedUp = false; // a backup listing given holds it
};

// What one drive gave, for the reports that go per drive.
struct DriveTally {
    std::int64_t nFiles = 0;
    ByteCount nBytes = 0;
    std::int64_t nUnreadableFolders = 0;
    double seconds = 0; // 0 for a drive whose scan never started
    std::vector<std::pair<std::string, LeftOutReason>> arrLeftOut; // each path once
};

// The receiver of the scan's messages. Its handler runs on the sending worker's
// thread (one message at a time), so counting costs no thread switch per file.
class CScanResults {
public:
    // Files are also counted per drive of arrDriveRoots (absolute, trimmed), each
    // under the drive whose root is the longest one above it.
    explicit CScanResults(bool bKeepFiles, const std::vector<std::string>& arrDriveRoots = {});
    ~CScanResults();

    // From the scan setup's calls, on the scan's threads.
    void DriveStarted(const std::string& strRoot);
    void DriveFinished(const std::string& strRoot);
    void FolderNotRead(const std::string& strFolder);
    void FolderLeftOut(const std::string& strRoot, const std::string& strFolder,
                       LeftOutReason reason);

    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);

    // Before the scan: each file found is also looked up in the backups' index, which
    // must outlive the results.
    void CompareWith(const CBackupIndex& backups);
    // The files no backup holds; null when no backup was given.
    const CNotBackedUp* NotBackedUp() const { return m_pNotBackedUp.get(); }

    // Waits up to nMilliseconds for the scan-finished message.
    bool WaitFinished(int nMilliseconds);

    std::int64_t Files(int nGroup) const { return m_store.GetGroupFiles(nGroup); }
    // Sums never wrap (ByteTotal.h).
    ByteCount Bytes(int nGroup) const { return m_store.GetGroupBytes(nGroup); }
    std::int64_t TotalFiles() const { return m_store.GetTotalFiles(); }
    ByteCount TotalBytes() const { return m_store.GetTotalBytes(); }
    const std::string& GroupName(int nGroup) const { return m_store.GroupName(nGroup); }
    // Kept files, in arrival order (only when asked to keep them); read after the scan.
    const std::vector<FoundRecord>& Records() const { return m_arrRecords; }
    // A drive's figures, read after the scan; zero for a root that was not given.
    DriveTally Drive(const std::string& strRoot) const;

private:
    struct DriveCounts;
    DriveCounts* FindDrive(std::string_view strPath) const;
    DriveCounts* FindRoot(std::string_view strRoot) const;

    // Counts only: the kept files go into m_arrRecords, in arrival order across groups.
    CResultsStore m_store{false};
    bool m_bKeepFiles;
    std::vector<FoundRecord> m_arrRecords;
    std::unique_ptr<CNotBackedUp> m_pNotBackedUp;
    mutable std::mutex m_lock;
    std::condition_variable m_finished;
    bool m_bFinished = false;

    std::vector<std::unique_ptr<DriveCounts>> m_arrDrives;
    std::unordered_map<std::string_view, DriveCounts*> m_mapDrives; // views of their roots
    // The drive of the last file: the next one is nearly always on it too.
    mutable std::atomic<DriveCounts*> m_pLastDrive{nullptr};
};
