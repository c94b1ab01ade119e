// Directory walk: enumerates a drive by walking its folder tree, depth first.
#pragma once

#include "FsEnum.h"
#include "ReadAhead.h"
#include "platform/DirListing.h"

#include <functional>
#include <memory>
#include <unordered_set>

// The files with more than one name met so far on one file system: each is reported
// once, under the first name met. Files with one name need no remembering.
class CLinkedFiles {
public:
    // true the first time the file is met.
    bool FirstMeeting(const FileId& id) { return m_set.insert(id).second; }

private:
    struct Hash {
        std::size_t operator()(const FileId& id) const noexcept {
            return std::hash<std::uint64_t>()(id.nInode * 0x9E3779B97F4A7C15ull ^ id.nDevice);
        }
    };
    std::unordered_set<FileId, Hash> m_set;
};

// A folder the walk could not read, wholly or in part, and the reason (an errno value).
using FolderNotReadHandler = std::function<void(const std::string& strFolder, DWORD dwError)>;

class CSimpleEnum : public IFsEnum {
public:
    CSimpleEnum();
    // Tests list synthetic trees through their own lister.
    explicit CSimpleEnum(std::unique_ptr<IDirectoryLister> pLister);
    ~CSimpleEnum() override;

    // Walks the tree below the folder; TRUE in every case.
    bool EnumeratePath(const std::string& strPath) override;
    // An empty root: FALSE at once; otherwise the walk of the root.
    bool EnumerateDrive(const std::string& strRoot) override;

    // Remembers files with several names in the caller's set (shared by the walks of
    // one file system) instead of the walker's own; it must outlive the walker.
    void ShareLinkedFiles(CLinkedFiles& links) { m_pLinks = &links; }
    // Told of every folder that could not be read, which the walk itself never logs.
    void SetFolderNotRead(FolderNotReadHandler handler) { m_onFolderNotRead = std::move(handler); }
    // Threads that read ahead of the walk on the system's disk (none by default). The
    // walk reports the same files in the same order either way.
    void SetReadAhead(const ReadAheadOptions& options) { m_readAhead = options; }

private:
    void WalkFolder(const std::string& strPath);
    void FolderNotRead(const std::string& strFolder, DWORD dwError);

    std::unique_ptr<IDirectoryLister> m_pLister;
    CLinkedFiles m_ownLinks;
    CLinkedFiles* m_pLinks = &m_ownLinks;
    FolderNotReadHandler m_onFolderNotRead;
    ReadAheadOptions m_readAhead;
};
