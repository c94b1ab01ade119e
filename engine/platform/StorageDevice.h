// What kind of disk holds a folder, as the kernel's block layer tells it in sysfs.
#pragma once

#include <optional>
#include <string>

// true: a rotational disk; false: one without seeks (SSD, NVMe, most virtual disks);
// std::nullopt: not on a block device sysfs knows (memory, network, a virtual file
// system, a file system spanning several devices), or the path cannot be read.
// strSysfs stands for /sys in tests.
std::optional<bool> IsRotational(const std::string& strPath, const std::string& strSysfs = "/sys");
