#include "ScanTestSupport.h"

#include "FsEnum.h"
#include "StringTable.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
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
