#include "PlatformVersion.h"

#include <cstdlib>
#include <string>

#include <sys/utsname.h>

namespace {

class CKernelVersionQuery final : public IVersionQuery {
public:
    bool GetVersionEx(OsVersionInfo& info) const override {
        if (const char* pszTest = std::getenv(kTestKernelVersionVariable))
            return ParseKernelRelease(pszTest, info);
        struct utsname names;
        return ::uname(&names) == 0 && ParseKernelRelease(names.release, info);
    }
};

// Leading decimal digits; FALSE when there are none or too many for 32 bits.
bool TakeNumber(std::string_view& str, std::uint32_t& nValue) {
    std::size_t nDigits = 0;
    std::uint64_t n = 0;
    while (nDigits < str.size() && str[nDigits] >= '0' && str[nDigits] <= '9') {
        n = n * 10 + static_cast<std::uint64_t>(str[nDigits] - '0');
        if (n > UINT32_MAX)
            return false;
        ++nDigits;
    }
    if (nDigits == 0)
        return false;
    nValue = static_cast<std::uint32_t>(n);
    str.remove_prefix(nDigits);
    return true;
}

} // namespace

std::unique_ptr<IVersionQuery> CreateKernelVersionQuery() {
    return std::make_unique<CKernelVersionQuery>();
}

bool ParseKernelRelease(std::string_view strRelease, OsVersionInfo& info) {
    OsVersionInfo parsed;
    if (!TakeNumber(strRelease, parsed.dwMajorVersion) || strRelease.empty() ||
        strRelease[0] != '.')
        return false;
    strRelease.remove_prefix(1);
    if (!TakeNumber(strRelease, parsed.dwMinorVersion))
        return false;
    info = parsed;
    return true;
}

bool IsPlatformSupported(const OsVersionInfo& info) {
    return info.dwMajorVersion >= 3;
}
