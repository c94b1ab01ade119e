// Synthetic ext2/3/4 volumes in memory: a superblock, group descriptors, inode tables
// and folder blocks laid out field by field, so that tests and fuzz seeds can hold
// exactly the structures (sound or broken) they are about, and volumes of a million
// inodes cost no more than their tables. Real volumes made by mkfs.ext4 are tested
// beside these (ExtImageTest.cpp).
#pragma once

#include "platform/BlockReader.h"
#include "platform/ExtFormat.h"
#include "platform/LittleEndian.h"
#include "platform/VolumeSource.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ext_test {

// Bytes of a volume, kept block by block where something was written; zeros elsewhere.
class CSparseImage {
public:
    CSparseImage(std::uint32_t nBlockSize, std::uint64_t nBlocks)
        : m_nBlockSize(nBlockSize), m_nBlocks(nBlocks), m_blocks(nBlocks) {}
    // A copy to damage, the original left sound.
    CSparseImage(const CSparseImage& o)
        : m_nBlockSize(o.m_nBlockSize), m_nBlocks(o.m_nBlocks), m_blocks(o.m_nBlocks) {
        for (std::uint64_t i = 0; i < m_nBlocks; ++i) {
            if (o.m_blocks[i]) {
                m_blocks[i] = std::make_unique<std::uint8_t[]>(m_nBlockSize);
                std::memcpy(m_blocks[i].get(), o.m_blocks[i].get(), m_nBlockSize);
            }
        }
    }
    CSparseImage& operator=(const CSparseImage&) = delete;

    std::uint32_t BlockSize() const { return m_nBlockSize; }
    std::uint64_t Size() const { return m_nBlocks * m_nBlockSize; }

    void Write(std::uint64_t nOffset, const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        while (n > 0) {
            std::uint8_t* pBlock = Block(nOffset / m_nBlockSize);
            const std::size_t nAt = nOffset % m_nBlockSize;
            const std::size_t nPiece = std::min<std::size_t>(n, m_nBlockSize - nAt);
            std::memcpy(pBlock + nAt, b, nPiece);
            b += nPiece;
            nOffset += nPiece;
            n -= nPiece;
        }
    }
    void Read(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) const {
        while (n > 0) {
            const std::size_t nAt = nOffset % m_nBlockSize;
            const std::size_t nPiece = std::min<std::size_t>(n, m_nBlockSize - nAt);
            const std::uint64_t nBlock = nOffset / m_nBlockSize;
            if (nBlock >= m_nBlocks || !m_blocks[nBlock])
                std::memset(p, 0, nPiece);
            else
                std::memcpy(p, m_blocks[nBlock].get() + nAt, nPiece);
            p += nPiece;
            nOffset += nPiece;
            n -= nPiece;
        }
    }
    void Put(std::uint64_t nOffset, std::uint64_t n, int nBytes) {
        std::uint8_t b[8];
        for (int i = 0; i < nBytes; ++i)
            b[i] = static_cast<std::uint8_t>(n >> (8 * i));
        Write(nOffset, b, static_cast<std::size_t>(nBytes));
    }
    std::uint64_t Get(std::uint64_t nOffset, int nBytes) const {
        std::uint8_t b[8] = {};
        Read(nOffset, b, static_cast<std::size_t>(nBytes));
        std::uint64_t n = 0;
        for (int i = nBytes - 1; i >= 0; --i)
            n = n << 8 | b[i];
        return n;
    }
    // All of it, for a fuzz seed or an image file.
    std::vector<std::uint8_t> Flat() const {
        std::vector<std::uint8_t> v(Size());
        for (std::uint64_t i = 0; i < m_nBlocks; ++i) {
            if (m_blocks[i])
                std::memcpy(v.data() + i * m_nBlockSize, m_blocks[i].get(), m_nBlockSize);
        }
        return v;
    }

private:
    std::uint8_t* Block(std::uint64_t n) {
        if (n >= m_nBlocks)
            throw std::out_of_range("write past the end of a test volume");
        if (!m_blocks[n])
            m_blocks[n] = std::make_unique<std::uint8_t[]>(m_nBlockSize); // zeroed
        return m_blocks[n].get();
    }

