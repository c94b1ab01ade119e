#include "ExtFormat.h"

#include "LittleEndian.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace {

// ---- Superblock fields.
constexpr std::size_t kSbInodesCount = 0x00;
constexpr std::size_t kSbBlocksCountLo = 0x04;
constexpr std::size_t kSbFirstDataBlock = 0x14;
constexpr std::size_t kSbLogBlockSize = 0x18;
constexpr std::size_t kSbBlocksPerGroup = 0x20;
constexpr std::size_t kSbInodesPerGroup = 0x28;
constexpr std::size_t kSbMagic = 0x38;
constexpr std::size_t kSbCreatorOs = 0x48;
constexpr std::size_t kSbRevLevel = 0x4C;
constexpr std::size_t kSbFirstIno = 0x54;
constexpr std::size_t kSbInodeSize = 0x58;
constexpr std::size_t kSbFeatureCompat = 0x5C;
constexpr std::size_t kSbFeatureIncompat = 0x60;
constexpr std::size_t kSbFeatureRoCompat = 0x64;
constexpr std::size_t kSbUuid = 0x68;
constexpr std::size_t kSbDescSize = 0xFE;
constexpr std::size_t kSbFirstMetaBg = 0x104;
constexpr std::size_t kSbBlocksCountHi = 0x150;
constexpr std::size_t kSbChecksumType = 0x175;
constexpr std::size_t kSbBackupBgs = 0x24C;
constexpr std::size_t kSbChecksumSeed = 0x270;
constexpr std::size_t kSbChecksum = 0x3FC;

constexpr std::uint16_t kExtMagic = 0xEF53;
constexpr std::uint8_t kCsumTypeCrc32c = 1;
constexpr std::uint32_t kCreatorLinux = 0;
constexpr std::uint32_t kGoodOldFirstIno = 11;
constexpr std::uint32_t kMaxLogBlockSize = 6; // 64 KiB
constexpr std::uint32_t kMinDescSize = 32;
constexpr std::uint32_t kMinDescSize64 = 64;
constexpr std::uint32_t kMaxDescSize = 1024;
// Byte offsets on the volume stay far from overflowing.
constexpr std::uint64_t kMaxVolumeBytes = 1ull << 62;

// ---- Group descriptor fields.
constexpr std::size_t kBgInodeTableLo = 0x08;
constexpr std::size_t kBgUsedDirsLo = 0x10;
constexpr std::size_t kBgFlags = 0x12;
constexpr std::size_t kBgItableUnusedLo = 0x1C;
constexpr std::size_t kBgChecksum = 0x1E;
constexpr std::size_t kBgInodeTableHi = 0x28;
constexpr std::size_t kBgUsedDirsHi = 0x30;
constexpr std::size_t kBgItableUnusedHi = 0x32;

// ---- Inode fields.
constexpr std::size_t kInMode = 0x00;
constexpr std::size_t kInSizeLo = 0x04;
constexpr std::size_t kInMtime = 0x10;
constexpr std::size_t kInLinksCount = 0x1A;
constexpr std::size_t kInFlags = 0x20;
constexpr std::size_t kInBlock = 0x28;
constexpr std::size_t kInGeneration = 0x64;
constexpr std::size_t kInSizeHigh = 0x6C;
constexpr std::size_t kInChecksumLo = 0x7C;
constexpr std::size_t kInExtraIsize = 0x80;
constexpr std::size_t kInChecksumHi = 0x82;
constexpr std::size_t kInMtimeExtra = 0x88;

constexpr std::uint32_t kEpochMask = 0x3;
constexpr std::uint32_t kNanosecondsPerSecond = 1'000'000'000;

// ---- In-inode extended attributes.
constexpr std::uint32_t kXattrMagic = 0xEA020000;
constexpr std::size_t kXattrHeaderSize = 4;
constexpr std::size_t kXattrEntrySize = 16; // before the name
constexpr std::size_t kXaNameLength = 0x0;
constexpr std::size_t kXaNameIndex = 0x1;
constexpr std::size_t kXaValueOffset = 0x2;
constexpr std::size_t kXaValueInode = 0x4;
constexpr std::size_t kXaValueSize = 0x8;
constexpr std::uint8_t kXattrIndexSystem = 7;
constexpr std::string_view kInlineDataName = "data";

