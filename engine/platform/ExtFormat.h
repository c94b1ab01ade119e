// The ext2/3/4 on-disk structures the inode-table reader needs: the superblock and its
// feature flags, group descriptors (32 and 64 bytes), inodes, extent tree nodes,
// directory blocks with their checksum tail, the in-inode extended attribute that holds
// inline data, and the checksums that guard them.
//
// Everything here reads data from a disk that may be damaged or hostile: every offset
// and length is checked against the block or record it lies in, arithmetic on values
// from the disk cannot overflow, and nothing loops or grows without a bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// ---- Superblock ---------------------------------------------------------------------------

inline constexpr std::uint64_t kExtSuperblockOffset = 1024;
inline constexpr std::size_t kExtSuperblockSize = 1024;

// Feature flags this reader knows. Compatible ones change nothing for a reader; the
// read-only compatible ones only what is written; the incompatible ones change the
// format itself: a volume with one not listed here is not read.
namespace ExtIncompat {
inline constexpr std::uint32_t Compression = 0x1;
inline constexpr std::uint32_t FileType = 0x2;
inline constexpr std::uint32_t Recover = 0x4; // set while mounted: the journal holds updates
inline constexpr std::uint32_t JournalDev = 0x8;
inline constexpr std::uint32_t MetaBg = 0x10;
inline constexpr std::uint32_t Extents = 0x40;
inline constexpr std::uint32_t Bit64 = 0x80;
inline constexpr std::uint32_t Mmp = 0x100;
inline constexpr std::uint32_t FlexBg = 0x200;
inline constexpr std::uint32_t EaInode = 0x400;
inline constexpr std::uint32_t DirData = 0x1000;
inline constexpr std::uint32_t CsumSeed = 0x2000;
inline constexpr std::uint32_t LargeDir = 0x4000;
inline constexpr std::uint32_t InlineData = 0x8000;
inline constexpr std::uint32_t Encrypt = 0x10000;
inline constexpr std::uint32_t Casefold = 0x20000;
inline constexpr std::uint32_t Known = FileType | Recover | MetaBg | Extents | Bit64 | Mmp |
                                       FlexBg | EaInode | CsumSeed | LargeDir | InlineData |
                                       Encrypt | Casefold;
} // namespace ExtIncompat

namespace ExtRoCompat {
inline constexpr std::uint32_t SparseSuper = 0x1;
inline constexpr std::uint32_t GdtCsum = 0x10;
inline constexpr std::uint32_t MetadataCsum = 0x400;
} // namespace ExtRoCompat

namespace ExtCompat {
inline constexpr std::uint32_t SparseSuper2 = 0x200;
} // namespace ExtCompat

struct ExtSuperblock {
    std::uint64_t nBlocksCount = 0;
    std::uint32_t nInodesCount = 0;
    std::uint32_t nFirstDataBlock = 0;
    std::uint32_t nBlockSize = 0;
    std::uint32_t nBlocksPerGroup = 0;
    std::uint32_t nInodesPerGroup = 0;
    std::uint32_t nGroupCount = 0;
    std::uint32_t nFirstIno = 0; // the first inode a user's file may have
    std::uint32_t nInodeSize = 0;
    std::uint32_t nDescSize = 0;
    std::uint32_t nFirstMetaBg = 0;
    std::uint32_t nCompat = 0;
    std::uint32_t nIncompat = 0;
    std::uint32_t nRoCompat = 0;
    std::uint32_t arrBackupBgs[2] = {0, 0};
    std::uint8_t uuid[16] = {};
    std::uint32_t nCsumSeed = 0; // where metadata checksums start
    bool bMetadataCsum = false;
    bool bGdtCsum = false; // the older descriptor checksum (crc16); metadata_csum wins
    bool Has(std::uint32_t nIncompatFlag) const { return (nIncompat & nIncompatFlag) != 0; }
};

enum class ExtSuperblockStatus { ok, notExt, unknownFeature, damaged };

