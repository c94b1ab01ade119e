#include "FsEnum.h"

#include "Path.h"
#include "ScanControl.h"
#include "platform/PathMatch.h"

namespace {

constexpr std::size_t kMaxPackedExt = 7;

// An extension of up to 7 bytes, lower-cased, with its length in the top byte.
bool PackExtension(std::string_view strExt, std::uint64_t& nKey) {
    if (strExt.size() > kMaxPackedExt)
        return false;
    std::uint64_t n = static_cast<std::uint64_t>(strExt.size()) << 56;
    for (std::size_t i = 0; i < strExt.size(); ++i)
        n |= static_cast<std::uint64_t>(static_cast<unsigned char>(FoldAscii(strExt[i])))
             << (8 * i);
    nKey = n;
    return true;
}

// "*.ext" with nothing special in ext.
bool IsStarDotExtension(std::string_view strToken) {
    if (strToken.size() < 2 || strToken[0] != '*' || strToken[1] != '.')
        return false;
    std::string_view strExt = strToken.substr(2);
    return strExt.size() <= kMaxPackedExt && strExt.find_first_of("*?./") == std::string_view::npos;
}

// Folders compare byte for byte, as Linux file systems compare names. The root
// folder becomes "", which IsBelowAny takes for the root.
std::string TrimFolder(const std::string& strFolder) {
    return std::string(FolderPrefix(strFolder));
}

} // namespace

IFsEnum::IFsEnum() : m_pLocalTime(&SystemLocalTime()) {}
IFsEnum::~IFsEnum() = default;

bool IFsEnum::AddGroup(const std::string& strName, const std::string& strFilter) {
    for (auto& [name, filter] : m_mapGroups) {
        if (name == strName) {
            filter = strFilter;
            CompileGroups();
            return true;
        }
    }
    m_mapGroups.emplace_back(strName, strFilter);
    CompileGroups();
    return true;
}

void IFsEnum::CompileGroups() {
    m_arrCompiled.assign(m_mapGroups.size(), {});
    m_mapExtGroup.clear();
    m_bAnyWildcard = false;
    for (std::size_t g = 0; g < m_mapGroups.size(); ++g) {
        std::string_view strFilter = m_mapGroups[g].second;
        std::size_t i = 0;
        while (i < strFilter.size()) {
            i = strFilter.find_first_not_of(" ;", i);
            if (i == std::string_view::npos)
                break;
            std::size_t j = strFilter.find_first_of(" ;", i);
            std::string_view strToken =
                strFilter.substr(i, j == std::string_view::npos ? std::string_view::npos : j - i);
            i = j == std::string_view::npos ? strFilter.size() : j;
            std::uint64_t nKey;
            if (IsStarDotExtension(strToken) && PackExtension(strToken.substr(2), nKey)) {
                m_mapExtGroup.emplace(nKey, static_cast<int>(g)); // the first group keeps it
            } else {
                m_arrCompiled[g].arrWildcards.emplace_back(strToken);
                m_bAnyWildcard = true;
            }
        }
    }
}

bool IFsEnum::AddExclusion(const std::string& strFolder) {
    if (strFolder.empty())
        return false;
    m_arrExclude.push_back(strFolder);
    m_arrExcludeTrimmed.push_back(TrimFolder(strFolder));
    return true;
}

bool IFsEnum::MatchGroup(std::string_view strPath, std::string& strGroup) const {
    strGroup.clear();
    if (m_mapGroups.empty())
        return false;

    // The extension: after the last dot of the last component.
    int nExtGroup = -1;
    std::size_t nDot = strPath.rfind('.');
    if (nDot != std::string_view::npos) {
        std::string_view strExt = strPath.substr(nDot + 1);
        std::uint64_t nKey;
        if (strExt.find('/') == std::string_view::npos && PackExtension(strExt, nKey)) {
            auto it = m_mapExtGroup.find(nKey);
            if (it != m_mapExtGroup.end())
                nExtGroup = it->second;
        }
    }
    if (!m_bAnyWildcard) {
        if (nExtGroup < 0)
            return false;
        strGroup = m_mapGroups[static_cast<std::size_t>(nExtGroup)].first;
        return true;
    }
    // Groups are visited in order: a wildcard of an earlier group wins.
    for (std::size_t g = 0; g < m_mapGroups.size(); ++g) {
        bool bMatch = static_cast<int>(g) == nExtGroup;
        for (const std::string& strPattern : m_arrCompiled[g].arrWildcards) {
            if (bMatch)
                break;
            bMatch = PathMatchSpec(strPath, strPattern);
        }
        if (bMatch) {
            strGroup = m_mapGroups[g].first;
            return true;
        }
    }
    return false;
}

bool IFsEnum::IsBelowAny(std::string_view strPath, const std::vector<std::string>& arrTrimmed) {
    for (const std::string& strFolder : arrTrimmed) {
        const std::size_t n = strFolder.size();
        if (n == 0) {
            if (!strPath.empty() && strPath.front() == '/')
                return true; // the root folder
            continue;
        }
        if (strPath.size() < n || (strPath.size() > n && strPath[n] != '/'))
            continue;
        std::size_t i = n;
        while (i > 0 && strPath[i - 1] == strFolder[i - 1])
            --i;
        if (i == 0)
            return true;
    }
    return false;
}

bool IFsEnum::IsIncluded(std::string_view strPath) const {
    if (m_arrInclude.empty())
        return true;
    // Nothing in the program fills the list, so it is trimmed here, not kept trimmed.
    std::vector<std::string> arrTrimmed;
    for (const std::string& strFolder : m_arrInclude)
        arrTrimmed.push_back(TrimFolder(strFolder));
    return IsBelowAny(strPath, arrTrimmed);
}

bool IFsEnum::IsExcluded(std::string_view strPath) const {
    return IsBelowAny(strPath, m_arrExcludeTrimmed);
}

bool IFsEnum::WaitWhilePaused() const {
    return WaitForAnyEvent({&ForceEvent, &ResumeEvent}, INFINITE) != WAIT_OBJECT_0;
}
