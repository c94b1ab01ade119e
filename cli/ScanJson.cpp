// --json: one object, its shape described by tarrow-scan.schema.json.
#include "ScanReport.h"

#include "BackupReport.h"
#include "TextEscape.h"

#include <iomanip>
#include <sstream>

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