// ---- Extent nodes.
constexpr std::uint16_t kExtentMagic = 0xF30A;
constexpr std::size_t kEhEntries = 0x2;
constexpr std::size_t kEhMax = 0x4;
constexpr std::size_t kEhDepth = 0x6;
constexpr std::size_t kEeBlock = 0x0;
constexpr std::size_t kEeLen = 0x4;
constexpr std::size_t kEeStartHi = 0x6;
constexpr std::size_t kEeStartLo = 0x8;
constexpr std::size_t kEiBlock = 0x0;
constexpr std::size_t kEiLeafLo = 0x4;
constexpr std::size_t kEiLeafHi = 0x8;
constexpr std::uint16_t kMaxInitializedLength = 32768;

// ---- Folder entries.
constexpr std::size_t kDeInode = 0x0;
constexpr std::size_t kDeRecLen = 0x4;
constexpr std::size_t kDeNameLen = 0x6;
constexpr std::size_t kDeFileType = 0x7;
constexpr std::size_t kDeName = 0x8;
constexpr std::uint8_t kDirTailFileType = 0xDE;

// A record length as the volume stores it: blocks of 64 KiB keep their largest one
// in the two low bits.
std::size_t DecodeRecLen(std::uint16_t nStored, std::uint32_t nBlockSize) {
    if (nBlockSize >= 65536 && (nStored == 65535 || nStored == 0))
        return 65536;
    return (nStored & 65532u) | (static_cast<std::size_t>(nStored & 3u) << 16);
}

// ---- CRC-32C.
constexpr std::uint32_t kCrc32cPoly = 0x82F63B78; // reflected
constexpr std::uint16_t kCrc16Poly = 0xA001;      // 0x8005 reflected

struct Crc32cTables {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    constexpr Crc32cTables() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? (c >> 1) ^ kCrc32cPoly : c >> 1;
            t[0][i] = c;
        }
        for (std::size_t s = 1; s < 8; ++s) {
            for (std::size_t i = 0; i < 256; ++i)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
        }
    }
};
constexpr Crc32cTables kCrc32c;

std::uint32_t Crc32cSoftware(std::uint32_t c, const std::uint8_t* p, std::size_t n) {
    const auto& t = kCrc32c.t;
    while (n >= 8) {
        const std::uint32_t lo = ReadLe32(p) ^ c;
        const std::uint32_t hi = ReadLe32(p + 4);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0)
        c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return c;
}

#if defined(__x86_64__)
// A million inodes are a quarter of a gigabyte to check: the processor's own instruction
// does it in a few milliseconds where tables take a fraction of a second.
__attribute__((target("sse4.2"))) std::uint32_t
Crc32cHardware(std::uint32_t c, const std::uint8_t* p, std::size_t n) {
    std::uint64_t c64 = c;
    while (n >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        c64 = _mm_crc32_u64(c64, v);
        p += 8;
        n -= 8;
    }
    c = static_cast<std::uint32_t>(c64);
    while (n-- > 0)
        c = _mm_crc32_u8(c, *p++);
    return c;
}

const bool g_bHardwareCrc = __builtin_cpu_supports("sse4.2");
#endif

struct Crc16Table {
    std::array<std::uint16_t, 256> t{};
    constexpr Crc16Table() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? (c >> 1) ^ kCrc16Poly : c >> 1;
            t[i] = static_cast<std::uint16_t>(c);
        }
    }
};
constexpr Crc16Table kCrc16;

std::uint32_t Crc32cLe(std::uint32_t c, std::uint32_t n) {
    std::uint8_t b[4];
    WriteLe32(b, n);
    return ExtCrc32c(c, b, sizeof b);
}

} // namespace

std::uint32_t ExtCrc32c(std::uint32_t nCrc, const void* p, std::size_t n) {
    const auto* pBytes = static_cast<const std::uint8_t*>(p);
#if defined(__x86_64__)
    if (g_bHardwareCrc)
        return Crc32cHardware(nCrc, pBytes, n);
#endif
    return Crc32cSoftware(nCrc, pBytes, n);
}

