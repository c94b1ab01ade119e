// A backup tool's own listing of one snapshot, as its user makes it:
//
//   restic ls --json SNAPSHOT (restic 0.14 and newer): a line describing the snapshot,
//     then a line for each node: path, type, size, mtime with its offset from UTC;
//   borg list --json-lines ARCHIVE (borg 1.2 and newer): a line for each item: path
//     without its leading '/', type, size, mtime in local time without an offset.
//
// Told apart by their first line. A listing is hostile input: each line is one JSON
// object of at most kMaxLine bytes, each field the reader uses must have its type, and
// nothing is kept of a regular file but its entry in the index.
#pragma once

#include "BackupIndex.h"
#include "platform/FileTime.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// Which paths of a listing to keep: a scan asks only about some.
using ListingPathFilter = std::function<bool(std::string_view strPath)>;

// Reads one listing, block by block, into the index.
class CListingReader {
public:
    static constexpr std::size_t kMaxLine = std::size_t{1} << 20;
    static constexpr std::size_t kBlock = std::size_t{256} << 10;

    // strListing names the listing in its entry of the index.
    CListingReader(CBackupIndex& index, std::string strListing, ListingPathFilter keep = {},
                   const ILocalTime& localTime = SystemLocalTime());
    ~CListingReader();
    CListingReader(const CListingReader&) = delete;
    CListingReader& operator=(const CListingReader&) = delete;

    // Where the next bytes go: room for kBlock at least.
    std::span<char> Space();
    // Takes the first n bytes of Space(); false when the listing is wrong.
    bool Commit(std::size_t n);
    // The input has ended; false when the listing is wrong, cut short or empty. Only
    // then is the listing's entry added to the index.
    bool Finish();
    // Commit of a copy of bytes that are in memory already.
    bool Feed(std::string_view bytes);
    // Why a call answered false: "line 3: ...", or about the listing as a whole.
    const std::string& Error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_p;
};

// A listing read from a file: done, or why not, for the caller to say.
enum class ListingStatus : std::uint8_t { done, failed, stopped };
struct ListingResult {
    ListingStatus m_status = ListingStatus::done;
    std::string m_strWhy; // failed: a phrase, with the line to blame where there is one
};

struct ListingReadOptions {
    // Asked between reads; true stops the reading.
    std::function<bool()> stopped;
    // How long a named pipe may go without a writer before it is taken to have none.
    int nWriterWaitMilliseconds = 2000;
    const ILocalTime* pLocalTime = &SystemLocalTime();
};

// Reads the listing in strFile ("-": standard input, which must not be a terminal): a
// regular file, which must not change while it is read, or a pipe, read until its
// writer closes it.
ListingResult ReadListingFile(const std::string& strFile, CBackupIndex& index,
                              const ListingPathFilter& keep,
                              const ListingReadOptions& options = {});
