// The Linux journal source: Linux keeps no change journal, so an NTFS volume's file
// records are read straight from the block device or image file behind its mount
// point, read-only, always. Sizes and times come from the same records, as the mounted
// filesystem shows them; only a record that does not say for sure is asked of the mount.
#pragma once

#include "VolumeJournal.h"
#include "VolumeSource.h"

#include <memory>
#include <string>

// The journal source for this system, finding volumes in the given mount table.
std::unique_ptr<IVolumeJournal>
CreateVolumeJournal(const std::string& strMountInfo = "/proc/self/mountinfo");
// The same, opening the volume through this opener.
std::unique_ptr<IVolumeJournal> CreateVolumeJournal(const std::string& strMountInfo,
                                                    std::shared_ptr<const IVolumeOpener> pOpener);