// Just the magic number: whether the bytes at kExtSuperblockOffset claim ext2/3/4.
bool IsExtSuperblock(const std::uint8_t* p, std::size_t n);

// Reads and checks the superblock (kExtSuperblockSize bytes from kExtSuperblockOffset):
// its geometry must be consistent, its checksum right where it has one, and every
// incompatible feature one this reader knows.
ExtSuperblockStatus ParseExtSuperblock(const std::uint8_t* p, std::size_t n, ExtSuperblock& sb);

// ---- Group descriptors ----------------------------------------------------------------------

inline constexpr std::uint16_t kExtBgInodeUninit = 0x1;

struct ExtGroupDesc {
    std::uint64_t nInodeTable = 0; // first block of the group's inode table
    std::uint32_t nUsedInodes = 0; // inodes from the start of the table that may be in use
    std::uint32_t nFolders = 0;    // folders among them, as the group counts them
};

// Whether the group holds a copy of the superblock (and, without meta_bg, of the
// descriptors).
bool ExtGroupHasSuper(const ExtSuperblock& sb, std::uint32_t nGroup);

// The block holding the descriptor of a group, and its byte offset there.
std::uint64_t ExtDescriptorBlock(const ExtSuperblock& sb, std::uint32_t nGroup);
std::size_t ExtDescriptorOffset(const ExtSuperblock& sb, std::uint32_t nGroup);

// One descriptor (sb.nDescSize bytes). false when its checksum fails, or its inode
// table does not lie within the volume, or it marks more unused inodes than the group
// has. Without descriptor checksums nothing marks unused inodes: all may be in use.
bool ParseExtGroupDesc(const std::uint8_t* p, const ExtSuperblock& sb, std::uint32_t nGroup,
                       ExtGroupDesc& desc);

// ---- Inodes ---------------------------------------------------------------------------------

inline constexpr std::uint32_t kExtRootIno = 2;
inline constexpr std::size_t kExtGoodOldInodeSize = 128;
inline constexpr std::size_t kExtBlockArraySize = 60; // i_block

namespace ExtInodeFlag {
inline constexpr std::uint32_t Encrypt = 0x800;
inline constexpr std::uint32_t Index = 0x1000; // a hashed folder
inline constexpr std::uint32_t Extents = 0x80000;
inline constexpr std::uint32_t EaInode = 0x200000; // holds an attribute's value, no file
inline constexpr std::uint32_t InlineData = 0x10000000;
inline constexpr std::uint32_t Casefold = 0x40000000;
} // namespace ExtInodeFlag

inline constexpr std::uint16_t kExtModeTypeMask = 0xF000;
inline constexpr std::uint16_t kExtModeRegular = 0x8000;
inline constexpr std::uint16_t kExtModeDirectory = 0x4000;

struct ExtInode {
    std::uint16_t nMode = 0;
    std::uint16_t nLinks = 0;
    std::uint32_t nFlags = 0;
    std::uint64_t nSize = 0;    // as the kernel reads it for this kind of inode
    std::int64_t nMtime = 0;    // seconds since 1970, with the epoch bits of the extra field
    std::uint32_t nMtimeNs = 0; // 0 where the inode has no extra field for it
    std::uint32_t nGeneration = 0;
    const std::uint8_t* pBlock = nullptr; // i_block, kExtBlockArraySize bytes
    const std::uint8_t* pRaw = nullptr;   // the whole inode
    std::size_t nAttrStart = 0;           // in-inode attributes: from here to nInodeSize
    std::size_t nInodeSize = 0;
    bool IsRegular() const { return (nMode & kExtModeTypeMask) == kExtModeRegular; }
    bool IsDirectory() const { return (nMode & kExtModeTypeMask) == kExtModeDirectory; }
};

enum class ExtInodeStatus { unused, ok, damaged };

// One inode of sb.nInodeSize bytes. unused: no file has it (mode or link count 0);
// damaged: its checksum fails or its extra size does not fit.
ExtInodeStatus ParseExtInode(const std::uint8_t* p, std::uint32_t nIno, const ExtSuperblock& sb,
                             ExtInode& inode);

