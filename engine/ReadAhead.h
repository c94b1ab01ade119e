// Read-ahead of a directory walk: a few threads list the folders the walk will reach
// next, with the attributes of the files it will ask about, and hand each listing to
// the walk, which takes it instead of listing the folder again. On a cold cache the
// disk serves many reads at once instead of one at a time, and every folder is listed
// once.
//
// The walk's order is depth first in listing order, so every folder has a place in it:
// the indexes of the entries leading to it in each listing (its key). The threads read
// the known folders with the smallest keys first, those the walk meets soonest. A
// folder that no thread has begun when the walk reaches it, the walk reads itself, as
// whole as it may hold, and hands its subfolders to the threads; one a thread is
// reading, the walk waits for.
//
// A listing is taken whole or not at all, under the path the walk reaches it by, with
// the attributes read right after it: a folder that changed since it was read ahead is
// reported as it was when read, never as a mix of then and now.
//
// Memory is bounded whatever the tree. Waiting for the walk: at most nMaxQueued folders
// found (a key and a path under PATH_MAX each) and nMaxAhead folders read or being
// read, whose listings (names, kinds, the attributes read) take at most nMaxBytes
// together, each at most a sixteenth of it; a larger folder the walk lists itself. The
// walk holds one listing per level it is in, each within the same sixteenth (the rest
// of a larger one it reads as it goes). Each thread holds a lister of two 32 KiB
// buffers. With the defaults: 4 MiB of listings, and the keys and paths of 1,536
// folders (under 7 MiB even were every path PATH_MAX long).
#pragma once

#include "ThreadSafety.h"
#include "platform/DirListing.h"
#include "platform/Event.h"

#include "SafeFile.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// What the read-ahead did, for tests and benchmarks.
struct ReadAheadStats {
    std::atomic<std::uint64_t> nReads{0}; // the threads' opens, listings and attribute reads
    std::atomic<int> nWaiting{0};         // threads waiting: for work or a resume
    std::atomic<int> nRunning{0};         // threads not yet ended
    std::atomic<std::size_t> nMostQueued{0};
    std::atomic<std::size_t> nMostAhead{0};
    std::atomic<std::size_t> nMostBytes{0}; // of listings waiting or being read
    std::atomic<std::size_t> nListingsWaiting{0};
    std::atomic<std::uint64_t> nReachedAhead{0}; // folders whose listing the walk took
    std::atomic<std::uint64_t> nReachedFirst{0}; // folders the walk listed itself
};

struct ReadAheadOptions {
    int nThreads = 0; // 0: no read-ahead
    std::size_t nMaxAhead = 512;
    std::size_t nMaxQueued = 1024;
    std::size_t nMaxBytes = 4 << 20;
    // Also while the walk finds everything in the caches (tests). Otherwise the
    // read-ahead starts when the walk reads from the disk and stops when the walk goes
    // on without it, so that a warm walk is not slowed by work it does not need.
    bool bAlways = false;
    ReadAheadStats* pStats = nullptr; // optional, must outlive the walk
};

// Read-ahead threads for a drive: whether its disk is rotational (std::nullopt when
// sysfs does not say) and the name of its file system.
int ReadAheadThreadsFor(std::optional<bool> bRotational, std::string_view strFileSystem);

// A folder's entries in the order they were listed, with the attributes read for those
// a walk asks about: the folder as it was then.
class CFolderListing {
public:
    struct Fetched {
        FileAttributes attr;
        DWORD dwError = 0; // why they could not be read; 0: attr holds them
    };

    std::size_t Size() const { return m_entries.size(); }
    std::string_view Name(std::size_t i) const {
        return {m_strNames.data() + m_entries[i].nName, m_entries[i].nLength};
    }
    EntryKind Kind(std::size_t i) const { return m_entries[i].kind; }
    // Those read with the listing, or null.
    const Fetched* Attributes(std::size_t i) const {
        const std::uint32_t n = m_entries[i].nFetched;
        return n == kNone ? nullptr : &m_fetched[n];
    }
    // A subfolder: listed as one, or listed without a kind and read to be one.
    bool IsFolder(std::size_t i) const;
    // Memory held, counted against the read-ahead's bound.
    std::size_t Bytes() const;

