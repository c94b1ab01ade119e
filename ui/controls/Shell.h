// Opening an address in the user's web browser.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// An address the browser can be asked to open: an absolute URL with a scheme of two
// or more characters (so a drive letter or a plain path never counts) and something
// after the colon.
bool PathIsURL(std::string_view strText);

// Hands the address to the desktop's handler for its scheme; the outcome is not
// reported, as nothing in the program acts on it.
void ShellOpenUrl(const std::string& strUrl);

// While one of these lives, ShellOpenUrl calls the given function instead of the
// desktop, so tests never start a browser. Scopes nest; user-interface thread only.
class CShellOpenOverride {
public:
    explicit CShellOpenOverride(std::function<void(const std::string&)> fnOpen);
    ~CShellOpenOverride();
    CShellOpenOverride(const CShellOpenOverride&) = delete;
    CShellOpenOverride& operator=(const CShellOpenOverride&) = delete;

private:
    std::function<void(const std::string&)> m_fnPrevious;
};
