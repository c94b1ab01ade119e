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

// strName in strFolder, with one '/' between them; an empty folder gives the name.
std::string JoinPath(std::string_view strFolder, std::string_view strName);

// strPath as the one absolute spelling of its folder, from the text alone: from the
// working folder when it is relative, "." and ".." steps and doubled or trailing '/'s
// taken out; no link is looked at, so a folder that does not exist has one too. Folders
// compared byte for byte with the paths of a scan are first made normal here. Empty
// when a relative path meets a working folder that cannot be told.
std::string NormalFolder(std::string_view strPath);
