// What the backups hold: the regular files of the backup tools' listings, each kept as
// a hash of its path with its size and its last write, so that a million of them fit
// in a few tens of MiB. A found file is held when some listing has a regular file at
// its path, of its size, and written no earlier than it, to the second.
#pragma once

#include "ByteTotal.h"
#include "FileProperty.h"
#include "GroupTable.h"
#include "ResultsStore.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class BackupTool : std::uint8_t { restic, borg };

// How a listing wrote a path. The tools' JSON holds only valid UTF-8, so each byte of
// a name that is not part of valid UTF-8 comes out as a stand-in, and which byte it was
// is lost: such a path is compared with the found ones written the same way.
enum class NameForm : std::uint8_t {
    exact,    // the path's own bytes
    replaced, // each such byte written as U+FFFD (restic: Go's JSON encoder)
    question, // each such byte written as '?' (borg: Python's surrogates replaced)
};

// What a listing says of its snapshot, where it says it.
struct BackupListingInfo {
    std::string strListing; // the file as given; "-" for standard input
    BackupTool tool = BackupTool::restic;
    std::optional<std::string> strSnapshot;
    std::optional<std::int64_t> nTime; // when it was taken, seconds since 1970 (UTC)
    std::optional<std::string> strHost;
    std::optional<std::vector<std::string>> arrPaths;
    std::int64_t nFiles = 0; // regular files listed
};

// Times are local wall-clock seconds: seconds since 1970-01-01 00:00 of the local
// calendar, as the found files' dates count them.
class CBackupIndex {
public:
    // Adds a regular file; false when the index is full (4 G entries).
    bool Add(std::string_view strPath, NameForm form, std::int64_t nSize, std::int64_t nModified);
    // The key of a path written in that form: the same for the same bytes.
    static std::uint64_t Key(std::string_view strPath, NameForm form);
    std::size_t Entries() const { return m_arrEntries.size(); }

    // A further name of a file whose listing gives its size only with the first name.
    struct HardLink {
        std::uint64_t nKey; // of the name, written in form
        NameForm form;
        std::uint64_t nFirstNameKey;
        std::int64_t nModified;
    };
    // Adds the names with the size of their first name among the entries from nFirst
    // on; a name whose first one is not there is left out. False when the index is full.
    bool AddHardLinks(std::size_t nFirst, std::vector<HardLink> arrLinks);

    void AddListing(BackupListingInfo info) { m_arrListings.push_back(std::move(info)); }
    const std::vector<BackupListingInfo>& Listings() const { return m_arrListings; }

    // Once every listing is in; Holds may then be asked from any number of threads.
    void Seal();
    bool Holds(std::string_view strPath, std::int64_t nSize, std::int64_t nModified) const;

private:
    struct Entry {
        std::uint64_t nKey;
        std::int64_t nSize;
        std::int64_t nModified;
    };
    bool AddKey(std::uint64_t nKey, std::int64_t nSize, std::int64_t nModified);
    bool Match(std::uint64_t nKey, std::int64_t nSize, std::int64_t nModified) const;

    std::vector<Entry> m_arrEntries; // sorted by key once sealed
    // Sealed: the entries whose key's top bits are i are [m_arrBuckets[i], m_arrBuckets[i+1]).
    std::vector<std::uint32_t> m_arrBuckets;
    unsigned m_nShift = 64;
    std::array<bool, 3> m_bForms{}; // which name forms occur
    std::vector<BackupListingInfo> m_arrListings;
};

// The local wall-clock seconds of a found file's date; false when it has none.
bool LocalSecondsOf(const COleDateTime& dt, std::int64_t& nSeconds);

// The found files that no backup holds, per group. Counted on the scan's threads.
class CNotBackedUp {
public:
    explicit CNotBackedUp(const CBackupIndex& index) : m_index(index) {}

    // Counts the file unless a backup holds it; true when one does.
    bool Count(int nGroup, const FileProperty& prop);

    std::int64_t Files(int nGroup) const { return m_store.GetGroupFiles(nGroup); }
    ByteCount Bytes(int nGroup) const { return m_store.GetGroupBytes(nGroup); }
    std::int64_t TotalFiles() const { return m_store.GetTotalFiles(); }
    ByteCount TotalBytes() const { return m_store.GetTotalBytes(); }
    const CBackupIndex& Index() const { return m_index; }

private:
    const CBackupIndex& m_index;
    CResultsStore m_store{false}; // counts only
};
