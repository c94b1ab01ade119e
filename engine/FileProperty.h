// The record of one found file, copied by value between the scan threads and the
// user interface.
#pragma once

#include "platform/FileTime.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <string>

enum class DateTimeStatus : int { valid = 0, invalid = 1, null = 2 };

// An automation date: days since 1899-12-30 00:00, the fraction the time of day.
struct COleDateTime {
    double m_dt = 0.0;
    DateTimeStatus m_status = DateTimeStatus::valid;
    friend bool operator==(const COleDateTime&, const COleDateTime&) = default;
};

struct FileProperty {
    std::string m_strPath; // full path, native bytes
    std::string m_strType; // empty when reported; the details list fills it
    std::int64_t m_nSize = 0;
    COleDateTime m_dtModified;

    // Fills m_dtModified from a local time stamp; invalid unless the day number
    // converts back to the same calendar fields.
    void SetModified(const FILETIME& ftLocal);
    // The rule both enumerators use: local time of a UTC time stamp, or an invalid
    // date with day number 0.0 when the conversion fails.
    void SetModifiedFromUtc(const std::timespec& utc, const ILocalTime& localTime);

    std::string GetFolder() const;    // up to and including the last '/'
    std::string GetFileName() const;  // after the last '/'
    std::string GetExtension() const; // from the last '.' of the name; empty if none
};

// The records of one group in arrival order. A stored record never moves: the details
// window keeps pointers to records while a paused scan may still append.
using CFileList = std::deque<FileProperty>;
