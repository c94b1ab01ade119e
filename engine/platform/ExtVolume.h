// Reads the tables of an ext2/3/4 volume, from the block device or image file behind
// it, and rebuilds its folder tree without asking the kernel for a single folder: one
// pass over the inode tables in long sequential reads, then the blocks of every folder,
// sorted by their place on the disk, with several reads in flight. Reads only, ever.
//
// Memory, for a volume of N used inodes: 24 bytes for each regular file and folder
// among them; for each folder another 24 bytes, 16 for its name's entry while the tree
// is built, 16 for each of its blocks while they are read, and its name; for each file
// whose name is kept (a group's), 16 bytes and its name. The tables whose size cannot
// be known ahead (kept files, names, folder blocks) may hold up to twice that while they
// grow. Inodes never used, and inodes of other kinds (links, devices), cost nothing.
#pragma once

#include "BlockReader.h"
#include "ExtFormat.h"
#include "Types.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Why a folder, or the whole volume, must be walked rather than read from its table.
enum class ExtDoubt : std::uint8_t {
    none,
    encrypted,  // its names on the disk are ciphertext
    casefolded, // its names match in any letter case where the scan's folders do not
    damaged,    // its table does not hold together, or fails its checksums
    // Of a whole volume only:
    unsupported, // it uses a feature this reader does not know
    unreadable,  // its device cannot be opened or read
};

const char* ExtDoubtText(ExtDoubt doubt);

// What the pass asks of its caller.
struct ExtReadHooks {
    // Called before every read from the device, and before each long stretch of work:
    // may block (while the scan is paused); false ends the pass (a stop).
    std::function<bool()> mayRead;
    // The group under which a regular file of this name is kept, or -1 to keep no trace
    // of it.
    std::function<int(std::string_view strName)> groupOf;
};

class CExtVolume {
public:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    struct Folder {
        std::uint32_t nIno = 0;
        std::uint32_t nGeneration = 0;
        std::uint32_t nParent = kNone; // folder index; kNone for the root and the unreached
        std::uint32_t nName = 0;       // in the name store
        std::uint16_t nNameLength = 0;
        ExtDoubt doubt = ExtDoubt::none;
        std::uint8_t nFlags = 0;   // kFolder... below
        std::uint32_t nDotDot = 0; // the parent its own ".." entry names
    };
    static constexpr std::uint8_t kFolderCasefold = 0x1;
    static constexpr std::uint8_t kFolderIndexed = 0x2;

    struct File {
        std::uint32_t nFolder = 0;
        std::uint32_t nName = 0;
        std::uint32_t nFact = 0;
        std::uint16_t nNameLength = 0;
        std::uint8_t nGroup = 0;
    };

    // What the table says of a regular file, as the kernel shows it through stat.
    struct Facts {
        std::uint32_t nIno = 0;
        std::uint64_t nSize = 0;
        std::int64_t nMtime = 0;
        std::uint32_t nMtimeNs = 0;
        bool bSeveralNames = false;
    };

    CExtVolume();
    ~CExtVolume();
    CExtVolume(const CExtVolume&) = delete;
    CExtVolume& operator=(const CExtVolume&) = delete;

    // Reads and checks the superblock and every group descriptor. EMEDIUMTYPE: no
    // ext2/3/4 volume; ENOTSUP: a feature this reader does not know; EUCLEAN: damaged
    // (GetWhy says where); or the error of a failed read.
    DWORD Open(std::unique_ptr<IBlockReader> pReader);
    bool IsOpen() const { return m_pReader != nullptr; }
    void Close();
    const ExtSuperblock& GetSuperblock() const { return m_sb; }
    const std::string& GetWhy() const { return m_strWhy; }

    // The pass. 0 when the tree is built (folders that could not be read carry their
    // doubt); ECANCELED when mayRead ended it; EUCLEAN when the root folder cannot be
    // read; or the error of a failed read.
    DWORD Read(const ExtReadHooks& hooks);