std::uint16_t ExtCrc16(std::uint16_t nCrc, const void* p, std::size_t n) {
    const auto* pBytes = static_cast<const std::uint8_t*>(p);
    while (n-- > 0)
        nCrc = static_cast<std::uint16_t>((nCrc >> 8) ^ kCrc16.t[(nCrc ^ *pBytes++) & 0xFF]);
    return nCrc;
}

// ---- Superblock ---------------------------------------------------------------------------

bool IsExtSuperblock(const std::uint8_t* p, std::size_t n) {
    return n >= kExtSuperblockSize && ReadLe16(p + kSbMagic) == kExtMagic;
}

ExtSuperblockStatus ParseExtSuperblock(const std::uint8_t* p, std::size_t n, ExtSuperblock& sb) {
    if (!IsExtSuperblock(p, n))
        return ExtSuperblockStatus::notExt;
    sb = {};
    sb.nCompat = ReadLe32(p + kSbFeatureCompat);
    sb.nIncompat = ReadLe32(p + kSbFeatureIncompat);
    sb.nRoCompat = ReadLe32(p + kSbFeatureRoCompat);
    const std::uint32_t nRevision = ReadLe32(p + kSbRevLevel);
    if (nRevision == 0)
        sb.nCompat = sb.nIncompat = sb.nRoCompat = 0; // the first revision had no features
    else if (nRevision != 1)
        return ExtSuperblockStatus::unknownFeature;
    if (sb.nIncompat & ~ExtIncompat::Known)
        return ExtSuperblockStatus::unknownFeature;

    sb.bMetadataCsum = (sb.nRoCompat & ExtRoCompat::MetadataCsum) != 0;
    sb.bGdtCsum = !sb.bMetadataCsum && (sb.nRoCompat & ExtRoCompat::GdtCsum) != 0;
    if (sb.bMetadataCsum && (p[kSbChecksumType] != kCsumTypeCrc32c ||
                             ExtCrc32c(~0u, p, kSbChecksum) != ReadLe32(p + kSbChecksum)))
        return ExtSuperblockStatus::damaged;

    const std::uint32_t nLogBlock = ReadLe32(p + kSbLogBlockSize);
    if (nLogBlock > kMaxLogBlockSize)
        return ExtSuperblockStatus::damaged;
    sb.nBlockSize = 1024u << nLogBlock;
    sb.nBlocksCount = ReadLe32(p + kSbBlocksCountLo);
    if (sb.Has(ExtIncompat::Bit64))
        sb.nBlocksCount |= static_cast<std::uint64_t>(ReadLe32(p + kSbBlocksCountHi)) << 32;
    sb.nInodesCount = ReadLe32(p + kSbInodesCount);
    sb.nFirstDataBlock = ReadLe32(p + kSbFirstDataBlock);
    sb.nBlocksPerGroup = ReadLe32(p + kSbBlocksPerGroup);
    sb.nInodesPerGroup = ReadLe32(p + kSbInodesPerGroup);
    if (nRevision == 0) {
        sb.nFirstIno = kGoodOldFirstIno;
        sb.nInodeSize = kExtGoodOldInodeSize;
    } else {
        sb.nFirstIno = ReadLe32(p + kSbFirstIno);
        sb.nInodeSize = ReadLe16(p + kSbInodeSize);
    }
    if (sb.nBlocksCount > kMaxVolumeBytes / sb.nBlockSize ||
        sb.nFirstDataBlock >= sb.nBlocksCount || sb.nFirstDataBlock > 1 ||
        sb.nBlocksPerGroup == 0 || sb.nInodesPerGroup == 0 ||
        sb.nInodesPerGroup > 8ull * sb.nBlockSize || !std::has_single_bit(sb.nInodeSize) ||
        sb.nInodeSize < kExtGoodOldInodeSize || sb.nInodeSize > sb.nBlockSize ||
        sb.nFirstIno < kGoodOldFirstIno || sb.nFirstIno > sb.nInodesCount)
        return ExtSuperblockStatus::damaged;
    const std::uint64_t nGroups =
        (sb.nBlocksCount - sb.nFirstDataBlock + sb.nBlocksPerGroup - 1) / sb.nBlocksPerGroup;
    if (nGroups > UINT32_MAX || nGroups * sb.nInodesPerGroup != sb.nInodesCount)
        return ExtSuperblockStatus::damaged;
    sb.nGroupCount = static_cast<std::uint32_t>(nGroups);

    if (sb.Has(ExtIncompat::Bit64)) {
        sb.nDescSize = ReadLe16(p + kSbDescSize);
        if (sb.nDescSize < kMinDescSize64 || sb.nDescSize > kMaxDescSize ||
            !std::has_single_bit(sb.nDescSize))
            return ExtSuperblockStatus::damaged;
    } else {
        sb.nDescSize = kMinDescSize;
    }
    sb.nFirstMetaBg = ReadLe32(p + kSbFirstMetaBg);
    sb.arrBackupBgs[0] = ReadLe32(p + kSbBackupBgs);
    sb.arrBackupBgs[1] = ReadLe32(p + kSbBackupBgs + 4);
    std::memcpy(sb.uuid, p + kSbUuid, sizeof sb.uuid);
    sb.nCsumSeed = sb.Has(ExtIncompat::CsumSeed) ? ReadLe32(p + kSbChecksumSeed)
                                                 : ExtCrc32c(~0u, sb.uuid, sizeof sb.uuid);
    // Inodes written by other systems carry no checksum the kernel checks.
    if (ReadLe32(p + kSbCreatorOs) != kCreatorLinux)
        sb.bMetadataCsum = false;
    return ExtSuperblockStatus::ok;
}

