// The record of one found file, copied by value between the scan threads and the
// user interface.
#pragma once

#include "platform/FileTime.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <string>
#include <string_view>

// The desktop services the display accessors stand on. The user interface supplies
// them: the engine knows neither file types nor the user's date formats.
class IFileTypeNames {
public:
    virtual ~IFileTypeNames() = default;
    // The type name of files with this extension (".pdf"; empty for none), decided on
    // the name alone: no file is opened. Empty when the desktop knows none.
    virtual std::string GetTypeName(const std::string& strExtension) = 0;
};

class IDateFormat {
public:
    virtual ~IDateFormat() = default;
    // The date, or the time of day, of the calendar fields in the user's formats;
    // false when there is no text for them.
    virtual bool FormatDate(const SYSTEMTIME& st, std::string& strText) const = 0;
    virtual bool FormatTime(const SYSTEMTIME& st, std::string& strText) const = 0;
};

// The text of a date or time that cannot be shown.
inline constexpr std::string_view kInvalidDateTime = "Invalid DateTime";

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
    // The same pieces of any path, without copying: for loops over a million records.
    static std::string_view FolderOf(std::string_view strPath);
    static std::string_view FileNameOf(std::string_view strPath);
    static std::string_view ExtensionOf(std::string_view strPath);

    // m_strType, first filled with the desktop's name for the extension when empty.
    const std::string& GetTypeName(IFileTypeNames& names);
    std::string GetSizeText() const;
    // The date, a space and the time of the last write, each "Invalid DateTime" when it
    // cannot be shown; empty for a null date.
    std::string GetDateText(const IDateFormat& format) const;
};

// The records of one group in arrival order. A stored record never moves: the details
// window keeps pointers to records while a paused scan may still append.
using CFileList = std::deque<FileProperty>;
