#include "SimpleEnum.h"

#include "ScanControl.h"

#include <vector>

CSimpleEnum::CSimpleEnum() : CSimpleEnum(CreateDirectoryLister()) {}

CSimpleEnum::CSimpleEnum(std::unique_ptr<IDirectoryLister> pLister)
    : m_pLister(std::move(pLister)) {}

CSimpleEnum::~CSimpleEnum() = default;

bool CSimpleEnum::EnumerateDrive(const std::string& strRoot) {
    if (strRoot.empty())
        return false;
    return EnumeratePath(strRoot);
}

bool CSimpleEnum::EnumeratePath(const std::string& strPath) {
    WalkFolder(strPath);
    return true;
}

// Depth first with an explicit stack of open folders, so that a deep tree cannot
// exhaust the thread's stack. Each level keeps its listing open while its subfolders
// are walked; a subfolder is walked completely at the moment it is met.
void CSimpleEnum::WalkFolder(const std::string& strFolder) {
    struct Level {
        int hDir;
        std::size_t nBase; // length of the level's path, with its trailing '/'
    };

    int hRoot = m_pLister->OpenRoot(strFolder);
    if (hRoot < 0)
        return; // a folder that cannot be listed is passed over silently

    std::string strPath = strFolder;
    if (strPath.empty() || strPath.back() != '/')
        strPath += '/';
    std::vector<Level> stack{{hRoot, strPath.size()}};
    std::string strGroup;
    DirEntry entry;
    FileAttributes attr;

    auto closeAll = [&] {
        for (const Level& level : stack)
            m_pLister->Close(level.hDir);
        stack.clear();
    };

    while (!stack.empty()) {
        const Level level = stack.back();
        if (!m_pLister->Next(level.hDir, entry)) {
            m_pLister->Close(level.hDir);
            stack.pop_back();
            continue;
        }
        if (entry.strName == "." || entry.strName == "..")
            continue;
        if (!WaitWhilePaused()) {
            closeAll();
            return;
        }

        strPath.resize(level.nBase);
        strPath += entry.strName;
        if (IsExcluded(strPath) || !IsIncluded(strPath))
            continue;

        EntryKind kind = entry.kind;
        bool bHaveAttributes = false;
        if (kind == EntryKind::Unknown) {
            if (!m_pLister->GetAttributes(level.hDir, entry.strName, attr))
                continue; // vanished
            kind = attr.kind;
            bHaveAttributes = true;
        }

        if (kind == EntryKind::Directory) {
            int hChild = m_pLister->OpenChild(level.hDir, entry.strName);
            if (hChild >= 0) {
                strPath += '/';
                stack.push_back({hChild, strPath.size()});
            }
            continue;
        }
        // Symbolic links hold no data of their own and following them counts files
        // twice or loops; fifos, sockets and devices are not files a user keeps.
        if (kind != EntryKind::File || !MatchGroup(strPath, strGroup))
            continue;
        if (!bHaveAttributes && !m_pLister->GetAttributes(level.hDir, entry.strName, attr))
            continue; // vanished since the listing
        if (attr.kind != EntryKind::File)
            continue; // replaced by something else since the listing

        FileProperty prop;
        prop.m_strPath = strPath;
        prop.m_nSize = attr.nSize;
        prop.SetModifiedFromUtc(attr.mtime, *m_pLocalTime);
        NotifyFileFound(strGroup, std::move(prop));
    }
}
