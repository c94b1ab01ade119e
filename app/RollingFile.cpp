#include "RollingFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A file of the set that may be written: a plain file of this user with no other
// name. A hard link would let writing or emptying reach a file elsewhere.
bool IsOwnPlainFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
}

std::string WithoutTrailingSlashes(std::string str) {
    while (str.size() > 1 && str.back() == '/')
        str.pop_back();
    return str;
}

bool IsFolder(const std::string& strPath) {
    struct stat st;
    return ::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

CFileHandle& CFileHandle::operator=(CFileHandle&& other) noexcept {
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int CFileHandle::Release() {
    return std::exchange(m_fd, -1);
}

void CFileHandle::Reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

bool CreatePrivateFolder(const std::string& strFolder) {
    std::string strPath = WithoutTrailingSlashes(strFolder);
    if (strPath.empty())
        return false;
    // Parents first, each created private; one that exists is taken as it is.
    for (std::size_t nSlash = strPath.find('/', 1); nSlash != std::string::npos;
         nSlash = strPath.find('/', nSlash + 1)) {
        if (strPath[nSlash - 1] == '/')
            continue;
        std::string strParent = strPath.substr(0, nSlash);
        if (::mkdir(strParent.c_str(), 0700) != 0 && !IsFolder(strParent))
            return false;
    }
    return ::mkdir(strPath.c_str(), 0700) == 0 || IsFolder(strPath);
}

bool CRollingFile::Open(const std::string& strFolder, const std::string& strName,
                        std::int64_t nMaxSize, int nFileCount, bool bEraseAtStart) {
    m_file.Reset();
    m_folder.Reset();
    if (strName.empty() || strName.find('/') != std::string::npos || nFileCount < 1)
        return false;
    // A trailing '/' would make the kernel follow a link at the folder's place.
    std::string strPath = WithoutTrailingSlashes(strFolder);
    CFileHandle folder(::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!folder.IsOpen() || ::fstat(folder.Get(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
        return false;

    m_strName = strName;
    m_nMaxSize = nMaxSize;
    m_nFileCount = nFileCount;

    // Look at the whole set before touching any of it.
    for (int i = 0; i < m_nFileCount; ++i) {
        if (::fstatat(folder.Get(), GetFileName(i).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (!IsOwnPlainFile(st))
                return false;
        } else if (errno != ENOENT) {
            return false;
        }
    }
    if (bEraseAtStart) {
        for (int i = 0; i < m_nFileCount; ++i)
            ::unlinkat(folder.Get(), GetFileName(i).c_str(), 0); // removes a name, never follows
    }
    m_nIndex = 0;
    for (int i = 0; i < m_nFileCount; ++i) {
        if (::fstatat(folder.Get(), GetFileName(i).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            st.st_size < m_nMaxSize) {
            m_nIndex = i;
            break;
        }
    }
    m_folder = std::move(folder);
    OpenCurrent();
    return true;
}

std::string CRollingFile::GetFileName(int nIndex) const {
    return nIndex == 0 ? m_strName : m_strName + "." + std::to_string(nIndex + 1);
}

void CRollingFile::OpenCurrent() {
    m_file.Reset();
    // O_NONBLOCK: a pipe at the file's place must not hold the writer.
    CFileHandle file(::openat(m_folder.Get(), GetFileName(m_nIndex).c_str(),
                              O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                              0600));
    struct stat st;
    if (!file.IsOpen() || ::fstat(file.Get(), &st) != 0 || !IsOwnPlainFile(st))
        return;
    if ((st.st_mode & 077) != 0)
        ::fchmod(file.Get(), 0600);
    if (st.st_size > m_nMaxSize && ::ftruncate(file.Get(), 0) != 0)
        return;
    m_file = std::move(file);
}

void CRollingFile::Write(std::string_view strText) {
    if (!m_file.IsOpen())
        return;
    while (!strText.empty()) {
        ssize_t n = ::write(m_file.Get(), strText.data(), strText.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        strText.remove_prefix(static_cast<std::size_t>(n));
    }
    off_t nPosition = ::lseek(m_file.Get(), 0, SEEK_CUR);
    if (nPosition > m_nMaxSize) {
        m_nIndex = (m_nIndex + 1) % m_nFileCount;
        OpenCurrent();
    }
}
