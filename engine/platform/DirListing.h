// Directory listing: each entry's name and kind in the order the file system gives
// them, and the size and last-write time of the entries that need them.
//
// Folders are opened relative to their parent's open handle, so a walk works at any
// depth whatever the length of the full path.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class EntryKind : std::uint8_t { Unknown, File, Directory, Symlink, Other };

struct DirEntry {
    std::string_view strName; // valid until the next Next on the same folder
    EntryKind kind;
};

struct FileAttributes {
    EntryKind kind = EntryKind::Unknown;
    std::int64_t nSize = 0;
    std::timespec mtime{};
};

class IDirectoryLister {
public:
    virtual ~IDirectoryLister() = default;
    // A handle of the open folder, or -1 when it cannot be listed.
    virtual int OpenRoot(const std::string& strPath) = 0;
    // A subfolder by name; never follows a symbolic link.
    virtual int OpenChild(int hParent, std::string_view strName) = 0;
    // false at the end of the listing or on an error.
    virtual bool Next(int hDir, DirEntry& entry) = 0;
    virtual void Close(int hDir) = 0;
    // Attributes of an entry of an open folder, not following a symbolic link.
    virtual bool GetAttributes(int hDir, std::string_view strName, FileAttributes& attr) = 0;
};

// getdents64 on directory descriptors.
std::unique_ptr<IDirectoryLister> CreateDirectoryLister();
