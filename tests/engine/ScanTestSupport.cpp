#include "ScanTestSupport.h"

#include "FsEnum.h"
#include "StringTable.h"

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

void AddProgramGroups(IFsEnum& e) {
    for (const GroupEntry& g : g_groupTable)
        e.AddGroup(LoadString(g.nNameId), LoadString(g.nFilterId));
}