// ---- Group descriptors ----------------------------------------------------------------------

namespace {

bool IsPowerOf(std::uint32_t n, std::uint32_t nBase) {
    while (n % nBase == 0 && n > 1)
        n /= nBase;
    return n == 1;
}

} // namespace

bool ExtGroupHasSuper(const ExtSuperblock& sb, std::uint32_t nGroup) {
    if (nGroup == 0)
        return true;
    if (sb.nCompat & ExtCompat::SparseSuper2)
        return nGroup == sb.arrBackupBgs[0] || nGroup == sb.arrBackupBgs[1];
    if (nGroup <= 1 || !(sb.nRoCompat & ExtRoCompat::SparseSuper))
        return true;
    if (nGroup % 2 == 0)
        return false;
    return IsPowerOf(nGroup, 3) || IsPowerOf(nGroup, 5) || IsPowerOf(nGroup, 7);
}

std::uint64_t ExtDescriptorBlock(const ExtSuperblock& sb, std::uint32_t nGroup) {
    const std::uint32_t nPerBlock = sb.nBlockSize / sb.nDescSize;
    const std::uint32_t nBlock = nGroup / nPerBlock;
    // They follow the superblock's block (1 with blocks of 1 KiB, also where bigalloc
    // makes the first data block 0).
    if (!sb.Has(ExtIncompat::MetaBg) || nBlock < sb.nFirstMetaBg)
        return kExtSuperblockOffset / sb.nBlockSize + 1 + nBlock;
    // Each meta group keeps its descriptors in its own first group, after the copy of
    // the superblock there is one.
    const std::uint64_t nFirstGroup = static_cast<std::uint64_t>(nBlock) * nPerBlock;
    std::uint64_t nSkip = ExtGroupHasSuper(sb, static_cast<std::uint32_t>(nFirstGroup)) ? 1 : 0;
    if (sb.nBlockSize == 1024 && nBlock == 0 && sb.nFirstDataBlock == 0)
        ++nSkip;
    return sb.nFirstDataBlock + nFirstGroup * sb.nBlocksPerGroup + nSkip;
}

std::size_t ExtDescriptorOffset(const ExtSuperblock& sb, std::uint32_t nGroup) {
    const std::uint32_t nPerBlock = sb.nBlockSize / sb.nDescSize;
    return static_cast<std::size_t>(nGroup % nPerBlock) * sb.nDescSize;
}

