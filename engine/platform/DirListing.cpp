#include "DirListing.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Layout of a getdents64 record: inode (8), offset (8), record length (2), type (1),
// then the NUL-terminated name.
constexpr std::size_t kRecLenOffset = 16;
constexpr std::size_t kTypeOffset = 18;
constexpr std::size_t kNameOffset = 19;

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
    ~CDirectoryLister() override {
        for (Slot& s : m_slots) {
            if (s.fd >= 0)
                ::close(s.fd);
        }
    }

    int OpenRoot(const std::string& strPath, DWORD& dwError) override {
        return Adopt(::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), dwError);
    }

    int OpenChild(int hParent, std::string_view strName, DWORD& dwError) override {
        return Adopt(::openat(m_slots[static_cast<std::size_t>(hParent)].fd, m_name(strName),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
                     dwError);
    }

    int OpenBelow(int hAncestor, std::string_view strRelative, DWORD& dwError) override {
        return OpenChild(hAncestor, strRelative, dwError);
    }

    bool Next(int hDir, DirEntry& entry, DWORD& dwError) override {
        Slot& s = m_slots[static_cast<std::size_t>(hDir)];
        dwError = 0;
        if (s.nPos >= s.nEnd) {
            if (s.bDone)
                return false;
            long n = ::syscall(SYS_getdents64, s.fd, s.pBuffer.get(), s.nSize);
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
        return true;
    }

    void Close(int hDir) override {
        Slot& s = m_slots[static_cast<std::size_t>(hDir)];
        ::close(s.fd);
        s.fd = -1;
        m_free.push_back(hDir);
    }

    bool GetAttributes(int hDir, std::string_view strName, FileAttributes& attr,
                       DWORD& dwError) override {
        struct stat st;
        if (::fstatat(m_slots[static_cast<std::size_t>(hDir)].fd, m_name(strName), &st,
                      AT_SYMLINK_NOFOLLOW) != 0) {
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

private:
    struct Slot {
        int fd = -1;
        std::unique_ptr<char[]> pBuffer;
        std::size_t nSize = 0;
        std::size_t nPos = 0;
        std::size_t nEnd = 0;
        bool bDone = false;
    };

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
            // ones below, so that a very deep tree does not hold megabytes.
            s.nSize = h < 32 ? 32 * 1024 : 4 * 1024;
            s.pBuffer = std::make_unique<char[]>(s.nSize);
        }
        s.fd = fd;
        s.nPos = s.nEnd = 0;
        s.bDone = false;
        return h;
    }

    std::vector<Slot> m_slots;
    std::vector<int> m_free;
    CNameBuffer m_name;
};

} // namespace

std::unique_ptr<IDirectoryLister> CreateDirectoryLister() {
    return std::make_unique<CDirectoryLister>();
}
