// Directory walk: enumerates a drive by walking its folder tree, depth first.
#pragma once

#include "FsEnum.h"
#include "platform/DirListing.h"

#include <memory>

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

private:
    void WalkFolder(const std::string& strPath);

    std::unique_ptr<IDirectoryLister> m_pLister;
};
