// Input byte 0 chooses the mode. Below 0x40: the rest is one folder block (of 1, 2, 4
// or 64 KiB by bits 0..1), walked entry by entry and checked for its tail. From 0x40:
// the rest is one inode (with checksums or without by bit 0), parsed with its inline
// data and its extent node. From 0x80 on: the rest is a whole volume, opened and read
// as a scan reads it, with the tree it gives checked.
#include "platform/ExtFormat.h"
#include "platform/ExtVolume.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t kInodesCount = 1u << 20;

void WalkBlock(std::uint32_t nBlockSize, const std::uint8_t* p, std::size_t n) {
    std::vector<std::uint8_t> block(nBlockSize, 0);
    std::memcpy(block.data(), p, std::min<std::size_t>(n, nBlockSize));
    CExtDirWalk walk(block.data(), block.size(), nBlockSize, kInodesCount);
    ExtDirEntry e;
    std::size_t nEntries = 0;
    while (walk.Next(e)) {
        // Every entry is a name inside the block, of an inode the volume can have.
        const auto* pName = reinterpret_cast<const std::uint8_t*>(e.strName.data());
        if (e.nInode == 0 || e.nInode > kInodesCount || e.strName.empty() || pName < block.data() ||
            pName + e.strName.size() > block.data() + block.size() || ++nEntries > nBlockSize / 8)
            __builtin_trap();
    }
    VerifyExtDirTail(block.data(), block.size(), 0x12345678);
}

void ParseInode(bool bChecksums, const std::uint8_t* p, std::size_t n) {
    ExtSuperblock sb;
    sb.nInodeSize = 256;
    sb.nBlockSize = 4096;
    sb.nIncompat = ExtIncompat::LargeDir | ExtIncompat::InlineData;
    sb.bMetadataCsum = bChecksums;
    std::vector<std::uint8_t> raw(sb.nInodeSize, 0);
    std::memcpy(raw.data(), p, std::min<std::size_t>(n, raw.size()));
    ExtInode inode;
    if (ParseExtInode(raw.data(), 12, sb, inode) != ExtInodeStatus::ok)
        return;
    if (inode.nMtimeNs >= 1'000'000'000)
        __builtin_trap();
    const std::uint8_t* pValue = nullptr;
    std::size_t nValue = 0;
    if (FindExtInlineData(inode, pValue, nValue) &&
        (pValue < raw.data() || pValue + nValue > raw.data() + raw.size()))
        __builtin_trap();
    ExtExtentNode node;
    if (ReadExtExtentNode(inode.pBlock, kExtBlockArraySize, node)) {
        for (std::size_t i = 0; i < node.nEntries; ++i) {
            if (node.nDepth == 0)
                GetExtExtent(node, i);
            else
                GetExtExtentIndex(node, i);
        }
    }
}

void ReadVolume(const std::uint8_t* p, std::size_t n) {
    CExtVolume volume;
    if (volume.Open(std::make_unique<CMemoryBlockReader>(std::vector<std::uint8_t>(p, p + n))) != 0)
        return;
    ExtReadHooks hooks;
    int nAsked = 0;
    // A pass that keeps asking to read has lost its way: no volume this small needs it.
    hooks.mayRead = [&nAsked] {
        if (++nAsked > 100'000)
            __builtin_trap();
        return true;
    };
    hooks.groupOf = [](std::string_view s) { return s.size() % 3 == 0 ? 1 : -1; };
    if (volume.Read(hooks) != 0)
        return;
    const auto folders = volume.GetFolders();
    for (const CExtVolume::Folder& f : folders) {
        if (f.nParent != CExtVolume::kNone && f.nParent >= folders.size())
            __builtin_trap();
        if (f.nParent != CExtVolume::kNone &&
            volume.Name(f.nName, f.nNameLength).size() != f.nNameLength)
            __builtin_trap();
    }
    for (const CExtVolume::File& f : volume.GetFiles()) {
        const CExtVolume::Facts facts = volume.GetFacts(f);
        if (f.nFolder >= folders.size() || f.nGroup != 1 ||
            volume.Name(f.nName, f.nNameLength).size() != f.nNameLength ||
            facts.nSize > static_cast<std::uint64_t>(INT64_MAX) || facts.nMtimeNs >= 1'000'000'000)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    if (nSize < 1)
        return 0;
    if (pData[0] & 0x80) {
        ReadVolume(pData + 1, nSize - 1);
    } else if (pData[0] & 0x40) {
        ParseInode(pData[0] & 1, pData + 1, nSize - 1);
    } else {
        static const std::uint32_t kSizes[] = {1024, 2048, 4096, 65536};
        WalkBlock(kSizes[pData[0] & 3], pData + 1, nSize - 1);
    }
    return 0;
}