    std::uint32_t m_nBlockSize;
    std::uint64_t m_nBlocks;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_blocks;
};

// A reader of a test image that stays the test's to patch.
class CSparseReader final : public IBlockReader {
public:
    explicit CSparseReader(std::shared_ptr<const CSparseImage> p) : m_p(std::move(p)) {}
    DWORD ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) override {
        ++m_nReads;
        m_p->Read(nOffset, p, n);
        return 0;
    }
    std::uint64_t GetSize() const override { return m_p->Size(); }
    std::uint64_t m_nReads = 0;

private:
    std::shared_ptr<const CSparseImage> m_p;
};

// A volume opener that hands out a test image, whatever the mount point.
class CImageOpener final : public IVolumeOpener {
public:
    explicit CImageOpener(std::shared_ptr<const CSparseImage> p, DWORD dwError = 0)
        : m_p(std::move(p)), m_dwError(dwError) {}
    DWORD Open(const std::string& strMountPoint,
               std::unique_ptr<IBlockReader>& pReader) const override {
        m_arrOpened.push_back(strMountPoint);
        if (m_dwError != 0)
            return m_dwError;
        pReader = std::make_unique<CSparseReader>(m_p);
        return 0;
    }
    mutable std::vector<std::string> m_arrOpened;

private:
    std::shared_ptr<const CSparseImage> m_p;
    DWORD m_dwError;
};

struct Options {
    std::uint32_t nBlockSize = 4096;
    std::uint32_t nInodeSize = 256;
    std::uint32_t nInodesPerGroup = 64;
    bool b64Bit = false;
    bool bMetadataCsum = true;
    bool bGdtCsum = false; // the older descriptor checksum, without metadata_csum
    bool bExtents = true;
    bool bFileType = true;
    std::uint32_t nExtraIncompat = 0;
    std::uint32_t nBlocksPerGroup = 0; // 0: as many as a block's bitmap counts (8 a byte)
    // Inodes that look like files, left in the unused tail of every group's table, as a
    // table never initialised may hold.
    bool bGarbageInTail = true;
};

inline constexpr std::uint16_t kModeFile = 0x81A4;      // regular, 0644
inline constexpr std::uint16_t kModeDirectory = 0x41ED; // 0755
inline constexpr std::uint16_t kModeSymlink = 0xA1FF;
inline constexpr std::uint8_t kTypeFile = 1, kTypeDir = 2, kTypeSymlink = 7;

// Flags of a folder beyond those of its inode: its blocks found through an index node
// (an extent tree of depth 1), or its entries kept inside its inode.
inline constexpr std::uint32_t kDeepExtents = 1u << 0;
inline constexpr std::uint32_t kInline = 1u << 1;

class CTestVolume {
public:
    explicit CTestVolume(Options o = {}) : m_o(o) {
        // 1 to 10 are the volume's own; the root is 2.
        m_inodes.resize(11, Inode{0, 0, 0, 0, 0, 0, {}, 0, false});
        m_inodes[kExtRootIno] = {kModeDirectory, 0, 0, 0, 0, 2, {}, 0, true};
    }

    std::uint32_t Root() const { return kExtRootIno; }

