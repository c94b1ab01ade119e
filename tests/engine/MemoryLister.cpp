#include "MemoryLister.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>

// The tree and what is open in it, for every lister of the tree. Recursive: a test's
// open hook may change the tree while a lister opens a folder.
struct CMemoryLister::Shared {
    struct Open {
        Node* pNode;
        std::size_t nNext;
    };

    Node* Child(Node* pParent, std::string_view strName) const {
        for (auto& p : pParent->children) {
            if (p->strName == strName)
                return p.get();
        }
        return nullptr;
    }

    Node* Find(const std::string& strRelative) const {
        Node* pNode = root.get();
        std::size_t i = 0;
        while (pNode) {
            std::size_t j = strRelative.find('/', i);
            pNode = Child(pNode, strRelative.substr(i, j == std::string::npos ? j : j - i));
            if (j == std::string::npos)
                break;
            i = j + 1;
        }
        return pNode;
    }

    int Track(Node* pNode, DWORD& dwError) {
        if (!pNode || pNode->bVanished || pNode->kind != EntryKind::Directory ||
            pNode->bCannotOpen) {
            dwError = !pNode || pNode->bVanished ? ENOENT : pNode->bCannotOpen ? EACCES : ENOTDIR;
            return -1;
        }
        if (nOpen >= nMaxOpen) {
            dwError = EMFILE;
            return -1;
        }
        if (onOpen)
            onOpen(pNode->strName);
        open[nNextHandle] = {pNode, 0};
        nMostOpen = std::max(nMostOpen, ++nOpen);
        opened.push_back(pNode->strName);
        return nNextHandle++;
    }

    // Follows strRelative from the open folder; bBeneath follows no link and crosses
    // no mount.
    int OpenPath(int hFrom, std::string_view strRelative, bool bBeneath, DWORD& dwError) {
        Node* pNode = open.at(hFrom).pNode;
        std::size_t i = 0;
        for (;;) {
            std::size_t j = strRelative.find('/', i);
            Node* pChild =
                Child(pNode, strRelative.substr(i, j == std::string_view::npos ? j : j - i));
            if (bBeneath && pChild && (pChild->kind == EntryKind::Symlink || pChild->bMountPoint)) {
                dwError = pChild->bMountPoint ? EXDEV : ELOOP;
                return -1;
            }
            if (j == std::string_view::npos)
                return Track(pChild, dwError);
            if (!pChild || pChild->kind != EntryKind::Directory || pChild->bVanished) {
                dwError = ENOENT;
                return -1;
            }
            pNode = pChild;
            i = j + 1;
        }
    }

    std::recursive_mutex mutex;
    std::unique_ptr<Node> root = std::make_unique<Node>();
    std::vector<std::unique_ptr<Node>> replaced;
    std::map<int, Open> open;
    std::map<std::uint64_t, std::uint64_t> links; // inode -> names
    std::uint64_t nNextInode = 1;
    int nNextHandle = 0;
    int nOpen = 0;
    int nMostOpen = 0;
    int nMaxOpen = INT_MAX;
    std::function<void(const std::string&)> onOpen;
    std::vector<std::string> opened;
};

CMemoryLister::CMemoryLister() : m_pShared(std::make_shared<Shared>()) {}

CMemoryLister::Node& CMemoryLister::Root() {
    return *m_pShared->root;
}

CMemoryLister::Node& CMemoryLister::Add(const std::string& strRelative, EntryKind kind,
                                        std::int64_t nSize) {
    Shared& s = *m_pShared;
    std::lock_guard lock(s.mutex);
    Node* pNode = s.root.get();
    std::size_t i = 0;
    for (;;) {
        std::size_t j = strRelative.find('/', i);
        std::string strPart = strRelative.substr(i, j == std::string::npos ? j : j - i);
        Node* pChild = s.Child(pNode, strPart);
        if (!pChild) {
            pNode->children.push_back(std::make_unique<Node>());
            pChild = pNode->children.back().get();
            pChild->strName = strPart;
            pChild->nInode = s.nNextInode++;
        }
        pNode = pChild;
        if (j == std::string::npos)
            break;
        i = j + 1;
    }
    pNode->kind = kind;
    pNode->nSize = nSize;
    return *pNode;
}

CMemoryLister::Node& CMemoryLister::Link(const std::string& strExisting,
                                         const std::string& strRelative) {
    Shared& s = *m_pShared;
    std::lock_guard lock(s.mutex);
    const Node& original = *s.Find(strExisting);
    const std::uint64_t nInode = original.nInode;
    const std::timespec mtime = original.mtime;
    Node& n = Add(strRelative, original.kind, original.nSize);
    n.nInode = nInode;
    n.mtime = mtime;
    s.links[n.nInode] = std::max<std::uint64_t>(s.links[n.nInode], 1) + 1;
    return n;
}

