#include "ScanFolders.h"

#include "platform/VolumeTable.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

std::vector<std::string> ResolveScanFolders(std::string_view strValue,
                                            std::vector<std::string>& arrLeftOut) {
    std::vector<std::string> arrFolders;
    while (!strValue.empty()) {
        const std::size_t nColon = strValue.find(':');
        const std::string strEntry(strValue.substr(0, nColon));
        strValue.remove_prefix(nColon == std::string_view::npos ? strValue.size() : nColon + 1);
        if (strEntry.empty())
            continue;
        char szResolved[PATH_MAX];
        struct stat st;
        if (::realpath(strEntry.c_str(), szResolved) && ::stat(szResolved, &st) == 0 &&
            S_ISDIR(st.st_mode))
            arrFolders.emplace_back(szResolved);
        else
            arrLeftOut.push_back(strEntry);
    }
    return arrFolders;
}

std::shared_ptr<const ScanSetup> ScanSetupFromEnvironment() {
    const char* pszValue = std::getenv(kScanFoldersVariable);
    if (!pszValue)
        return std::make_shared<ScanSetup>(SystemScanSetup());
    std::vector<std::string> arrLeftOut;
    std::vector<std::string> arrFolders = ResolveScanFolders(pszValue, arrLeftOut);
    for (const std::string& strEntry : arrLeftOut)
        std::fprintf(stderr, "tarrow: %s: %s is not a folder; left out\n", kScanFoldersVariable,
                     strEntry.c_str());
    return std::make_shared<ScanSetup>(FolderScanSetup(std::move(arrFolders)));
}
