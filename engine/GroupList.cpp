#include "GroupList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool WriteGroupListFile(const std::string& strFolder, const std::string& strGroup,
                        const std::string& strText) {
    if (strText.empty() || strFolder.empty())
        return false;
    int fdDir = ::open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fdDir < 0)
        return false;
    struct stat st;
    if (::fstat(fdDir, &st) != 0 || st.st_uid != ::geteuid()) {
        ::close(fdDir);
        return false;
    }
    const std::string strName = strGroup + ".log";
    int fd = ::openat(fdDir, strName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                      0600);
    ::close(fdDir);
    if (fd < 0)
        return false;
    bool bOk = true;
    const char* p = strText.data();
    std::size_t nLeft = strText.size();
    while (nLeft > 0) {
        ssize_t n = ::write(fd, p, nLeft);
        if (n <= 0) {
            bOk = false;
            break;
        }
        p += n;
        nLeft -= static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && bOk;
}
