#include "ExtVolume.h"

#include "LittleEndian.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// One request to the device at most: long enough that a disk streams, short enough that
// a pause or a stop takes hold at once.
constexpr std::size_t kMaxReadBytes = 1u << 20;
// Bytes the device is told of ahead of the read in progress: on a disk without seeks
// this keeps a few dozen requests in flight (several folder blocks, or a few stretches
// of inode table) while the thread parses.
constexpr std::size_t kAheadBytes = 4u << 20;
constexpr std::size_t kMaxAheadReads = 64;
// Ranges this close together are read as one: a few blocks in between cost less than
// another request.
constexpr std::uint64_t kInodeTableGap = 256u << 10;
constexpr std::uint64_t kFolderBlockGap = 32u << 10;
// The levels of a block map below the inode: single, double and triple indirect.
constexpr int kMapLevels = 3;
constexpr std::size_t kDirectBlocks = 12;

// Facts of a regular file or folder, packed: a million inodes are 24 MB.
constexpr std::uint32_t kNsMask = 0x3FFFFFFF;
constexpr std::uint32_t kFactDamaged = kNsMask; // no valid nanosecond count
constexpr std::uint32_t kFactFolder = 1u << 30;
constexpr std::uint32_t kFactSeveralNames = 1u << 31;

// Entry types of folders with the filetype feature.
constexpr std::uint8_t kTypeUnknown = 0;
constexpr std::uint8_t kTypeRegular = 1;
constexpr std::uint8_t kTypeDirectory = 2;

// Whether a folder block holds any entry but "." and "..", or does not hold together.
bool HoldsNames(const std::uint8_t* p, std::size_t nBlockSize, std::uint32_t nInodesCount) {
    CExtDirWalk walk(p, nBlockSize, static_cast<std::uint32_t>(nBlockSize), nInodesCount);
    ExtDirEntry e;
    while (walk.Next(e)) {
        if (e.strName != "." && e.strName != "..")
            return true;
    }
    return walk.IsDamaged();
}

bool IsUsableName(std::string_view s) {
    return s.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

} // namespace

struct CExtVolume::Fact {
    std::uint32_t nIno;
    std::uint32_t nBits;  // nanoseconds of the last write, and the flags above
    std::int64_t nMtime;  // seconds
    std::uint64_t nValue; // a file's size; a folder's index
};
static_assert(sizeof(CExtVolume::Folder) == 24);

struct CExtVolume::DirBlock {
    std::uint64_t nPhysical;
    std::uint32_t nFolder;
};

// A block of a folder's map still to be read: an extent tree node, or an indirect block.
struct CExtVolume::Pending {
    std::uint64_t nPhysical;
    std::uint32_t nFolder;
    bool bExtent;
    std::uint8_t nLevel;  // the depth the node must have; the level of an indirect block
    std::uint64_t nFirst; // logical blocks it may map: from here...
    std::uint64_t nLimit; // ...up to here
};

struct CExtVolume::Naming {
    std::uint32_t nChild;
    std::uint32_t nParent;
    std::uint32_t nName;
    std::uint16_t nNameLength;
};

struct CExtVolume::InlineDir {
    std::uint32_t nFolder;
    std::uint32_t nOffset;  // in m_arrInlineBytes: the block array's entries, then the rest
    std::uint32_t nInBlock; // bytes of entries from the block array
    std::uint32_t nInAttr;  // bytes of entries from the attribute
};

struct CExtVolume::Range {
    std::uint64_t nOffset;
    std::uint32_t nLength;
    std::uint32_t nTag;
};

const char* ExtDoubtText(ExtDoubt doubt) {
    switch (doubt) {
    case ExtDoubt::none:
        return "none";
    case ExtDoubt::encrypted:
        return "its names are encrypted";
    case ExtDoubt::casefolded:
        return "it matches names in any letter case";
    case ExtDoubt::damaged:
        return "its table is damaged";
    case ExtDoubt::unsupported:
        return "it uses a feature not known here";
    case ExtDoubt::unreadable:
        return "it cannot be read";
    }
    return "unknown";
}

CExtVolume::CExtVolume() = default;
CExtVolume::~CExtVolume() = default;

void CExtVolume::Close() {
    m_pReader.reset();
    m_sb = {};
    m_strWhy.clear();
    m_arrGroups = {};
    m_arrFacts = {};
    m_arrGroupFact = {};
    m_arrFolders = {};
    m_arrFiles = {};
    m_strNames = {};
    m_arrDirBlocks = {};
    m_nDirBlocks = 0;
    m_nPeakMemory = 0;
    m_arrPending = {};
    m_arrNamings = {};
    m_arrInline = {};
    m_arrInlineBytes = {};
    m_arrBuffer = {};
    m_arrScratch = {};
}