    std::uint32_t Dir(std::uint32_t nParent, const std::string& strName,
                      std::uint32_t nInodeFlags = 0, std::uint32_t nTestFlags = 0) {
        const std::uint32_t n =
            NewInode({kModeDirectory, 0, 0, 0, nInodeFlags, 2, {}, nTestFlags, true});
        Entry(nParent, strName, n, kTypeDir);
        m_inodes[n].entries.push_back({"..", nParent, kTypeDir});
        ++m_inodes[nParent].nLinks;
        return n;
    }
    std::uint32_t File(std::uint32_t nParent, const std::string& strName, std::uint64_t nSize = 0,
                       std::int64_t nMtime = 1'600'000'000, std::uint32_t nNs = 0) {
        const std::uint32_t n = NewInode({kModeFile, nSize, nMtime, nNs, 0, 0, {}, 0, true});
        Link(nParent, strName, n);
        return n;
    }
    std::uint32_t Symlink(std::uint32_t nParent, const std::string& strName) {
        const std::uint32_t n = NewInode({kModeSymlink, 4, 0, 0, 0, 1, {}, 0, true});
        Entry(nParent, strName, n, kTypeSymlink);
        return n;
    }
    // Another name of a file.
    void Link(std::uint32_t nParent, const std::string& strName, std::uint32_t nIno) {
        Entry(nParent, strName, nIno, kTypeFile);
        ++m_inodes[nIno].nLinks;
    }
    // An entry as it is, whatever it names (for damage).
    void Entry(std::uint32_t nFolder, const std::string& strName, std::uint32_t nIno,
               std::uint8_t nType) {
        m_inodes[nFolder].entries.push_back({strName, nIno, nType});
    }
    // An inode number that no file has.
    std::uint32_t Unused() { return NewInode({0, 0, 0, 0, 0, 0, {}, 0, false}); }
    // The first inode after the used ones: never initialised, it may hold anything.
    std::uint32_t FirstNeverUsed() const { return static_cast<std::uint32_t>(m_inodes.size()); }

