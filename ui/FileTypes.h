// What the desktop says about files by their names: type names and icons from the
// shared MIME database and the user's icon theme, dates and times in the user's
// formats. The details list reaches them through these seams only.
#pragma once

#include "FileProperty.h"

#include <QIcon>
#include <QLocale>
#include <QMimeDatabase>

#include <string>
#include <unordered_map>

// A file type's small icon (null: none) and its name in the user's language.
struct FileTypeInfo {
    QIcon icon;
    std::string strTypeName;
};

class IFileTypeInfo {
public:
    virtual ~IFileTypeInfo() = default;
    // Icon and type name of files with this extension (".pdf"; empty for none), decided
    // on the name alone: no file is opened.
    virtual FileTypeInfo GetFileTypeInfo(const std::string& strExtension) const = 0;
};

// The MIME type whose glob matches a name with that extension; its icon from the theme,
// else its generic icon, else the program's own document icon.
class CMimeFileTypes final : public IFileTypeInfo {
public:
    // The first also gives a process without a desktop's icon theme an installed one.
    CMimeFileTypes();
    FileTypeInfo GetFileTypeInfo(const std::string& strExtension) const override;

private:
    QMimeDatabase m_db;
    // Extensions that differ only in case share a type: its icon is looked up once.
    mutable std::unordered_map<QString, QIcon> m_mapIcons;
};

// Dates and times as a locale writes them in full, the user's unless told otherwise: its
// short date with a four-digit year and its time with seconds (en_US 6/6/2023 and
// 3:04:05 PM, de_DE 06.06.2023 and 15:04:05). A year cut to two digits leaves the
// century to guess, and two files saved in the same minute would show the same time.
class CLocaleDateFormat final : public IDateFormat {
public:
    explicit CLocaleDateFormat(const QLocale& locale = QLocale::system());

    bool FormatDate(const SYSTEMTIME& st, std::string& strText) const override;
    bool FormatTime(const SYSTEMTIME& st, std::string& strText) const override;

private:
    QLocale m_locale;
    QString m_strDateFormat;
    QString m_strTimeFormat;
};
