#include "Path.h"

std::string_view TrimTrailingSeparators(std::string_view strPath) {
    while (strPath.size() > 1 && strPath.back() == '/')
        strPath.remove_suffix(1);
    return strPath;
}

std::string_view FolderPrefix(std::string_view strFolder) {
    strFolder = TrimTrailingSeparators(strFolder);
    return strFolder == "/" ? std::string_view() : strFolder;
}

std::string JoinPath(std::string_view strFolder, std::string_view strName) {
    if (strFolder.empty())
        return std::string(strName);
    std::string strPath(FolderPrefix(strFolder));
    strPath += '/';
    strPath += strName;
    return strPath;
}
