// The NTFS on-disk structures the master-file-table reader needs: the boot sector,
// file records with their update sequence, attributes, $FILE_NAME values, attribute
// lists and mapping pairs (run lists).
//
// Everything here reads data from a disk that may be damaged or hostile: every offset
// and length is checked against the record or value it lies in, and nothing loops or
// grows without a bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// ---- Boot sector --------------------------------------------------------------------------

struct NtfsBootSector {
    std::uint32_t nBytesPerSector = 0;
    std::uint32_t nBytesPerCluster = 0;
    std::uint32_t nBytesPerRecord = 0; // one file record
    std::uint64_t nTotalSectors = 0;
    std::uint64_t nTotalClusters = 0;
    std::uint64_t nMftCluster = 0;
    std::uint64_t nSerialNumber = 0;
};

inline constexpr std::size_t kNtfsBootSectorSize = 512;

// true when the first 512 bytes of a volume are a sound NTFS boot sector.
bool ParseNtfsBootSector(const std::uint8_t* p, std::size_t n, NtfsBootSector& boot);

// ---- File records ---------------------------------------------------------------------------

inline constexpr std::uint32_t kNtfsAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kNtfsAttrAttributeList = 0x20;
inline constexpr std::uint32_t kNtfsAttrFileName = 0x30;
inline constexpr std::uint32_t kNtfsAttrData = 0x80;
inline constexpr std::uint32_t kNtfsAttrReparsePoint = 0xC0;
inline constexpr std::uint32_t kNtfsAttrEnd = 0xFFFFFFFF;

inline constexpr std::uint16_t kNtfsRecordInUse = 0x0001;
inline constexpr std::uint16_t kNtfsRecordIsDirectory = 0x0002;

// File attributes of the standard information.
inline constexpr std::uint32_t kNtfsFileSystem = 0x0004;
inline constexpr std::uint32_t kNtfsFileReparsePoint = 0x0400;
inline constexpr std::uint32_t kNtfsFileEncrypted = 0x4000;

// Flags of a non-resident attribute.
inline constexpr std::uint16_t kNtfsAttrCompressed = 0x00FF; // the compression method
inline constexpr std::uint16_t kNtfsAttrSparse = 0x8000;

inline constexpr std::uint8_t kNtfsNamespacePosix = 0;
inline constexpr std::uint8_t kNtfsNamespaceWin32 = 1;
inline constexpr std::uint8_t kNtfsNamespaceDos = 2;
inline constexpr std::uint8_t kNtfsNamespaceWin32AndDos = 3;

// Record numbers and references: the record number in the low 48 bits, the record's
// sequence number in the top 16.
inline constexpr std::uint64_t kNtfsRecordNumberMask = 0x0000FFFFFFFFFFFFull;
inline constexpr std::uint64_t NtfsReference(std::uint64_t nRecord, std::uint16_t nSequence) {
    return (nRecord & kNtfsRecordNumberMask) | static_cast<std::uint64_t>(nSequence) << 48;
}

// Checks the update sequence of a record read from disk and puts back the bytes it
// replaced, in place. The stride is 512 bytes whatever the sector size. false: the
// record is torn (written in part) or its update sequence is malformed.
bool ApplyNtfsFixups(std::uint8_t* pRecord, std::size_t nRecordSize);

struct NtfsRecordHeader {
    std::uint16_t nSequence = 0;
    std::uint16_t nFlags = 0;
    std::uint64_t nBaseReference = 0; // 0 for a base record
    std::uint32_t nFirstAttribute = 0;
    std::uint32_t nBytesInUse = 0; // checked: within the record
};

// The header of a record whose fixups were applied; false without the "FILE" magic
// or with offsets outside the record.
bool ReadNtfsRecordHeader(const std::uint8_t* pRecord, std::size_t nRecordSize,
                          NtfsRecordHeader& header);

// One attribute of a record; every pointer lies inside the record.
struct NtfsAttribute {
    std::uint32_t nType = 0;
    bool bNonResident = false;
    std::uint8_t nNameLength = 0; // UTF-16 units of the attribute's own name
    // Resident: the value.
    const std::uint8_t* pValue = nullptr;
    std::size_t nValueLength = 0;
    // Non-resident: the extent's first VCN, the sizes (valid in the extent of VCN 0)
    // and its mapping pairs.
    std::uint16_t nFlags = 0;
    std::uint64_t nLowestVcn = 0;
    std::uint64_t nAllocatedSize = 0;
    std::uint64_t nDataSize = 0;
    std::uint64_t nInitializedSize = 0;
    const std::uint8_t* pMappingPairs = nullptr;
    std::size_t nMappingPairsLength = 0;
};

