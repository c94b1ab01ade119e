#include "MemoryLister.h"

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

CMemoryLister::Node* CMemoryLister::Child(Node* pParent, std::string_view strName) {
    for (auto& p : pParent->children) {
        if (p->strName == strName)
            return p.get();
    }
    return nullptr;
}

int CMemoryLister::Track(Node* pNode) {
    if (!pNode || pNode->kind != EntryKind::Directory || pNode->bCannotOpen)
        return -1;
    m_open[m_nNextHandle] = {pNode, 0};
    ++m_nOpen;
    m_opened.push_back(pNode->strName);
    return m_nNextHandle++;
}

int CMemoryLister::OpenRoot(const std::string&) {
    return Track(m_root.get());
}

int CMemoryLister::OpenChild(int hParent, std::string_view strName) {
    return Track(Child(m_open.at(hParent).pNode, strName));
}

bool CMemoryLister::Next(int hDir, DirEntry& entry) {
    Open& o = m_open.at(hDir);
    if (o.nNext >= o.pNode->children.size())
        return false;
    const Node& n = *o.pNode->children[o.nNext++];
    entry.strName = n.strName;
    entry.kind = n.bHideKind ? EntryKind::Unknown : n.kind;
    return true;
}

void CMemoryLister::Close(int hDir) {
    m_open.erase(hDir);
    --m_nOpen;
}

bool CMemoryLister::GetAttributes(int hDir, std::string_view strName, FileAttributes& attr) {
    const Node* pNode = Child(m_open.at(hDir).pNode, strName);
    if (!pNode || pNode->bVanished)
        return false;
    attr.kind = pNode->readKind != EntryKind::Unknown ? pNode->readKind : pNode->kind;
    attr.nSize = pNode->nSize;
    attr.mtime = pNode->mtime;
    return true;
}
