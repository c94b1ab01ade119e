#include "FileTypes.h"

#include "Bitmaps.h"

#include <QDate>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTime>

namespace {

// Without a desktop session (a bare window manager, a kiosk) Qt names no icon theme and
// finds only hicolor, which holds no file-type icons: an installed theme stands in.
void UseAnInstalledIconTheme() {
    const QString strTheme = QIcon::themeName();
    if (!strTheme.isEmpty() && strTheme != QStringLiteral("hicolor"))
        return;
    const QStringList arrPaths =
        QIcon::themeSearchPaths() + QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                              QStringLiteral("icons"),
                                                              QStandardPaths::LocateDirectory);
    for (const char* pszTheme : {"Adwaita", "breeze", "gnome", "Papirus", "elementary", "Tango"}) {
        for (const QString& strPath : arrPaths) {
            if (QFileInfo::exists(strPath + u'/' + QLatin1String(pszTheme) +
                                  QStringLiteral("/index.theme"))) {
                QIcon::setThemeSearchPaths(arrPaths);
                QIcon::setThemeName(QLatin1String(pszTheme));
                return;
            }
        }
    }
}

} // namespace

CMimeFileTypes::CMimeFileTypes() {
    static const bool bOnce = (UseAnInstalledIconTheme(), true);
    (void)bOnce;
}

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

namespace {

// The format with each character replaced by fn(format, index, quoted): text between
// single quotes is literal, and fn must keep it.
template <class Fn> QString RewriteFormat(const QString& strFormat, Fn fn) {
    QString strOut;
    bool bQuoted = false;
    for (qsizetype i = 0; i < strFormat.size(); ++i) {
        const QChar ch = strFormat[i];
        if (ch == QLatin1Char('\''))
            bQuoted = !bQuoted;
        strOut += fn(strFormat, i, bQuoted && ch != QLatin1Char('\''));
    }
    return strOut;
}

// The short date with the year in four digits: "M/d/yy" gives "M/d/yyyy".
QString FullYearDateFormat(const QLocale& locale) {
    return RewriteFormat(locale.dateFormat(QLocale::ShortFormat),
                         [](const QString& str, qsizetype i, bool bQuoted) -> QString {
                             const QChar y(QLatin1Char('y'));
                             if (bQuoted || str[i] != y)
                                 return str[i];
                             if (i > 0 && str[i - 1] == y)
                                 return {}; // the run was written at its first letter
                             qsizetype nEnd = i;
                             while (nEnd < str.size() && str[nEnd] == y)
                                 ++nEnd;
                             return nEnd - i >= 4 ? str.mid(i, nEnd - i) : QStringLiteral("yyyy");
                         });
}

// The long time, which has the seconds, without its time zone and what wraps it:
// "h:mm:ss AP t" gives "h:mm:ss AP", "HH:mm:ss (t)" gives "HH:mm:ss".
QString SecondsTimeFormat(const QLocale& locale) {
    QString str =
        RewriteFormat(locale.timeFormat(QLocale::LongFormat), [](const QString& strFormat,
                                                                 qsizetype i, bool bQuoted) {
            return !bQuoted && strFormat[i] == QLatin1Char('t') ? QString() : QString(strFormat[i]);
        });
    str.remove(QStringLiteral("()"));
    str.remove(QStringLiteral("[]"));
    const auto isPadding = [](QChar ch) { return ch.isSpace() || ch == QLatin1Char(','); };
    while (!str.isEmpty() && isPadding(str.back()))
        str.chop(1);
    while (!str.isEmpty() && isPadding(str.front()))
        str.remove(0, 1);
    return str;
}

} // namespace

CLocaleDateFormat::CLocaleDateFormat(const QLocale& locale)
    : m_locale(locale), m_strDateFormat(FullYearDateFormat(locale)),
      m_strTimeFormat(SecondsTimeFormat(locale)) {}

bool CLocaleDateFormat::FormatDate(const SYSTEMTIME& st, std::string& strText) const {
    const QDate date(st.wYear, st.wMonth, st.wDay);
    if (!date.isValid())
        return false;
    strText = m_locale.toString(date, m_strDateFormat).toStdString();
    return true;
}

bool CLocaleDateFormat::FormatTime(const SYSTEMTIME& st, std::string& strText) const {
    const QTime time(st.wHour, st.wMinute, st.wSecond);
    if (!time.isValid())
        return false;
    strText = m_locale.toString(time, m_strTimeFormat).toStdString();
    return true;
}