DWORD CExtVolume::ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) {
    ++m_nReads;
    return m_pReader->ReadAt(nOffset, p, n);
}

DWORD CExtVolume::Open(std::unique_ptr<IBlockReader> pReader) {
    Close();
    m_pReader = std::move(pReader);
    std::uint8_t super[kExtSuperblockSize];
    ExtSuperblockStatus status = ExtSuperblockStatus::damaged;
    // A superblock the kernel is rewriting reads torn: once more before calling it damaged.
    for (int nTry = 0; nTry < 2 && status == ExtSuperblockStatus::damaged; ++nTry) {
        if (DWORD dw = ReadAt(kExtSuperblockOffset, super, sizeof super)) {
            Close();
            return dw;
        }
        status = ParseExtSuperblock(super, sizeof super, m_sb);
    }
    DWORD dwResult = 0;
    switch (status) {
    case ExtSuperblockStatus::ok:
        break;
    case ExtSuperblockStatus::notExt:
        dwResult = EMEDIUMTYPE;
        m_strWhy = "no ext2/3/4 superblock";
        break;
    case ExtSuperblockStatus::unknownFeature: {
        char szWhy[96];
        if (const std::uint32_t nUnknown = m_sb.nIncompat & ~ExtIncompat::Known)
            std::snprintf(szWhy, sizeof szWhy, "incompatible features 0x%x not known", nUnknown);
        else
            std::snprintf(szWhy, sizeof szWhy, "a revision of the format not known");
        m_strWhy = szWhy;
        dwResult = ENOTSUP;
        break;
    }
    case ExtSuperblockStatus::damaged:
        dwResult = EUCLEAN;
        m_strWhy = "the superblock is damaged";
        break;
    }
    // No sound volume is larger than its device.
    if (dwResult == 0 && m_sb.nBlocksCount > m_pReader->GetSize() / m_sb.nBlockSize) {
        dwResult = EUCLEAN;
        m_strWhy = "the volume is larger than its device";
    }
    if (dwResult == 0)
        dwResult = ReadDescriptors();
    if (dwResult != 0) {
        const std::string strWhy = m_strWhy;
        Close();
        m_strWhy = strWhy;
        return dwResult;
    }
    m_arrScratch.assign(m_sb.nBlockSize, 0);
    return 0;
}

DWORD CExtVolume::ReadDescriptors() {
    // The inode tables of a sound volume do not overlap: together they fit in it.
    const std::uint64_t nTableBlocks =
        (std::uint64_t{m_sb.nInodesPerGroup} * m_sb.nInodeSize + m_sb.nBlockSize - 1) /
        m_sb.nBlockSize;
    if (nTableBlocks * m_sb.nGroupCount > m_sb.nBlocksCount) {
        m_strWhy = "the inode tables are larger than the volume";
        return EUCLEAN;
    }
    m_arrGroups.resize(m_sb.nGroupCount);
    std::vector<std::uint8_t> block(m_sb.nBlockSize);
    std::uint64_t nLoaded = UINT64_MAX;
    for (std::uint32_t g = 0; g < m_sb.nGroupCount; ++g) {
        const std::uint64_t nBlock = ExtDescriptorBlock(m_sb, g);
        if (nBlock >= m_sb.nBlocksCount) {
            m_strWhy = "the group descriptors lie outside the volume";
            return EUCLEAN;
        }
        bool bParsed = false;
        // A descriptor the kernel is rewriting reads torn: once more before calling it
        // damaged.
        for (int nTry = 0; nTry < 2 && !bParsed; ++nTry) {
            if (nBlock != nLoaded || nTry > 0) {
                if (DWORD dw = ReadAt(nBlock * m_sb.nBlockSize, block.data(), block.size()))
                    return dw;
                nLoaded = nBlock;
            }
            bParsed = ParseExtGroupDesc(block.data() + ExtDescriptorOffset(m_sb, g), m_sb, g,
                                        m_arrGroups[g]);
        }
        if (!bParsed) {
            m_strWhy = "the descriptor of group " + std::to_string(g) + " is damaged";
            return EUCLEAN;
        }
    }
    return 0;
}