bool ParseExtGroupDesc(const std::uint8_t* p, const ExtSuperblock& sb, std::uint32_t nGroup,
                       ExtGroupDesc& desc) {
    const bool b64 = sb.Has(ExtIncompat::Bit64) && sb.nDescSize >= kMinDescSize64;
    std::uint8_t group[4];
    WriteLe32(group, nGroup);
    const std::uint16_t nStored = ReadLe16(p + kBgChecksum);
    const std::uint8_t zero[2] = {0, 0};
    if (sb.bMetadataCsum) {
        std::uint32_t c = ExtCrc32c(sb.nCsumSeed, group, sizeof group);
        c = ExtCrc32c(c, p, kBgChecksum);
        c = ExtCrc32c(c, zero, sizeof zero);
        c = ExtCrc32c(c, p + kBgChecksum + 2, sb.nDescSize - kBgChecksum - 2);
        if ((c & 0xFFFF) != nStored)
            return false;
    } else if (sb.bGdtCsum) {
        std::uint16_t c = ExtCrc16(0xFFFF, sb.uuid, sizeof sb.uuid);
        c = ExtCrc16(c, group, sizeof group);
        c = ExtCrc16(c, p, kBgChecksum);
        if (b64)
            c = ExtCrc16(c, p + kBgChecksum + 2, sb.nDescSize - kBgChecksum - 2);
        if (c != nStored)
            return false;
    }

    desc.nInodeTable = ReadLe32(p + kBgInodeTableLo);
    std::uint32_t nUnused = ReadLe16(p + kBgItableUnusedLo);
    desc.nFolders = ReadLe16(p + kBgUsedDirsLo);
    if (b64) {
        desc.nFolders |= static_cast<std::uint32_t>(ReadLe16(p + kBgUsedDirsHi)) << 16;
        desc.nInodeTable |= static_cast<std::uint64_t>(ReadLe32(p + kBgInodeTableHi)) << 32;
        nUnused |= static_cast<std::uint32_t>(ReadLe16(p + kBgItableUnusedHi)) << 16;
    }
    const std::uint64_t nTableBlocks =
        (static_cast<std::uint64_t>(sb.nInodesPerGroup) * sb.nInodeSize + sb.nBlockSize - 1) /
        sb.nBlockSize;
    if (desc.nInodeTable <= sb.nFirstDataBlock || desc.nInodeTable >= sb.nBlocksCount ||
        nTableBlocks > sb.nBlocksCount - desc.nInodeTable)
        return false;
    desc.nUsedInodes = sb.nInodesPerGroup;
    if (sb.bMetadataCsum || sb.bGdtCsum) {
        if (ReadLe16(p + kBgFlags) & kExtBgInodeUninit)
            desc.nUsedInodes = 0;
        else if (nUnused > sb.nInodesPerGroup)
            return false;
        else
            desc.nUsedInodes = sb.nInodesPerGroup - nUnused;
    }
    return true;
}

// ---- Inodes ---------------------------------------------------------------------------------

std::uint32_t ExtInodeSeed(const ExtSuperblock& sb, std::uint32_t nIno, std::uint32_t nGeneration) {
    return Crc32cLe(Crc32cLe(sb.nCsumSeed, nIno), nGeneration);
}

