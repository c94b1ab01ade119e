// What tarrow-scan collects during a scan and how it prints it.
#pragma once

#include "ByteTotal.h"
#include "ScanControl.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct FoundRecord {
    int nGroup;
    FileProperty prop;
};

// The receiver of the scan's messages. Its handler runs on the sending worker's
// thread (one message at a time), so counting costs no thread switch per file.
class CScanResults {
public:
    explicit CScanResults(bool bKeepFiles);

    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);

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

private:
    std::array<std::string, kGroupCount> m_arrNames;
    std::array<std::atomic<std::int64_t>, kGroupCount> m_nFiles{};
    std::array<CByteCounter, kGroupCount> m_nBytes;
    bool m_bKeepFiles;
    std::vector<FoundRecord> m_arrRecords;
    std::mutex m_lock;
    std::condition_variable m_finished;
    bool m_bFinished = false;
};

struct DriveReport {
    std::string strRoot;
    std::string strFileSystem; // empty when the drive could not be queried
    std::string strEnumerator; // "mft", "walk", or empty when it was not scanned
};

// The five rows the main window shows, aligned; marked when the scan was stopped.
std::string FormatTable(const CScanResults& results, bool bStopped);

// One line of live progress, at most nWidth characters.
std::string FormatProgress(const CScanResults& results, std::size_t nWidth);

std::string FormatJson(const CScanResults& results, const std::vector<DriveReport>& arrDrives,
                       bool bStopped, double elapsedSeconds, bool bFiles);

// A JSON string literal of native bytes: valid UTF-8 passes as it is; each byte that
// is not part of valid UTF-8 becomes \udcXX (XX its value), so the original bytes can
// be recovered (a decoder with "surrogateescape" error handling gives them back).
std::string JsonString(const std::string& strBytes);

// Local time of a day number as YYYY-MM-DDTHH:MM:SS; empty when invalid.
std::string IsoDate(const COleDateTime& dt);