std::size_t CExtVolume::GetMemoryUse() const {
    return m_arrGroups.capacity() * sizeof(ExtGroupDesc) + m_arrFacts.capacity() * sizeof(Fact) +
           m_arrGroupFact.capacity() * sizeof(std::uint32_t) +
           m_arrFolders.capacity() * sizeof(Folder) + m_arrFiles.capacity() * sizeof(File) +
           m_strNames.capacity() + m_arrDirBlocks.capacity() * sizeof(DirBlock) +
           m_arrPending.capacity() * sizeof(Pending) + m_arrNamings.capacity() * sizeof(Naming) +
           m_arrInline.capacity() * sizeof(InlineDir) + m_arrInlineBytes.capacity() +
           m_arrBuffer.capacity() + m_arrScratch.capacity();
}

// ---- Reading ranges -------------------------------------------------------------------------

DWORD CExtVolume::ReadRanges(
    std::size_t nCount, const std::function<Range(std::size_t)>& rangeAt, std::uint64_t nGap,
    const ExtReadHooks& hooks,
    const std::function<void(const Range&, const std::uint8_t*)>& onRange) {
    // One request from range i on: it and its neighbours. The end of its ranges.
    auto request = [&](std::size_t i, std::uint64_t& nOffset, std::size_t& nLength) {
        const Range first = rangeAt(i);
        nOffset = first.nOffset;
        std::uint64_t nEnd = first.nOffset + first.nLength;
        while (++i < nCount) {
            const Range r = rangeAt(i);
            if (r.nOffset < nEnd || r.nOffset - nEnd > nGap ||
                r.nOffset + r.nLength - nOffset > kMaxReadBytes)
                break;
            nEnd = r.nOffset + r.nLength;
        }
        nLength = static_cast<std::size_t>(nEnd - nOffset);
        return i;
    };
    std::size_t nHinted = 0; // ranges of requests told to the device
    std::size_t nAhead = 0;  // bytes of requests told and not yet read
    std::size_t nAheadN = 0; // and how many they are
    for (std::size_t i = 0; i < nCount;) {
        if (!hooks.mayRead())
            return ECANCELED;
        std::uint64_t nOffset;
        std::size_t nLength;
        const std::size_t nEnd = request(i, nOffset, nLength);
        if (i < nHinted) {
            nAhead -= std::min(nAhead, nLength);
            nAheadN -= std::min<std::size_t>(nAheadN, 1);
        } else {
            nHinted = nEnd;
            nAhead = nAheadN = 0;
        }
        while (nHinted < nCount && nAheadN < kMaxAheadReads) {
            std::uint64_t nNextOffset;
            std::size_t nNextLength;
            const std::size_t nNextEnd = request(nHinted, nNextOffset, nNextLength);
            if (nAhead + nNextLength > kAheadBytes)
                break;
            m_pReader->WillNeed(nNextOffset, nNextLength);
            nAhead += nNextLength;
            ++nAheadN;
            nHinted = nNextEnd;
        }
        if (m_arrBuffer.size() < nLength)
            m_arrBuffer.resize(nLength);
        if (DWORD dw = ReadAt(nOffset, m_arrBuffer.data(), nLength))
            return dw;
        for (; i < nEnd; ++i) {
            const Range r = rangeAt(i);
            onRange(r, m_arrBuffer.data() + (r.nOffset - nOffset));
        }
    }
    return 0;
}

// ---- The pass -------------------------------------------------------------------------------

DWORD CExtVolume::Read(const ExtReadHooks& hooks) {
    if (!IsOpen())
        return EBADF;
    m_nPeakMemory = 0;
    if (DWORD dw = ReadInodeTables(hooks))
        return dw;
    NotePeak();
    if (m_arrFolders.empty() || m_arrFolders[0].nIno != kExtRootIno) {
        m_strWhy = "the root folder's inode is damaged";
        return EUCLEAN;
    }
    m_arrNamings.reserve(m_arrFolders.size());
    if (DWORD dw = ResolvePending(hooks))
        return dw;
    NotePeak();
    if (DWORD dw = ReadFolderBlocks(hooks))
        return dw;
    LinkFolders();
    m_arrBuffer = {};
    NotePeak();
    return 0;
}

