#include "GroupList.h"

std::string GroupListFileName(const std::string& strGroup) {
    return strGroup + ".log";
}

SafeFileResult WriteGroupListFile(const std::string& strFolder, const std::string& strGroup,
                                  std::string_view strText) {
    if (strText.empty())
        return {};
    CFileHandle folder;
    if (SafeFileResult result = OpenPrivateFolder(strFolder, false, folder); !result)
        return result;
    return WriteGroupListFile(folder, strGroup, strText);
}

SafeFileResult WriteGroupListFile(const CFileHandle& folder, const std::string& strGroup,
                                  std::string_view strText) {
    if (strText.empty())
        return {};
    return WriteWholeFile(folder, GroupListFileName(strGroup), strText);
}
