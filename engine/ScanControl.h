// How the scan threads and the user interface meet: the scan events, the target
// window and its messages, and the services around them. The record they carry is in
// FileProperty.h, the groups in GroupTable.h.
#pragma once

#include "FileProperty.h"
#include "GroupTable.h"
#include "platform/Event.h"
#include "platform/Types.h"
#include "platform/Window.h"

#include <atomic>
#include <string>

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

// ---- Services ----------------------------------------------------------------------
bool IsEnumFinished();
// Reports one found file to the target window, synchronously; nothing is sent when the
// target is gone or no scan is running.
void NotifyFileFound(const std::string& strGroup, FileProperty prop);
// The system's text for an error code, ending with CR LF like the system texts the
// log was first written for.
std::string GetErrorText(DWORD dwCode);