    std::shared_ptr<CSparseImage> Build() {
        const std::uint32_t bs = m_o.nBlockSize;
        const std::uint32_t ipg = m_o.nInodesPerGroup;
        const std::uint32_t fdb = bs == 1024 ? 1 : 0;
        const std::uint32_t nDescSize = m_o.b64Bit ? 64 : 32;
        const auto nUsed = static_cast<std::uint32_t>(m_inodes.size() - 1);
        m_nGroups = std::max<std::uint32_t>(1, (nUsed + ipg - 1) / ipg + 1); // one group unused
        const std::uint32_t nDescBlocks = (m_nGroups * nDescSize + bs - 1) / bs;
        m_nTableBlocks = ipg * m_o.nInodeSize / bs;
        m_nFirstTable = fdb + 1 + nDescBlocks;
        std::uint64_t nNextBlock = m_nFirstTable + std::uint64_t{m_nGroups} * m_nTableBlocks;

        // Folder blocks first: the inodes point at them.
        for (std::uint32_t n = 1; n < m_inodes.size(); ++n) {
            Inode& in = m_inodes[n];
            if (in.nMode != kModeDirectory)
                continue;
            in.entries.insert(in.entries.begin(), {".", n, kTypeDir});
            if (n == kExtRootIno)
                in.entries.insert(in.entries.begin() + 1, {"..", n, kTypeDir});
            if (in.nTestFlags & kInline)
                continue;
            in.nPending = m_pending.size();
            in.arrBlocks = Pack(in.entries, nNextBlock);
            if (!m_o.bExtents && in.arrBlocks.size() > 12)
                in.nIndirect = nNextBlock++;
            if (in.nTestFlags & kDeepExtents)
                in.nLeaf = nNextBlock++;
        }
        const std::uint32_t bpg = m_o.nBlocksPerGroup ? m_o.nBlocksPerGroup : 8 * bs;
        m_nGroups = std::max<std::uint32_t>(
            m_nGroups, static_cast<std::uint32_t>((nNextBlock - fdb + bpg - 1) / bpg));
        // More groups need more descriptor blocks than laid out: grow the estimate.
        if ((m_nGroups * nDescSize + bs - 1) / bs != nDescBlocks)
            throw std::logic_error("test volume too large for its descriptor estimate");
        const std::uint64_t nBlocks = fdb + std::uint64_t{m_nGroups} * bpg;
        m_pImage = std::make_shared<CSparseImage>(bs, nBlocks);
        CSparseImage& img = *m_pImage;

        // Superblock.
        const std::uint64_t S = kExtSuperblockOffset;
        std::uint32_t nIncompat = m_o.nExtraIncompat;
        if (m_o.bFileType)
            nIncompat |= ExtIncompat::FileType;
        if (m_o.bExtents)
            nIncompat |= ExtIncompat::Extents;
        if (m_o.b64Bit)
            nIncompat |= ExtIncompat::Bit64;
        for (const Inode& in : m_inodes) {
            if (in.nTestFlags & kInline)
                nIncompat |= ExtIncompat::InlineData;
        }
        std::uint32_t nRoCompat = ExtRoCompat::SparseSuper;
        if (m_o.bMetadataCsum)
            nRoCompat |= ExtRoCompat::MetadataCsum;
        else if (m_o.bGdtCsum)
            nRoCompat |= ExtRoCompat::GdtCsum;
        img.Put(S + 0x00, std::uint64_t{m_nGroups} * ipg, 4);
        img.Put(S + 0x04, nBlocks, 4);
        img.Put(S + 0x14, fdb, 4);
        img.Put(S + 0x18, bs == 1024 ? 0 : bs == 2048 ? 1 : bs == 4096 ? 2 : 6, 4);
        img.Put(S + 0x20, bpg, 4);
        img.Put(S + 0x24, bpg, 4);
        img.Put(S + 0x28, ipg, 4);
        img.Put(S + 0x38, 0xEF53, 2);
        img.Put(S + 0x4C, 1, 4);
        img.Put(S + 0x54, 11, 4);
        img.Put(S + 0x58, m_o.nInodeSize, 2);
        img.Put(S + 0x5C, 0, 4);
        img.Put(S + 0x60, nIncompat, 4);
        img.Put(S + 0x64, nRoCompat, 4);
        for (int i = 0; i < 16; ++i)
            img.Put(S + 0x68 + i, static_cast<std::uint64_t>(0x40 + i * 7), 1);
        img.Put(S + 0xFE, m_o.b64Bit ? 64 : 0, 2);
        img.Put(S + 0x150, nBlocks >> 32, 4);
        img.Put(S + 0x175, 1, 1);
        Resign();

        // Descriptors and inode tables.
        for (std::uint32_t g = 0; g < m_nGroups; ++g) {
            const std::uint64_t D = std::uint64_t{fdb + 1} * bs + std::uint64_t{g} * nDescSize;
            const std::uint64_t nTable = m_nFirstTable + std::uint64_t{g} * m_nTableBlocks;
            img.Put(D + 0x08, nTable, 4);
            if (m_o.b64Bit)
                img.Put(D + 0x28, nTable >> 32, 4);
            std::uint32_t nHighest = 0, nFolders = 0;
            for (std::uint32_t i = 0; i < ipg; ++i) {
                const std::uint32_t n = g * ipg + i + 1;
                if (n < m_inodes.size() && m_inodes[n].bUsed) {
                    nHighest = i + 1;
                    nFolders += m_inodes[n].nMode == kModeDirectory;
                }
            }
            img.Put(D + 0x10, nFolders & 0xFFFF, 2);
            if (m_o.b64Bit)
                img.Put(D + 0x30, nFolders >> 16, 2);
            if (nHighest == 0 && (m_o.bMetadataCsum || m_o.bGdtCsum))
                img.Put(D + 0x12, kExtBgInodeUninit, 2);
            img.Put(D + 0x1C, (ipg - nHighest) & 0xFFFF, 2);
            if (m_o.b64Bit)
                img.Put(D + 0x32, (ipg - nHighest) >> 16, 2);
            if (m_o.bGarbageInTail && (m_o.bMetadataCsum || m_o.bGdtCsum)) {
                // Never-initialised inodes past the used ones: they must not become files.
                for (std::uint32_t i = nHighest; i < ipg; i += 3) {
                    const std::uint64_t I = nTable * bs + std::uint64_t{i} * m_o.nInodeSize;
                    img.Put(I + 0x00, kModeFile, 2);
                    img.Put(I + 0x1A, 1, 2);
                    img.Put(I + 0x04, 666, 4);
                }
            }
        }
        SignDescriptors();
        for (std::uint32_t n = 1; n < m_inodes.size(); ++n)
            WriteInode(n);
        return m_pImage;
    }