    // The tree, after Read: the root is folder 0.
    std::span<const Folder> GetFolders() const { return m_arrFolders; }
    std::span<const File> GetFiles() const { return m_arrFiles; }
    std::string_view Name(std::uint32_t nName, std::uint16_t nLength) const {
        return std::string_view(m_strNames).substr(nName, nLength);
    }
    Facts GetFacts(const File& file) const;
    // Bytes held by the tables now (capacities, not sizes), and the most they held
    // during the last pass.
    std::size_t GetMemoryUse() const;
    std::size_t GetPeakMemoryUse() const { return m_nPeakMemory; }
    // Reads done, for tests and benchmarks.
    std::uint64_t GetReadCount() const { return m_nReads; }

private:
    struct Fact;
    struct DirBlock;
    struct Pending;
    struct Naming;
    struct InlineDir;
    struct Range;

    DWORD ReadDescriptors();
    DWORD ReadInodeTables(const ExtReadHooks& hooks);
    void TakeInode(std::uint32_t nIno, const std::uint8_t* p);
    void MapFolder(std::uint32_t nFolder, const ExtInode& inode);
    void AddBlocks(std::uint32_t nFolder, std::uint64_t nPhysical, std::uint64_t nCount);
    void AddExtentNode(std::uint32_t nFolder, const ExtExtentNode& node, std::uint64_t nLimit);
    void AddMapBlock(std::uint32_t nFolder, std::uint32_t nBlock, int nLevel,
                     std::uint64_t nLogical, std::uint64_t nLimit);
    DWORD ResolvePending(const ExtReadHooks& hooks);
    DWORD ReadFolderBlocks(const ExtReadHooks& hooks);
    void TakeEntries(std::uint32_t nFolder, const std::uint8_t* p, std::size_t n,
                     const ExtReadHooks& hooks);
    void LinkFolders();
    void Doubt(std::uint32_t nFolder, ExtDoubt doubt);
    // The fact of an inode; kNone when it is no regular file or folder in use. A miss
    // is read again from the device once when the entry says it should be there.
    std::uint32_t FindFact(std::uint32_t nIno) const;
    std::uint32_t RereadInode(std::uint32_t nFact);
    bool StoreName(std::string_view strName, std::uint32_t& nName);

    // Reads byte ranges (sorted by offset) in long reads, several ahead, and hands each
    // to onRange in order. ECANCELED when mayRead says stop.
    DWORD ReadRanges(std::size_t nCount, const std::function<Range(std::size_t)>& rangeAt,
                     std::uint64_t nGap, const ExtReadHooks& hooks,
                     const std::function<void(const Range&, const std::uint8_t*)>& onRange);
    DWORD ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n);

    std::unique_ptr<IBlockReader> m_pReader;
    ExtSuperblock m_sb;
    std::string m_strWhy;
    std::vector<ExtGroupDesc> m_arrGroups;
    std::uint64_t m_nReads = 0;
    std::size_t m_nPeakMemory = 0;
    void NotePeak() { m_nPeakMemory = std::max(m_nPeakMemory, GetMemoryUse()); }

    std::vector<Fact> m_arrFacts;              // ascending inode numbers
    std::vector<std::uint32_t> m_arrGroupFact; // the first fact of each group, and the end
    std::vector<Folder> m_arrFolders;
    std::vector<File> m_arrFiles;
    std::string m_strNames;
    std::vector<DirBlock> m_arrDirBlocks;
    std::uint64_t m_nDirBlocks = 0; // ever added: no sound volume has more than its blocks
    std::vector<Pending> m_arrPending;
    std::vector<Naming> m_arrNamings;
    std::vector<InlineDir> m_arrInline;
    std::vector<std::uint8_t> m_arrInlineBytes;
    std::vector<std::uint8_t> m_arrBuffer;
    std::vector<std::uint8_t> m_arrScratch;
};
