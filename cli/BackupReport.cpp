#include "BackupReport.h"

#include "TextEscape.h"
#include "platform/FileTime.h"

#include <chrono>

namespace {

std::string OptionalJson(const std::optional<std::string>& str) {
    return str ? JsonString(*str) : "null";
}

} // namespace

std::string NotBackedUpJson(const CNotBackedUp& notBackedUp, int nGroup) {
    const std::int64_t nFiles = nGroup < 0 ? notBackedUp.TotalFiles() : notBackedUp.Files(nGroup);
    const ByteCount nBytes = nGroup < 0 ? notBackedUp.TotalBytes() : notBackedUp.Bytes(nGroup);
    return ", \"notBackedUp\": {\"files\": " + std::to_string(nFiles) +
           ", \"bytes\": " + ByteCountText(nBytes) + "}";
}

std::string BackupsJson(const CBackupIndex& backups) {
    std::string s = "[";
    const std::vector<BackupListingInfo>& arrListings = backups.Listings();
    for (std::size_t i = 0; i < arrListings.size(); ++i) {
        const BackupListingInfo& b = arrListings[i];
        std::string strPaths = "null";
        if (b.arrPaths) {
            strPaths = "[";
            for (std::size_t j = 0; j < b.arrPaths->size(); ++j)
                strPaths += (j ? ", " : "") + JsonString((*b.arrPaths)[j]);
            strPaths += "]";
        }
        const std::string strTime =
            b.nTime ? Rfc3339Time(std::chrono::system_clock::from_time_t(*b.nTime)) : "";
        s += std::string(i ? "," : "") + "\n    {\"tool\": \"" +
             (b.tool == BackupTool::restic ? "restic" : "borg") +
             "\", \"listing\": " + JsonString(b.strListing) +
             ", \"snapshot\": " + OptionalJson(b.strSnapshot) +
             ", \"time\": " + (strTime.empty() ? "null" : JsonString(strTime)) +
             ", \"host\": " + OptionalJson(b.strHost) + ", \"paths\": " + strPaths +
             ", \"files\": " + std::to_string(b.nFiles) + "}";
    }
    return s + (arrListings.empty() ? "]" : "\n  ]");
}
