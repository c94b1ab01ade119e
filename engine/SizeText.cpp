#include "SizeText.h"

#include "StringTable.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

// Replaces the format's one conversion ("%I64d" or "%.2I64f") by the text.
std::string Apply(const std::string& strFormat, const std::string& strValue) {
    std::size_t i = strFormat.find('%');
    if (i == std::string::npos)
        return strFormat;
    std::size_t j = strFormat.find_first_of("df", i);
    if (j == std::string::npos)
        return strFormat;
    return strFormat.substr(0, i) + strValue + strFormat.substr(j + 1);
}

} // namespace

std::string FormatTwoDecimals(double value) {
    const bool bNegative = value < 0;
    value = std::fabs(value);
    // The value's 17 significant digits and its decimal exponent.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16e", value);
    std::string strDigits;
    int nExponent = 0;
    for (const char* p = buf; *p; ++p) {
        if (*p >= '0' && *p <= '9') {
            strDigits += *p;
        } else if (*p == 'e') {
            nExponent = std::atoi(p + 1);
            break;
        }
    }
    // Keep the digits down to hundredths: nExponent + 3 of them.
    const int nKeep = nExponent + 3;
    std::string strKept;
    bool bRoundUp = false;
    if (nKeep >= 0) {
        strKept = strDigits.substr(0, static_cast<std::size_t>(std::min<int>(nKeep, 17)));
        while (static_cast<int>(strKept.size()) < nKeep)
            strKept += '0';
        bRoundUp = nKeep < 17 && strDigits[static_cast<std::size_t>(nKeep)] >= '5';
    }
    if (bRoundUp) {
        int i = static_cast<int>(strKept.size()) - 1;
        for (; i >= 0 && strKept[static_cast<std::size_t>(i)] == '9'; --i)
            strKept[static_cast<std::size_t>(i)] = '0';
        if (i >= 0)
            ++strKept[static_cast<std::size_t>(i)];
        else
            strKept.insert(strKept.begin(), '1');
    }
    while (strKept.size() < 3)
        strKept.insert(strKept.begin(), '0');
    const char* pszPoint = std::localeconv()->decimal_point;
    std::string s = strKept.substr(0, strKept.size() - 2) + (pszPoint ? pszPoint : ".") +
                    strKept.substr(strKept.size() - 2);
    return bNegative && s.find_first_not_of("0.,") != std::string::npos ? "-" + s : s;
}

std::string FormatTotalSize(ByteCount nBytes) {
    constexpr ByteCount kGB = ByteCount{1} << 30;
    if (nBytes < kGB)
        return FormatSize(static_cast<std::int64_t>(nBytes));
    // Decided on the text as rounded: 9999999.995 GB and more read "10000000.00".
    const std::string strGB = FormatTwoDecimals(std::ldexp(static_cast<double>(nBytes), -30));
    if (strGB.find_first_not_of("0123456789") <= kMaxGigabyteDigits)
        return Apply(LoadString(IDS_SIZE_GB), strGB);
    constexpr ByteCount kPB = ByteCount{1} << 50;
    constexpr UINT kFormats[] = {IDS_SIZE_PB, IDS_SIZE_EB, IDS_SIZE_ZB,
                                 IDS_SIZE_YB, IDS_SIZE_RB, IDS_SIZE_QB};
    std::size_t nStep = 0;
    while (nStep + 1 < std::size(kFormats) && nBytes >= kPB << (10 * (nStep + 1)))
        ++nStep;
    // Exact to the double's 53 bits: far finer than two decimals of the unit.
    const double value =
        std::ldexp(static_cast<double>(nBytes), -50 - 10 * static_cast<int>(nStep));
    return Apply(LoadString(kFormats[nStep]), FormatTwoDecimals(value));
}

std::string FormatSize(std::int64_t nBytes) {
    constexpr std::int64_t kKB = 1024;
    constexpr std::int64_t kMB = 1024 * kKB;
    constexpr std::int64_t kGB = 1024 * kMB;
    if (nBytes < kKB)
        return Apply(LoadString(IDS_SIZE_BYTES), std::to_string(nBytes));
    const double n = static_cast<double>(nBytes);
    if (nBytes < kMB)
        return Apply(LoadString(IDS_SIZE_KB), FormatTwoDecimals(n / kKB));
    if (nBytes < kGB)
        return Apply(LoadString(IDS_SIZE_MB), FormatTwoDecimals(n / kMB));
    return Apply(LoadString(IDS_SIZE_GB), FormatTwoDecimals(n / kGB));
}
