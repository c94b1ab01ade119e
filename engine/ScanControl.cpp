#include "ScanControl.h"

#include "Resource.h"

#include <cstring>

CEvent ResumeEvent{false};
CEvent ForceEvent{false};
CEvent EnumFinished{true};

std::atomic<HWND> g_hTargetWnd{HWND{}};

const GroupEntry g_groupTable[4] = {
    {IDS_GROUP_DOCUMENTS, IDS_FILTER_DOCUMENTS},
    {IDS_GROUP_IMAGES, IDS_FILTER_IMAGES},
    {IDS_GROUP_MUSIC, IDS_FILTER_MUSIC},
    {IDS_GROUP_VIDEO, IDS_FILTER_VIDEO},
};

void FileProperty::SetModified(const FILETIME& ftLocal) {
    SYSTEMTIME st, back;
    bool bValid = FileTimeToSystemTime(ftLocal, st) &&
                  SystemTimeToVariantTime(st, m_dtModified.m_dt) &&
                  VariantTimeToSystemTime(m_dtModified.m_dt, back) && st.wYear == back.wYear &&
                  st.wMonth == back.wMonth && st.wDay == back.wDay && st.wHour == back.wHour &&
                  st.wMinute == back.wMinute && st.wSecond == back.wSecond;
    m_dtModified.m_status = bValid ? DateTimeStatus::valid : DateTimeStatus::invalid;
}

void FileProperty::SetModifiedFromUtc(const std::timespec& utc, const ILocalTime& localTime) {
    FILETIME ftLocal;
    if (localTime.FileTimeToLocalFileTime(utc, ftLocal)) {
        SetModified(ftLocal);
    } else {
        m_dtModified.m_dt = 0.0;
        m_dtModified.m_status = DateTimeStatus::invalid;
    }
}

std::string FileProperty::GetFolder() const {
    auto n = m_strPath.rfind('/');
    return n == std::string::npos ? std::string() : m_strPath.substr(0, n + 1);
}

std::string FileProperty::GetFileName() const {
    auto n = m_strPath.rfind('/');
    return n == std::string::npos ? m_strPath : m_strPath.substr(n + 1);
}

std::string FileProperty::GetExtension() const {
    std::string strName = GetFileName();
    auto n = strName.rfind('.');
    return n == std::string::npos ? std::string() : strName.substr(n);
}

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
