// Folders that hold no data of the user's own and are never scanned: the operating
// system, programs and their data, caches, temporary folders and the trash.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct KnownFolderSet {
    std::vector<std::string> arrSystem;        // /usr, /boot, /etc, /bin...
    std::vector<std::string> arrPrograms;      // /opt, /snap
    std::vector<std::string> arrProgramData;   // /var/lib, /var/cache
    std::vector<std::string> arrInternetCache; // the user's cache folder
    std::vector<std::string> arrTemporary;     // the user's temporary folder, /var/tmp
    std::string strUserTrash;                  // the user's trash in the home folder
    std::vector<std::string> arrHomeTrash;     // the trash of every other home that has one
    unsigned nUserId = 0;                      // names the per-user trash of every drive
};

class IKnownFolders {
public:
    virtual ~IKnownFolders() = default;
    virtual KnownFolderSet Get() const = 0;
    // The folder's canonical form; empty when it cannot be resolved.
    virtual std::string LongPathName(const std::string& strPath) const = 0;
};

std::shared_ptr<const IKnownFolders> SystemKnownFolders();