ExtInodeStatus ParseExtInode(const std::uint8_t* p, std::uint32_t nIno, const ExtSuperblock& sb,
                             ExtInode& inode) {
    inode.nMode = ReadLe16(p + kInMode);
    inode.nLinks = ReadLe16(p + kInLinksCount);
    if (inode.nMode == 0 || inode.nLinks == 0)
        return ExtInodeStatus::unused;
    const std::size_t nSize = sb.nInodeSize;
    std::size_t nExtraEnd = kExtGoodOldInodeSize;
    if (nSize > kExtGoodOldInodeSize) {
        const std::size_t nExtra = ReadLe16(p + kInExtraIsize);
        if (nExtra > nSize - kExtGoodOldInodeSize || nExtra % 4 != 0)
            return ExtInodeStatus::damaged;
        nExtraEnd += nExtra;
    }
    inode.nFlags = ReadLe32(p + kInFlags);
    inode.nGeneration = ReadLe32(p + kInGeneration);
    inode.pBlock = p + kInBlock;
    inode.pRaw = p;
    inode.nInodeSize = nSize;
    inode.nAttrStart = nExtraEnd;

    if (sb.bMetadataCsum) {
        const bool bHighFits = nExtraEnd >= kInChecksumHi + 2;
        const std::uint8_t zero[2] = {0, 0};
        std::uint32_t c = ExtCrc32c(ExtInodeSeed(sb, nIno, inode.nGeneration), p, kInChecksumLo);
        c = ExtCrc32c(c, zero, sizeof zero);
        c = ExtCrc32c(c, p + kInChecksumLo + 2, kExtGoodOldInodeSize - kInChecksumLo - 2);
        if (nSize > kExtGoodOldInodeSize) {
            c = ExtCrc32c(c, p + kExtGoodOldInodeSize, kInChecksumHi - kExtGoodOldInodeSize);
            std::size_t nRest = kInChecksumHi;
            if (bHighFits) {
                c = ExtCrc32c(c, zero, sizeof zero);
                nRest += 2;
            }
            c = ExtCrc32c(c, p + nRest, nSize - nRest);
        }
        std::uint32_t nStored = ReadLe16(p + kInChecksumLo);
        if (bHighFits)
            nStored |= static_cast<std::uint32_t>(ReadLe16(p + kInChecksumHi)) << 16;
        else
            c &= 0xFFFF;
        if (c != nStored)
            return ExtInodeStatus::damaged;
    }

    inode.nSize = ReadLe32(p + kInSizeLo);
    if (inode.IsRegular() || (inode.IsDirectory() && sb.Has(ExtIncompat::LargeDir)))
        inode.nSize |= static_cast<std::uint64_t>(ReadLe32(p + kInSizeHigh)) << 32;
    inode.nMtime = static_cast<std::int32_t>(ReadLe32(p + kInMtime));
    inode.nMtimeNs = 0;
    if (nExtraEnd >= kInMtimeExtra + 4) {
        const std::uint32_t nExtra = ReadLe32(p + kInMtimeExtra);
        inode.nMtime += static_cast<std::int64_t>(nExtra & kEpochMask) << 32;
        inode.nMtimeNs = nExtra >> 2;
        if (inode.nMtimeNs >= kNanosecondsPerSecond)
            return ExtInodeStatus::damaged;
    }
    return ExtInodeStatus::ok;
}

bool FindExtInlineData(const ExtInode& inode, const std::uint8_t*& pValue, std::size_t& nValue) {
    if (inode.nAttrStart + kXattrHeaderSize > inode.nInodeSize)
        return false;
    const std::uint8_t* pRegion = inode.pRaw + inode.nAttrStart;
    if (ReadLe32(pRegion) != kXattrMagic)
        return false;
    const std::uint8_t* pFirst = pRegion + kXattrHeaderSize;
    const std::size_t nRoom = inode.nInodeSize - inode.nAttrStart - kXattrHeaderSize;
    std::size_t nPos = 0;
    while (nRoom - nPos >= 4 && ReadLe32(pFirst + nPos) != 0) {
        if (nRoom - nPos < kXattrEntrySize)
            return false;
        const std::uint8_t* e = pFirst + nPos;
        const std::size_t nNameLength = e[kXaNameLength];
        const std::size_t nEntry = (kXattrEntrySize + nNameLength + 3) & ~std::size_t{3};
        if (nEntry > nRoom - nPos)
            return false;
        if (e[kXaNameIndex] == kXattrIndexSystem &&
            std::string_view(reinterpret_cast<const char*>(e + kXattrEntrySize), nNameLength) ==
                kInlineDataName) {
            const std::size_t nOffset = ReadLe16(e + kXaValueOffset);
            const std::size_t nSize = ReadLe32(e + kXaValueSize);
            if (ReadLe32(e + kXaValueInode) != 0 || nOffset > nRoom || nSize > nRoom - nOffset)
                return false;
            pValue = pFirst + nOffset;
            nValue = nSize;
            return true;
        }
        nPos += nEntry;
    }
    return false;
}

// ---- Extent trees ---------------------------------------------------------------------------

bool ReadExtExtentNode(const std::uint8_t* p, std::size_t n, ExtExtentNode& node) {
    if (n < kExtExtentHeaderSize || ReadLe16(p) != kExtentMagic)
        return false;
    node.nEntries = ReadLe16(p + kEhEntries);
    node.nMax = ReadLe16(p + kEhMax);
    node.nDepth = ReadLe16(p + kEhDepth);
    node.p = p;
    return node.nEntries <= node.nMax && node.nDepth <= kExtMaxExtentDepth &&
           node.nMax <= (n - kExtExtentHeaderSize) / kExtExtentEntrySize;
}

