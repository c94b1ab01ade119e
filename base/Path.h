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
