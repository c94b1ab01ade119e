// File times, calendar fields and automation dates.
//
// FILETIME counts 100-nanosecond intervals since 1601-01-01 00:00. The automation
// date counts days since 1899-12-30 00:00; its fraction is the time of day (for days
// before that, the fraction still counts forward from midnight: -1.25 is
// 1899-12-29 06:00).
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

struct FILETIME {
    std::uint64_t nTicks = 0;
};

struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

// Calendar fields of a FILETIME; fails for values past the representable range.
bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& st);
// Day number of calendar fields; years 100 to 9999 only, milliseconds ignored.
bool SystemTimeToVariantTime(const SYSTEMTIME& st, double& dt);
// Calendar fields of a day number, rounded to the second.
bool VariantTimeToSystemTime(double dt, SYSTEMTIME& st);
// Seconds from 1970-01-01 00:00 to the calendar fields, both read in the same calendar
// and no time zone (local fields give local wall-clock seconds); milliseconds ignored.
// Fails for fields that name no moment (month 13, February 30, hour 24).
bool SystemTimeToSeconds(const SYSTEMTIME& st, std::int64_t& nSeconds);

// A local day number as RFC 3339, with the offset from UTC that the time zone (TZ) had
// in force at that moment; empty when it names no moment. A local time that a clock
// change made happen twice is taken as the first of the two.
std::string Rfc3339Date(double dtLocal);

// A moment as RFC 3339 in the time zone of the process, to the second.
std::string Rfc3339Time(std::chrono::system_clock::time_point t);

// Seam for the conversion of a file's UTC time stamp to local time.
class ILocalTime {
public:
    virtual ~ILocalTime() = default;
    virtual bool FileTimeToLocalFileTime(const std::timespec& utc, FILETIME& local) const = 0;
};

// The system's current time-zone rules (localtime_r).
const ILocalTime& SystemLocalTime();
