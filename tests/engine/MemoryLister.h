// An in-memory folder tree served through the directory-listing seam, for the cases
// a real file system will not produce on demand: folders that cannot be listed,
// files that vanish between listing and reading, unknown entry types.
#pragma once

#include "platform/DirListing.h"

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CMemoryLister final : public IDirectoryLister {
public:
    struct Node {
        std::string strName;
        EntryKind kind = EntryKind::Directory;
        std::int64_t nSize = 0;
        std::timespec mtime{1299234030, 0};
        bool bCannotOpen = false;          // listing refused
        bool bVanished = false;            // listed, but gone when its attributes are read
        bool bHideKind = false;            // listed with an unknown kind
        DWORD dwAttributesError = 0;       // its attributes cannot be read
        std::size_t nFailAfter = SIZE_MAX; // its listing fails after this many entries
        std::uint64_t nInode = 0;          // a new value: another folder under the same name
        bool bMountPoint = false;          // another file system's root: not opened beneath
        // Replaced by an entry of this kind between the listing and the reading of its
        // attributes; Unknown: not replaced.
        EntryKind readKind = EntryKind::Unknown;
        std::vector<std::unique_ptr<Node>> children;
    };

    CMemoryLister();

    Node& Root();
    // Adds entries below the root by relative path, creating the folders above them.
    Node& Add(const std::string& strRelative, EntryKind kind, std::int64_t nSize = 0);
    // Puts a new empty folder in the place of an added one, as a rename and a mkdir
    // would; the old one lives on for whoever has it open.
    Node& Replace(const std::string& strRelative);
    // A second name of an added file (a hard link).
    Node& Link(const std::string& strExisting, const std::string& strRelative);

    // Of this lister and every other of the same tree:
    std::vector<std::string> Opened() const; // folder names, in order
    int OpenCount() const;
    int MostOpen() const;
    // Folders open at once beyond this fail as a process out of descriptors does.
    void LimitOpen(int nMax);
    // Called with each folder's name as it is opened, on the thread that opens it.
    void OnOpen(std::function<void(const std::string&)> f);

    int OpenRoot(const std::string& strPath, DWORD& dwError) override;
    int OpenChild(int hParent, std::string_view strName, DWORD& dwError) override;
    int OpenBelow(int hAncestor, std::string_view strRelative, DWORD& dwError) override;
    int OpenBeneath(int hRoot, std::string_view strRelative, DWORD& dwError) override;
    bool Next(int hDir, DirEntry& entry, DWORD& dwError) override;
    void Close(int hDir) override;
    bool GetAttributes(int hDir, std::string_view strName, FileAttributes& attr,
                       DWORD& dwError) override;
    // Another lister of the same tree: any of them may be used on its own thread.
    std::unique_ptr<IDirectoryLister> ForAnotherThread() const override;

    struct Shared;
    // A lister of the same tree as another (ForAnotherThread).
    explicit CMemoryLister(std::shared_ptr<Shared> pShared) : m_pShared(std::move(pShared)) {}

private:
    std::shared_ptr<Shared> m_pShared;
};
