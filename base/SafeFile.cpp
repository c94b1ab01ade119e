#include "SafeFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

// Flags of every open of a file of ours: no link followed, no wait on a pipe, never
// a controlling terminal, not inherited by programs started later.
constexpr int kFileOpenFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

SafeFileResult Done() {
    return {};
}

SafeFileResult Refused(SafeFileStatus status) {
    return {status, 0};
}

// A name of one folder entry: anything else would be looked up through folders that
// were never checked.
bool IsSingleName(const std::string& strName) {
    return !strName.empty() && strName != "." && strName != ".." &&
           strName.find('/') == std::string::npos;
}

// Opens one step of a folder path below dir, never through a link.
int OpenStep(int fdDir, const char* pszName) {
    return ::openat(fdDir, pszName, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Opens a plain file of the user's at strName, or creates it when nothing is there.
SafeFileResult OpenPlainFile(const CFileHandle& folder, const std::string& strName, int nFlags,
                             CFileHandle& file) {
    file.Reset();
    if (!IsSingleName(strName))
        return SafeFileResult::FromErrno(EINVAL);
    struct stat st;
    int fd;
    // Looked at before it is opened: opening a device node can have effects of its own.
    if (::fstatat(folder.Get(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!IsOwnPlainFile(st))
            return Refused(SafeFileStatus::notPlainFile);
        fd = ::openat(folder.Get(), strName.c_str(), kFileOpenFlags | nFlags);
    } else if (errno == ENOENT) {
        fd = ::openat(folder.Get(), strName.c_str(), kFileOpenFlags | nFlags | O_CREAT | O_EXCL,
                      kPrivateFileMode);
    } else {
        return SafeFileResult::FromErrno(errno);
    }
    if (fd < 0)
        return SafeFileResult::FromErrno(errno);
    CFileHandle opened(fd);
    // What was opened is what counts: the name may have changed hands since.
    if (::fstat(opened.Get(), &st) != 0)
        return SafeFileResult::FromErrno(errno);
    if (!IsOwnPlainFile(st))
        return Refused(SafeFileStatus::notPlainFile);
    if ((st.st_mode & 077) != 0)
        ::fchmod(opened.Get(), kPrivateFileMode);
    file = std::move(opened);
    return Done();
}

// What ReplaceWholeFile may rename over: nothing, or a plain file of the user's.
SafeFileResult CheckOwnOrNothing(const CFileHandle& folder, const std::string& strName) {
    struct stat st;
    if (::fstatat(folder.Get(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return IsOwnPlainFile(st) ? Done() : Refused(SafeFileStatus::notPlainFile);
    return errno == ENOENT ? Done() : SafeFileResult::FromErrno(errno);
}

SafeFileResult Rename(const CFileHandle& folder, const std::string& strFrom,
                      const std::string& strTo) {
    if (::renameat(folder.Get(), strFrom.c_str(), folder.Get(), strTo.c_str()) != 0)
        return SafeFileResult::FromErrno(errno);
    return Done();
}

// Renames strTemp over strName; with bOwnOnly only over nothing or a plain file of the
// user's, looked at just before: nothing at the name is taken only while it is still
// nothing.
SafeFileResult RenameOver(const CFileHandle& folder, const std::string& strTemp,
                          const std::string& strName, bool bOwnOnly) {
    if (!bOwnOnly)
        return Rename(folder, strTemp, strName);
    for (int nTry = 0; nTry < 3; ++nTry) {
        struct stat st;
        if (::fstatat(folder.Get(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            return IsOwnPlainFile(st) ? Rename(folder, strTemp, strName)
                                      : Refused(SafeFileStatus::notPlainFile);
        if (errno != ENOENT)
            return SafeFileResult::FromErrno(errno);
        if (::renameat2(folder.Get(), strTemp.c_str(), folder.Get(), strName.c_str(),
                        RENAME_NOREPLACE) == 0)
            return Done();
        if (errno == EINVAL || errno == ENOSYS)
            return Rename(folder, strTemp, strName); // a file system that cannot promise it
        if (errno != EEXIST)
            return SafeFileResult::FromErrno(errno);
    }
    return SafeFileResult::FromErrno(EEXIST); // the name keeps changing hands
}

// Writes the text into a new file beside strName and renames it over the name.
SafeFileResult ReplaceFile(const CFileHandle& folder, const std::string& strName,
                           std::string_view strText, mode_t nMode = kPrivateFileMode,
                           bool bOwnOnly = false) {
    static std::atomic<unsigned> s_nNext{0};
    std::string strTemp;
    CFileHandle file;
    while (!file.IsOpen()) {
        strTemp = "." + strName + "." + std::to_string(::getpid()) + "." +
                  std::to_string(s_nNext.fetch_add(1, std::memory_order_relaxed));
        file.Reset(::openat(folder.Get(), strTemp.c_str(), kFileOpenFlags | O_CREAT | O_EXCL,
                            kPrivateFileMode));
        if (!file.IsOpen() && errno != EEXIST)
            return SafeFileResult::FromErrno(errno);
    }
    // Set, not asked of open: the umask would take from it.
    int nError = nMode == kPrivateFileMode || ::fchmod(file.Get(), nMode) == 0 ? 0 : errno;
    if (nError == 0)
        nError = WriteAll(file.Get(), strText);
    const int nCloseError = file.Close();
    if (nError == 0)
        nError = nCloseError;
    SafeFileResult result = SafeFileResult::FromErrno(nError);
    if (nError == 0)
        result = RenameOver(folder, strTemp, strName, bOwnOnly);
    if (!result)
        ::unlinkat(folder.Get(), strTemp.c_str(), 0);
    return result;
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

int CFileHandle::Close() {
    // Linux releases the descriptor even when close fails: it is never closed twice.
    if (m_fd < 0)
        return 0;
    return ::close(std::exchange(m_fd, -1)) == 0 ? 0 : errno;
}

std::string SafeFileResult::GetText() const {
    switch (m_status) {
    case SafeFileStatus::done:
        return "done";
    case SafeFileStatus::systemError:
        return std::strerror(m_nErrno);
    case SafeFileStatus::linkInPath:
        return "a symbolic link is on the folder's path";
    case SafeFileStatus::folderNotOwn:
        return "the folder belongs to another user";
    case SafeFileStatus::folderNotPrivate:
        return "other users may write in the folder";
    case SafeFileStatus::notPlainFile:
        return "the name holds something other than a plain file of the user's";
    }
    return {};
}

bool IsOwnPlainFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
}

namespace {

// The kernel's own limit on the links of one path.
constexpr int kMaxLinks = 40;

// Pushes the steps of strPath onto a stack whose back is the next step. Empty steps
// (doubled or trailing '/'s) and "." steps name the folder they are in: left out, so
// that neither "link/" nor "link/." makes a link at the end pass for a step above it.
void PushSteps(std::string_view strPath, std::vector<std::string>& arrSteps) {
    const std::size_t nFirst = arrSteps.size();
    for (std::size_t i = 0; i < strPath.size();) {
        std::size_t j = strPath.find('/', i);
        if (j == std::string_view::npos)
            j = strPath.size();
        if (const std::string_view strName = strPath.substr(i, j - i);
            !strName.empty() && strName != ".")
            arrSteps.emplace_back(strName);
        i = j + 1;
    }
    std::reverse(arrSteps.begin() + static_cast<std::ptrdiff_t>(nFirst), arrSteps.end());
}

// A link that only root or the user could have made: theirs, in a folder of theirs
// that nobody else may write in. One in a sticky /tmp could be anyone's doing.
bool IsTrustedLink(int fdDir, const struct stat& stLink) {
    const auto isTrusted = [](uid_t uid) { return uid == 0 || uid == ::geteuid(); };
    struct stat stDir;
    return isTrusted(stLink.st_uid) && ::fstat(fdDir, &stDir) == 0 && isTrusted(stDir.st_uid) &&
           (stDir.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

SafeFileResult OpenFolderSteps(std::string_view strPath, bool bCreate, CFileHandle& folder) {
    folder.Reset();
    if (strPath.empty())
        return SafeFileResult::FromErrno(ENOENT);
    CFileHandle dir(::open(strPath.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.IsOpen())
        return SafeFileResult::FromErrno(errno);

    std::vector<std::string> arrSteps;
    PushSteps(strPath, arrSteps);
    int nLinks = 0;
    while (!arrSteps.empty()) {
        const std::string strName = std::move(arrSteps.back());
        arrSteps.pop_back();
        int fd = OpenStep(dir.Get(), strName.c_str());
        if (fd < 0 && errno == ENOENT && bCreate) {
            if (::mkdirat(dir.Get(), strName.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST)
                return SafeFileResult::FromErrno(errno);
            fd = OpenStep(dir.Get(), strName.c_str());
        }
        if (fd >= 0) {
            dir.Reset(fd);
            continue;
        }
        const int nError = errno;
        struct stat st;
        if (::fstatat(dir.Get(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(st.st_mode))
            return SafeFileResult::FromErrno(nError);
        // The folder itself is never a link; one above it is followed as any program
        // follows it, when only root or the user could have put it there.
        if (arrSteps.empty() || !IsTrustedLink(dir.Get(), st))
            return Refused(SafeFileStatus::linkInPath);
        if (++nLinks > kMaxLinks)
            return SafeFileResult::FromErrno(ELOOP);
        char target[PATH_MAX];
        const ssize_t nTarget = ::readlinkat(dir.Get(), strName.c_str(), target, sizeof target);
        if (nTarget <= 0 || static_cast<std::size_t>(nTarget) >= sizeof target)
            return SafeFileResult::FromErrno(nTarget < 0 ? errno : ENAMETOOLONG);
        if (target[0] == '/') {
            dir.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!dir.IsOpen())
                return SafeFileResult::FromErrno(errno);
        }
        PushSteps(std::string_view(target, static_cast<std::size_t>(nTarget)), arrSteps);
    }
    folder = std::move(dir);
    return Done();
}

} // namespace

SafeFileResult OpenFolder(std::string_view strPath, CFileHandle& folder) {
    return OpenFolderSteps(strPath, false, folder);
}

SafeFileResult OpenPrivateFolder(std::string_view strPath, bool bCreate, CFileHandle& folder) {
    folder.Reset();
    CFileHandle dir;
    if (SafeFileResult r = OpenFolderSteps(strPath, bCreate, dir); !r)
        return r;
    struct stat st;
    if (::fstat(dir.Get(), &st) != 0)
        return SafeFileResult::FromErrno(errno);
    if (st.st_uid != ::geteuid())
        return Refused(SafeFileStatus::folderNotOwn);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Refused(SafeFileStatus::folderNotPrivate);
    folder = std::move(dir);
    return Done();
}

SafeFileResult OpenFileForAppend(const CFileHandle& folder, const std::string& strName,
                                 CFileHandle& file) {
    return OpenPlainFile(folder, strName, O_APPEND, file);
}

SafeFileResult WriteWholeFile(const CFileHandle& folder, const std::string& strName,
                              std::string_view strText) {
    CFileHandle file;
    SafeFileResult result = OpenPlainFile(folder, strName, 0, file);
    if (result.m_status == SafeFileStatus::notPlainFile)
        return ReplaceFile(folder, strName, strText);
    if (!result)
        return result;
    struct stat st;
    if (::fstat(file.Get(), &st) != 0 || ::ftruncate(file.Get(), 0) != 0)
        return SafeFileResult::FromErrno(errno); // the old content is still whole
    int nError = WriteAll(file.Get(), strText);
    const int nCloseError = file.Close();
    if (nError == 0)
        nError = nCloseError;
    if (nError == 0)
        return Done();
    // A text cut short must not pass for the whole one, and a full disk gets its space
    // back for the files written after this one.
    struct stat now;
    if (::fstatat(folder.Get(), strName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_dev == st.st_dev && now.st_ino == st.st_ino)
        ::unlinkat(folder.Get(), strName.c_str(), 0);
    return SafeFileResult::FromErrno(nError);
}

SafeFileResult RemoveFile(const CFileHandle& folder, const std::string& strName) {
    if (!IsSingleName(strName))
        return SafeFileResult::FromErrno(EINVAL);
    // The folder is the user's own and private: whatever is at the name is the user's to
    // remove, and unlinking a name never reaches what a link points to.
    if (::unlinkat(folder.Get(), strName.c_str(), 0) != 0 && errno != ENOENT)
        return SafeFileResult::FromErrno(errno);
    return Done();
}

int WriteAll(int fd, std::string_view strText) {
    while (!strText.empty()) {
        const ssize_t n = ::write(fd, strText.data(), strText.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO; // no progress and no reason: do not spin
        strText.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

SafeFileResult CheckReplaceable(const CFileHandle& folder, const std::string& strName) {
    if (!IsSingleName(strName))
        return SafeFileResult::FromErrno(EINVAL);
    return CheckOwnOrNothing(folder, strName);
}

SafeFileResult ReplaceWholeFile(const CFileHandle& folder, const std::string& strName,
                                std::string_view strText, mode_t nMode) {
    if (!IsSingleName(strName))
        return SafeFileResult::FromErrno(EINVAL);
    return ReplaceFile(folder, strName, strText, nMode, true);
}
