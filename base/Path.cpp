#include "Path.h"

#include <unistd.h>

#include <vector>

std::string_view TrimTrailingSeparators(std::string_view strPath) {
    while (strPath.size() > 1 && strPath.back() == '/')
        strPath.remove_suffix(1);
    return strPath;
}

std::string_view FolderPrefix(std::string_view strFolder) {
    strFolder = TrimTrailingSeparators(strFolder);
    return strFolder == "/" ? std::string_view() : strFolder;
}

bool IsPathAtOrBelow(std::string_view strPath, std::string_view strFolder) {
    strFolder = TrimTrailingSeparators(strFolder);
    if (strFolder == "/")
        return !strPath.empty() && strPath.front() == '/';
    return strPath.starts_with(strFolder) &&
           (strPath.size() == strFolder.size() || strPath[strFolder.size()] == '/');
}

std::string JoinPath(std::string_view strFolder, std::string_view strName) {
    if (strFolder.empty())
        return std::string(strName);
    std::string strPath(FolderPrefix(strFolder));
    strPath += '/';
    strPath += strName;
    return strPath;
}

std::string NormalFolder(std::string_view strPath) {
    std::string strAbsolute;
    if (!strPath.starts_with('/')) {
        char buf[4096];
        if (!::getcwd(buf, sizeof buf))
            return {};
        strAbsolute = buf;
        strAbsolute += '/';
    }
    strAbsolute += strPath;
    std::vector<std::string_view> arrSteps;
    const std::string_view strAll(strAbsolute);
    for (std::size_t i = 0; i < strAll.size();) {
        std::size_t j = strAll.find('/', i);
        if (j == std::string_view::npos)
            j = strAll.size();
        const std::string_view strStep = strAll.substr(i, j - i);
        if (strStep == "..") {
            if (!arrSteps.empty())
                arrSteps.pop_back();
        } else if (!strStep.empty() && strStep != ".") {
            arrSteps.push_back(strStep);
        }
        i = j + 1;
    }
    std::string strNormal;
    for (std::string_view strStep : arrSteps) {
        strNormal += '/';
        strNormal += strStep;
    }
    return strNormal.empty() ? "/" : strNormal;
}
