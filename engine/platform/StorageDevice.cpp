#include "StorageDevice.h"

#include <fstream>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

std::optional<bool> ReadFlag(const std::string& strFile) {
    std::ifstream in(strFile);
    int n = -1;
    if (!(in >> n) || (n != 0 && n != 1))
        return std::nullopt;
    return n == 1;
}

} // namespace

std::optional<bool> IsRotational(const std::string& strPath, const std::string& strSysfs) {
    struct stat st;
    if (::stat(strPath.c_str(), &st) != 0 || ::major(st.st_dev) == 0)
        return std::nullopt; // major 0: no block device behind it
    const std::string strDevice = strSysfs + "/dev/block/" + std::to_string(::major(st.st_dev)) +
                                  ":" + std::to_string(::minor(st.st_dev));
    // A whole disk has its queue; a partition's is its disk's, one level up.
    if (std::optional<bool> b = ReadFlag(strDevice + "/queue/rotational"))
        return b;
    return ReadFlag(strDevice + "/../queue/rotational");
}
