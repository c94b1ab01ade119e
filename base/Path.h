// Path text, trimmed and joined the same way everywhere. Paths are native bytes and
// '/' is their only separator.
#pragma once

#include <string>
#include <string_view>

// strPath without the '/'s at its end; the root stays "/".
std::string_view TrimTrailingSeparators(std::string_view strPath);

// A folder as the start of a longer path: trimmed, and the root as "", so that
// appending '/' and a name gives exactly one separator.
std::string_view FolderPrefix(std::string_view strFolder);

// True when strPath is strFolder or lies below it, name by name: "/ab" is not below
// "/a". Every exclusion, drive and mount match asks this.
bool IsPathAtOrBelow(std::string_view strPath, std::string_view strFolder);

// The nearest folder at or above strPath that isOne accepts, tried from strPath itself
// up to "/" (for a drive root or mount point: the longest one above a path); empty
// when isOne accepts none.
template <class Accepts>
std::string_view NearestAtOrAbove(std::string_view strPath, Accepts isOne) {
    while (!strPath.empty()) {
        if (isOne(strPath))
            return strPath;
        if (strPath == "/")
            break;
        const std::size_t n = strPath.rfind('/');
        if (n == std::string_view::npos)
            break;
        strPath = n == 0 ? std::string_view("/") : strPath.substr(0, n);
    }
    return {};
}

// strName in strFolder, with one '/' between them; an empty folder gives the name.
std::string JoinPath(std::string_view strFolder, std::string_view strName);

// strPath as the one absolute spelling of its folder, from the text alone: from the
// working folder when it is relative, "." and ".." steps and doubled or trailing '/'s
// taken out; no link is looked at, so a folder that does not exist has one too. Folders
// compared byte for byte with the paths of a scan are first made normal here. Empty
// when a relative path meets a working folder that cannot be told.
std::string NormalFolder(std::string_view strPath);
