// Base of the enumerators: the groups and the folders to skip, and the decisions
// made for every entry of a scan.
#pragma once

#include "platform/FileTime.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

struct IFsEnum {
    IFsEnum();
    virtual ~IFsEnum();
    IFsEnum(const IFsEnum&) = delete;
    IFsEnum& operator=(const IFsEnum&) = delete;

    // Enumerates the tree below a folder.
    virtual bool EnumeratePath(const std::string& strPath) = 0;
    // Enumerates a whole drive, named by its root folder (its mount point).
    virtual bool EnumerateDrive(const std::string& strRoot) = 0;

    // Stores the filter under the name; a name already present gets the new filter.
    bool AddGroup(const std::string& strName, const std::string& strFilter);
    // Appends a folder to skip; an empty path is refused.
    bool AddExclusion(const std::string& strFolder);

    // The group whose filter matches the path or name (any letter case).
    bool MatchGroup(std::string_view strPath, std::string& strGroup) const;
    bool IsIncluded(std::string_view strPath) const;
    bool IsExcluded(std::string_view strPath) const;
    // false once a stop was requested; blocks while the scan is paused.
    bool WaitWhilePaused() const;

    // Seam for tests: the conversion of file times to local time.
    void SetLocalTime(const ILocalTime& localTime) { m_pLocalTime = &localTime; }

    // Group name -> filter, in the order the groups were added.
    std::vector<std::pair<std::string, std::string>> m_mapGroups;
    std::vector<std::string> m_arrInclude; // nothing in the program adds to it: always empty
    std::vector<std::string> m_arrExclude;

protected:
    const ILocalTime* m_pLocalTime;

private:
    // Filters compiled for the per-file test. Every pattern of the group table is a
    // star, a dot and an extension: those become one lookup of the lower-cased
    // extension; any other pattern is tested as a wildcard.
    struct CompiledGroup {
        std::vector<std::string> arrWildcards;
    };
    void CompileGroups();
    static bool IsBelowAny(std::string_view strPath, const std::vector<std::string>& arrTrimmed);

    std::vector<CompiledGroup> m_arrCompiled;             // same order as m_mapGroups
    std::unordered_map<std::uint64_t, int> m_mapExtGroup; // packed extension -> first group
    bool m_bAnyWildcard = false;
    std::vector<std::string> m_arrExcludeTrimmed; // without trailing separators
};
