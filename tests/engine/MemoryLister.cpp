#include "MemoryLister.h"

#include <algorithm>
#include <cerrno>

CMemoryLister::Node& CMemoryLister::Add(const std::string& strRelative, EntryKind kind,
                                        std::int64_t nSize) {
    Node* pNode = m_root.get();
    std::size_t i = 0;
    for (;;) {
        std::size_t j = strRelative.find('/', i);
        std::string strPart = strRelative.substr(i, j == std::string::npos ? j : j - i);
        Node* pChild = Child(pNode, strPart);
        if (!pChild) {
            pNode->children.push_back(std::make_unique<Node>());
            pChild = pNode->children.back().get();
            pChild->strName = strPart;
            pChild->nInode = m_nNextInode++;
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
    const Node& original = *Find(strExisting);
    const std::uint64_t nInode = original.nInode;
    const std::timespec mtime = original.mtime;
    Node& n = Add(strRelative, original.kind, original.nSize);
    n.nInode = nInode;
    n.mtime = mtime;
    m_links[n.nInode] = std::max<std::uint64_t>(m_links[n.nInode], 1) + 1;
    return n;
}

CMemoryLister::Node& CMemoryLister::Replace(const std::string& strRelative) {
    const std::size_t nSlash = strRelative.rfind('/');
    Node* pParent =
        nSlash == std::string::npos ? m_root.get() : Find(strRelative.substr(0, nSlash));
    for (auto& p : pParent->children) {
        if (p->strName == strRelative.substr(nSlash == std::string::npos ? 0 : nSlash + 1)) {
            auto pNew = std::make_unique<Node>();
            pNew->strName = p->strName;
            pNew->nInode = m_nNextInode++;
            m_replaced.push_back(std::move(p));
            p = std::move(pNew);
            return *p;
        }
    }
    return *pParent;
}

CMemoryLister::Node* CMemoryLister::Find(const std::string& strRelative) {
    Node* pNode = m_root.get();
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

CMemoryLister::Node* CMemoryLister::Child(Node* pParent, std::string_view strName) {
    for (auto& p : pParent->children) {
        if (p->strName == strName)
            return p.get();
    }
    return nullptr;
}

int CMemoryLister::Track(Node* pNode, DWORD& dwError) {
    if (!pNode || pNode->bVanished || pNode->kind != EntryKind::Directory || pNode->bCannotOpen) {
        dwError = !pNode || pNode->bVanished ? ENOENT : pNode->bCannotOpen ? EACCES : ENOTDIR;
        return -1;
    }
    if (m_nOpen >= m_nMaxOpen) {
        dwError = EMFILE;
        return -1;
    }
    if (m_onOpen)
        m_onOpen(pNode->strName);
    m_open[m_nNextHandle] = {pNode, 0};
    m_nMostOpen = std::max(m_nMostOpen, ++m_nOpen);
    m_opened.push_back(pNode->strName);
    return m_nNextHandle++;
}

int CMemoryLister::OpenRoot(const std::string&, DWORD& dwError) {
    return Track(m_root.get(), dwError);
}

int CMemoryLister::OpenChild(int hParent, std::string_view strName, DWORD& dwError) {
    return Track(Child(m_open.at(hParent).pNode, strName), dwError);
}

int CMemoryLister::OpenBelow(int hAncestor, std::string_view strRelative, DWORD& dwError) {
    Node* pNode = m_open.at(hAncestor).pNode;
    std::size_t i = 0;
    for (;;) {
        std::size_t j = strRelative.find('/', i);
        Node* pChild = Child(pNode, strRelative.substr(i, j == std::string_view::npos ? j : j - i));
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

bool CMemoryLister::Next(int hDir, DirEntry& entry, DWORD& dwError) {
    dwError = 0;
    Open& o = m_open.at(hDir);
    if (o.nNext >= o.pNode->children.size())
        return false;
    if (o.nNext >= o.pNode->nFailAfter) {
        dwError = EIO;
        return false;
    }
    const Node& n = *o.pNode->children[o.nNext++];
    entry.strName = n.strName;
    entry.kind = n.bHideKind ? EntryKind::Unknown : n.kind;
    return true;
}

void CMemoryLister::Close(int hDir) {
    m_open.erase(hDir);
    --m_nOpen;
}

bool CMemoryLister::GetAttributes(int hDir, std::string_view strName, FileAttributes& attr,
                                  DWORD& dwError) {
    Node* pFolder = m_open.at(hDir).pNode;
    const Node* pNode = strName == "." ? pFolder : Child(pFolder, strName);
    if (!pNode || pNode->bVanished || pNode->dwAttributesError) {
        dwError = pNode && pNode->dwAttributesError ? pNode->dwAttributesError : ENOENT;
        return false;
    }
    attr.kind = pNode->readKind != EntryKind::Unknown ? pNode->readKind : pNode->kind;
    attr.nSize = pNode->nSize;
    attr.mtime = pNode->mtime;
    attr.id = {1, pNode->nInode};
    auto it = m_links.find(pNode->nInode);
    attr.nLinks = it == m_links.end() ? 1 : it->second;
    return true;
}