CMemoryLister::Node& CMemoryLister::Replace(const std::string& strRelative) {
    Shared& s = *m_pShared;
    std::lock_guard lock(s.mutex);
    const std::size_t nSlash = strRelative.rfind('/');
    Node* pParent =
        nSlash == std::string::npos ? s.root.get() : s.Find(strRelative.substr(0, nSlash));
    for (auto& p : pParent->children) {
        if (p->strName == strRelative.substr(nSlash == std::string::npos ? 0 : nSlash + 1)) {
            auto pNew = std::make_unique<Node>();
            pNew->strName = p->strName;
            pNew->nInode = s.nNextInode++;
            s.replaced.push_back(std::move(p));
            p = std::move(pNew);
            return *p;
        }
    }
    return *pParent;
}

std::vector<std::string> CMemoryLister::Opened() const {
    std::lock_guard lock(m_pShared->mutex);
    return m_pShared->opened;
}

int CMemoryLister::OpenCount() const {
    std::lock_guard lock(m_pShared->mutex);
    return m_pShared->nOpen;
}

int CMemoryLister::MostOpen() const {
    std::lock_guard lock(m_pShared->mutex);
    return m_pShared->nMostOpen;
}

void CMemoryLister::LimitOpen(int nMax) {
    std::lock_guard lock(m_pShared->mutex);
    m_pShared->nMaxOpen = nMax;
}

void CMemoryLister::OnOpen(std::function<void(const std::string&)> f) {
    std::lock_guard lock(m_pShared->mutex);
    m_pShared->onOpen = std::move(f);
}

int CMemoryLister::OpenRoot(const std::string&, DWORD& dwError) {
    std::lock_guard lock(m_pShared->mutex);
    return m_pShared->Track(m_pShared->root.get(), dwError);
}

int CMemoryLister::OpenChild(int hParent, std::string_view strName, DWORD& dwError) {
    std::lock_guard lock(m_pShared->mutex);
    return m_pShared->Track(m_pShared->Child(m_pShared->open.at(hParent).pNode, strName), dwError);
}

int CMemoryLister::OpenBelow(int hAncestor, std::string_view strRelative, DWORD& dwError) {
    std::lock_guard lock(m_pShared->mutex);
    return m_pShared->OpenPath(hAncestor, strRelative, false, dwError);
}

int CMemoryLister::OpenBeneath(int hRoot, std::string_view strRelative, DWORD& dwError) {
    std::lock_guard lock(m_pShared->mutex);
    return m_pShared->OpenPath(hRoot, strRelative, true, dwError);
}

bool CMemoryLister::Next(int hDir, DirEntry& entry, DWORD& dwError) {
    std::lock_guard lock(m_pShared->mutex);
    dwError = 0;
    Shared::Open& o = m_pShared->open.at(hDir);
    if (o.nNext >= o.pNode->children.size())
        return false;
    if (o.nNext >= o.pNode->nFailAfter) {
        dwError = EIO;
        return false;
    }
    const Node& n = *o.pNode->children[o.nNext++];
    entry.strName = n.strName;
    entry.kind = n.bHideKind ? EntryKind::Unknown : n.kind;
    entry.nInode = n.nInode;
    return true;
}

void CMemoryLister::Close(int hDir) {
    std::lock_guard lock(m_pShared->mutex);
    m_pShared->open.erase(hDir);
    --m_pShared->nOpen;
}

bool CMemoryLister::GetAttributes(int hDir, std::string_view strName, FileAttributes& attr,
                                  DWORD& dwError) {
    Shared& s = *m_pShared;
    std::lock_guard lock(s.mutex);
    Node* pFolder = s.open.at(hDir).pNode;
    const Node* pNode = strName == "." ? pFolder : s.Child(pFolder, strName);
    if (!pNode || pNode->bVanished || pNode->dwAttributesError) {
        dwError = pNode && pNode->dwAttributesError ? pNode->dwAttributesError : ENOENT;
        return false;
    }
    attr.kind = pNode->readKind != EntryKind::Unknown ? pNode->readKind : pNode->kind;
    attr.nSize = pNode->nSize;
    attr.mtime = pNode->mtime;
    attr.id = {1, pNode->nInode};
    auto it = s.links.find(pNode->nInode);
    attr.nLinks = it == s.links.end() ? 1 : it->second;
    return true;
}

std::unique_ptr<IDirectoryLister> CMemoryLister::ForAnotherThread() const {
    return std::make_unique<CMemoryLister>(m_pShared);
}