    std::unique_ptr<IBlockReader> Reader() const {
        return std::make_unique<CSparseReader>(m_pImage);
    }
    CSparseImage& Image() { return *m_pImage; }
    std::shared_ptr<const CSparseImage> ImagePointer() const { return m_pImage; }

    // Where things lie, once built.
    std::uint64_t InodeOffset(std::uint32_t n) const {
        const std::uint32_t g = (n - 1) / m_o.nInodesPerGroup;
        return (m_nFirstTable + std::uint64_t{g} * m_nTableBlocks) * m_o.nBlockSize +
               std::uint64_t{(n - 1) % m_o.nInodesPerGroup} * m_o.nInodeSize;
    }
    std::uint64_t FolderBlock(std::uint32_t n, std::size_t i = 0) const {
        return m_inodes[n].arrBlocks.at(i);
    }
    std::uint64_t LeafBlock(std::uint32_t n) const { return m_inodes[n].nLeaf; }
    // The byte offset of a folder's entry, on the volume.
    std::uint64_t EntryOffset(std::uint32_t nFolder, const std::string& strName) const {
        const Inode& in = m_inodes[nFolder];
        for (std::size_t i = 0; i < in.entries.size(); ++i) {
            if (in.entries[i].strName == strName)
                return in.entryPlaces.at(i);
        }
        throw std::out_of_range("no such entry");
    }
    std::uint64_t DescriptorOffset(std::uint32_t g) const {
        const std::uint32_t bs = m_o.nBlockSize;
        return std::uint64_t{(bs == 1024 ? 1u : 0u) + 1} * bs +
               std::uint64_t{g} * (m_o.b64Bit ? 64 : 32);
    }
    std::uint32_t Groups() const { return m_nGroups; }

