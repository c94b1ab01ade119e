#include "ScanControl.h"

#include <cstring>

CEvent ResumeEvent{false};
CEvent ForceEvent{false};
CEvent EnumFinished{true};

std::atomic<HWND> g_hTargetWnd{HWND{}};

bool IsEnumFinished() {
    return WaitForEvent(EnumFinished, 0) == WAIT_OBJECT_0;
}

void NotifyFileFound(const std::string& strGroup, FileProperty prop) {
    // SendMessage itself sends nothing when the target names no window.
    if (IsEnumFinished())
        return;
    SendMessage(g_hTargetWnd.load(), WM_FILEFOUND, reinterpret_cast<WPARAM>(strGroup.c_str()),
                reinterpret_cast<LPARAM>(&prop));
}

std::string GetErrorText(DWORD dwCode) {
    char buf[256];
    // GNU strerror_r answers "Unknown error N" for codes it has no text for.
    const char* psz = ::strerror_r(static_cast<int>(dwCode), buf, sizeof buf);
    return std::string(psz) + "\r\n";
}