ExtExtent GetExtExtent(const ExtExtentNode& node, std::size_t i) {
    const std::uint8_t* e = node.p + kExtExtentHeaderSize + i * kExtExtentEntrySize;
    ExtExtent extent;
    extent.nLogical = ReadLe32(e + kEeBlock);
    const std::uint16_t nLength = ReadLe16(e + kEeLen);
    extent.bUnwritten = nLength > kMaxInitializedLength;
    extent.nLength = extent.bUnwritten ? nLength - kMaxInitializedLength : nLength;
    extent.nPhysical =
        ReadLe32(e + kEeStartLo) | static_cast<std::uint64_t>(ReadLe16(e + kEeStartHi)) << 32;
    return extent;
}

ExtExtentIndex GetExtExtentIndex(const ExtExtentNode& node, std::size_t i) {
    const std::uint8_t* e = node.p + kExtExtentHeaderSize + i * kExtExtentEntrySize;
    ExtExtentIndex index;
    index.nLogical = ReadLe32(e + kEiBlock);
    index.nChild = ReadLe32(e + kEiLeafLo) | static_cast<std::uint64_t>(ReadLe16(e + kEiLeafHi))
                                                 << 32;
    return index;
}

bool VerifyExtExtentBlock(const std::uint8_t* p, std::size_t nBlockSize, const ExtExtentNode& node,
                          std::uint32_t nInodeSeed) {
    const std::size_t nTail = kExtExtentHeaderSize + node.nMax * kExtExtentEntrySize;
    if (nTail > nBlockSize || nBlockSize - nTail < 4)
        return false;
    return ExtCrc32c(nInodeSeed, p, nTail) == ReadLe32(p + nTail);
}

// ---- Folders --------------------------------------------------------------------------------

CExtDirWalk::CExtDirWalk(const std::uint8_t* p, std::size_t n, std::uint32_t nBlockSize,
                         std::uint32_t nInodesCount)
    : m_p(p), m_n(n), m_nBlockSize(nBlockSize), m_nInodesCount(nInodesCount) {}

bool CExtDirWalk::Next(ExtDirEntry& entry) {
    while (m_nPos < m_n && !m_bDamaged) {
        const std::size_t nLeft = m_n - m_nPos;
        const std::uint8_t* e = m_p + m_nPos;
        if (nLeft < kDeName) {
            m_bDamaged = true;
            break;
        }
        const std::size_t nRecLen = DecodeRecLen(ReadLe16(e + kDeRecLen), m_nBlockSize);
        const std::size_t nNameLen = e[kDeNameLen];
        if (nRecLen < kDeName || nRecLen % 4 != 0 || nRecLen > nLeft ||
            nNameLen > nRecLen - kDeName) {
            m_bDamaged = true;
            break;
        }
        m_nPos += nRecLen;
        const std::uint32_t nInode = ReadLe32(e + kDeInode);
        if (nInode == 0)
            continue; // an unused entry (or the checksum tail)
        if (nInode > m_nInodesCount || nNameLen == 0) {
            m_bDamaged = true;
            break;
        }
        entry.nInode = nInode;
        entry.nFileType = e[kDeFileType];
        entry.strName = std::string_view(reinterpret_cast<const char*>(e + kDeName), nNameLen);
        return true;
    }
    return false;
}

bool HasExtDirTail(const std::uint8_t* p, std::size_t nBlockSize) {
    if (nBlockSize < kExtDirTailSize)
        return false;
    const std::uint8_t* t = p + nBlockSize - kExtDirTailSize;
    return ReadLe32(t + kDeInode) == 0 && ReadLe16(t + kDeRecLen) == kExtDirTailSize &&
           t[kDeNameLen] == 0 && t[kDeFileType] == kDirTailFileType;
}

bool VerifyExtDirTail(const std::uint8_t* p, std::size_t nBlockSize, std::uint32_t nInodeSeed) {
    return HasExtDirTail(p, nBlockSize) &&
           ExtCrc32c(nInodeSeed, p, nBlockSize - kExtDirTailSize) == ReadLe32(p + nBlockSize - 4);
}