    void Add(std::string_view strName, EntryKind kind);
    void SetAttributes(std::size_t i, const Fetched& fetched);

    bool m_bHaveId = false;
    FileId m_id;             // the folder's own: one opened again by name must be it
    DWORD m_dwEndError = 0;  // what ended the listing before its end
    bool m_bPartial = false; // the rest is still to be listed from the open folder

private:
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};
    struct Entry {
        std::uint32_t nName;
        std::uint32_t nLength;
        std::uint32_t nFetched;
        EntryKind kind;
    };
    std::string m_strNames;
    std::vector<Entry> m_entries;
    std::vector<Fetched> m_fetched;
};

class CReadAhead {
public:
    // A folder's place in the walk: the index of each entry on the way to it, counting
    // every entry a listing gives ("." and ".." too), each written by AppendIndex so
    // that keys compare, byte by byte, as the walk meets their folders (a folder's
    // before those below it). Most fit in a string without taking memory.
    using Key = std::string;
    static void AppendIndex(Key& key, std::uint32_t nIndex);
    // Whether the walk will ask for the attributes of the file of this full path.
    using WantsAttributes = std::function<bool(std::string_view strPath)>;
    // Whether the walk leaves out the folder of this full path.
    using LeavesOut = std::function<bool(std::string_view strPath)>;
    struct Subfolder {
        Key key;
        std::string strRelative;
    };

    // The threads read through listers of the walk's (ForAnotherThread), which must
    // outlive the read-ahead. Both callbacks are called on the read-ahead's threads,
    // several at once, and on the walk's.
    CReadAhead(const std::string& strRoot, const ReadAheadOptions& options,
               const IDirectoryLister& lister, WantsAttributes wantsAttributes,
               LeavesOut leavesOut);
    // Ends every thread: a stop is as quick as the system call in progress.
    ~CReadAhead();
    CReadAhead(const CReadAhead&) = delete;
    CReadAhead& operator=(const CReadAhead&) = delete;

    // The walk enters a folder (the root first, with an empty key and path): its
    // listing when read ahead under that path, once a thread reading it is done; null
    // when the walk lists it itself.
    std::unique_ptr<CFolderListing> Take(std::string_view key, std::string_view strRelative)
        EXCLUDES(m_lock);
    // Whether the walk is to read a folder it lists itself with ReadWhole.
    bool Active() const { return m_bArmed && !m_threads.empty() && !m_bGivenBack; }
    // The walk's own reading of the open folder it just entered, as a thread reads one:
    // its subfolders go to the threads. Partial when too large to hold, or on a stop.
    std::unique_ptr<CFolderListing> ReadWhole(IDirectoryLister& lister, int hDir,
                                              std::string_view key, std::string_view strRelative)
        EXCLUDES(m_lock);
    // Subfolders the threads could be given (Offer) to read, from the walk's listings.
    // None while every folder found was queued: the threads know of all there are.
    std::size_t Room() const {
        return Active() && m_bOverflowed.load(std::memory_order_relaxed)
                   ? m_nRoom.load(std::memory_order_relaxed)
                   : 0;
    }
    void Offer(std::vector<Subfolder>& subfolders) EXCLUDES(m_lock);
    // The walk ran out of descriptors: every thread ends, closing all of the
    // read-ahead's, before this returns. false when there were none to give back.
    bool GiveBackDescriptors() EXCLUDES(m_lock);

private:
    // A folder read, or being read, ahead of the walk.
    struct Slot {
        std::string strRelative;
        std::unique_ptr<CFolderListing> pListing; // once read
        std::size_t nBytes = 0;                   // counted against the bound
        bool bPassed = false;                     // by the walk, while being read
    };

    // What a reading of a folder needs but does not keep, kept by each reader.
    struct Scratch {
        std::string strPath;
        std::vector<std::pair<std::uint64_t, std::uint32_t>> arrToRead; // inode, entry
        std::vector<std::uint32_t> arrFolders;                          // entries
    };

