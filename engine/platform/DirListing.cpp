#include "DirListing.h"

#include "SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Layout of a getdents64 record: inode (8), offset (8), record length (2), type (1),
// then the NUL-terminated name.
constexpr std::size_t kInodeOffset = 0;
constexpr std::size_t kRecLenOffset = 16;
constexpr std::size_t kTypeOffset = 18;
constexpr std::size_t kNameOffset = 19;

// What the walk asks of a file: no more, so that no file system need fetch the rest.
constexpr unsigned kStatxFields = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_INO | STATX_NLINK;

EntryKind KindOfType(unsigned char dType) {
    switch (dType) {
    case DT_REG:
        return EntryKind::File;
    case DT_DIR:
        return EntryKind::Directory;
    case DT_LNK:
        return EntryKind::Symlink;
    case DT_UNKNOWN:
        return EntryKind::Unknown;
    default:
        return EntryKind::Other;
    }
}

EntryKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode))
        return EntryKind::File;
    if (S_ISDIR(mode))
        return EntryKind::Directory;
    if (S_ISLNK(mode))
        return EntryKind::Symlink;
    return EntryKind::Other;
}

// Names are not NUL-terminated in the interface; the system calls need them so.
class CNameBuffer {
public:
    const char* operator()(std::string_view s) {
        m_str.assign(s);
        return m_str.c_str();
    }

private:
    std::string m_str;
};

