#include "KnownFolders.h"

#include "Environment.h"
#include "Path.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Env(const char* pszName) {
    const char* p = std::getenv(pszName);
    return p ? std::string(p) : std::string();
}

std::string HomeFolder() {
    std::string s = Env("HOME");
    if (!s.empty() && s[0] == '/')
        return s;
    struct passwd pw, *pResult = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &pResult) == 0 && pResult && pw.pw_dir)
        return pw.pw_dir;
    return "/";
}

// An XDG base folder: the variable when it holds an absolute path, else the default.
std::string XdgFolder(const char* pszVariable, const std::string& strDefault) {
    std::string s = Env(pszVariable);
    return !s.empty() && s[0] == '/' ? s : strDefault;
}

// A folder of a home as the walk meets it: one spelling however the variable was
// written ("/home/u/", "/home/u/."), and where it exists, the folder its links lead
// to: a home linked from /home is walked where it lies.
std::string WalkedFolder(const std::string& strPath) {
    const std::string strNormal = NormalFolder(strPath);
    char resolved[PATH_MAX];
    return ::realpath(strNormal.c_str(), resolved) ? std::string(resolved) : strNormal;
}

bool IsRealFolder(const char* pszPath) {
    struct stat st;
    return ::lstat(pszPath, &st) == 0 && S_ISDIR(st.st_mode);
}

class CSystemKnownFolders final : public IKnownFolders {
public:
    KnownFolderSet Get() const override {
        KnownFolderSet s;
        s.arrSystem = {"/usr", "/boot", "/etc"};
        // On merged-/usr systems these are links into /usr, already excluded.
        for (const char* psz : {"/bin", "/sbin", "/lib", "/lib32", "/lib64"}) {
            if (IsRealFolder(psz))
                s.arrSystem.emplace_back(psz);
        }
        s.arrPrograms = {"/opt", "/snap"};
        s.arrProgramData = {"/var/lib", "/var/cache"};
        const std::string strHome = HomeFolder();
        s.arrInternetCache = {WalkedFolder(XdgFolder("XDG_CACHE_HOME", strHome + "/.cache"))};
        // The temporary folder as the log names it, without its trailing separator.
        s.arrTemporary = {std::string(TrimTrailingSeparators(GetTempPath())), "/var/tmp"};
        s.strUserTrash =
            WalkedFolder(XdgFolder("XDG_DATA_HOME", strHome + "/.local/share") + "/Trash");
        s.arrHomeTrash = HomeTrashFolders();
        s.nUserId = static_cast<unsigned>(::getuid());
        return s;
    }

    std::string LongPathName(const std::string& strPath) const override {
        char resolved[PATH_MAX];
        return ::realpath(strPath.c_str(), resolved) ? std::string(resolved) : std::string();
    }

private:
    // The trash folder of every home in the user database that has one: a scan run as
    // root must not count other users' deleted files.
    std::vector<std::string> HomeTrashFolders() const {
        std::vector<std::string> arr;
        std::lock_guard lock(m_lock); // the database is read through one cursor per process
        ::setpwent();
        struct passwd pw, *pResult = nullptr;
        std::vector<char> buf(16384);
        while (::getpwent_r(&pw, buf.data(), buf.size(), &pResult) == 0 && pResult) {
            const std::string strHome = pw.pw_dir ? pw.pw_dir : "";
            if (strHome.empty() || strHome[0] != '/')
                continue;
            std::string strTrash = WalkedFolder(JoinPath(strHome, ".local/share/Trash"));
            if (IsRealFolder(strTrash.c_str()))
                arr.push_back(std::move(strTrash));
        }
        ::endpwent();
        std::sort(arr.begin(), arr.end());
        arr.erase(std::unique(arr.begin(), arr.end()), arr.end());
        return arr;
    }

    mutable std::mutex m_lock;
};

} // namespace

std::shared_ptr<const IKnownFolders> SystemKnownFolders() {
    static const auto instance = std::make_shared<const CSystemKnownFolders>();
    return instance;
}
