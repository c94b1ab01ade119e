// Reads the master file table of an NTFS volume, from the block device or image file
// behind it, and hands out one USN_RECORD_V2 record per file, as a change journal's
// enumeration of the table would. Reads only, ever.
#pragma once

#include "BlockReader.h"
#include "NtfsFileRecord.h"
#include "Types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// What a file's record says of it, where the mounted filesystem shows the same: a
// regular file's size and last-write time (FILETIME ticks).
struct NtfsFileFacts {
    std::uint64_t nReference = 0;
    std::uint64_t nSize = 0;
    std::uint64_t nModified = 0;
    friend bool operator==(const NtfsFileFacts&, const NtfsFileFacts&) = default;
};

// The first record numbers are the volume's own metadata; only the root folder among
// them holds the user's files.
inline constexpr std::uint64_t kNtfsRootRecord = 5;
inline constexpr std::uint64_t kNtfsFirstUserRecord = 16;

class CNtfsVolume {
public:
    CNtfsVolume();
    ~CNtfsVolume();
    CNtfsVolume(const CNtfsVolume&) = delete;
    CNtfsVolume& operator=(const CNtfsVolume&) = delete;

    // Confirms the boot sector, then maps the $MFT from record 0 and the extension
    // records its attribute list names. EMEDIUMTYPE: no NTFS volume; EUCLEAN: the table
    // cannot be mapped; or the error of a failed read.
    DWORD Open(std::unique_ptr<IBlockReader> pReader);
    bool IsOpen() const { return m_pReader != nullptr; }
    void Close();

    const NtfsBootSector& GetBootSector() const { return m_boot; }
    std::uint64_t GetRecordCount() const { return m_nRecords; }
    const std::vector<NtfsRun>& GetMftRuns() const { return m_arrRuns; }

    // The reference (record number and sequence) of the root folder's record.
    DWORD GetRootReference(std::uint64_t& nReference);

    // Fills the buffer as an enumeration request would: bytes 0..7 the record number
    // to start the next request at, then USN_RECORD_V2 records of in-use base records
    // from nStart on. ERROR_HANDLE_EOF when no record is left at or after nStart.
    DWORD Enumerate(std::uint64_t nStart, std::uint8_t* pBuffer, std::size_t nSize,
                    std::size_t& nReturned);
    // The facts of the files of the last Enumerate answer, in record order; a file whose
    // record does not say for sure is missing.
    const std::vector<NtfsFileFacts>& GetFacts() const { return m_arrFacts; }

private:
    // nCount whole records from nFirst into p; unmapped or sparse parts read as zeros.
    DWORD ReadRecords(std::uint64_t nFirst, std::size_t nCount, std::uint8_t* p);
    DWORD ReadRecord(std::uint64_t nRecord, std::uint8_t* p) { return ReadRecords(nRecord, 1, p); }
    // Bytes of a non-resident attribute's runs (whose LCNs are on the volume).
    DWORD ReadRuns(const std::vector<NtfsRun>& runs, std::uint64_t nBytes, std::uint8_t* p);
    DWORD MapMft();
    // The first record number at or after nRecord that lies in a mapped run.
    std::uint64_t SkipUnmapped(std::uint64_t nRecord) const;
    // Reads into m_arrScratch, one after the other, the extension records that the base
    // record's attribute list names in wanted entries, until one is found.
    bool SearchExtensions(std::uint64_t nRecord, const NtfsFileRecordInfo& base,
                          const std::function<bool(const NtfsAttributeListEntry&)>& wanted,
                          const std::function<bool(const NtfsFileRecordInfo&)>& found);
    // The size of a plain file's unnamed data stream, wherever its record keeps it.
    bool GetPlainFileSize(std::uint64_t nRecord, const NtfsFileRecordInfo& info,
                          std::uint64_t& nSize);

    std::unique_ptr<IBlockReader> m_pReader;
    NtfsBootSector m_boot;
    std::uint64_t m_nRecords = 0;
    std::vector<NtfsRun> m_arrRuns; // of the $MFT's data, by VCN

    // The chunk of consecutive records read last.
    std::vector<std::uint8_t> m_arrChunk;
    std::uint64_t m_nChunkFirst = 0;
    std::size_t m_nChunkCount = 0;
    std::uint64_t m_nChunkNext = 0; // records before this one were parsed in place
    std::vector<std::uint8_t> m_arrScratch;
    std::vector<std::uint8_t> m_arrList;
    std::vector<NtfsFileFacts> m_arrFacts;
};
