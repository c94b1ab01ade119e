// Synthetic NTFS volumes in memory: a boot sector and a master file table whose
// records are built field by field, so that tests and fuzz seeds can hold exactly the
// structures (sound or broken) they are about.
#pragma once

#include "platform/NtfsFileRecord.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ntfs_test {

inline void Put(std::vector<std::uint8_t>& v, std::size_t nOffset, std::uint64_t n, int nBytes) {
    // Checked first: it also shows GCC's -O3 flow analysis that the writes stay inside
    // (without it GCC 12 reports a write into a region of size 0 after a copy).
    if (nOffset > v.size() || v.size() - nOffset < static_cast<std::size_t>(nBytes))
        throw std::out_of_range("Put past the end of a test buffer");
    for (int i = 0; i < nBytes; ++i)
        v[nOffset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (8 * i));
}

inline std::vector<std::uint8_t> Utf16Bytes(const std::u16string& s) {
    std::vector<std::uint8_t> v(s.size() * 2);
    for (std::size_t i = 0; i < s.size(); ++i) {
        v[2 * i] = static_cast<std::uint8_t>(s[i]);
        v[2 * i + 1] = static_cast<std::uint8_t>(s[i] >> 8);
    }
    return v;
}

// Mapping pairs of runs given as (length, LCN delta); a delta of kSparse makes a
// sparse run. Each number takes the fewest bytes that hold it, as NTFS writes them.
inline constexpr std::int64_t kSparse = INT64_MIN;

inline std::size_t SignedSize(std::int64_t n) {
    std::size_t nBytes = 1;
    while (nBytes < 8 && (n < -(std::int64_t{1} << (8 * nBytes - 1)) ||
                          n >= (std::int64_t{1} << (8 * nBytes - 1))))
        ++nBytes;
    return nBytes;
}

inline std::vector<std::uint8_t>
MappingPairs(const std::vector<std::pair<std::int64_t, std::int64_t>>& runs) {
    std::vector<std::uint8_t> v;
    for (auto [nLength, nDelta] : runs) {
        const std::size_t nL = SignedSize(nLength);
        const std::size_t nO = nDelta == kSparse ? 0 : SignedSize(nDelta);
        v.push_back(static_cast<std::uint8_t>(nL | nO << 4));
        for (std::size_t i = 0; i < nL; ++i)
            v.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(nLength) >> (8 * i)));
        for (std::size_t i = 0; i < nO; ++i)
            v.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(nDelta) >> (8 * i)));
    }
    v.push_back(0);
    return v;
}

struct ListEntry {
    std::uint32_t nType;
    std::uint64_t nLowestVcn;
    std::uint64_t nSegmentReference;
    std::u16string strName = {}; // of the attribute the entry names
};

// The sizes and flags of a non-resident attribute's extent of VCN 0.
struct StreamSizes {
    std::uint64_t nData = 0;
    std::uint64_t nAllocated = 0;
    std::uint16_t nFlags = 0; // compressed, sparse
};

// One file record, built attribute by attribute.
class CTestRecord {
public:
    explicit CTestRecord(std::uint16_t nSequence = 1, std::uint16_t nFlags = kNtfsRecordInUse,
                         std::uint64_t nBase = 0)
        : m_nSequence(nSequence), m_nFlags(nFlags), m_nBase(nBase) {}

    CTestRecord& Resident(std::uint32_t nType, std::vector<std::uint8_t> value,
                          const std::u16string& strName = {}) {
        m_attrs.push_back({nType, false, strName, std::move(value), 0, {}});
        return *this;
    }

    // Last-write time (FILETIME ticks) and file attributes (archive unless given).
    CTestRecord& Standard(std::uint64_t nModified, std::uint32_t nAttributes = 0x20) {
        std::vector<std::uint8_t> v(0x48, 0);
        Put(v, 0x08, nModified, 8);
        Put(v, 0x20, nAttributes, 4);
        return Resident(kNtfsAttrStandardInformation, std::move(v));
    }

    CTestRecord& FileName(std::uint64_t nParent, const std::u16string& strName,
                          std::uint8_t nNamespace = kNtfsNamespaceWin32) {
        std::vector<std::uint8_t> v(0x42 + strName.size() * 2, 0);
        Put(v, 0, nParent, 8);
        v[0x40] = static_cast<std::uint8_t>(strName.size());
        v[0x41] = nNamespace;
        auto name = Utf16Bytes(strName);
        std::copy(name.begin(), name.end(), v.begin() + 0x42);
        return Resident(kNtfsAttrFileName, std::move(v));
    }

