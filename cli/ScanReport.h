// How tarrow-scan prints what it found: the table, JSON and metrics.
#pragma once

#include "ScanResults.h"
#include "platform/FileTime.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

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
