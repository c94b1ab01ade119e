// An in-memory folder tree served through the directory-listing seam, for the cases
// a real file system will not produce on demand: folders that cannot be listed,
// files that vanish between listing and reading, unknown entry types.
#pragma once

#include "platform/DirListing.h"

#include <map>
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
        bool bCannotOpen = false; // listing refused
        bool bVanished = false;   // listed, but gone when its attributes are read
        bool bHideKind = false;   // listed with an unknown kind
        // Replaced by an entry of this kind between the listing and the reading of its
        // attributes; Unknown: not replaced.
        EntryKind readKind = EntryKind::Unknown;
        std::vector<std::unique_ptr<Node>> children;
    };

    CMemoryLister() : m_root(std::make_unique<Node>()) {}

    // Adds entries below the root by relative path, creating the folders above them.
    Node& Add(const std::string& strRelative, EntryKind kind, std::int64_t nSize = 0);

    std::vector<std::string> Opened() const { return m_opened; } // folder names, in order
    int OpenCount() const { return m_nOpen; }

    int OpenRoot(const std::string& strPath) override;
    int OpenChild(int hParent, std::string_view strName) override;
    bool Next(int hDir, DirEntry& entry) override;
    void Close(int hDir) override;
    bool GetAttributes(int hDir, std::string_view strName, FileAttributes& attr) override;

private:
    struct Open {
        Node* pNode;
        std::size_t nNext;
    };
    int Track(Node* pNode);
    Node* Child(Node* pParent, std::string_view strName);

    std::unique_ptr<Node> m_root;
    std::map<int, Open> m_open;
    int m_nNextHandle = 0;
    int m_nOpen = 0;
    std::vector<std::string> m_opened;
};