    CTestRecord& AttributeList(const std::vector<ListEntry>& entries) {
        std::vector<std::uint8_t> v;
        for (const ListEntry& e : entries) {
            std::vector<std::uint8_t> item((0x1A + e.strName.size() * 2 + 7) & ~std::size_t{7}, 0);
            Put(item, 0, e.nType, 4);
            Put(item, 4, item.size(), 2);
            item[6] = static_cast<std::uint8_t>(e.strName.size());
            item[7] = 0x1A;
            Put(item, 8, e.nLowestVcn, 8);
            Put(item, 0x10, e.nSegmentReference, 8);
            auto name = Utf16Bytes(e.strName);
            std::copy(name.begin(), name.end(), item.begin() + 0x1A);
            v.insert(v.end(), item.begin(), item.end());
        }
        return Resident(kNtfsAttrAttributeList, std::move(v));
    }

    // Data, allocated and initialized size all nDataSize.
    CTestRecord& NonResident(std::uint32_t nType, std::vector<std::uint8_t> pairs,
                             std::uint64_t nLowestVcn, std::uint64_t nDataSize) {
        return NonResident(nType, std::move(pairs), nLowestVcn, {nDataSize, nDataSize, 0});
    }
    CTestRecord& NonResident(std::uint32_t nType, std::vector<std::uint8_t> pairs,
                             std::uint64_t nLowestVcn, const StreamSizes& sizes,
                             const std::u16string& strName = {}) {
        m_attrs.push_back({nType, true, strName, std::move(pairs), nLowestVcn, sizes});
        return *this;
    }

    // The record as it lies on disk, update sequence applied.
    std::vector<std::uint8_t> Build(std::size_t nRecordSize) const {
        std::vector<std::uint8_t> r(nRecordSize, 0);
        std::memcpy(r.data(), "FILE", 4);
        const std::size_t nStrides = nRecordSize / 512;
        Put(r, 0x04, 0x30, 2);
        Put(r, 0x06, nStrides + 1, 2);
        Put(r, 0x10, m_nSequence, 2);
        Put(r, 0x12, 1, 2);
        const std::size_t nFirst = (0x30 + 2 * (nStrides + 1) + 7) & ~std::size_t{7};
        Put(r, 0x14, nFirst, 2);
        Put(r, 0x16, m_nFlags, 2);
        Put(r, 0x1C, nRecordSize, 4);
        Put(r, 0x20, m_nBase, 8);
        std::size_t nPos = nFirst;
        for (const Attr& a : m_attrs) {
            const std::size_t nHeader = a.bNonResident ? 0x40 : 0x18;
            const std::size_t nValue = (nHeader + a.name.size() * 2 + 7) & ~std::size_t{7};
            const std::size_t nLength = (nValue + a.value.size() + 7) & ~std::size_t{7};
            if (nPos + nLength + 8 > nRecordSize)
                break; // does not fit: left out, as a full record would
            Put(r, nPos, a.nType, 4);
            Put(r, nPos + 4, nLength, 4);
            r[nPos + 8] = a.bNonResident ? 1 : 0;
            r[nPos + 9] = static_cast<std::uint8_t>(a.name.size());
            Put(r, nPos + 0x0A, nHeader, 2);
            Put(r, nPos + 0x0C, a.sizes.nFlags, 2);
            if (a.bNonResident) {
                Put(r, nPos + 0x10, a.nLowestVcn, 8);
                Put(r, nPos + 0x20, nValue, 2);
                Put(r, nPos + 0x28, a.sizes.nAllocated, 8);
                Put(r, nPos + 0x30, a.sizes.nData, 8);
                Put(r, nPos + 0x38, a.sizes.nData, 8);
            } else {
                Put(r, nPos + 0x10, a.value.size(), 4);
                Put(r, nPos + 0x14, nValue, 2);
            }
            auto name = Utf16Bytes(a.name);
            std::copy(name.begin(), name.end(), r.begin() + static_cast<long>(nPos + nHeader));
            std::copy(a.value.begin(), a.value.end(), r.begin() + static_cast<long>(nPos + nValue));
            nPos += nLength;
        }
        Put(r, nPos, kNtfsAttrEnd, 4);
        Put(r, 0x18, nPos + 8, 4);
        // Update sequence: each stride's last word moves to the array.
        const std::uint16_t nUsn = 0x0007;
        Put(r, 0x30, nUsn, 2);
        for (std::size_t i = 0; i < nStrides; ++i) {
            const std::size_t nEnd = (i + 1) * 512 - 2;
            r[0x32 + 2 * i] = r[nEnd];
            r[0x33 + 2 * i] = r[nEnd + 1];
            Put(r, nEnd, nUsn, 2);
        }
        return r;
    }

private:
    struct Attr {
        std::uint32_t nType;
        bool bNonResident;
        std::u16string name;
        std::vector<std::uint8_t> value; // or mapping pairs
        std::uint64_t nLowestVcn;
        StreamSizes sizes;
    };
    std::uint16_t m_nSequence;
    std::uint16_t m_nFlags;
    std::uint64_t m_nBase;
    std::vector<Attr> m_attrs;
};

