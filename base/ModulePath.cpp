#include "ModulePath.h"

#include <unistd.h>
#include <vector>

std::string GetModulePath() {
    // The link's target can be longer than PATH_MAX; grow until it fits.
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buf.size())
            return std::string(buf.data(), static_cast<std::size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

std::string GetModuleFolder() {
    std::string strPath = GetModulePath();
    auto n = strPath.rfind('/');
    return n == std::string::npos ? std::string() : strPath.substr(0, n + 1);
}

std::string GetModuleFileName() {
    std::string strPath = GetModulePath();
    auto n = strPath.rfind('/');
    return n == std::string::npos ? strPath : strPath.substr(n + 1);
}

ModuleVersion GetModuleVersion() {
    return {PROJECT_VERSION_MAJOR, PROJECT_VERSION_MINOR, PROJECT_VERSION_PATCH,
            PROJECT_VERSION_TWEAK};
}