DWORD CExtVolume::ReadInodeTables(const ExtReadHooks& hooks) {
    const std::uint32_t nIpg = m_sb.nInodesPerGroup;
    const std::uint32_t nInodeSize = m_sb.nInodeSize;
    // Each group's used inodes, in pieces no longer than one request.
    const std::uint32_t nPerPiece = static_cast<std::uint32_t>(kMaxReadBytes / nInodeSize);
    std::vector<Range> ranges;
    std::uint64_t nUsed = 0, nFolders = 0;
    for (std::uint32_t g = 0; g < m_sb.nGroupCount; ++g) {
        const ExtGroupDesc& d = m_arrGroups[g];
        nUsed += d.nUsedInodes;
        nFolders += d.nFolders;
        for (std::uint32_t i = 0; i < d.nUsedInodes; i += nPerPiece) {
            const std::uint32_t n = std::min(nPerPiece, d.nUsedInodes - i);
            ranges.push_back({d.nInodeTable * m_sb.nBlockSize + std::uint64_t{i} * nInodeSize,
                              n * nInodeSize, g * nIpg + i + 1});
        }
    }
    // Most of the used inodes are regular files and folders: room for them at once, so
    // that the table does not grow by doubling (and for a while hold twice itself).
    m_arrFacts.reserve(static_cast<std::size_t>(nUsed));
    m_arrFolders.reserve(static_cast<std::size_t>(std::min(nFolders, nUsed)));
    m_arrGroupFact.assign(std::size_t{m_sb.nGroupCount} + 1, 0);
    std::uint32_t nGroupDone = 0; // groups whose first fact is known
    const DWORD dw = ReadRanges(
        ranges.size(), [&ranges](std::size_t i) { return ranges[i]; }, kInodeTableGap, hooks,
        [&](const Range& r, const std::uint8_t* p) {
            const std::uint32_t nGroup = (r.nTag - 1) / nIpg;
            while (nGroupDone <= nGroup)
                m_arrGroupFact[nGroupDone++] = static_cast<std::uint32_t>(m_arrFacts.size());
            const std::uint32_t nCount = r.nLength / nInodeSize;
            for (std::uint32_t i = 0; i < nCount; ++i)
                TakeInode(r.nTag + i, p + std::size_t{i} * nInodeSize);
        });
    while (nGroupDone <= m_sb.nGroupCount)
        m_arrGroupFact[nGroupDone++] = static_cast<std::uint32_t>(m_arrFacts.size());
    return dw;
}

void CExtVolume::TakeInode(std::uint32_t nIno, const std::uint8_t* p) {
    if (nIno < m_sb.nFirstIno && nIno != kExtRootIno)
        return; // the volume's own: journal, resize inode, quotas
    ExtInode inode;
    const ExtInodeStatus status = ParseExtInode(p, nIno, m_sb, inode);
    if (status == ExtInodeStatus::unused)
        return;
    if (status == ExtInodeStatus::damaged) {
        m_arrFacts.push_back({nIno, kFactDamaged, 0, 0});
        return;
    }
    if (inode.nFlags & ExtInodeFlag::EaInode)
        return;
    if (inode.IsRegular()) {
        if (inode.nSize > static_cast<std::uint64_t>(INT64_MAX)) {
            m_arrFacts.push_back({nIno, kFactDamaged, 0, 0});
            return;
        }
        m_arrFacts.push_back({nIno, inode.nMtimeNs | (inode.nLinks > 1 ? kFactSeveralNames : 0),
                              inode.nMtime, inode.nSize});
    } else if (inode.IsDirectory()) {
        const auto nFolder = static_cast<std::uint32_t>(m_arrFolders.size());
        Folder f;
        f.nIno = nIno;
        f.nGeneration = inode.nGeneration;
        if (inode.nFlags & ExtInodeFlag::Casefold)
            f.nFlags |= kFolderCasefold;
        if (inode.nFlags & ExtInodeFlag::Index)
            f.nFlags |= kFolderIndexed;
        m_arrFolders.push_back(f);
        m_arrFacts.push_back({nIno, kFactFolder, 0, nFolder});
        if (inode.nFlags & ExtInodeFlag::Encrypt)
            Doubt(nFolder, ExtDoubt::encrypted);
        else
            MapFolder(nFolder, inode);
    }
}

void CExtVolume::Doubt(std::uint32_t nFolder, ExtDoubt doubt) {
    Folder& f = m_arrFolders[nFolder];
    if (f.doubt == ExtDoubt::none)
        f.doubt = doubt;
}