inline constexpr std::uint64_t kRootReference = NtfsReference(5, 5);

// A small volume: 512-byte sectors, 4 KiB clusters, 1 KiB records, the table at
// cluster 4 in one run of nRecords records unless record 0 is given.
class CTestVolume {
public:
    std::uint32_t nSectorSize = 512;
    std::uint32_t nSectorsPerCluster = 8;
    std::int8_t nClustersPerRecord = -10; // 1 KiB
    std::uint64_t nMftCluster = 4;
    std::uint64_t nRecords = 64;
    std::uint64_t nTotalClusters = 256;

    std::uint32_t ClusterSize() const { return nSectorSize * nSectorsPerCluster; }
    std::uint32_t RecordSize() const {
        return nClustersPerRecord < 0
                   ? 1u << -nClustersPerRecord
                   : ClusterSize() * static_cast<std::uint32_t>(nClustersPerRecord);
    }

    // Record 0 describing the table in one run, the root folder, and the other
    // metadata records in use, as a fresh volume has them.
    void AddStandardRecords() {
        const std::uint64_t nClusters =
            (nRecords * RecordSize() + ClusterSize() - 1) / ClusterSize();
        Set(0, CTestRecord(1)
                   .FileName(kRootReference, u"$MFT")
                   .NonResident(kNtfsAttrData,
                                MappingPairs({{static_cast<std::int64_t>(nClusters),
                                               static_cast<std::int64_t>(nMftCluster)}}),
                                0, nRecords * RecordSize()));
        Set(5, CTestRecord(5, kNtfsRecordInUse | kNtfsRecordIsDirectory)
                   .FileName(kRootReference, u"."));
        Set(3, CTestRecord(3).FileName(kRootReference, u"$Volume"));
        Set(11, CTestRecord(11, kNtfsRecordInUse | kNtfsRecordIsDirectory)
                    .FileName(kRootReference, u"$Extend"));
    }

    void Set(std::uint64_t nRecord, const CTestRecord& record) {
        m_records[nRecord] = record.Build(RecordSize());
    }
    void SetRaw(std::uint64_t nRecord, std::vector<std::uint8_t> bytes) {
        m_records[nRecord] = std::move(bytes);
    }
    // Where a record lies on the volume when the table is one run from nMftCluster.
    std::uint64_t RecordOffset(std::uint64_t nRecord) const {
        return nMftCluster * ClusterSize() + nRecord * RecordSize();
    }

    std::vector<std::uint8_t> BootSector() const {
        std::vector<std::uint8_t> b(512, 0);
        b[0] = 0xEB;
        b[1] = 0x52;
        b[2] = 0x90;
        std::memcpy(b.data() + 3, "NTFS    ", 8);
        Put(b, 0x0B, nSectorSize, 2);
        b[0x0D] = static_cast<std::uint8_t>(nSectorsPerCluster);
        Put(b, 0x28, nTotalClusters * nSectorsPerCluster - 1, 8);
        Put(b, 0x30, nMftCluster, 8);
        Put(b, 0x38, 2, 8);
        b[0x40] = static_cast<std::uint8_t>(nClustersPerRecord);
        b[0x44] = 1;
        Put(b, 0x48, 0x1122334455667788ull, 8);
        b[0x1FE] = 0x55;
        b[0x1FF] = 0xAA;
        return b;
    }

    // The image; records are placed by their number from nMftCluster on unless an
    // explicit device offset was given with Place.
    std::vector<std::uint8_t> Build() const {
        std::vector<std::uint8_t> img(static_cast<std::size_t>(nTotalClusters) * ClusterSize(), 0);
        auto boot = BootSector();
        std::copy(boot.begin(), boot.end(), img.begin());
        for (const auto& [nRecord, bytes] : m_records) {
            auto it = m_placed.find(nRecord);
            const std::uint64_t nOffset = it != m_placed.end() ? it->second : RecordOffset(nRecord);
            if (nOffset + bytes.size() <= img.size())
                std::copy(bytes.begin(), bytes.end(), img.begin() + static_cast<long>(nOffset));
        }
        return img;
    }

    void Place(std::uint64_t nRecord, std::uint64_t nDeviceOffset) {
        m_placed[nRecord] = nDeviceOffset;
    }

private:
    std::map<std::uint64_t, std::vector<std::uint8_t>> m_records;
    std::map<std::uint64_t, std::uint64_t> m_placed;
};

} // namespace ntfs_test
