// Read-ahead of a directory walk: a few threads open and list the folders the walk
// will reach next and fetch the attributes of the files it will ask for, so that on a
// cold cache the walk finds them in the kernel's caches instead of waiting for the
// disk one read at a time. The walk itself is untouched: it reads what it always read,
// in the same order; the read-ahead only warms what it will read.
//
// The walk's order is depth first in listing order, so every folder has a place in it:
// the indexes of the entries leading to it in each listing (its key). The read-ahead
// reads the known folders with the smallest keys first, that is those the walk meets
// soonest, and learns the walk's place from each folder it enters.
//
// Memory is bounded whatever the tree: at most nMaxQueued folders found and waiting,
// and nMaxAhead read ahead of the walk, each held as its key and its path below the
// root (a path that does not fit PATH_MAX is not read ahead), plus a 32 KiB listing
// buffer per thread. With the defaults and paths of a few hundred bytes that is well
// under a megabyte; the worst case, paths of PATH_MAX, stays under 24 MiB. A folder with more
// subfolders than fit is read ahead as the walk reaches them.
#pragma once

#include "platform/Event.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// What the read-ahead did, for tests and benchmarks.
struct ReadAheadStats {
    std::atomic<std::uint64_t> nReads{0}; // opens, listings and attribute reads
    std::atomic<int> nWaiting{0};         // threads waiting: for work, the walk or a resume
    std::atomic<int> nRunning{0};         // threads not yet ended
    std::atomic<std::size_t> nMostQueued{0};
    std::atomic<std::size_t> nMostAhead{0};
    std::atomic<std::uint64_t> nReachedAhead{0}; // folders the walk found read ahead
    std::atomic<std::uint64_t> nReachedFirst{0}; // folders the walk reached first
};

struct ReadAheadOptions {
    int nThreads = 0; // 0: no read-ahead
    std::size_t nMaxAhead = 512;
    std::size_t nMaxQueued = 1024;
    // Also while the walk finds everything in the caches (tests). Otherwise the
    // read-ahead starts when the walk reads from the disk and stops when the walk goes
    // on without it, so that a warm walk is not slowed by work it does not need.
    bool bAlways = false;
    ReadAheadStats* pStats = nullptr; // optional, must outlive the walk
};

// Read-ahead threads for a drive: whether its disk is rotational (std::nullopt when
// sysfs does not say) and the name of its file system.
int ReadAheadThreadsFor(std::optional<bool> bRotational, std::string_view strFileSystem);

class CReadAhead {
public:
    // A folder's place in the walk: the index of each entry on the way to it, counting
    // every entry a listing gives ("." and ".." too).
    using Key = std::vector<std::uint32_t>;
    // Whether the walk will ask for the attributes of a file of this name.
    using WantsAttributes = std::function<bool(std::string_view strName)>;
    // Whether the walk leaves out the folder of this full path.
    using LeavesOut = std::function<bool(std::string_view strPath)>;

    // Both callbacks are called on the read-ahead's threads, several at once.
    CReadAhead(const std::string& strRoot, const ReadAheadOptions& options,
               WantsAttributes wantsAttributes, LeavesOut leavesOut);
    // Ends every thread: a stop is as quick as the system call in progress.
    ~CReadAhead();
    CReadAhead(const CReadAhead&) = delete;
    CReadAhead& operator=(const CReadAhead&) = delete;

    // The walk entered a folder (the root first, with an empty key and path).
    void Reached(std::span<const std::uint32_t> key, std::string_view strRelative);
    // The walk ran out of descriptors: every one of the read-ahead's is closed before
    // this returns, and it opens no more. false when it held none to give back.
    bool GiveBackDescriptors();

private:
    struct Folder {
        Key key;
        std::string strRelative;
    };

    void StartThreads();
    void Run();
    void Read(const Folder& folder, bool bFiles, std::int64_t nPassed, std::span<char> buffer);
    void QueueChain(std::span<const std::uint32_t> key, std::string_view strRelative);
    // false when the read-ahead must end or give back its descriptors; blocks while the
    // scan is paused, so that a pause holds the read-ahead's reads too.
    bool MayRead();
    int Open(const std::string& strRelative);
    void Queue(const Key& key, std::string strRelative);
    bool WalkReadDisk();
    void Count(std::uint64_t n = 1) {
        if (m_pStats)
            m_pStats->nReads.fetch_add(n, std::memory_order_relaxed);
    }

    std::string m_strRoot; // with a trailing '/'
    std::size_t m_nMaxAhead;
    std::size_t m_nMaxQueued;
    ReadAheadStats* m_pStats;
    WantsAttributes m_wantsAttributes;
    LeavesOut m_leavesOut;
    int m_fdRoot = -1;
    int m_fdWalkIo = -1; // the walk thread's I/O counters
    std::uint64_t m_nWalkRead = 0;
    std::uint32_t m_nSinceSample = 0;
    std::uint32_t m_nFirstSinceRead = 0; // folders the walk reached first, without the disk
    int m_nThreads;
    bool m_bArmed;
    bool m_bStarted = false;
    std::atomic<bool> m_bNoOpenat2{false};

    std::mutex m_lock;
    std::condition_variable m_work;   // a folder queued, room ahead, or the end
    std::condition_variable m_closed; // a thread closed its descriptor
    std::map<Key, std::string> m_queued;
    std::set<Key> m_ahead; // read, or being read, and not yet reached by the walk
    Key m_walk;            // the walk's place
    bool m_bEnd = false;
    bool m_bGivenBack = false;
    int m_nOpen = 0; // descriptors the threads hold
    std::atomic<bool> m_bQuit{false};
    CEvent m_evQuit{false}; // wakes threads held by a pause

    std::vector<std::thread> m_threads;
};