void CExtVolume::MapFolder(std::uint32_t nFolder, const ExtInode& inode) {
    const std::uint64_t nLimit = (inode.nSize + m_sb.nBlockSize - 1) / m_sb.nBlockSize;
    if (inode.nFlags & ExtInodeFlag::InlineData) {
        const std::uint8_t* pAttr = nullptr;
        std::size_t nAttr = 0;
        if (!m_sb.Has(ExtIncompat::InlineData) || !FindExtInlineData(inode, pAttr, nAttr) ||
            m_arrInlineBytes.size() > UINT32_MAX - kExtBlockArraySize - nAttr) {
            Doubt(nFolder, ExtDoubt::damaged);
            return;
        }
        m_arrFolders[nFolder].nDotDot = ReadLe32(inode.pBlock);
        const std::size_t nInBlock = kExtBlockArraySize - kExtInlineParentSize;
        m_arrInline.push_back({nFolder, static_cast<std::uint32_t>(m_arrInlineBytes.size()),
                               static_cast<std::uint32_t>(nInBlock),
                               static_cast<std::uint32_t>(nAttr)});
        m_arrInlineBytes.insert(m_arrInlineBytes.end(), inode.pBlock + kExtInlineParentSize,
                                inode.pBlock + kExtBlockArraySize);
        m_arrInlineBytes.insert(m_arrInlineBytes.end(), pAttr, pAttr + nAttr);
        return;
    }
    if (inode.nFlags & ExtInodeFlag::Extents) {
        ExtExtentNode node;
        if (!ReadExtExtentNode(inode.pBlock, kExtBlockArraySize, node)) {
            Doubt(nFolder, ExtDoubt::damaged);
            return;
        }
        AddExtentNode(nFolder, node, nLimit);
        return;
    }
    // The older block map: twelve direct blocks, then one block each of single, double
    // and triple indirect pointers.
    const std::uint64_t nPerBlock = m_sb.nBlockSize / 4;
    std::uint64_t nLogical = 0;
    for (std::size_t i = 0; i < kDirectBlocks + kMapLevels && nLogical < nLimit; ++i) {
        const int nLevel = i < kDirectBlocks ? 0 : static_cast<int>(i - kDirectBlocks + 1);
        AddMapBlock(nFolder, ReadLe32(inode.pBlock + 4 * i), nLevel, nLogical, nLimit);
        std::uint64_t nSpan = 1;
        for (int k = 0; k < nLevel; ++k)
            nSpan *= nPerBlock;
        nLogical += nSpan;
    }
}

void CExtVolume::AddBlocks(std::uint32_t nFolder, std::uint64_t nPhysical, std::uint64_t nCount) {
    // No sound volume has more folder blocks than blocks.
    if (nPhysical <= m_sb.nFirstDataBlock || nPhysical >= m_sb.nBlocksCount ||
        nCount > m_sb.nBlocksCount - nPhysical || nCount > m_sb.nBlocksCount - m_nDirBlocks) {
        Doubt(nFolder, ExtDoubt::damaged);
        return;
    }
    m_nDirBlocks += nCount;
    for (std::uint64_t i = 0; i < nCount; ++i)
        m_arrDirBlocks.push_back({nPhysical + i, nFolder});
}

// The node's entries map logical blocks from nFirst to nLimit at most: a tree whose
// nodes overlap, or loop back, maps nothing twice.
void CExtVolume::AddExtentNode(std::uint32_t nFolder, const ExtExtentNode& node,
                               std::uint64_t nLimit) {
    std::uint64_t nNext = 0; // the entries' logical blocks ascend
    for (std::size_t i = 0; i < node.nEntries; ++i) {
        if (node.nDepth == 0) {
            const ExtExtent e = GetExtExtent(node, i);
            if (e.nLogical < nNext) {
                Doubt(nFolder, ExtDoubt::damaged);
                return;
            }
            nNext = std::uint64_t{e.nLogical} + e.nLength;
            if (e.nLogical >= nLimit)
                break;
            if (e.bUnwritten) {
                Doubt(nFolder, ExtDoubt::damaged); // a folder block of zeros
                return;
            }
            AddBlocks(nFolder, e.nPhysical,
                      std::min<std::uint64_t>(e.nLength, nLimit - e.nLogical));
        } else {
            const ExtExtentIndex x = GetExtExtentIndex(node, i);
            if (x.nLogical < nNext || x.nChild <= m_sb.nFirstDataBlock ||
                x.nChild >= m_sb.nBlocksCount) {
                Doubt(nFolder, ExtDoubt::damaged);
                return;
            }
            nNext = std::uint64_t{x.nLogical} + 1;
            if (x.nLogical >= nLimit)
                break;
            const std::uint64_t nEnd =
                i + 1 < node.nEntries
                    ? std::min<std::uint64_t>(nLimit, GetExtExtentIndex(node, i + 1).nLogical)
                    : nLimit;
            m_arrPending.push_back({x.nChild, nFolder, true,
                                    static_cast<std::uint8_t>(node.nDepth - 1), x.nLogical, nEnd});
        }
        if (m_arrFolders[nFolder].doubt != ExtDoubt::none)
            return;
    }
}

