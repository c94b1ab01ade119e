// The volume journal: what the NTFS enumerator asks of a volume. Shaped like the
// change-journal requests of the system it was first written for, so that the
// enumerator's logic stays the same whatever answers them: a real journal, a reader
// of the volume's master file table, or a table of records in a test.
#pragma once

#include "DirListing.h"
#include "Types.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

// ---- Request and answer records ------------------------------------------------------

struct USN_JOURNAL_DATA_V0 {
    std::uint64_t UsnJournalID;
    std::int64_t FirstUsn;
    std::int64_t NextUsn;
    std::int64_t LowestValidUsn;
    std::int64_t MaxUsn;
    std::uint64_t MaximumSize;
    std::uint64_t AllocationDelta;
};
static_assert(sizeof(USN_JOURNAL_DATA_V0) == 56);

struct CREATE_USN_JOURNAL_DATA {
    std::uint64_t MaximumSize;
    std::uint64_t AllocationDelta;
};

struct DELETE_USN_JOURNAL_DATA {
    std::uint64_t UsnJournalID;
    std::uint32_t DeleteFlags;
};
inline constexpr std::uint32_t USN_DELETE_FLAG_NOTIFY = 2;

struct MFT_ENUM_DATA_V0 {
    std::uint64_t StartFileReferenceNumber;
    std::int64_t LowUsn;
    std::int64_t HighUsn;
};
static_assert(sizeof(MFT_ENUM_DATA_V0) == 24);

// USN_RECORD_V2, little-endian, read and written by offset: records in a buffer are
// only 8-byte aligned and come from a source that is not trusted.
namespace UsnRecordV2 {
inline constexpr std::size_t RecordLength = 0;               // uint32, to the next record
inline constexpr std::size_t MajorVersion = 4;               // uint16
inline constexpr std::size_t MinorVersion = 6;               // uint16
inline constexpr std::size_t FileReferenceNumber = 8;        // uint64
inline constexpr std::size_t ParentFileReferenceNumber = 16; // uint64
inline constexpr std::size_t Usn = 24;                       // int64
inline constexpr std::size_t TimeStamp = 32;                 // int64
inline constexpr std::size_t Reason = 40;                    // uint32
inline constexpr std::size_t SourceInfo = 44;                // uint32
inline constexpr std::size_t SecurityId = 48;                // uint32
inline constexpr std::size_t FileAttributes = 52;            // uint32
inline constexpr std::size_t FileNameLength = 56;            // uint16, bytes
inline constexpr std::size_t FileNameOffset = 58;            // uint16, from the record's start
inline constexpr std::size_t FileName = 60;                  // UTF-16LE, not terminated
inline constexpr std::size_t HeaderSize = 60;
} // namespace UsnRecordV2

inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;

// The enumeration buffer: the next start reference, then up to 64 KiB of records.
inline constexpr std::size_t kUsnBufferSize = 0x10008;

// ---- The journal's own answers ---------------------------------------------------------
// errno values like every failure in the engine (Types.h), under the names the
// enumerator's rounds know them by: no record left, a journal being deleted, none at all.
inline constexpr DWORD ERROR_HANDLE_EOF = ENODATA;
inline constexpr DWORD ERROR_JOURNAL_DELETE_IN_PROGRESS = EBUSY;
inline constexpr DWORD ERROR_JOURNAL_NOT_ACTIVE = ENOENT;

// ---- The interface -----------------------------------------------------------------------

// One volume at a time. Every request answers 0 when done or the error code that says why
// not. Nothing here is shared between threads: each enumerator owns its journal.
class IVolumeJournal {
public:
    virtual ~IVolumeJournal() = default;

    // Opens the volume whose root folder (mount point) is given.
    virtual DWORD Open(const std::string& strRoot) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;

    virtual DWORD Query(USN_JOURNAL_DATA_V0& data) = 0;
    virtual DWORD Create(const CREATE_USN_JOURNAL_DATA& data) = 0;
    // Returns once a deletion the volume is running has finished.
    virtual DWORD DeleteAndWait(const DELETE_USN_JOURNAL_DATA& data) = 0;

    // The root folder as a file: opened, asked for its file reference, closed.
    virtual DWORD OpenRootDirectory(const std::string& strRoot) = 0;
    virtual DWORD GetRootFileReference(std::uint64_t& nReference) = 0;
    virtual void CloseRootDirectory() = 0;

    // Fills the buffer with the next start reference (bytes 0..7) and USN_RECORD_V2
    // records from `in.StartFileReferenceNumber` on; nReturned is the number of bytes
    // written. ERROR_HANDLE_EOF once no record is left.
    virtual DWORD Enumerate(const MFT_ENUM_DATA_V0& in, std::uint8_t* pBuffer, std::size_t nSize,
                            std::size_t& nReturned) = 0;

    // The enumerator keeps a file of the last Enumerate answer for its report: a source
    // that reads the file records keeps what this one says of its file, in a few bytes.
    virtual void KeepFile(std::uint64_t nReference) = 0;
    // Size, last-write time and kind of a kept file, named by its reference and its full
    // path, not following a final symbolic link.
    virtual DWORD GetFileAttributes(std::uint64_t nReference, const std::string& strPath,
                                    FileAttributes& attr) = 0;

    // The root folder of the volume that holds a path (on a system with drive letters,
    // the path's drive).
    virtual std::string GetVolumeRoot(const std::string& strPath) = 0;
};
