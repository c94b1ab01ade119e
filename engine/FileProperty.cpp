#include "FileProperty.h"

#include "SizeText.h"

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

std::string_view FileProperty::FolderOf(std::string_view strPath) {
    const auto n = strPath.rfind('/');
    return n == std::string_view::npos ? std::string_view() : strPath.substr(0, n + 1);
}

std::string_view FileProperty::FileNameOf(std::string_view strPath) {
    const auto n = strPath.rfind('/');
    return n == std::string_view::npos ? strPath : strPath.substr(n + 1);
}

std::string_view FileProperty::ExtensionOf(std::string_view strPath) {
    const std::string_view strName = FileNameOf(strPath);
    const auto n = strName.rfind('.');
    return n == std::string_view::npos ? std::string_view() : strName.substr(n);
}

std::string FileProperty::GetFolder() const {
    return std::string(FolderOf(m_strPath));
}

std::string FileProperty::GetFileName() const {
    return std::string(FileNameOf(m_strPath));
}

std::string FileProperty::GetExtension() const {
    return std::string(ExtensionOf(m_strPath));
}

const std::string& FileProperty::GetTypeName(IFileTypeNames& names) {
    if (m_strType.empty())
        m_strType = names.GetTypeName(GetExtension());
    return m_strType;
}

std::string FileProperty::GetSizeText() const {
    return FormatSize(m_nSize);
}

std::string FileProperty::GetDateText(const IDateFormat& format) const {
    if (m_dtModified.m_status == DateTimeStatus::null)
        return std::string();
    SYSTEMTIME st;
    const bool bValid = m_dtModified.m_status == DateTimeStatus::valid &&
                        VariantTimeToSystemTime(m_dtModified.m_dt, st);
    std::string strDate, strTime;
    if (!bValid || !format.FormatDate(st, strDate))
        strDate = std::string(kInvalidDateTime);
    if (!bValid || !format.FormatTime(st, strTime))
        strTime = std::string(kInvalidDateTime);
    return strDate + ' ' + strTime;
}
