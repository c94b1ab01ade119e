// --metrics: the Prometheus text format, for node_exporter's textfile collector.
#include "ScanReport.h"

#include "TextEscape.h"

#include <chrono>
#include <iomanip>
#include <sstream>

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