    // Checksums again after a test changed what they cover.
    void Resign() {
        if (!m_o.bMetadataCsum)
            return;
        CSparseImage& img = *m_pImage;
        std::uint8_t sb[kExtSuperblockSize];
        img.Read(kExtSuperblockOffset, sb, sizeof sb);
        img.Put(kExtSuperblockOffset + 0x3FC, ExtCrc32c(~0u, sb, 0x3FC), 4);
    }
    void SignDescriptors() {
        CSparseImage& img = *m_pImage;
        const std::size_t nDescSize = m_o.b64Bit ? 64 : 32;
        for (std::uint32_t g = 0; g < m_nGroups; ++g) {
            std::vector<std::uint8_t> d(nDescSize);
            const std::uint64_t D = DescriptorOffset(g);
            img.Put(D + 0x1E, 0, 2);
            img.Read(D, d.data(), d.size());
            std::uint8_t group[4];
            WriteLe32(group, g);
            if (m_o.bMetadataCsum) {
                std::uint32_t c = ExtCrc32c(Seed(), group, 4);
                c = ExtCrc32c(c, d.data(), d.size());
                img.Put(D + 0x1E, c & 0xFFFF, 2);
            } else if (m_o.bGdtCsum) {
                std::uint8_t uuid[16];
                img.Read(kExtSuperblockOffset + 0x68, uuid, 16);
                std::uint16_t c = ExtCrc16(0xFFFF, uuid, 16);
                c = ExtCrc16(c, group, 4);
                c = ExtCrc16(c, d.data(), 0x1E);
                if (nDescSize > 32)
                    c = ExtCrc16(c, d.data() + 0x20, nDescSize - 0x20);
                img.Put(D + 0x1E, c, 2);
            }
        }
    }
    // An inode's checksum again, after a test changed the inode.
    void SignInode(std::uint32_t n) {
        if (!m_o.bMetadataCsum)
            return;
        CSparseImage& img = *m_pImage;
        const std::uint64_t I = InodeOffset(n);
        std::vector<std::uint8_t> raw(m_o.nInodeSize);
        img.Put(I + 0x7C, 0, 2);
        if (m_o.nInodeSize > 128)
            img.Put(I + 0x82, 0, 2);
        img.Read(I, raw.data(), raw.size());
        const std::uint32_t c = ExtCrc32c(InodeSeed(n), raw.data(), raw.size());
        img.Put(I + 0x7C, c & 0xFFFF, 2);
        if (m_o.nInodeSize > 128)
            img.Put(I + 0x82, c >> 16, 2);
    }
    void SignFolderBlock(std::uint32_t nFolder, std::uint64_t nBlock) {
        if (!m_o.bMetadataCsum)
            return;
        const std::uint32_t bs = m_o.nBlockSize;
        std::vector<std::uint8_t> b(bs);
        m_pImage->Read(nBlock * bs, b.data(), bs);
        m_pImage->Put(nBlock * bs + bs - 4, ExtCrc32c(InodeSeed(nFolder), b.data(), bs - 12), 4);
    }

private:
    struct Named {
        std::string strName;
        std::uint32_t nIno;
        std::uint8_t nType;
    };
    struct Inode {
        std::uint16_t nMode;
        std::uint64_t nSize;
        std::int64_t nMtime;
        std::uint32_t nNs;
        std::uint32_t nFlags;
        std::uint16_t nLinks;
        std::vector<Named> entries;
        std::uint32_t nTestFlags;
        bool bUsed;
        std::vector<std::uint64_t> arrBlocks = {};
        std::vector<std::uint64_t> entryPlaces = {};
        std::uint64_t nIndirect = 0;
        std::uint64_t nLeaf = 0;
        std::size_t nPending = 0; // its blocks' layout in m_pending
    };

    std::uint32_t NewInode(Inode in) {
        m_inodes.push_back(std::move(in));
        return static_cast<std::uint32_t>(m_inodes.size() - 1);
    }

    std::uint32_t Seed() const {
        std::uint8_t uuid[16];
        m_pImage->Read(kExtSuperblockOffset + 0x68, uuid, 16);
        return ExtCrc32c(~0u, uuid, 16);
    }
    std::uint32_t InodeSeed(std::uint32_t n) const {
        return ExtInodeSeed(SeedBlock(), n, Generation(n));
    }
    ExtSuperblock SeedBlock() const {
        ExtSuperblock sb;
        sb.nCsumSeed = Seed();
        return sb;
    }
    static std::uint32_t Generation(std::uint32_t n) { return n * 2654435761u; }

    static std::size_t EntrySize(const std::string& s) {
        return (8 + s.size() + 3) & ~std::size_t{3};
    }

