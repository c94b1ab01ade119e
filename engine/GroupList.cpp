#include "GroupList.h"

#include <cerrno>

std::string GroupListFileName(const std::string& strGroup) {
    return strGroup + ".log";
}

SafeFileResult WriteGroupListFile(const std::string& strFolder, const std::string& strGroup,
                                  std::string_view strText) {
    CFileHandle folder;
    SafeFileResult result = OpenPrivateFolder(strFolder, false, folder);
    if (strText.empty() && result.m_status == SafeFileStatus::systemError &&
        result.m_nErrno == ENOENT)
        return {};
    if (!result)
        return result;
    return WriteGroupListFile(folder, strGroup, strText);
}

SafeFileResult WriteGroupListFile(const CFileHandle& folder, const std::string& strGroup,
                                  std::string_view strText) {
    if (strText.empty())
        return RemoveFile(folder, GroupListFileName(strGroup));
    return WriteWholeFile(folder, GroupListFileName(strGroup), strText);
}
