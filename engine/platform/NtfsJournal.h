// The Linux journal source: Linux keeps no change journal, so an NTFS volume's file
// records are read straight from the block device or image file behind its mount
// point, read-only, always. Sizes and times come from the mounted filesystem.
#pragma once

#include "VolumeJournal.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One line of /proc/self/mountinfo, unescaped.
struct MountEntry {
    unsigned nMajor = 0;
    unsigned nMinor = 0;
    std::string strRoot; // the part of the filesystem the mount shows
    std::string strMountPoint;
    std::string strFsType;
    std::string strSource;
    std::string strSuperOptions;
};

std::vector<MountEntry> ParseMountInfo(std::string_view strText);

// The mount at a canonical mount point: the last one listed, which hides the others.
const MountEntry* FindMount(const std::vector<MountEntry>& arrMounts,
                            std::string_view strMountPoint);

// The device or image file behind a mount point that shows a whole volume: for a block
// device, /dev/NAME of /sys/dev/block/MAJ:MIN; for a FUSE mount of an image file, its
// source path. 0 and the path, or an errno value.
DWORD LocateVolumeSource(const std::string& strMountPoint, std::string& strSource);

// Whether the volume at the mount point is NTFS and its device can be opened for raw
// reading, judged by its boot sector. Cheap: one open and one 512-byte read.
bool CanOpenVolumeForRawRead(const std::string& strMountPoint);

// The journal source for this system.
std::unique_ptr<IVolumeJournal> CreateVolumeJournal();
