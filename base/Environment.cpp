#include "Environment.h"

#include "Path.h"

#include <cstdlib>
#include <optional>
#include <strings.h>
#include <unistd.h>

namespace {

// A temporary folder named by a variable: only an absolute path counts. A relative
// one would put the program's files wherever it happens to be started.
std::optional<std::string> AbsoluteFolderVariable(const char* pszName) {
    const char* psz = std::getenv(pszName);
    if (psz == nullptr || *psz != '/')
        return std::nullopt;
    return std::string(psz);
}

std::optional<std::string> LookUp(std::string_view strName) {
    if (strName.empty())
        return std::nullopt;
    std::string strKey(strName);
    // The temporary folder has a value even where TEMP is unset or empty, and it
    // loses its trailing '/' so that "%TEMP%\x" does not become "/tmp//x".
    if (::strcasecmp(strKey.c_str(), "TEMP") == 0)
        return std::string(FolderPrefix(GetTempPath()));
    if (const char* psz = std::getenv(strKey.c_str()))
        return std::string(psz);
    // Windows names are not case-sensitive: a setting written as %Temp% or %home%
    // should still find its variable.
    for (char** pp = ::environ; pp != nullptr && *pp != nullptr; ++pp) {
        std::string_view strEntry(*pp);
        auto nEq = strEntry.find('=');
        if (nEq == strName.size() &&
            ::strncasecmp(strEntry.data(), strKey.c_str(), strName.size()) == 0)
            return std::string(strEntry.substr(nEq + 1));
    }
    return std::nullopt;
}

} // namespace

std::string ExpandEnvironmentStrings(std::string_view strText) {
    std::string strOut;
    strOut.reserve(strText.size());
    while (!strText.empty()) {
        auto nStart = strText.find('%');
        if (nStart == std::string_view::npos) {
            strOut += strText;
            break;
        }
        strOut += strText.substr(0, nStart);
        strText.remove_prefix(nStart);
        auto nEnd = strText.find('%', 1);
        if (nEnd == std::string_view::npos) {
            strOut += strText; // unfinished reference: copied as it stands
            break;
        }
        if (auto value = LookUp(strText.substr(1, nEnd - 1)))
            strOut += *value;
        else
            strOut += strText.substr(0, nEnd + 1);
        strText.remove_prefix(nEnd + 1);
    }
    return strOut;
}

std::string ToNativeSeparators(std::string_view strPath) {
    std::string str(strPath);
    for (char& ch : str)
        if (ch == '\\')
            ch = '/';
    return str;
}

std::string GetTempPath() {
    auto strTemp = AbsoluteFolderVariable("TEMP");
    if (!strTemp)
        strTemp = AbsoluteFolderVariable("TMPDIR");
    std::string str = strTemp ? *strTemp : std::string("/tmp");
    if (str.back() != '/')
        str += '/';
    return str;
}

std::string GetLogFolder() {
    // The setting's own separators only: a backslash in a variable's value is a character of
    // a Linux file name.
    return ExpandEnvironmentStrings(ToNativeSeparators(kLogFolderSetting));
}
