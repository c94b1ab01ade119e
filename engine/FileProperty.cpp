#include "FileProperty.h"

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
