// What the scan threads and the user interface exchange: the scan events, the
// target window and its messages, the record of one found file, the group table.
#pragma once

#include "platform/Event.h"
#include "platform/FileTime.h"
#include "platform/Types.h"
#include "platform/Window.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// ---- Events: manual-reset, process-wide --------------------------------------------
extern CEvent ResumeEvent;  // set: the scan may run; clear: paused or not yet released
extern CEvent ForceEvent;   // set: a stop was requested
extern CEvent EnumFinished; // set: no scan is running

// ---- Target window and messages -------------------------------------------------
// Written by the starter of a scan before the manager thread exists.
extern std::atomic<HWND> g_hTargetWnd;

// wParam: const char* group name; lParam: const FileProperty*. Both are valid only
// during the call: the receiver copies what it keeps.
inline constexpr UINT WM_FILEFOUND = WM_USER + 100;
inline constexpr UINT WM_ENUMFINISH = WM_USER + 101; // wParam 0, lParam 0

// ---- Found-file record ------------------------------------------------------------
enum class DateTimeStatus : int { valid = 0, invalid = 1, null = 2 };

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

// ---- Group table --------------------------------------------------------------------
struct GroupEntry {
    UINT nNameId;
    UINT nFilterId;
};
// Documents, Images, Music, Video: name and filter string entries, in table order.
extern const GroupEntry g_groupTable[4];

// ---- Services ----------------------------------------------------------------------
bool IsEnumFinished();
// Reports one found file to the target window, synchronously; nothing is sent when the
// target is gone or no scan is running.
void NotifyFileFound(const std::string& strGroup, FileProperty prop);
// The system's text for an error code, ending with CR LF like the system texts the
// log was first written for.
std::string GetErrorText(DWORD dwCode);
