#include "Shell.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include <utility>

namespace {

// The test seam behind ShellOpenUrl; empty means the desktop opens the address.
std::function<void(const std::string&)>& OpenOverride() {
    static std::function<void(const std::string&)> fnOpen;
    return fnOpen;
}

bool IsSchemeChar(char ch, bool bFirst) {
    const bool bAlpha = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
    if (bFirst)
        return bAlpha;
    return bAlpha || (ch >= '0' && ch <= '9') || ch == '+' || ch == '-' || ch == '.';
}

} // namespace

bool PathIsURL(std::string_view strText) {
    const auto nColon = strText.find(':');
    if (nColon == std::string_view::npos || nColon < 2 || nColon + 1 >= strText.size())
        return false;
    for (std::size_t i = 0; i < nColon; ++i)
        if (!IsSchemeChar(strText[i], i == 0))
            return false;
    const QUrl url(QString::fromUtf8(strText.data(), static_cast<qsizetype>(strText.size())),
                   QUrl::StrictMode);
    return url.isValid() && !url.isRelative();
}

void ShellOpenUrl(const std::string& strUrl) {
    if (const auto& fnOpen = OpenOverride()) {
        fnOpen(strUrl);
        return;
    }
    QDesktopServices::openUrl(QUrl(QString::fromStdString(strUrl), QUrl::StrictMode));
}

CShellOpenOverride::CShellOpenOverride(std::function<void(const std::string&)> fnOpen)
    : m_fnPrevious(std::exchange(OpenOverride(), std::move(fnOpen))) {}

CShellOpenOverride::~CShellOpenOverride() {
    OpenOverride() = std::move(m_fnPrevious);
}
