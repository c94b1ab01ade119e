#include "RollingFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

bool CRollingFile::Open(const std::string& strFolder, const std::string& strName,
                        std::int64_t nMaxSize, int nFileCount, bool bEraseAtStart) {
    m_file.Reset();
    m_folder.Reset();
    if (strName.empty() || strName.find('/') != std::string::npos || nFileCount < 1)
        return false;
    CFileHandle folder;
    if (!OpenPrivateFolder(strFolder, false, folder))
        return false;

    m_strName = strName;
    m_nMaxSize = nMaxSize;
    m_nFileCount = nFileCount;

    // Look at the whole set before touching any of it.
    struct stat st;
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
    CFileHandle file;
    struct stat st;
    m_opened = OpenFileForAppend(m_folder, GetFileName(m_nIndex), file);
    if (!m_opened)
        return;
    if (::fstat(file.Get(), &st) != 0 ||
        (st.st_size > m_nMaxSize && ::ftruncate(file.Get(), 0) != 0)) {
        m_opened = SafeFileResult::FromErrno(errno);
        return;
    }
    m_file = std::move(file);
}

SafeFileResult CRollingFile::Write(std::string_view strText) {
    if (!m_file.IsOpen())
        return m_opened;
    if (const int nError = WriteAll(m_file.Get(), strText); nError != 0)
        return SafeFileResult::FromErrno(nError);
    off_t nPosition = ::lseek(m_file.Get(), 0, SEEK_CUR);
    if (nPosition > m_nMaxSize) {
        m_nIndex = (m_nIndex + 1) % m_nFileCount;
        OpenCurrent();
    }
    return {};
}