// Where the checksums of an inode's own blocks (extent nodes, folder blocks) start.
std::uint32_t ExtInodeSeed(const ExtSuperblock& sb, std::uint32_t nIno, std::uint32_t nGeneration);

// The value of the in-inode attribute system.data, where an inode with inline data
// keeps what does not fit its block array. false when there is none or it does not fit.
bool FindExtInlineData(const ExtInode& inode, const std::uint8_t*& pValue, std::size_t& nValue);

// ---- Extent trees ---------------------------------------------------------------------------

inline constexpr std::size_t kExtExtentHeaderSize = 12;
inline constexpr std::size_t kExtExtentEntrySize = 12;
inline constexpr std::uint16_t kExtMaxExtentDepth = 5;

struct ExtExtentNode {
    std::uint16_t nEntries = 0;
    std::uint16_t nMax = 0;
    std::uint16_t nDepth = 0; // 0: the entries are extents; otherwise index entries
    const std::uint8_t* p = nullptr;
};

struct ExtExtent {
    std::uint32_t nLogical = 0;
    std::uint32_t nLength = 0;
    bool bUnwritten = false; // allocated, reads as zeros
    std::uint64_t nPhysical = 0;
};

struct ExtExtentIndex {
    std::uint32_t nLogical = 0;
    std::uint64_t nChild = 0; // the block of the node below
};

// A node of n bytes (the inode's block array, or a block): false without the magic
// number, with more entries than room, or deeper than any tree may be.
bool ReadExtExtentNode(const std::uint8_t* p, std::size_t n, ExtExtentNode& node);
ExtExtent GetExtExtent(const ExtExtentNode& node, std::size_t i);
ExtExtentIndex GetExtExtentIndex(const ExtExtentNode& node, std::size_t i);
// The checksum at the end of an extent block (after nMax entries).
bool VerifyExtExtentBlock(const std::uint8_t* p, std::size_t nBlockSize, const ExtExtentNode& node,
                          std::uint32_t nInodeSeed);

// ---- Folders --------------------------------------------------------------------------------

inline constexpr std::size_t kExtDirTailSize = 12;
inline constexpr std::size_t kExtInlineParentSize = 4; // an inline folder's parent inode

struct ExtDirEntry {
    std::uint32_t nInode = 0;
    std::uint8_t nFileType = 0; // the kind of file, on volumes with the filetype feature
    std::string_view strName;
};

// The entries of one folder block (or inline area), in their order, without unused
// ones. Stops at the end, or at the first entry that does not fit or names no inode
// the volume can have, whose place IsDamaged then tells.
class CExtDirWalk {
public:
    CExtDirWalk(const std::uint8_t* p, std::size_t n, std::uint32_t nBlockSize,
                std::uint32_t nInodesCount);
    bool Next(ExtDirEntry& entry);
    bool IsDamaged() const { return m_bDamaged; }

private:
    const std::uint8_t* m_p;
    std::size_t m_n;
    std::size_t m_nPos = 0;
    std::uint32_t m_nBlockSize;
    std::uint32_t m_nInodesCount;
    bool m_bDamaged = false;
};

// Whether a folder block ends in the checksum tail of metadata_csum volumes, and
// whether that checksum is right.
bool HasExtDirTail(const std::uint8_t* p, std::size_t nBlockSize);
bool VerifyExtDirTail(const std::uint8_t* p, std::size_t nBlockSize, std::uint32_t nInodeSeed);

// ---- Checksums ------------------------------------------------------------------------------

// CRC-32C (Castagnoli) as the volume uses it: the register goes in and out as it is,
// neither inverted at the start nor at the end.
std::uint32_t ExtCrc32c(std::uint32_t nCrc, const void* p, std::size_t n);
// CRC-16 (polynomial 0x8005, reflected) of the older descriptor checksum.
std::uint16_t ExtCrc16(std::uint16_t nCrc, const void* p, std::size_t n);
