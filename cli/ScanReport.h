// What tarrow-scan collects during a scan and how it prints it.
#pragma once

#include "BackupIndex.h"
#include "ByteTotal.h"
#include "EnumMgr.h"
#include "ScanControl.h"
#include "TextEscape.h"

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

    std::int64_t Files(int nGroup) const {
        return m_nFiles[nGroup].load(std::memory_order_relaxed);
    }
    // Sums never wrap (ByteTotal.h).
    ByteCount Bytes(int nGroup) const { return m_nBytes[nGroup].Load(); }
    std::int64_t TotalFiles() const;
    ByteCount TotalBytes() const;
    const std::string& GroupName(int nGroup) const { return m_arrNames[nGroup]; }
    // Kept files, in arrival order (only when asked to keep them); read after the scan.
    const std::vector<FoundRecord>& Records() const { return m_arrRecords; }
    // A drive's figures, read after the scan; zero for a root that was not given.
    DriveTally Drive(const std::string& strRoot) const;

private:
    struct DriveCounts;
    DriveCounts* FindDrive(std::string_view strPath) const;
    DriveCounts* FindRoot(std::string_view strRoot) const;

    std::array<std::string, kGroupCount> m_arrNames;
    std::array<std::atomic<std::int64_t>, kGroupCount> m_nFiles{};
    std::array<CByteCounter, kGroupCount> m_nBytes;
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

struct DriveReport {
    std::string strRoot;
    std::string strFileSystem; // empty when the drive could not be queried
    std::string strEnumerator; // "mft", "ext4", "walk", or empty when it was not scanned
};

// The run itself, as the machine-read reports give it.
struct ScanRun {
    std::string strVersion;
    std::string strHost;
    std::chrono::system_clock::time_point startedAt;
    double elapsedSeconds = 0;
    bool bStopped = false;
};

// The shape of --json: the version of the format its schema describes. Raised only
// when a key is removed or its meaning or type changes; new keys keep it.
inline constexpr int kJsonFormatVersion = 1;

// The five rows the main window shows, aligned; marked when the scan was stopped.
std::string FormatTable(const CScanResults& results, bool bStopped);

// One line of live progress, at most nWidth characters.
std::string FormatProgress(const CScanResults& results, std::size_t nWidth);

std::string FormatJson(const CScanResults& results, const std::vector<DriveReport>& arrDrives,
                       const ScanRun& run, bool bFiles);

// The figures in the Prometheus text format, for node_exporter's textfile collector.
std::string FormatMetrics(const CScanResults& results, const std::vector<DriveReport>& arrDrives,
                          const ScanRun& run);

// A Prometheus label value: quoted, escaped, and UTF-8. Read back, it holds each
// backslash of the bytes doubled and each byte that is not UTF-8 as the text \xXX, so
// two different paths never share a label.
std::string MetricLabel(const std::string& strBytes);

// A file's time as RFC 3339 (FileTime.h); empty when invalid.
inline std::string Rfc3339Date(const COleDateTime& dt) {
    return dt.m_status == DateTimeStatus::valid ? Rfc3339Date(dt.m_dt) : std::string();
}

// The name a reason is given in the reports ("system", "trash", "exclude"...).
const char* LeftOutReasonName(LeftOutReason reason);
