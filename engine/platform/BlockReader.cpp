#include "BlockReader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

DWORD CMemoryBlockReader::ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) {
    if (n == 0)
        return 0;
    std::size_t nHave = 0;
    if (nOffset < m_arrBytes.size()) {
        nHave = std::min<std::uint64_t>(n, m_arrBytes.size() - nOffset);
        std::memcpy(p, m_arrBytes.data() + nOffset, nHave);
    }
    std::memset(p + nHave, 0, n - nHave);
    return 0;
}

CFileBlockReader::CFileBlockReader(int fd) : m_fd(fd) {
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return;
    std::uint64_t nBytes = 0;
    if (S_ISBLK(st.st_mode) && ::ioctl(m_fd, BLKGETSIZE64, &nBytes) == 0)
        m_nSize = nBytes;
    else if (S_ISREG(st.st_mode))
        m_nSize = static_cast<std::uint64_t>(st.st_size);
}

CFileBlockReader::~CFileBlockReader() {
    ::close(m_fd);
}

DWORD CFileBlockReader::ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) {
    if (n == 0)
        return 0;
    while (n > 0) {
        if (nOffset > static_cast<std::uint64_t>(LLONG_MAX))
            break;
        const ssize_t nRead = ::pread(m_fd, p, n, static_cast<off_t>(nOffset));
        if (nRead < 0) {
            if (errno == EINTR)
                continue;
            return static_cast<DWORD>(errno);
        }
        if (nRead == 0)
            break; // the end of the device: the rest reads as zeros
        p += nRead;
        n -= static_cast<std::size_t>(nRead);
        nOffset += static_cast<std::uint64_t>(nRead);
    }
    std::memset(p, 0, n);
    return 0;
}

void CFileBlockReader::WillNeed(std::uint64_t nOffset, std::size_t n) {
    if (nOffset <= static_cast<std::uint64_t>(LLONG_MAX))
        ::posix_fadvise(m_fd, static_cast<off_t>(nOffset), static_cast<off_t>(n),
                        POSIX_FADV_WILLNEED);
}
