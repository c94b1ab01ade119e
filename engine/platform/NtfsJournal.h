// The Linux journal source: Linux keeps no change journal, so an NTFS volume's file
// records are read straight from the block device or image file behind its mount
// point, read-only, always. Sizes and times come from the same records, as the mounted
// filesystem shows them; only a record that does not say for sure is asked of the mount.
#pragma once

#include "VolumeJournal.h"

#include <memory>
#include <string>

// The device or image file behind a mount point that shows a whole volume: for a block
// device, its node in /dev; for a FUSE mount of an image file, its source path. 0 and
// the path, or an errno value.
DWORD LocateVolumeSource(const std::string& strMountPoint, std::string& strSource,
                         const std::string& strMountInfo = "/proc/self/mountinfo");

// Whether the volume at the mount point is NTFS and its device can be opened for raw
// reading, judged by its boot sector. Cheap: one open and one 512-byte read.
bool CanOpenVolumeForRawRead(const std::string& strMountPoint,
                             const std::string& strMountInfo = "/proc/self/mountinfo");

// The journal source for this system, finding volumes in the given mount table.
std::unique_ptr<IVolumeJournal>
CreateVolumeJournal(const std::string& strMountInfo = "/proc/self/mountinfo");