class CDirectoryLister final : public IDirectoryLister {
public:
    int OpenRoot(const std::string& strPath, DWORD& dwError) override {
        return Adopt(::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), dwError);
    }

    int OpenChild(int hParent, std::string_view strName, DWORD& dwError) override {
        return Adopt(
            ::openat(Fd(hParent), m_name(strName), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
            dwError);
    }

    int OpenBelow(int hAncestor, std::string_view strRelative, DWORD& dwError) override {
        return OpenChild(hAncestor, strRelative, dwError);
    }

    int OpenBeneath(int hRoot, std::string_view strRelative, DWORD& dwError) override {
        if (!m_bNoOpenat2) {
            open_how how{};
            how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
            how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV | RESOLVE_BENEATH;
            const long fd =
                ::syscall(SYS_openat2, Fd(hRoot), m_name(strRelative), &how, sizeof how);
            if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
                return Adopt(static_cast<int>(fd), dwError);
            m_bNoOpenat2 = true; // an older kernel, or a filter that refuses it
        }
        // One name at a time, none followed when a link, each on the root's device.
        struct stat stRoot;
        if (::fstat(Fd(hRoot), &stRoot) != 0)
            return Adopt(-1, dwError);
        CFileHandle folder;
        int fdAt = Fd(hRoot);
        for (std::size_t nStart = 0; nStart <= strRelative.size();) {
            const std::size_t nEnd = std::min(strRelative.find('/', nStart), strRelative.size());
            CFileHandle next(::openat(fdAt, m_name(strRelative.substr(nStart, nEnd - nStart)),
                                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat st;
            if (!next.IsOpen() || ::fstat(next.Get(), &st) != 0)
                return Adopt(-1, dwError);
            if (st.st_dev != stRoot.st_dev) {
                errno = EXDEV;
                return Adopt(-1, dwError);
            }
            folder = std::move(next);
            fdAt = folder.Get();
            nStart = nEnd + 1;
        }
        return Adopt(folder.Release(), dwError);
    }

    bool Next(int hDir, DirEntry& entry, DWORD& dwError) override {
        Slot& s = m_slots[static_cast<std::size_t>(hDir)];
        dwError = 0;
        if (s.nPos >= s.nEnd) {
            if (s.bDone)
                return false;
            const long n = ::syscall(SYS_getdents64, s.fd.Get(), s.pBuffer.get(), s.nSize);
            if (n <= 0) {
                s.bDone = true; // the end, or an error: both end this folder's listing
                if (n < 0)
                    dwError = static_cast<DWORD>(errno);
                return false;
            }
            s.nPos = 0;
            s.nEnd = static_cast<std::size_t>(n);
        }
        const char* pRecord = s.pBuffer.get() + s.nPos;
        unsigned short nRecLen;
        std::memcpy(&nRecLen, pRecord + kRecLenOffset, sizeof nRecLen);
        s.nPos += nRecLen;
        entry.strName = std::string_view(pRecord + kNameOffset);
        entry.kind = KindOfType(static_cast<unsigned char>(pRecord[kTypeOffset]));
        std::memcpy(&entry.nInode, pRecord + kInodeOffset, sizeof entry.nInode);
        return true;
    }

    void Close(int hDir) override {
        m_slots[static_cast<std::size_t>(hDir)].fd.Reset();
        m_free.push_back(hDir);
    }

    bool GetAttributes(int hDir, std::string_view strName, FileAttributes& attr,
                       DWORD& dwError) override {
        if (!m_bNoStatx) {
            // The folder's own without a lookup of its name.
            const bool bOwn = strName == ".";
            struct statx stx;
            if (::statx(Fd(hDir), bOwn ? "" : m_name(strName),
                        AT_SYMLINK_NOFOLLOW | (bOwn ? AT_EMPTY_PATH : 0), kStatxFields,
                        &stx) == 0) {
                attr.kind = KindOfMode(stx.stx_mode);
                attr.nSize = static_cast<std::int64_t>(stx.stx_size);
                attr.mtime = {static_cast<std::time_t>(stx.stx_mtime.tv_sec),
                              static_cast<long>(stx.stx_mtime.tv_nsec)};
                attr.id = {
                    static_cast<std::uint64_t>(::makedev(stx.stx_dev_major, stx.stx_dev_minor)),
                    static_cast<std::uint64_t>(stx.stx_ino)};
                attr.nLinks = static_cast<std::uint64_t>(stx.stx_nlink);
                return true;
            }
            if (errno != ENOSYS && errno != EPERM) {
                dwError = static_cast<DWORD>(errno);
                return false;
            }
            m_bNoStatx = true; // an older kernel, or a filter that refuses it
        }
        struct stat st;
        if (::fstatat(Fd(hDir), m_name(strName), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            dwError = static_cast<DWORD>(errno);
            return false;
        }
        attr.kind = KindOfMode(st.st_mode);
        attr.nSize = static_cast<std::int64_t>(st.st_size);
        attr.mtime = st.st_mtim;
        attr.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
        attr.nLinks = static_cast<std::uint64_t>(st.st_nlink);
        return true;
    }

    std::unique_ptr<IDirectoryLister> ForAnotherThread() const override {
        return std::make_unique<CDirectoryLister>();
    }

private:
    struct Slot {
        CFileHandle fd;
        std::unique_ptr<char[]> pBuffer;
        std::size_t nSize = 0;
        std::size_t nPos = 0;
        std::size_t nEnd = 0;
        bool bDone = false;
    };

    int Fd(int h) const { return m_slots[static_cast<std::size_t>(h)].fd.Get(); }

    int Adopt(int fd, DWORD& dwError) {
        if (fd < 0) {
            dwError = static_cast<DWORD>(errno);
            return -1;
        }
        int h;
        if (!m_free.empty()) {
            h = m_free.back();
            m_free.pop_back();
        } else {
            h = static_cast<int>(m_slots.size());
            m_slots.emplace_back();
        }
        Slot& s = m_slots[static_cast<std::size_t>(h)];
        if (!s.pBuffer) {
            // Large buffers for the first levels, where most folders are; small
            // ones below, so that a very deep tree does not hold megabytes. Never
            // filled beforehand: a cached listing costs less than zeroing 32 KiB.
            s.nSize = h < 32 ? 32 * 1024 : 4 * 1024;
            s.pBuffer = std::make_unique_for_overwrite<char[]>(s.nSize);
        }
        s.fd.Reset(fd);
        s.nPos = s.nEnd = 0;
        s.bDone = false;
        return h;
    }

    std::vector<Slot> m_slots;
    std::vector<int> m_free;
    CNameBuffer m_name;
    bool m_bNoOpenat2 = false;
    bool m_bNoStatx = false;
};

} // namespace

std::unique_ptr<IDirectoryLister> CreateDirectoryLister() {
    return std::make_unique<CDirectoryLister>();
}
