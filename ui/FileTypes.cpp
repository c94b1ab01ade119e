#include "FileTypes.h"

#include "Bitmaps.h"

#include <QDate>
#include <QTime>

FileTypeInfo CMimeFileTypes::GetFileTypeInfo(const std::string& strExtension) const {
    // A fixed stem no glob names, so that only the extension decides.
    const QString strName = QStringLiteral("file") + QString::fromUtf8(strExtension);
    const QMimeType type = m_db.mimeTypeForFile(strName, QMimeDatabase::MatchExtension);
    FileTypeInfo info;
    info.strTypeName = type.comment().toStdString();
    auto [it, bNew] = m_mapIcons.try_emplace(type.name());
    if (bNew) {
        for (const QString& strIcon : {type.iconName(), type.genericIconName()}) {
            if (!strIcon.isEmpty() && QIcon::hasThemeIcon(strIcon)) {
                it->second = QIcon::fromTheme(strIcon);
                break;
            }
        }
        if (it->second.isNull())
            it->second = LoadIcon(IDI_DOCUMENT);
    }
    info.icon = it->second;
    return info;
}

bool CLocaleDateFormat::FormatDate(const SYSTEMTIME& st, std::string& strText) const {
    const QDate date(st.wYear, st.wMonth, st.wDay);
    if (!date.isValid())
        return false;
    strText = m_locale.toString(date, QLocale::ShortFormat).toStdString();
    return true;
}

bool CLocaleDateFormat::FormatTime(const SYSTEMTIME& st, std::string& strText) const {
    const QTime time(st.wHour, st.wMinute, st.wSecond);
    if (!time.isValid())
        return false;
    strText = m_locale.toString(time, QLocale::ShortFormat).toStdString();
    return true;
}
