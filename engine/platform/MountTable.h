// The kernel's mount table, for whoever needs more of a mount than a drive: the volume
// table, the raw readers finding their device and the journal finding what hides its
// files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

// One mount, as libmount reads it from a mountinfo file.
struct MountEntry {
    dev_t dev = 0;       // the device of the files on it
    std::string strRoot; // the folder of the filesystem that the mount shows
    std::string strMountPoint;
    std::string strFsType;
    std::string strSource;
    std::string strFsOptions; // the filesystem's own options
    int nId = 0;              // the kernel's number of the mount
};

// Every mount of the file, in its order; empty when it cannot be read.
std::vector<MountEntry> ReadMountEntries(const std::string& strMountInfo = "/proc/self/mountinfo");

// The mount at a mount point: the last one listed there, which hides the others.
const MountEntry* FindMountAt(const std::vector<MountEntry>& arrMounts,
                              std::string_view strMountPoint);

// The value of a "name=value" filesystem option; false when the mount has none.
bool GetFsOption(const MountEntry& mount, const char* pszName, std::string& strValue);

// The device node of a block device (/dev/ and the kernel's name for it), checked to be
// that very device; empty when there is none.
std::string BlockDeviceNode(dev_t dev);
