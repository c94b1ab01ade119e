// Input byte 0 chooses the mode. Below 0x80: bits 0..1 pick the record size (512,
// 1024, 4096 bytes) and the rest of the input is one file record, parsed with every
// attribute, name, attribute list and run list in it, and judged as a plain file with
// its stream's size. From 0x80 on: the rest of the input is the master file table of a
// small volume (512-byte records from cluster 1), mapped and enumerated whole, with the
// facts of its files.
#include "platform/LittleEndian.h"
#include "platform/NtfsFileRecord.h"
#include "platform/NtfsVolume.h"
#include "platform/VolumeJournal.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void ParseOneRecord(std::size_t nRecordSize, const std::uint8_t* p, std::size_t n) {
    std::vector<std::uint8_t> record(nRecordSize, 0);
    std::memcpy(record.data(), p, std::min(n, nRecordSize));
    NtfsFileRecordInfo info;
    if (!ParseNtfsFileRecord(record.data(), record.size(), info))
        return;
    CNtfsAttributeWalk walk(record.data(), info.header);
    NtfsAttribute attr;
    std::vector<NtfsRun> runs;
    NtfsFileName name;
    while (walk.Next(attr)) {
        if (attr.bNonResident) {
            runs.clear();
            DecodeNtfsMappingPairs(attr.pMappingPairs, attr.nMappingPairsLength, attr.nLowestVcn,
                                   1u << 20, 64, runs);
        } else if (attr.nType == kNtfsAttrFileName) {
            ReadNtfsFileName(attr, name);
        } else if (attr.nType == kNtfsAttrAttributeList) {
            CNtfsAttributeListWalk list(attr.pValue, attr.nValueLength);
            NtfsAttributeListEntry entry;
            while (list.Next(entry)) {
            }
        }
    }
    // A size that is trusted stays within what NTFS can address, so it fits the
    // reported 64-bit signed size.
    if (IsPlainNtfsFile(info)) {
        for (std::uint64_t nCluster : {512u, 4096u, 2u << 20}) {
            std::uint64_t nSize = 0;
            if (GetNtfsStreamSize(info, nCluster, 1u << 20, nSize) &&
                nSize > 0xFFFFFFFFull * nCluster)
                __builtin_trap();
        }
    }
}

void EnumerateVolume(const std::uint8_t* p, std::size_t n) {
    constexpr std::size_t kCluster = 4096;
    constexpr std::size_t kClusters = 64;
    std::vector<std::uint8_t> img(kCluster * kClusters, 0);
    std::uint8_t* b = img.data();
    std::memcpy(b + 3, "NTFS    ", 8);
    b[0x0B] = 0x00; // 512-byte sectors
    b[0x0C] = 0x02;
    b[0x0D] = 8; // 4 KiB clusters
    const std::uint64_t nSectors = kClusters * 8 - 1;
    WriteLe64(b + 0x28, nSectors);
    b[0x30] = 1;                             // the table at cluster 1
    b[0x40] = static_cast<std::uint8_t>(-9); // 512-byte records
    std::memcpy(b + kCluster, p, std::min(n, img.size() - kCluster));

    CNtfsVolume volume;
    if (volume.Open(std::make_unique<CMemoryBlockReader>(std::move(img))) != 0)
        return;
    std::uint64_t nRoot;
    volume.GetRootReference(nRoot);
    std::vector<std::uint8_t> buffer(kUsnBufferSize);
    std::uint64_t nStart = 0;
    for (int i = 0; i < 10000; ++i) {
        std::size_t nReturned = 0;
        if (volume.Enumerate(nStart, buffer.data(), buffer.size(), nReturned) != 0 || nReturned < 8)
            break;
        const std::uint64_t nNext = ReadLe64(buffer.data());
        if (nNext <= nStart)
            __builtin_trap(); // the table would be asked for the same records forever
        // Facts of this answer's records only, in record order, with sizes the volume
        // can hold (its streams are not sparse unless they say so) and calendar times.
        std::uint64_t nLast = 0;
        for (const NtfsFileFacts& f : volume.GetFacts()) {
            const std::uint64_t nRecord = f.nReference & kNtfsRecordNumberMask;
            if (nRecord < nStart || nRecord >= nNext || (nLast != 0 && nRecord <= nLast) ||
                f.nSize > 0xFFFFFFFFull * kCluster || f.nModified >= 2'650'467'744'000'000'000ull)
                __builtin_trap();
            nLast = nRecord;
        }
        nStart = nNext;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    if (nSize < 1)
        return 0;
    if (pData[0] & 0x80) {
        EnumerateVolume(pData + 1, nSize - 1);
    } else {
        static const std::size_t kSizes[] = {512, 1024, 4096, 1024};
        ParseOneRecord(kSizes[pData[0] & 3], pData + 1, nSize - 1);
    }
    return 0;
}
