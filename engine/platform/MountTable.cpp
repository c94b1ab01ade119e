#include "MountTable.h"

#include <fstream>

#include <libmount/libmount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

std::vector<MountEntry> ReadMountEntries(const std::string& strMountInfo) {
    std::vector<MountEntry> mounts;
    libmnt_table* pTable = mnt_new_table();
    if (!pTable)
        return mounts;
    if (mnt_table_parse_file(pTable, strMountInfo.c_str()) == 0) {
        libmnt_iter* pIter = mnt_new_iter(MNT_ITER_FORWARD);
        libmnt_fs* pFs = nullptr;
        while (pIter && mnt_table_next_fs(pTable, pIter, &pFs) == 0) {
            auto text = [](const char* psz) { return std::string(psz ? psz : ""); };
            MountEntry m;
            m.nId = mnt_fs_get_id(pFs);
            m.dev = mnt_fs_get_devno(pFs);
            m.strRoot = text(mnt_fs_get_root(pFs));
            m.strMountPoint = text(mnt_fs_get_target(pFs));
            m.strFsType = text(mnt_fs_get_fstype(pFs));
            m.strSource = text(mnt_fs_get_source(pFs));
            m.strFsOptions = text(mnt_fs_get_fs_options(pFs));
            if (!m.strMountPoint.empty())
                mounts.push_back(std::move(m));
        }
        mnt_free_iter(pIter);
    }
    mnt_unref_table(pTable);
    return mounts;
}

const MountEntry* FindMountAt(const std::vector<MountEntry>& arrMounts,
                              std::string_view strMountPoint) {
    const MountEntry* pFound = nullptr;
    for (const MountEntry& m : arrMounts) {
        if (m.strMountPoint == strMountPoint)
            pFound = &m;
    }
    return pFound;
}

bool GetFsOption(const MountEntry& mount, const char* pszName, std::string& strValue) {
    char* pszValue = nullptr;
    std::size_t nSize = 0;
    if (mnt_optstr_get_option(mount.strFsOptions.c_str(), pszName, &pszValue, &nSize) != 0)
        return false;
    strValue.assign(pszValue ? pszValue : "", pszValue ? nSize : 0);
    return true;
}

std::string BlockDeviceNode(dev_t dev) {
    std::ifstream in("/sys/dev/block/" + std::to_string(major(dev)) + ":" +
                     std::to_string(minor(dev)) + "/uevent");
    std::string strLine, strName;
    while (std::getline(in, strLine)) {
        if (strLine.starts_with("DEVNAME="))
            strName = strLine.substr(8);
    }
    if (strName.empty() || strName.find("..") != std::string::npos)
        return {};
    const std::string strNode = "/dev/" + strName;
    struct stat st;
    if (::stat(strNode.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) || st.st_rdev != dev)
        return {};
    return strNode;
}