void CExtVolume::AddMapBlock(std::uint32_t nFolder, std::uint32_t nBlock, int nLevel,
                             std::uint64_t nLogical, std::uint64_t nLimit) {
    if (nLogical >= nLimit)
        return;
    if (nBlock == 0) {
        Doubt(nFolder, ExtDoubt::damaged); // a hole in a folder
        return;
    }
    if (nLevel == 0) {
        AddBlocks(nFolder, nBlock, 1);
        return;
    }
    if (nBlock <= m_sb.nFirstDataBlock || nBlock >= m_sb.nBlocksCount) {
        Doubt(nFolder, ExtDoubt::damaged);
        return;
    }
    m_arrPending.push_back(
        {nBlock, nFolder, false, static_cast<std::uint8_t>(nLevel), nLogical, nLimit});
}

DWORD CExtVolume::ResolvePending(const ExtReadHooks& hooks) {
    const std::uint64_t nPerBlock = m_sb.nBlockSize / 4;
    std::uint64_t nEver = 0; // no sound volume has more map blocks than blocks
    // Each round reads one level of every tree: at most the deepest tree's levels.
    for (int nRound = 0; !m_arrPending.empty() && nRound <= kExtMaxExtentDepth + kMapLevels;
         ++nRound) {
        std::vector<Pending> pending;
        pending.swap(m_arrPending);
        std::sort(pending.begin(), pending.end(),
                  [](const Pending& a, const Pending& b) { return a.nPhysical < b.nPhysical; });
        nEver += pending.size();
        if (nEver > m_sb.nBlocksCount) {
            for (const Pending& x : pending)
                Doubt(x.nFolder, ExtDoubt::damaged);
            break;
        }
        const std::uint32_t nBlockSize = m_sb.nBlockSize;
        auto rangeAt = [&pending, nBlockSize](std::size_t i) {
            return Range{pending[i].nPhysical * nBlockSize, nBlockSize,
                         static_cast<std::uint32_t>(i)};
        };
        DWORD dw = ReadRanges(
            pending.size(), rangeAt, kFolderBlockGap, hooks,
            [&](const Range& r, const std::uint8_t* p) {
                const Pending& x = pending[r.nTag];
                Folder& f = m_arrFolders[x.nFolder];
                if (f.doubt != ExtDoubt::none)
                    return;
                if (x.bExtent) {
                    ExtExtentNode node;
                    if (!ReadExtExtentNode(p, m_sb.nBlockSize, node) || node.nDepth != x.nLevel ||
                        (m_sb.bMetadataCsum &&
                         !VerifyExtExtentBlock(p, m_sb.nBlockSize, node,
                                               ExtInodeSeed(m_sb, f.nIno, f.nGeneration)))) {
                        Doubt(x.nFolder, ExtDoubt::damaged);
                        return;
                    }
                    // Entries of this node before its own first block belong to another.
                    if (node.nEntries > 0 &&
                        (node.nDepth == 0 ? GetExtExtent(node, 0).nLogical
                                          : GetExtExtentIndex(node, 0).nLogical) < x.nFirst) {
                        Doubt(x.nFolder, ExtDoubt::damaged);
                        return;
                    }
                    AddExtentNode(x.nFolder, node, x.nLimit);
                    return;
                }
                std::uint64_t nSpan = 1;
                for (int k = 1; k < x.nLevel; ++k)
                    nSpan *= nPerBlock;
                for (std::uint64_t i = 0; i < nPerBlock; ++i) {
                    const std::uint64_t nLogical = x.nFirst + i * nSpan;
                    if (nLogical >= x.nLimit || f.doubt != ExtDoubt::none)
                        break;
                    AddMapBlock(x.nFolder, ReadLe32(p + 4 * i), x.nLevel - 1, nLogical, x.nLimit);
                }
            });
        if (dw != 0)
            return dw;
    }
    for (const Pending& x : m_arrPending)
        Doubt(x.nFolder, ExtDoubt::damaged); // deeper than any tree may be
    m_arrPending = {};
    return 0;
}