    void StartThreads();
    void Stop() EXCLUDES(m_lock);
    void Run(IDirectoryLister& lister) EXCLUDES(m_lock);
    bool Exchange(bool bRead, Key& key, std::string& strRelative,
                  std::unique_ptr<CFolderListing> pListing, std::vector<Subfolder>& found)
        EXCLUDES(m_lock);
    std::unique_ptr<CFolderListing> ReadFolder(IDirectoryLister& lister, int& hRoot, const Key& key,
                                               const std::string& strRelative, Scratch& scratch,
                                               std::vector<Subfolder>& found);
    bool Fill(IDirectoryLister& lister, int hDir, std::string_view key,
              std::string_view strRelative, CFolderListing& listing, bool bWalk, Scratch& scratch,
              std::vector<Subfolder>& found) EXCLUDES(m_lock);
    void Hand(std::vector<Subfolder>& subfolders) EXCLUDES(m_lock);
    std::size_t Queue(std::vector<Subfolder>& subfolders) REQUIRES(m_lock);
    // Forgets the folder; its listing, if read, to whom wants it.
    std::unique_ptr<CFolderListing> Drop(std::map<Key, Slot, std::less<>>::iterator it)
        REQUIRES(m_lock);
    void Passed() REQUIRES(m_lock);
    bool WakesWalk(bool bIdle) const REQUIRES(m_lock);
    void Wake(std::size_t nThreads);
    void Sample(bool bNow);
    bool WalkReadDisk();
    // false when the thread must end; blocks while the scan is paused, so that a pause
    // holds the read-ahead's reads too.
    bool MayRead();
    // The same for the walk's own reading: only a stop of the scan ends it.
    static bool WalkMayRead();
    void Count(std::uint64_t n = 1) {
        if (m_pStats)
            m_pStats->nReads.fetch_add(n, std::memory_order_relaxed);
    }

    // Constants, set before any thread starts.
    std::string m_strRoot; // with a trailing '/'
    std::size_t m_nMaxAhead;
    std::size_t m_nMaxQueued;
    std::size_t m_nMaxBytes;
    std::size_t m_nMaxListing; // bytes of one listing
    int m_nThreads;
    ReadAheadStats* m_pStats;
    const IDirectoryLister& m_lister;
    WantsAttributes m_wantsAttributes;
    LeavesOut m_leavesOut;

    // The walk's thread's own.
    CFileHandle m_walkIo; // the walk thread's I/O counters
    std::uint64_t m_nWalkRead = 0;
    std::uint32_t m_nSinceSample = 0;
    std::uint32_t m_nFirstSinceRead = 0; // folders the walk reached first, without the disk
    bool m_bArmed;
    bool m_bStarted = false;
    bool m_bGivenBack = false;
    Scratch m_walkScratch;
    std::vector<std::thread> m_threads;

    // Under the lock.
    CMutex m_lock;
    std::condition_variable m_work;   // a folder queued or room ahead: for idle threads
    std::condition_variable m_listed; // a folder the walk waits for was read or given up
    std::map<Key, std::string, std::less<>> m_queued GUARDED_BY(m_lock);
    std::map<Key, Slot, std::less<>> m_ahead GUARDED_BY(m_lock);
    Key m_walk GUARDED_BY(m_lock); // the walk's place
    std::size_t m_nBytes GUARDED_BY(m_lock) = 0;
    int m_nIdle GUARDED_BY(m_lock) = 0;          // threads waiting for work
    std::size_t m_nReady GUARDED_BY(m_lock) = 0; // listings read and not yet taken
    bool m_bWalkWaits GUARDED_BY(m_lock) = false;
    bool m_bWalkFolderDone GUARDED_BY(m_lock) = false; // the folder it waits for, read or given up

    // Without the lock.
    CEvent m_evStop{false};                 // the one way to end the threads; set under the lock
    std::atomic<std::size_t> m_nRoom{0};    // m_nMaxQueued less what is queued, as last seen
    std::atomic<bool> m_bOverflowed{false}; // a folder found was let go for want of room
};
