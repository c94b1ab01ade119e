#include "ScanTestSupport.h"

#include "FsEnum.h"
#include "StringTable.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

std::string CTempTree::File(const std::string& strRelative, std::int64_t nSize) const {
    std::string strPath = Path(strRelative);
    std::filesystem::create_directories(std::filesystem::path(strPath).parent_path());
    int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0) << strPath;
    if (fd >= 0) {
        EXPECT_EQ(::ftruncate(fd, nSize), 0);
        ::close(fd);
    }
    return strPath;
}

std::string CTempTree::Folder(const std::string& strRelative) const {
    std::string strPath = Path(strRelative);
    std::filesystem::create_directories(strPath);
    return strPath;
}

CTimeZone::CTimeZone(const char* pszZone) {
    if (const char* psz = std::getenv("TZ"))
        m_old = psz;
    ::setenv("TZ", pszZone, 1);
    ::tzset();
}

CTimeZone::~CTimeZone() {
    if (m_old)
        ::setenv("TZ", m_old->c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

void AddProgramGroups(IFsEnum& e) {
    for (const GroupEntry& g : g_groupTable)
        e.AddGroup(LoadString(g.nNameId), LoadString(g.nFilterId));
}

void MakeDeepTree(const std::string& strRoot, int nLevels) {
    int fd = ::open(strRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int i = 0;; ++i) {
        int fdFile = ::openat(fd, "f.doc", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fdFile, 0);
        ASSERT_EQ(::write(fdFile, "x", 1), 1);
        ::close(fdFile);
        if (i == nLevels)
            break;
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        int fdNext = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ASSERT_GE(fdNext, 0);
        fd = fdNext;
    }
    ::close(fd);
}

void RemoveDeepTree(const std::string& strRoot, int nLevels) {
    int fd = ::open(strRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < nLevels && fd >= 0; ++i) {
        int fdNext = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = fdNext;
    }
    // Up again by "..", removing each level once it is empty.
    for (int i = nLevels; i >= 0 && fd >= 0; --i) {
        ::unlinkat(fd, "f.doc", 0);
        if (i == 0)
            break;
        int fdUp = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = fdUp;
        if (fd >= 0)
            ::unlinkat(fd, "d", AT_REMOVEDIR);
    }
    if (fd >= 0)
        ::close(fd);
}

CDescriptorLimit::CDescriptorLimit(unsigned long nLimit) {
    struct rlimit rl;
    ::getrlimit(RLIMIT_NOFILE, &rl);
    m_nSaved = rl.rlim_cur;
    rl.rlim_cur = nLimit;
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &rl), 0);
}

CDescriptorLimit::~CDescriptorLimit() {
    struct rlimit rl;
    ::getrlimit(RLIMIT_NOFILE, &rl);
    rl.rlim_cur = m_nSaved;
    ::setrlimit(RLIMIT_NOFILE, &rl);
}

unsigned long DescriptorLimitLeaving(int nSpare) {
    // The limit caps descriptor numbers, not their count: an inherited descriptor far
    // up leaves a gap below it that counting would miss.
    for (int fd = 0, nFree = 0;; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && nFree++ == nSpare)
            return static_cast<unsigned long>(fd);
    }
}

int OpenDescriptorCount() {
    int n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n - 1; // the iterator's own
}