DWORD CExtVolume::ReadFolderBlocks(const ExtReadHooks& hooks) {
    for (const InlineDir& d : m_arrInline) {
        if (!hooks.mayRead())
            return ECANCELED;
        const std::uint8_t* p = m_arrInlineBytes.data() + d.nOffset;
        TakeEntries(d.nFolder, p, d.nInBlock, hooks);
        if (d.nInAttr > 0)
            TakeEntries(d.nFolder, p + d.nInBlock, d.nInAttr, hooks);
    }
    m_arrInline = {};
    m_arrInlineBytes = {};

    std::sort(m_arrDirBlocks.begin(), m_arrDirBlocks.end(),
              [](const DirBlock& a, const DirBlock& b) { return a.nPhysical < b.nPhysical; });
    const std::size_t nBlockSize = m_sb.nBlockSize;
    auto rangeAt = [this](std::size_t i) {
        return Range{m_arrDirBlocks[i].nPhysical * m_sb.nBlockSize, m_sb.nBlockSize,
                     static_cast<std::uint32_t>(i)};
    };
    DWORD dw =
        ReadRanges(m_arrDirBlocks.size(), rangeAt, kFolderBlockGap, hooks,
                   [&](const Range& r, const std::uint8_t* p) {
                       const DirBlock& b = m_arrDirBlocks[r.nTag];
                       const Folder& f = m_arrFolders[b.nFolder];
                       if (f.doubt != ExtDoubt::none)
                           return;
                       // Index blocks of hashed folders have no checksum tail, and hold no names
                       // either.
                       if (m_sb.bMetadataCsum) {
                           const std::uint32_t nSeed = ExtInodeSeed(m_sb, f.nIno, f.nGeneration);
                           if (!VerifyExtDirTail(p, nBlockSize, nSeed) &&
                               HoldsNames(p, nBlockSize, m_sb.nInodesCount)) {
                               // A block the kernel is rewriting reads torn: once more before
                               // calling it damaged.
                               if (ReadAt(r.nOffset, m_arrScratch.data(), nBlockSize) != 0 ||
                                   !VerifyExtDirTail(m_arrScratch.data(), nBlockSize, nSeed)) {
                                   Doubt(b.nFolder, ExtDoubt::damaged);
                                   return;
                               }
                               p = m_arrScratch.data();
                           }
                       }
                       TakeEntries(b.nFolder, p, nBlockSize, hooks);
                   });
    NotePeak();
    m_arrDirBlocks = {};
    return dw;
}

std::uint32_t CExtVolume::FindFact(std::uint32_t nIno) const {
    const std::uint32_t nGroup = (nIno - 1) / m_sb.nInodesPerGroup;
    if (nIno == 0 || nGroup >= m_sb.nGroupCount)
        return kNone;
    const std::uint32_t nStart = m_arrGroupFact[nGroup];
    const std::uint32_t nEnd = m_arrGroupFact[nGroup + 1];
    if (nStart == nEnd)
        return kNone;
    // Nearly every used inode of a group is a file or folder, and used inodes fill the
    // start of the table: the fact mostly lies where its place in the group says.
    const std::uint32_t nGuess = std::min(nEnd - 1, nStart + (nIno - 1) % m_sb.nInodesPerGroup);
    if (m_arrFacts[nGuess].nIno == nIno)
        return nGuess;
    const auto first = m_arrFacts.begin() + (m_arrFacts[nGuess].nIno > nIno ? nStart : nGuess);
    const auto last = m_arrFacts.begin() + (m_arrFacts[nGuess].nIno > nIno ? nGuess : nEnd);
    const auto it = std::lower_bound(first, last, nIno,
                                     [](const Fact& f, std::uint32_t n) { return f.nIno < n; });
    return it != last && it->nIno == nIno ? static_cast<std::uint32_t>(it - m_arrFacts.begin())
                                          : kNone;
}

// An inode that read damaged may have been caught while the kernel rewrote it: read
// once more, and a regular file that now reads whole takes its place.
std::uint32_t CExtVolume::RereadInode(std::uint32_t nFact) {
    Fact& fact = m_arrFacts[nFact];
    const std::uint32_t nIndex = (fact.nIno - 1) % m_sb.nInodesPerGroup;
    const ExtGroupDesc& d = m_arrGroups[(fact.nIno - 1) / m_sb.nInodesPerGroup];
    std::vector<std::uint8_t> raw(m_sb.nInodeSize);
    ExtInode inode;
    if (ReadAt(d.nInodeTable * m_sb.nBlockSize + std::uint64_t{nIndex} * m_sb.nInodeSize,
               raw.data(), raw.size()) != 0 ||
        ParseExtInode(raw.data(), fact.nIno, m_sb, inode) != ExtInodeStatus::ok ||
        !inode.IsRegular() || inode.nSize > static_cast<std::uint64_t>(INT64_MAX) ||
        (inode.nFlags & ExtInodeFlag::EaInode))
        return kNone;
    fact = {fact.nIno, inode.nMtimeNs | (inode.nLinks > 1 ? kFactSeveralNames : 0), inode.nMtime,
            inode.nSize};
    return nFact;
}

bool CExtVolume::StoreName(std::string_view strName, std::uint32_t& nName) {
    if (m_strNames.size() > UINT32_MAX - strName.size())
        return false;
    nName = static_cast<std::uint32_t>(m_strNames.size());
    m_strNames += strName;
    return true;
}

