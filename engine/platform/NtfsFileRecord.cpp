#include "NtfsFileRecord.h"

#include "LittleEndian.h"

#include <cstring>

namespace {

bool IsPowerOfTwo(std::uint64_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

constexpr std::size_t kFixupStride = 512;

// Record header fields.
constexpr std::size_t kUsaOffset = 0x04;
constexpr std::size_t kUsaCount = 0x06;
constexpr std::size_t kSequence = 0x10;
constexpr std::size_t kFirstAttribute = 0x14;
constexpr std::size_t kFlags = 0x16;
constexpr std::size_t kBytesInUse = 0x18;
constexpr std::size_t kBaseReference = 0x20;
constexpr std::size_t kRecordHeaderMin = 0x28; // through the base reference

// Attribute header fields.
constexpr std::size_t kAttrLength = 0x04;
constexpr std::size_t kAttrNonResident = 0x08;
constexpr std::size_t kAttrNameLength = 0x09;
constexpr std::size_t kAttrFlags = 0x0C;
constexpr std::size_t kResidentValueLength = 0x10;
constexpr std::size_t kResidentValueOffset = 0x14;
constexpr std::size_t kResidentHeaderSize = 0x18;
constexpr std::size_t kNonResidentLowestVcn = 0x10;
constexpr std::size_t kNonResidentMappingPairs = 0x20;
constexpr std::size_t kNonResidentAllocatedSize = 0x28;
constexpr std::size_t kNonResidentDataSize = 0x30;
constexpr std::size_t kNonResidentInitializedSize = 0x38;
constexpr std::size_t kNonResidentHeaderSize = 0x40;

// $STANDARD_INFORMATION value fields (NTFS 1.2 has no more than these).
constexpr std::size_t kStdLastWrite = 0x08;
constexpr std::size_t kStdFileAttributes = 0x20;
constexpr std::size_t kStdMinLength = 0x30;

// $FILE_NAME value fields.
constexpr std::size_t kFileNameParent = 0x00;
constexpr std::size_t kFileNameLength = 0x40;
constexpr std::size_t kFileNameNamespace = 0x41;
constexpr std::size_t kFileNameChars = 0x42;

// Attribute list entry fields.
constexpr std::size_t kListEntryLength = 0x04;
constexpr std::size_t kListNameLength = 0x06;
constexpr std::size_t kListLowestVcn = 0x08;
constexpr std::size_t kListSegment = 0x10;
constexpr std::size_t kListEntryMin = 0x1A;

// The largest cluster NTFS knows is 2 MiB; file records are at most 64 KiB here.
constexpr std::uint64_t kMaxClusterSize = 2u << 20;
constexpr std::uint64_t kMaxRecordSize = 64u << 10;
// NTFS addresses no more than 2^32 - 1 clusters of one file.
constexpr std::uint64_t kMaxFileClusters = 0xFFFFFFFFu;
// FILETIME ticks of 10000-01-01: no calendar date lies beyond.
constexpr std::uint64_t kTicksOfYear10000 = 3'067'671ull * 86'400 * 10'000'000;

} // namespace

bool ParseNtfsBootSector(const std::uint8_t* p, std::size_t n, NtfsBootSector& boot) {
    if (n < kNtfsBootSectorSize || std::memcmp(p + 3, "NTFS    ", 8) != 0)
        return false;
    const std::uint32_t nSector = ReadLe16(p + 0x0B);
    if (nSector < 256 || nSector > 4096 || !IsPowerOfTwo(nSector))
        return false;
    // Above 0x80 the byte is the negated power of two, for clusters beyond 64 KiB.
    const std::uint8_t nSectorsByte = p[0x0D];
    std::uint64_t nCluster;
    if (nSectorsByte <= 0x80) {
        if (!IsPowerOfTwo(nSectorsByte))
            return false;
        nCluster = static_cast<std::uint64_t>(nSector) * nSectorsByte;
    } else {
        const unsigned nShift = 256u - nSectorsByte;
        if (nShift > 12)
            return false;
        nCluster = static_cast<std::uint64_t>(nSector) << nShift;
    }
    if (nCluster > kMaxClusterSize)
        return false;
    // Byte offsets on the volume must stay far from overflowing.
    const std::uint64_t nTotalSectors = ReadLe64(p + 0x28);
    if (nTotalSectors > (1ull << 62) / nSector)
        return false;
    // Positive: clusters per record; negative: the record is 2^-v bytes.
    const auto nPerRecord = static_cast<std::int8_t>(p[0x40]);
    std::uint64_t nRecord;
    if (nPerRecord > 0) {
        nRecord = nCluster * static_cast<std::uint64_t>(nPerRecord);
    } else {
        const int nShift = -nPerRecord;
        if (nShift < 9 || nShift > 16)
            return false;
        nRecord = 1ull << nShift;
    }
    if (nRecord < kFixupStride || nRecord > kMaxRecordSize || !IsPowerOfTwo(nRecord))
        return false;

    boot.nBytesPerSector = nSector;
    boot.nBytesPerCluster = static_cast<std::uint32_t>(nCluster);
    boot.nBytesPerRecord = static_cast<std::uint32_t>(nRecord);
    boot.nTotalSectors = nTotalSectors;
    boot.nTotalClusters = boot.nTotalSectors / (nCluster / nSector);
    boot.nMftCluster = ReadLe64(p + 0x30);
    boot.nSerialNumber = ReadLe64(p + 0x48);
    return boot.nTotalClusters != 0 && boot.nMftCluster < boot.nTotalClusters;
}

bool ApplyNtfsFixups(std::uint8_t* pRecord, std::size_t nRecordSize) {
    if (nRecordSize < kFixupStride || nRecordSize % kFixupStride != 0)
        return false;
    const std::size_t nOffset = ReadLe16(pRecord + kUsaOffset);
    const std::size_t nCount = ReadLe16(pRecord + kUsaCount);
    const std::size_t nStrides = nRecordSize / kFixupStride;
    // The array: the update sequence number, then one saved word per stride. It must lie
    // in the first stride, before that stride's own last word.
    if (nCount != nStrides + 1 || nOffset % 2 != 0 || nOffset < kUsaCount + 2 ||
        nOffset + 2 * nCount > kFixupStride - 2)
        return false;
    const std::uint8_t* pUsn = pRecord + nOffset;
    for (std::size_t i = 0; i < nStrides; ++i) {
        const std::uint8_t* pEnd = pRecord + (i + 1) * kFixupStride - 2;
        if (pEnd[0] != pUsn[0] || pEnd[1] != pUsn[1])
            return false; // torn: this stride was not written with the others
    }
    for (std::size_t i = 0; i < nStrides; ++i) {
        std::uint8_t* pEnd = pRecord + (i + 1) * kFixupStride - 2;
        pEnd[0] = pUsn[2 + 2 * i];
        pEnd[1] = pUsn[3 + 2 * i];
    }
    return true;
}

bool ReadNtfsRecordHeader(const std::uint8_t* pRecord, std::size_t nRecordSize,
                          NtfsRecordHeader& header) {
    if (nRecordSize < kRecordHeaderMin || std::memcmp(pRecord, "FILE", 4) != 0)
        return false;
    header.nSequence = ReadLe16(pRecord + kSequence);
    header.nFlags = ReadLe16(pRecord + kFlags);
    header.nBaseReference = ReadLe64(pRecord + kBaseReference);
    header.nFirstAttribute = ReadLe16(pRecord + kFirstAttribute);
    header.nBytesInUse = ReadLe32(pRecord + kBytesInUse);
    if (header.nBytesInUse > nRecordSize)
        header.nBytesInUse = static_cast<std::uint32_t>(nRecordSize);
    return header.nFirstAttribute >= kRecordHeaderMin &&
           header.nFirstAttribute < header.nBytesInUse;
}

CNtfsAttributeWalk::CNtfsAttributeWalk(const std::uint8_t* pRecord, const NtfsRecordHeader& header)
    : m_pRecord(pRecord), m_nPos(header.nFirstAttribute), m_nEnd(header.nBytesInUse) {}

bool CNtfsAttributeWalk::Next(NtfsAttribute& attr) {
    if (m_nPos >= m_nEnd || m_nEnd - m_nPos < 4)
        return false;
    const std::uint8_t* p = m_pRecord + m_nPos;
    const std::uint32_t nType = ReadLe32(p);
    if (nType == kNtfsAttrEnd || m_nEnd - m_nPos < kResidentHeaderSize)
        return false;
    const std::uint32_t nLength = ReadLe32(p + kAttrLength);
    if (nLength < kResidentHeaderSize || nLength > m_nEnd - m_nPos) {
        m_nPos = m_nEnd;
        return false;
    }
    attr = {};
    attr.nType = nType;
    attr.bNonResident = p[kAttrNonResident] != 0;
    attr.nNameLength = p[kAttrNameLength];
    attr.nFlags = ReadLe16(p + kAttrFlags);
    if (!attr.bNonResident) {
        const std::size_t nValueLength = ReadLe32(p + kResidentValueLength);
        const std::size_t nValueOffset = ReadLe16(p + kResidentValueOffset);
        if (nValueOffset > nLength || nValueLength > nLength - nValueOffset) {
            m_nPos = m_nEnd;
            return false;
        }
        attr.pValue = p + nValueOffset;
        attr.nValueLength = nValueLength;
    } else {
        if (nLength < kNonResidentHeaderSize) {
            m_nPos = m_nEnd;
            return false;
        }
        const std::size_t nPairsOffset = ReadLe16(p + kNonResidentMappingPairs);
        if (nPairsOffset > nLength) {
            m_nPos = m_nEnd;
            return false;
        }
        attr.nLowestVcn = ReadLe64(p + kNonResidentLowestVcn);
        attr.nAllocatedSize = ReadLe64(p + kNonResidentAllocatedSize);
        attr.nDataSize = ReadLe64(p + kNonResidentDataSize);
        attr.nInitializedSize = ReadLe64(p + kNonResidentInitializedSize);
        attr.pMappingPairs = p + nPairsOffset;
        attr.nMappingPairsLength = nLength - nPairsOffset;
    }
    m_nPos += nLength;
    return true;
}

bool ReadNtfsFileName(const NtfsAttribute& attr, NtfsFileName& name) {
    if (attr.nType != kNtfsAttrFileName || attr.bNonResident || attr.nValueLength < kFileNameChars)
        return false;
    const std::uint8_t* p = attr.pValue;
    const std::size_t nUnits = p[kFileNameLength];
    if (kFileNameChars + 2 * nUnits > attr.nValueLength)
        return false;
    name.nParent = ReadLe64(p + kFileNameParent);
    name.nNamespace = p[kFileNameNamespace];
    name.pName = p + kFileNameChars;
    name.nUnits = nUnits;
    return true;
}

bool ParseNtfsFileRecord(std::uint8_t* pRecord, std::size_t nRecordSize, NtfsFileRecordInfo& info) {
    info = {};
    if (std::memcmp(pRecord, "FILE", 4) != 0 || !ApplyNtfsFixups(pRecord, nRecordSize) ||
        !ReadNtfsRecordHeader(pRecord, nRecordSize, info.header))
        return false;
    CNtfsAttributeWalk walk(pRecord, info.header);
    NtfsAttribute attr;
    NtfsFileName name;
    while (walk.Next(attr)) {
        switch (attr.nType) {
        case kNtfsAttrFileName:
            if (!info.bHasName && ReadNtfsFileName(attr, name) &&
                name.nNamespace != kNtfsNamespaceDos && name.nUnits != 0) {
                info.name = name;
                info.bHasName = true;
            }
            break;
        case kNtfsAttrAttributeList:
            if (!info.bHasAttributeList) {
                info.attributeList = attr;
                info.bHasAttributeList = true;
            }
            break;
        case kNtfsAttrStandardInformation:
            if (!info.bHasStandardInformation && !attr.bNonResident &&
                attr.nValueLength >= kStdMinLength) {
                info.nModified = ReadLe64(attr.pValue + kStdLastWrite);
                info.nFileAttributes = ReadLe32(attr.pValue + kStdFileAttributes);
                info.bHasStandardInformation = true;
            }
            break;
        case kNtfsAttrData:
            if (attr.nNameLength == 0 && (!attr.bNonResident || attr.nLowestVcn == 0)) {
                info.data = attr;
                ++info.nDataStarts;
            }
            break;
        case kNtfsAttrReparsePoint:
            info.bHasReparsePoint = true;
            break;
        }
    }
    return true;
}

bool IsPlainNtfsFile(const NtfsFileRecordInfo& info) {
    return info.bHasStandardInformation && !(info.header.nFlags & kNtfsRecordIsDirectory) &&
           !info.bHasReparsePoint &&
           !(info.nFileAttributes &
             (kNtfsFileReparsePoint | kNtfsFileSystem | kNtfsFileEncrypted)) &&
           info.nModified < kTicksOfYear10000;
}

bool GetNtfsStreamSize(const NtfsFileRecordInfo& info, std::uint64_t nClusterSize,
                       std::uint64_t nTotalClusters, std::uint64_t& nSize) {
    if (info.nDataStarts != 1)
        return false;
    const NtfsAttribute& data = info.data;
    if (!data.bNonResident) {
        nSize = data.nValueLength;
        return true;
    }
    // A sparse or compressed stream may claim more than the volume holds, never more
    // than NTFS can address; any other stream lies on the volume.
    const bool bMayExceedVolume = (data.nFlags & (kNtfsAttrSparse | kNtfsAttrCompressed)) != 0;
    const std::uint64_t nMaxClusters = bMayExceedVolume ? kMaxFileClusters : nTotalClusters;
    if (data.nLowestVcn != 0 || nClusterSize == 0 || data.nAllocatedSize % nClusterSize != 0 ||
        data.nAllocatedSize / nClusterSize > nMaxClusters || data.nDataSize > data.nAllocatedSize)
        return false;
    nSize = data.nDataSize;
    return true;
}

bool CNtfsAttributeListWalk::Next(NtfsAttributeListEntry& entry) {
    if (m_nPos >= m_nLength || m_nLength - m_nPos < kListEntryMin)
        return false;
    const std::uint8_t* p = m_pList + m_nPos;
    const std::size_t nEntryLength = ReadLe16(p + kListEntryLength);
    if (nEntryLength < kListEntryMin || nEntryLength > m_nLength - m_nPos) {
        m_nPos = m_nLength;
        return false;
    }
    entry.nType = ReadLe32(p);
    entry.nNameLength = p[kListNameLength];
    entry.nLowestVcn = ReadLe64(p + kListLowestVcn);
    entry.nSegmentReference = ReadLe64(p + kListSegment);
    m_nPos += nEntryLength;
    return true;
}

bool DecodeNtfsMappingPairs(const std::uint8_t* p, std::size_t n, std::uint64_t nStartVcn,
                            std::uint64_t nTotalClusters, std::size_t nMaxRuns,
                            std::vector<NtfsRun>& runs) {
    std::uint64_t nVcn = nStartVcn;
    std::int64_t nLcn = 0;
    std::size_t nPos = 0;
    while (nPos < n) {
        const std::uint8_t nHeader = p[nPos];
        if (nHeader == 0)
            return true;
        const std::size_t nLengthSize = nHeader & 0x0F;
        const std::size_t nOffsetSize = nHeader >> 4;
        if (nLengthSize == 0 || nLengthSize > 8 || nOffsetSize > 8 ||
            n - nPos - 1 < nLengthSize + nOffsetSize)
            return false;
        ++nPos;
        // A length is a signed number too; a run of no or negative length is malformed.
        if (p[nPos + nLengthSize - 1] & 0x80)
            return false;
        std::uint64_t nLength = 0;
        for (std::size_t i = 0; i < nLengthSize; ++i)
            nLength |= static_cast<std::uint64_t>(p[nPos + i]) << (8 * i);
        nPos += nLengthSize;
        if (nLength == 0 || nLength > nTotalClusters)
            return false;
        NtfsRun run;
        run.nVcn = nVcn;
        run.nLength = nLength;
        if (nOffsetSize == 0) {
            run.bSparse = true;
        } else {
            std::uint64_t nDelta = 0;
            for (std::size_t i = 0; i < nOffsetSize; ++i)
                nDelta |= static_cast<std::uint64_t>(p[nPos + i]) << (8 * i);
            if (nOffsetSize < 8 && (p[nPos + nOffsetSize - 1] & 0x80) != 0)
                nDelta |= ~0ull << (8 * nOffsetSize); // sign extension
            // In unsigned arithmetic, so that a hostile delta cannot overflow.
            const std::uint64_t nNewLcn = static_cast<std::uint64_t>(nLcn) + nDelta;
            if (static_cast<std::int64_t>(nNewLcn) < 0 || nNewLcn >= nTotalClusters ||
                nLength > nTotalClusters - nNewLcn)
                return false;
            nLcn = static_cast<std::int64_t>(nNewLcn);
            run.nLcn = nNewLcn;
        }
        nPos += nOffsetSize;
        if (runs.size() >= nMaxRuns || nVcn > ~0ull - nLength)
            return false;
        runs.push_back(run);
        nVcn += nLength;
    }
    return false; // no terminating zero within the attribute
}