    // Lays a folder's entries into blocks from nNext on; the place of each entry is kept.
    std::vector<std::uint64_t> Pack(std::vector<Named>& entries, std::uint64_t& nNext) {
        const std::uint32_t bs = m_o.nBlockSize;
        const std::size_t nRoom = bs - (m_o.bMetadataCsum ? kExtDirTailSize : 0);
        std::vector<std::vector<std::size_t>> blocks(1);
        std::size_t nUsed = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::size_t n = EntrySize(entries[i].strName);
            if (nUsed + n > nRoom) {
                blocks.emplace_back();
                nUsed = 0;
            }
            blocks.back().push_back(i);
            nUsed += n;
        }
        std::vector<std::uint64_t> arrBlocks;
        for (std::size_t b = 0; b < blocks.size(); ++b)
            arrBlocks.push_back(nNext++);
        m_pending.push_back({&entries, blocks, arrBlocks});
        return arrBlocks;
    }

    void WriteEntries(CSparseImage& img, std::uint64_t nAt, std::size_t nRoom,
                      const std::vector<Named>& entries, const std::vector<std::size_t>& which,
                      std::vector<std::uint64_t>* pPlaces) {
        std::size_t nPos = 0;
        for (std::size_t k = 0; k < which.size(); ++k) {
            const Named& e = entries[which[k]];
            const std::size_t n = k + 1 == which.size() ? nRoom - nPos : EntrySize(e.strName);
            img.Put(nAt + nPos, e.nIno, 4);
            img.Put(nAt + nPos + 4, n, 2);
            img.Put(nAt + nPos + 6, e.strName.size(), 1);
            img.Put(nAt + nPos + 7, m_o.bFileType ? e.nType : 0, 1);
            img.Write(nAt + nPos + 8, e.strName.data(), e.strName.size());
            if (pPlaces)
                (*pPlaces)[which[k]] = nAt + nPos;
            nPos += n;
        }
    }

    void WriteInode(std::uint32_t n) {
        Inode& in = m_inodes[n];
        if (!in.bUsed)
            return;
        CSparseImage& img = *m_pImage;
        const std::uint32_t bs = m_o.nBlockSize;
        const std::uint64_t I = InodeOffset(n);
        std::uint32_t nFlags = in.nFlags;
        std::uint64_t nSize = in.nSize;
        const bool bDir = in.nMode == kModeDirectory;
        if (bDir) {
            in.entryPlaces.assign(in.entries.size(), 0);
            if (in.nTestFlags & kInline) {
                nFlags |= ExtInodeFlag::InlineData;
                std::vector<std::size_t> which;
                std::size_t nUsed = 0;
                for (std::size_t i = 0; i < in.entries.size(); ++i) {
                    if (in.entries[i].strName == "." || in.entries[i].strName == "..")
                        continue;
                    which.push_back(i);
                    nUsed += EntrySize(in.entries[i].strName);
                }
                if (nUsed > 56 || m_o.nInodeSize < 256)
                    throw std::logic_error("inline folder too full for the test");
                for (const Named& e : in.entries) {
                    if (e.strName == "..")
                        img.Put(I + 0x28, e.nIno, 4);
                }
                if (which.empty()) {
                    img.Put(I + 0x28 + 4, 0, 4);
                    img.Put(I + 0x28 + 8, 56, 2);
                } else {
                    WriteEntries(img, I + 0x28 + 4, 56, in.entries, which, &in.entryPlaces);
                }
                // The system.data attribute, empty, after the extra fields.
                const std::uint64_t A = I + 128 + 32;
                img.Put(A, 0xEA020000, 4);
                img.Put(A + 4, 4, 1);    // name length
                img.Put(A + 5, 7, 1);    // system
                img.Put(A + 6, 0x40, 2); // value offset, anywhere past the entries
                img.Put(A + 12, 0, 4);   // value size
                img.Write(A + 20, "data", 4);
                nSize = 60;
            } else {
                {
                    const PendingFolder& p = m_pending[in.nPending];
                    for (std::size_t b = 0; b < p.blocks.size(); ++b) {
                        const std::size_t nRoom = bs - (m_o.bMetadataCsum ? kExtDirTailSize : 0);
                        WriteEntries(img, p.arrBlocks[b] * bs, nRoom, in.entries, p.blocks[b],
                                     &in.entryPlaces);
                        if (m_o.bMetadataCsum) {
                            const std::uint64_t T = p.arrBlocks[b] * bs + bs - 12;
                            img.Put(T + 4, 12, 2);
                            img.Put(T + 7, 0xDE, 1);
                            SignFolderBlock(n, p.arrBlocks[b]);
                        }
                    }
                }
                nSize = std::uint64_t{in.arrBlocks.size()} * bs;
                WriteMap(n, I);
                if (m_o.bExtents)
                    nFlags |= ExtInodeFlag::Extents;
            }
        }
        img.Put(I + 0x00, in.nMode, 2);
        img.Put(I + 0x04, nSize, 4);
        img.Put(I + 0x6C, nSize >> 32, 4);
        img.Put(I + 0x10, static_cast<std::uint64_t>(in.nMtime), 4);
        img.Put(I + 0x1A, in.nLinks, 2);
        img.Put(I + 0x20, nFlags, 4);
        img.Put(I + 0x64, Generation(n), 4);
        if (m_o.nInodeSize > 128) {
            img.Put(I + 0x80, 32, 2);
            const std::uint64_t nEpoch =
                static_cast<std::uint64_t>(in.nMtime - static_cast<std::int32_t>(in.nMtime)) >> 32;
            img.Put(I + 0x88, (nEpoch & 3) | std::uint64_t{in.nNs} << 2, 4);
        }
        SignInode(n);
    }

    void WriteMap(std::uint32_t n, std::uint64_t I) {
        Inode& in = m_inodes[n];
        CSparseImage& img = *m_pImage;
        const std::uint32_t bs = m_o.nBlockSize;
        const std::uint64_t B = I + 0x28;
        if (!m_o.bExtents) {
            for (std::size_t i = 0; i < in.arrBlocks.size(); ++i) {
                if (i < 12)
                    img.Put(B + 4 * i, in.arrBlocks[i], 4);
                else
                    img.Put(in.nIndirect * bs + 4 * (i - 12), in.arrBlocks[i], 4);
            }
            if (in.nIndirect)
                img.Put(B + 4 * 12, in.nIndirect, 4);
            return;
        }
        auto header = [&](std::uint64_t at, std::uint16_t nEntries, std::uint16_t nMax,
                          std::uint16_t nDepth) {
            img.Put(at, 0xF30A, 2);
            img.Put(at + 2, nEntries, 2);
            img.Put(at + 4, nMax, 2);
            img.Put(at + 6, nDepth, 2);
        };
        auto extent = [&](std::uint64_t at) {
            img.Put(at, 0, 4);
            img.Put(at + 4, in.arrBlocks.size(), 2);
            img.Put(at + 6, in.arrBlocks[0] >> 32, 2);
            img.Put(at + 8, in.arrBlocks[0], 4);
        };
        if (in.nTestFlags & kDeepExtents) {
            header(B, 1, 4, 1);
            img.Put(B + 12, 0, 4);
            img.Put(B + 16, in.nLeaf, 4);
            img.Put(B + 20, in.nLeaf >> 32, 2);
            const std::uint64_t L = in.nLeaf * bs;
            const auto nMax = static_cast<std::uint16_t>((bs - 12) / 12);
            header(L, 1, nMax, 0);
            extent(L + 12);
            if (m_o.bMetadataCsum) {
                std::vector<std::uint8_t> b(bs);
                img.Read(L, b.data(), bs);
                const std::size_t nTail = 12 + std::size_t{nMax} * 12;
                img.Put(L + nTail, ExtCrc32c(InodeSeed(n), b.data(), nTail), 4);
            }
        } else {
            header(B, 1, 4, 0);
            extent(B + 12);
        }
    }

    struct PendingFolder {
        std::vector<Named>* pEntries;
        std::vector<std::vector<std::size_t>> blocks;
        std::vector<std::uint64_t> arrBlocks;
    };

    Options m_o;
    std::vector<Inode> m_inodes; // by number; 0 unused
    std::uint32_t m_nGroups = 0;
    std::uint32_t m_nTableBlocks = 0;
    std::uint64_t m_nFirstTable = 0;
    std::vector<PendingFolder> m_pending;
    std::shared_ptr<CSparseImage> m_pImage;
};

} // namespace ext_test