void CExtVolume::TakeEntries(std::uint32_t nFolder, const std::uint8_t* p, std::size_t n,
                             const ExtReadHooks& hooks) {
    const bool bTyped = m_sb.Has(ExtIncompat::FileType);
    CExtDirWalk walk(p, n, m_sb.nBlockSize, m_sb.nInodesCount);
    ExtDirEntry e;
    while (walk.Next(e)) {
        if (e.strName == ".")
            continue;
        if (e.strName == "..") {
            m_arrFolders[nFolder].nDotDot = e.nInode;
            continue;
        }
        if (!IsUsableName(e.strName)) {
            Doubt(nFolder, ExtDoubt::damaged); // no path could name it
            return;
        }
        // Links, devices, pipes: the walk passes them over by their type alone.
        const std::uint8_t nType = bTyped ? e.nFileType : kTypeUnknown;
        if (nType != kTypeUnknown && nType != kTypeRegular && nType != kTypeDirectory)
            continue;
        int nGroup = -2; // not yet asked
        if (nType == kTypeRegular && (nGroup = hooks.groupOf(e.strName)) < 0)
            continue;
        std::uint32_t nFact = FindFact(e.nInode);
        if (nFact == kNone)
            continue; // freed, or made, since its inode was read
        if (m_arrFacts[nFact].nBits == kFactDamaged && (nFact = RereadInode(nFact)) == kNone) {
            Doubt(nFolder, ExtDoubt::damaged);
            return;
        }
        const Fact& fact = m_arrFacts[nFact];
        if (fact.nBits & kFactFolder) {
            const auto nChild = static_cast<std::uint32_t>(fact.nValue);
            if (nType == kTypeRegular || nChild == 0)
                continue; // the root is nobody's child
            std::uint32_t nName;
            if (!StoreName(e.strName, nName)) {
                Doubt(nFolder, ExtDoubt::damaged);
                return;
            }
            m_arrNamings.push_back(
                {nChild, nFolder, nName, static_cast<std::uint16_t>(e.strName.size())});
            continue;
        }
        if (nType == kTypeDirectory)
            continue; // a file where a folder was listed: the walk cannot enter it
        if (nGroup == -2)
            nGroup = hooks.groupOf(e.strName);
        if (nGroup < 0)
            continue;
        std::uint32_t nName;
        if (!StoreName(e.strName, nName)) {
            Doubt(nFolder, ExtDoubt::damaged);
            return;
        }
        m_arrFiles.push_back({nFolder, nName, nFact, static_cast<std::uint16_t>(e.strName.size()),
                              static_cast<std::uint8_t>(nGroup)});
    }
    if (walk.IsDamaged())
        Doubt(nFolder, ExtDoubt::damaged);
}

// Every folder gets the name its parent's entry gives it. A folder named more than once
// (a hard link to a folder, an entry looping back up) takes the name whose folder its
// own ".." entry names; every other folder that names it is left to the kernel.
void CExtVolume::LinkFolders() {
    std::stable_sort(m_arrNamings.begin(), m_arrNamings.end(),
                     [](const Naming& a, const Naming& b) { return a.nChild < b.nChild; });
    for (std::size_t i = 0; i < m_arrNamings.size();) {
        std::size_t nEnd = i;
        while (nEnd < m_arrNamings.size() && m_arrNamings[nEnd].nChild == m_arrNamings[i].nChild)
            ++nEnd;
        Folder& child = m_arrFolders[m_arrNamings[i].nChild];
        std::size_t nChosen = nEnd;
        for (std::size_t k = i; k < nEnd && nChosen == nEnd; ++k) {
            const Naming& n = m_arrNamings[k];
            if (n.nParent != n.nChild && m_arrFolders[n.nParent].nIno == child.nDotDot)
                nChosen = k;
        }
        for (std::size_t k = i; k < nEnd && nChosen == nEnd; ++k) {
            if (m_arrNamings[k].nParent != m_arrNamings[k].nChild)
                nChosen = k;
        }
        for (std::size_t k = i; k < nEnd; ++k) {
            const Naming& n = m_arrNamings[k];
            if (k == nChosen) {
                child.nParent = n.nParent;
                child.nName = n.nName;
                child.nNameLength = n.nNameLength;
            } else {
                Doubt(n.nParent, ExtDoubt::damaged);
            }
        }
        i = nEnd;
    }
    m_arrNamings = {};
}

CExtVolume::Facts CExtVolume::GetFacts(const File& file) const {
    const Fact& f = m_arrFacts[file.nFact];
    return {f.nIno, f.nValue, f.nMtime, f.nBits & kNsMask, (f.nBits & kFactSeveralNames) != 0};
}