// Walks the attributes of a record from the header's first attribute to the end
// marker or the end of the bytes in use, whichever comes first. An attribute whose
// length or inner offsets do not fit ends the walk.
class CNtfsAttributeWalk {
public:
    CNtfsAttributeWalk(const std::uint8_t* pRecord, const NtfsRecordHeader& header);
    bool Next(NtfsAttribute& attr);

private:
    const std::uint8_t* m_pRecord;
    std::size_t m_nPos;
    std::size_t m_nEnd;
};

struct NtfsFileName {
    std::uint64_t nParent = 0;
    std::uint8_t nNamespace = 0;
    const std::uint8_t* pName = nullptr; // UTF-16LE
    std::size_t nUnits = 0;
};

// The value of a resident $FILE_NAME attribute; false when it does not fit.
bool ReadNtfsFileName(const NtfsAttribute& attr, NtfsFileName& name);

// What the journal source needs of one record.
struct NtfsFileRecordInfo {
    NtfsRecordHeader header;
    bool bHasName = false;
    NtfsFileName name;
    bool bHasAttributeList = false;
    NtfsAttribute attributeList;
    // The standard information: last-write time (FILETIME ticks) and file attributes.
    bool bHasStandardInformation = false;
    std::uint64_t nModified = 0;
    std::uint32_t nFileAttributes = 0;
    // The unnamed data stream where it starts (resident, or the extent of VCN 0); a
    // sound record holds it at most once.
    int nDataStarts = 0;
    NtfsAttribute data;
    bool bHasReparsePoint = false;
};

// Applies the fixups, then reads header, first long name, attribute list, standard
// information and the start of the unnamed data stream. false when the record is
// torn or no file record at all.
bool ParseNtfsFileRecord(std::uint8_t* pRecord, std::size_t nRecordSize, NtfsFileRecordInfo& info);

// Whether the mounted filesystem shows a record as a regular file whose last-write time
// is the standard information's: no folder, no link, junction or other reparse point,
// no special file kept as a system file, not encrypted, and a time from 1601 to 9999.
bool IsPlainNtfsFile(const NtfsFileRecordInfo& info);

// The size the mounted filesystem shows for the unnamed data stream that a record
// starts (its resident value, or its extent of VCN 0). false when the record starts
// none or more than one, or when the sizes are beyond what a sound volume of
// nTotalClusters clusters can hold.
bool GetNtfsStreamSize(const NtfsFileRecordInfo& info, std::uint64_t nClusterSize,
                       std::uint64_t nTotalClusters, std::uint64_t& nSize);

// ---- Attribute lists -----------------------------------------------------------------------

struct NtfsAttributeListEntry {
    std::uint32_t nType = 0;
    std::uint8_t nNameLength = 0;
    std::uint64_t nLowestVcn = 0;
    std::uint64_t nSegmentReference = 0; // the record holding the attribute
};

// Walks the entries of an attribute list's value. An entry that does not fit, or a
// length of 0, ends the walk.
class CNtfsAttributeListWalk {
public:
    CNtfsAttributeListWalk(const std::uint8_t* pList, std::size_t nLength)
        : m_pList(pList), m_nLength(nLength) {}
    bool Next(NtfsAttributeListEntry& entry);

private:
    const std::uint8_t* m_pList;
    std::size_t m_nLength;
    std::size_t m_nPos = 0;
};

// ---- Run lists ---------------------------------------------------------------------------

struct NtfsRun {
    std::uint64_t nVcn = 0;    // first cluster of the run within the attribute
    std::uint64_t nLcn = 0;    // first cluster on the volume; unused when sparse
    std::uint64_t nLength = 0; // clusters
    bool bSparse = false;
};

// Decodes mapping pairs into runs appended to `runs`, starting at nStartVcn. Every
// run lies within nTotalClusters and the list stays below nMaxRuns. false when the
// pairs are malformed or break those bounds (runs appended so far stay).
bool DecodeNtfsMappingPairs(const std::uint8_t* p, std::size_t n, std::uint64_t nStartVcn,
                            std::uint64_t nTotalClusters, std::size_t nMaxRuns,
                            std::vector<NtfsRun>& runs);
