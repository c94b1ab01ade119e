#include "FileTime.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kTicksPerDay = kTicksPerSecond * kSecondsPerDay;
// Days from 1601-01-01 to 1970-01-01 and to 1899-12-30.
constexpr std::int64_t kDays1601To1970 = 134'774;
constexpr std::int64_t kDays1601To1899 = 109'205;
// FileTimeToSystemTime refuses values with the top bit set.
constexpr std::uint64_t kMaxTicks = 0x7FFFFFFFFFFFFFFFull;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// Days from 1970-01-01 to 1899-12-30, the day number 0.
constexpr std::int64_t kDays1970To1899 = DaysFromCivil(1899, 12, 30);

static_assert(DaysFromCivil(1970, 1, 1) == 0);
static_assert(DaysFromCivil(1601, 1, 1) == -kDays1601To1970);
static_assert(kDays1970To1899 == kDays1601To1899 - kDays1601To1970);

bool IsLeap(std::int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(std::int64_t y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Month, day and time of day name a moment of the year.
bool IsValidDayAndTime(const SYSTEMTIME& st) {
    return st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 &&
           st.wDay <= DaysInMonth(st.wYear, st.wMonth) && st.wHour <= 23 && st.wMinute <= 59 &&
           st.wSecond <= 59;
}

void FillFromDays(std::int64_t nDays1970, std::int64_t nSecondOfDay, SYSTEMTIME& st) {
    std::int64_t y;
    unsigned m, d;
    CivilFromDays(nDays1970, y, m, d);
    st.wYear = static_cast<std::uint16_t>(y);
    st.wMonth = static_cast<std::uint16_t>(m);
    st.wDay = static_cast<std::uint16_t>(d);
    // 1970-01-01 was a Thursday.
    st.wDayOfWeek = static_cast<std::uint16_t>(((nDays1970 % 7) + 7 + 4) % 7);
    st.wHour = static_cast<std::uint16_t>(nSecondOfDay / 3600);
    st.wMinute = static_cast<std::uint16_t>(nSecondOfDay / 60 % 60);
    st.wSecond = static_cast<std::uint16_t>(nSecondOfDay % 60);
}

class CSystemLocalTime final : public ILocalTime {
public:
    bool FileTimeToLocalFileTime(const std::timespec& utc, FILETIME& local) const override {
        std::tm tm{};
        if (!::localtime_r(&utc.tv_sec, &tm))
            return false;
        // The local wall-clock time as seconds since 1970, counted as if it were UTC.
        const std::int64_t nLocal = static_cast<std::int64_t>(utc.tv_sec) + tm.tm_gmtoff;
        const std::int64_t nMaxSeconds = static_cast<std::int64_t>(kMaxTicks / kTicksPerSecond) -
                                         kDays1601To1970 * kSecondsPerDay - 1;
        if (nLocal < -kDays1601To1970 * kSecondsPerDay || nLocal > nMaxSeconds || utc.tv_nsec < 0 ||
            utc.tv_nsec >= 1'000'000'000)
            return false;
        local.nTicks = static_cast<std::uint64_t>(
            (nLocal + kDays1601To1970 * kSecondsPerDay) * kTicksPerSecond + utc.tv_nsec / 100);
        return true;
    }
};

} // namespace

bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& st) {
    if (ft.nTicks > kMaxTicks)
        return false;
    const auto nTicks = static_cast<std::int64_t>(ft.nTicks);
    const std::int64_t nDays = nTicks / kTicksPerDay;
    const std::int64_t nRest = nTicks % kTicksPerDay;
    FillFromDays(nDays - kDays1601To1970, nRest / kTicksPerSecond, st);
    st.wMilliseconds = static_cast<std::uint16_t>(nRest % kTicksPerSecond / 10'000);
    return true;
}

bool SystemTimeToVariantTime(const SYSTEMTIME& st, double& dt) {
    if (st.wYear < 100 || st.wYear > 9999 || !IsValidDayAndTime(st))
        return false;
    const std::int64_t nDays = DaysFromCivil(st.wYear, st.wMonth, st.wDay) - kDays1970To1899;
    const double fraction = (st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond) / kSecondsPerDay;
    // Before the epoch the fraction still counts forward from midnight.
    dt = nDays >= 0 ? static_cast<double>(nDays) + fraction : static_cast<double>(nDays) - fraction;
    return true;
}

bool VariantTimeToSystemTime(double dt, SYSTEMTIME& st) {
    // The range of years 100 to 9999.
    constexpr double kMin = -657434.0;
    constexpr double kMax = 2958465.99999999;
    if (!(dt >= kMin - 1.0 && dt <= kMax + 1.0))
        return false;
    double whole = std::trunc(dt);
    double fraction = std::fabs(dt - whole);
    auto nSeconds = static_cast<std::int64_t>(std::llround(fraction * kSecondsPerDay));
    auto nDays = static_cast<std::int64_t>(whole);
    if (nSeconds >= kSecondsPerDay) {
        // Rounded up to the next midnight: one day later in calendar terms.
        nSeconds -= kSecondsPerDay;
        ++nDays;
    }
    const std::int64_t nDays1970 = nDays + kDays1970To1899;
    std::int64_t y;
    unsigned m, d;
    CivilFromDays(nDays1970, y, m, d);
    if (y < 100 || y > 9999)
        return false;
    FillFromDays(nDays1970, nSeconds, st);
    st.wMilliseconds = 0;
    return true;
}

bool SystemTimeToSeconds(const SYSTEMTIME& st, std::int64_t& nSeconds) {
    if (!IsValidDayAndTime(st))
        return false;
    nSeconds = DaysFromCivil(st.wYear, st.wMonth, st.wDay) * kSecondsPerDay + st.wHour * 3600 +
               st.wMinute * 60 + st.wSecond;
    return true;
}

const ILocalTime& SystemLocalTime() {
    static const CSystemLocalTime instance;
    return instance;
}

namespace {

// "+05:30" for an offset in seconds east of UTC.
std::string OffsetText(long nOffset) {
    char buf[64];
    const long n = nOffset < 0 ? -nOffset : nOffset;
    std::snprintf(buf, sizeof buf, "%c%02ld:%02ld", nOffset < 0 ? '-' : '+', n / 3600, n / 60 % 60);
    return buf;
}

std::string Rfc3339(const std::tm& tm, long nOffset) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf + OffsetText(nOffset);
}

// Whether RFC 3339 can write the offset: whole minutes, and less than a day (its hour
// goes to 23).
bool IsRfc3339Offset(long nOffset) {
    constexpr long kDay = 24 * 3600;
    return nOffset % 60 == 0 && nOffset > -kDay && nOffset < kDay;
}

// A moment of a zone whose offset RFC 3339 cannot write (seconds in local mean time,
// before 1900 or so; a whole day, TZ=EST+24) is given in UTC instead, exactly.
std::string Rfc3339(std::time_t t) {
    std::tm tm{};
    if (!::localtime_r(&t, &tm))
        return {};
    if (IsRfc3339Offset(tm.tm_gmtoff))
        return Rfc3339(tm, tm.tm_gmtoff);
    if (!::gmtime_r(&t, &tm))
        return {};
    return Rfc3339(tm, 0);
}

} // namespace

std::string Rfc3339Date(double dtLocal) {
    SYSTEMTIME st;
    if (!VariantTimeToSystemTime(dtLocal, st))
        return {};
    // The moment of these local fields: tried as standard and as daylight time; the
    // one that gives the fields back is right, and when both do, the earlier is taken.
    std::optional<std::time_t> found;
    for (int nDst : {0, 1}) {
        std::tm tm{};
        tm.tm_year = st.wYear - 1900;
        tm.tm_mon = st.wMonth - 1;
        tm.tm_mday = st.wDay;
        tm.tm_hour = st.wHour;
        tm.tm_min = st.wMinute;
        tm.tm_sec = st.wSecond;
        tm.tm_isdst = nDst;
        const std::time_t t = std::mktime(&tm);
        std::tm back{};
        if (!::localtime_r(&t, &back) || back.tm_year != st.wYear - 1900 ||
            back.tm_mon != st.wMonth - 1 || back.tm_mday != st.wDay || back.tm_hour != st.wHour ||
            back.tm_min != st.wMinute || back.tm_sec != st.wSecond)
            continue;
        if (!found || t < *found)
            found = t;
    }
    return found ? Rfc3339(*found) : std::string();
}

std::string Rfc3339Time(std::chrono::system_clock::time_point t) {
    return Rfc3339(std::chrono::system_clock::to_time_t(t));
}
