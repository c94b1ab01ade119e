#include "CommandLineInfo.h"

#include <string_view>

namespace {

// ASCII only: the user's locale must not decide what "debug" matches.
bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char chA = a[i], chB = b[i];
        if (chA >= 'A' && chA <= 'Z')
            chA = static_cast<char>(chA - 'A' + 'a');
        if (chB >= 'A' && chB <= 'Z')
            chB = static_cast<char>(chB - 'A' + 'a');
        if (chA != chB)
            return false;
    }
    return true;
}

} // namespace

CCommandLineInfo::~CCommandLineInfo() = default;

void CCommandLineInfo::ParseParam(const char*, bool, bool) {}

void ParseCommandLine(int argc, const char* const* argv, CCommandLineInfo& rCmdInfo) {
    for (int i = 1; i < argc; ++i) {
        const char* pszParam = argv[i] ? argv[i] : "";
        const bool bFlag = pszParam[0] == '-' || pszParam[0] == '/';
        if (bFlag)
            ++pszParam;
        rCmdInfo.ParseParam(pszParam, bFlag, i + 1 == argc);
    }
}

CScannerCommandLineInfo::~CScannerCommandLineInfo() = default;

void CScannerCommandLineInfo::ParseParam(const char* pszParam, bool bFlag, bool) {
    if (bFlag && EqualsNoCaseAscii(pszParam, "debug"))
        m_bDebug = true;
}
