// Directory listing: each entry's name and kind in the order the file system gives
// them, and the size and last-write time of the entries that need them.
//
// Folders are opened relative to their parent's open handle, so a walk works at any
// depth whatever the length of the full path.
#pragma once

#include "Types.h"

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
    std::uint64_t nInode = 0; // as the listing gives it: a mount point's may differ from its root's
};

// Who a file is: every name of a file with several (hard links) gives the same.
struct FileId {
    std::uint64_t nDevice = 0;
    std::uint64_t nInode = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

struct FileAttributes {
    EntryKind kind = EntryKind::Unknown;
    std::int64_t nSize = 0;
    std::timespec mtime{};
    FileId id;
    std::uint64_t nLinks = 1; // names the file has
};

class IDirectoryLister {
public:
    virtual ~IDirectoryLister() = default;
    // A handle of the open folder, or -1 with the reason when it cannot be listed.
    virtual int OpenRoot(const std::string& strPath, DWORD& dwError) = 0;
    // A subfolder by name; never follows a symbolic link.
    virtual int OpenChild(int hParent, std::string_view strName, DWORD& dwError) = 0;
    // A folder below an open one by its relative path (several names). Only the last
    // name is never followed when a symbolic link: callers check what they reached.
    virtual int OpenBelow(int hAncestor, std::string_view strRelative, DWORD& dwError) = 0;
    // A folder below an open one by its relative path, following no symbolic link on the
    // way and crossing no mount: reading ahead by path, nothing is reached that a walk
    // by names from hRoot would not.
    virtual int OpenBeneath(int hRoot, std::string_view strRelative, DWORD& dwError) = 0;
    // false at the end of the listing (dwError 0) or on an error.
    virtual bool Next(int hDir, DirEntry& entry, DWORD& dwError) = 0;
    virtual void Close(int hDir) = 0;
    // Attributes of an entry of an open folder, not following a symbolic link; the
    // name "." gives the folder's own.
    virtual bool GetAttributes(int hDir, std::string_view strName, FileAttributes& attr,
                               DWORD& dwError) = 0;
    // A lister of the same folders for another thread: a lister and its handles are
    // used by one thread at a time.
    virtual std::unique_ptr<IDirectoryLister> ForAnotherThread() const = 0;
};

// getdents64 on directory descriptors.
std::unique_ptr<IDirectoryLister> CreateDirectoryLister();
