#include "ReadAhead.h"

#include "ScanControl.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace {

// Measured with bench/cold_bench.sh on a two-processor machine whose virtual disk
// the kernel calls rotational: four threads beat two and eight there; eight take
// processor time the walk needs. A disk without seeks serves more reads at once;
// more processors can make them.
constexpr int kMostThreads = 8;
// On a rotational disk the threads read neighbouring folders, in the walk's order,
// which its queue can sort; more than this would send its head between them.
constexpr int kRotationalThreads = 4;
// The walk's disk reads are looked at every so many folders (a read of a proc file).
constexpr std::uint32_t kSampleEvery = 16;
// Folders the walk may reach before the read-ahead, without reading from the disk,
// before the read-ahead takes the cache to be warm and stops.
constexpr std::uint32_t kWarmAfter = 64;
// Listings read before the walk, waiting for one, is woken.
constexpr std::size_t kWakeWalkAfter = 16;

bool IsDotOrDotDot(std::string_view s) {
    return s == "." || s == "..";
}

} // namespace

int ReadAheadThreadsFor(std::optional<bool> bRotational, std::string_view strFileSystem) {
    // Nothing to wait for in memory: read-ahead would only take the walk's processor.
    if (strFileSystem == "tmpfs" || strFileSystem == "ramfs")
        return 0;
    if (bRotational && *bRotational)
        return kRotationalThreads;
    const int nProcessors = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(2 * nProcessors, kRotationalThreads, kMostThreads);
}

// Shortest first, and each length's first byte above every shorter one's: so byte order
// is the order of the numbers, and no index's bytes begin another's.
void CReadAhead::AppendIndex(Key& key, std::uint32_t nIndex) {
    if (nIndex < 0x80) {
        key += static_cast<char>(nIndex);
    } else if (nIndex < 0x4000) {
        key += static_cast<char>(0x80 | (nIndex >> 8));
        key += static_cast<char>(nIndex & 0xFF);
    } else if (nIndex < 0x200000) {
        key += static_cast<char>(0xC0 | (nIndex >> 16));
        key += static_cast<char>((nIndex >> 8) & 0xFF);
        key += static_cast<char>(nIndex & 0xFF);
    } else {
        key += static_cast<char>(0xE0);
        for (int nShift = 24; nShift >= 0; nShift -= 8)
            key += static_cast<char>((nIndex >> nShift) & 0xFF);
    }
}

bool CFolderListing::IsFolder(std::size_t i) const {
    if (m_entries[i].kind != EntryKind::Unknown)
        return m_entries[i].kind == EntryKind::Directory;
    const Fetched* p = Attributes(i);
    return p && p->dwError == 0 && p->attr.kind == EntryKind::Directory;
}

std::size_t CFolderListing::Bytes() const {
    return sizeof *this + m_strNames.capacity() + m_entries.capacity() * sizeof(Entry) +
           m_fetched.capacity() * sizeof(Fetched);
}

void CFolderListing::Add(std::string_view strName, EntryKind kind) {
    if (m_entries.empty()) {
        // Most folders hold a few entries: grown from here, not from nothing.
        m_entries.reserve(16);
        m_strNames.reserve(256);
    }
    m_entries.push_back({static_cast<std::uint32_t>(m_strNames.size()),
                         static_cast<std::uint32_t>(strName.size()), kNone, kind});
    m_strNames.append(strName);
}

void CFolderListing::SetAttributes(std::size_t i, const Fetched& fetched) {
    m_entries[i].nFetched = static_cast<std::uint32_t>(m_fetched.size());
    m_fetched.push_back(fetched);
}

CReadAhead::CReadAhead(const std::string& strRoot, const ReadAheadOptions& options,
                       const IDirectoryLister& lister, WantsAttributes wantsAttributes,
                       LeavesOut leavesOut)
    : m_strRoot(strRoot), m_nMaxAhead(std::max<std::size_t>(options.nMaxAhead, 1)),
      m_nMaxQueued(std::max<std::size_t>(options.nMaxQueued, 1)),
      m_nMaxBytes(std::max<std::size_t>(options.nMaxBytes, 16)), m_nMaxListing(m_nMaxBytes / 16),
      m_nThreads(options.nThreads), m_pStats(options.pStats), m_lister(lister),
      m_wantsAttributes(std::move(wantsAttributes)), m_leavesOut(std::move(leavesOut)),
      m_bArmed(options.bAlways), m_nRoom(m_nMaxQueued) {
    if (m_strRoot.empty() || m_strRoot.back() != '/')
        m_strRoot += '/';
    if (!options.bAlways) {
        // Bytes this thread, the walk's, made the block layer fetch; without them
        // the read-ahead cannot tell a cold walk from a warm one and always runs.
        m_walkIo.Reset(::open("/proc/thread-self/io", O_RDONLY | O_CLOEXEC));
        if (!m_walkIo.IsOpen())
            m_bArmed = true;
        else
            WalkReadDisk();
    }
}

CReadAhead::~CReadAhead() {
    Stop();
    for (std::thread& t : m_threads) {
        if (t.joinable())
            t.join();
    }
}

// Once the read-ahead is first needed: a warm walk, or one of thousands of folders
// given to one worker, starts none.
void CReadAhead::StartThreads() {
    if (m_bStarted)
        return;
    m_bStarted = true;
    for (int i = 0; i < m_nThreads; ++i) {
        try {
            m_threads.emplace_back(
                [this, pLister = m_lister.ForAnotherThread()] { Run(*pLister); });
        } catch (const std::system_error&) {
            break; // fewer threads read ahead less; the walk does not depend on them
        }
    }
}

// Set under the lock, so that no thread about to wait misses it.
void CReadAhead::Stop() {
    {
        CLock lock(m_lock);
        m_evStop.Set();
    }
    m_work.notify_all();
    m_listed.notify_all();
}

bool CReadAhead::GiveBackDescriptors() {
    if (m_threads.empty() || m_bGivenBack)
        return false;
    m_bGivenBack = true;
    Stop();
    for (std::thread& t : m_threads)
        t.join();
    m_walkIo.Reset();
    return true;
}

// Whether the walk's thread fetched anything from a disk since the last look.
bool CReadAhead::WalkReadDisk() {
    char buf[512];
    const ssize_t n = ::pread(m_walkIo.Get(), buf, sizeof buf - 1, 0);
    if (n <= 0)
        return false;
    buf[n] = '\0';
    const char* p = std::strstr(buf, "\nread_bytes: ");
    if (!p)
        return false;
    const std::uint64_t nRead = std::strtoull(p + 13, nullptr, 10);
    const bool bRead = nRead != m_nWalkRead;
    m_nWalkRead = nRead;
    return bRead;
}

void CReadAhead::Sample(bool bNow) {
    if (!m_walkIo.IsOpen() || (!bNow && ++m_nSinceSample < kSampleEvery))
        return;
    m_nSinceSample = 0;
    if (WalkReadDisk()) {
        m_bArmed = true;
        m_nFirstSinceRead = 0;
    }
}

std::unique_ptr<CFolderListing> CReadAhead::Take(std::string_view key,
                                                 std::string_view strRelative) {
    Sample(key.empty());
    if (m_bArmed && !m_bGivenBack)
        StartThreads();
    std::unique_ptr<CFolderListing> pListing;
    std::size_t nWake = 0;
    {
        CLock lock(m_lock);
        m_walk = key;
        const std::size_t nAhead = m_ahead.size();
        auto it = m_ahead.find(m_walk);
        // Being read: the walk would only read it again. Woken once it is read and a
        // few more with it, or the threads have nothing else to do: every waking costs
        // two switches of thread, and the walk goes through listings quickly.
        m_bWalkFolderDone = false;
        while (it != m_ahead.end() && !it->second.pListing && !m_evStop.IsSet()) {
            m_bWalkWaits = true;
            lock.Wait(m_listed);
            it = m_ahead.find(m_walk);
        }
        m_bWalkWaits = false;
        if (it != m_ahead.end() && it->second.pListing) {
            // Another folder under that key (the parent changed since): not this one.
            const bool bSame = it->second.strRelative == strRelative;
            std::unique_ptr<CFolderListing> p = Drop(it);
            if (bSame)
                pListing = std::move(p);
        }
        m_queued.erase(m_walk); // no thread began it: the walk reads it now
        Passed();
        if (m_pStats)
            ++(pListing ? m_pStats->nReachedAhead : m_pStats->nReachedFirst);
        if (!pListing && m_walkIo.IsOpen() && m_bArmed && ++m_nFirstSinceRead >= kWarmAfter) {
            m_bArmed = false; // warm: what is queued is let go, the walk needs none of it
            m_queued.clear();
        }
        m_nRoom = m_nMaxQueued - m_queued.size();
        if (m_ahead.size() < nAhead) // room ahead again
            nWake = std::min<std::size_t>(m_queued.size(), m_nIdle);
    }
    Wake(nWake);
    return pListing;
}

// What the walk has passed is of no more use.
void CReadAhead::Passed() {
    for (auto it = m_ahead.begin(); it != m_ahead.end() && it->first < m_walk;) {
        if (!it->second.pListing) {
            it->second.bPassed = true; // its thread lets it go
            ++it;
        } else {
            Drop(it++);
        }
    }
    m_queued.erase(m_queued.begin(), m_queued.lower_bound(m_walk));
}

std::unique_ptr<CFolderListing> CReadAhead::Drop(std::map<Key, Slot, std::less<>>::iterator it) {
    m_nBytes -= it->second.nBytes;
    std::unique_ptr<CFolderListing> pListing = std::move(it->second.pListing);
    if (pListing) {
        --m_nReady;
        if (m_pStats)
            --m_pStats->nListingsWaiting;
    }
    m_ahead.erase(it);
    return pListing;
}

// Whether the walk waiting for its folder is to be woken: by a thread about to wait
// itself (bIdle), or with enough read for the walk to go on a while.
bool CReadAhead::WakesWalk(bool bIdle) const {
    return m_bWalkWaits && m_bWalkFolderDone && (bIdle || m_nReady >= kWakeWalkAfter);
}

// Without the lock: a thread woken under it would only wait for it.
void CReadAhead::Wake(std::size_t nThreads) {
    if (nThreads == 0)
        return;
    if (nThreads >= static_cast<std::size_t>(m_nThreads)) {
        m_work.notify_all();
    } else {
        for (std::size_t i = 0; i < nThreads; ++i)
            m_work.notify_one();
    }
}

std::unique_ptr<CFolderListing> CReadAhead::ReadWhole(IDirectoryLister& lister, int hDir,
                                                      std::string_view key,
                                                      std::string_view strRelative) {
    auto pListing = std::make_unique<CFolderListing>();
    std::vector<Subfolder> found;
    Fill(lister, hDir, key, strRelative, *pListing, true, m_walkScratch, found);
    Hand(found);
    return pListing;
}

void CReadAhead::Offer(std::vector<Subfolder>& subfolders) {
    if (!Active())
        return;
    std::string strPath = m_strRoot;
    std::erase_if(subfolders, [&](const Subfolder& s) {
        strPath.resize(m_strRoot.size());
        strPath += s.strRelative;
        return s.strRelative.size() >= PATH_MAX || m_leavesOut(strPath);
    });
    Hand(subfolders);
}

void CReadAhead::Hand(std::vector<Subfolder>& subfolders) {
    if (subfolders.empty())
        return;
    std::size_t nWake;
    {
        CLock lock(m_lock);
        nWake = std::min<std::size_t>(Queue(subfolders), m_nIdle);
    }
    Wake(nWake);
}

// Room is made by dropping the folders the walk reaches last.
std::size_t CReadAhead::Queue(std::vector<Subfolder>& subfolders) {
    std::size_t nQueued = 0;
    for (Subfolder& s : subfolders) {
        if (!(m_walk < s.key) || m_ahead.contains(s.key))
            continue; // passed, or read already
        if (m_queued.size() >= m_nMaxQueued) {
            m_bOverflowed.store(true, std::memory_order_relaxed);
            auto itLast = std::prev(m_queued.end());
            if (!(s.key < itLast->first))
                continue;
            m_queued.erase(itLast);
        }
        nQueued += m_queued.emplace(std::move(s.key), std::move(s.strRelative)).second;
    }
    if (m_pStats && m_queued.size() > m_pStats->nMostQueued)
        m_pStats->nMostQueued = m_queued.size();
    m_nRoom = m_nMaxQueued - m_queued.size();
    return nQueued;
}

bool CReadAhead::MayRead() {
    if (m_evStop.IsSet() || ForceEvent.IsSet())
        return false;
    if (ResumeEvent.IsSet())
        return true;
    if (m_pStats)
        ++m_pStats->nWaiting;
    WaitForAnyEvent({&ForceEvent, &m_evStop, &ResumeEvent}, INFINITE);
    if (m_pStats)
        --m_pStats->nWaiting;
    return !m_evStop.IsSet() && !ForceEvent.IsSet();
}

bool CReadAhead::WalkMayRead() {
    if (ForceEvent.IsSet())
        return false;
    return ResumeEvent.IsSet() ||
           WaitForAnyEvent({&ForceEvent, &ResumeEvent}, INFINITE) != WAIT_OBJECT_0;
}

void CReadAhead::Run(IDirectoryLister& lister) {
    if (m_pStats)
        ++m_pStats->nRunning;
    int hRoot = -1; // this thread's, opened for its first folder
    Key key;
    std::string strRelative;
    std::unique_ptr<CFolderListing> pListing;
    std::vector<Subfolder> found;
    Scratch scratch;
    for (bool bRead = false; Exchange(bRead, key, strRelative, std::move(pListing), found);
         bRead = true) {
        found.clear();
        pListing = ReadFolder(lister, hRoot, key, strRelative, scratch, found);
    }
    if (hRoot >= 0)
        lister.Close(hRoot);
    if (m_pStats)
        --m_pStats->nRunning;
}

// Hands over what the thread read (with bRead: the listing of key, or null when given
// up, and the subfolders found), and takes the queued folder the walk reaches first
// once there is room ahead; false at the stop. One taking of the lock for both.
bool CReadAhead::Exchange(bool bRead, Key& key, std::string& strRelative,
                          std::unique_ptr<CFolderListing> pListing, std::vector<Subfolder>& found) {
    bool bWakeWalk = false;
    std::size_t nWork = 0; // for other threads
    bool bTaken = false;
    {
        CLock lock(m_lock);
        if (bRead) {
            auto it = m_ahead.find(key);
            const bool bWalkFolder = m_bWalkWaits && key == m_walk;
            if (it == m_ahead.end()) {
                bWakeWalk = bWalkFolder;
            } else if (!pListing || it->second.bPassed) {
                Drop(it);
                ++nWork; // room for another
                m_bWalkFolderDone |= bWalkFolder;
                bWakeWalk = bWalkFolder; // the walk reads it itself
            } else {
                const std::size_t nBytes = pListing->Bytes();
                m_nBytes = m_nBytes - it->second.nBytes + nBytes;
                it->second.nBytes = nBytes;
                it->second.pListing = std::move(pListing);
                ++m_nReady;
                if (m_pStats)
                    ++m_pStats->nListingsWaiting;
                m_bWalkFolderDone |= bWalkFolder;
            }
            bWakeWalk = bWakeWalk || WakesWalk(false);
            nWork += Queue(found);
        }
        for (;;) {
            if (m_evStop.IsSet())
                break;
            if (!m_queued.empty() && m_ahead.size() < m_nMaxAhead &&
                m_nBytes + m_nMaxListing <= m_nMaxBytes) {
                bTaken = true;
                break;
            }
            if (bWakeWalk || WakesWalk(true))
                m_listed.notify_all();
            Wake(std::min<std::size_t>(nWork, m_nIdle));
            bWakeWalk = false;
            nWork = 0;
            ++m_nIdle;
            if (m_pStats)
                ++m_pStats->nWaiting;
            lock.Wait(m_work);
            --m_nIdle;
            if (m_pStats)
                --m_pStats->nWaiting;
        }
        if (bTaken) {
            auto node = m_queued.extract(m_queued.begin());
            m_nRoom = m_nMaxQueued - m_queued.size();
            key = std::move(node.key());
            strRelative = std::move(node.mapped());
            Slot& slot = m_ahead[key];
            slot.strRelative = strRelative;
            slot.nBytes = m_nMaxListing; // as much as it may take
            m_nBytes += m_nMaxListing;
            if (m_pStats && m_ahead.size() > m_pStats->nMostAhead)
                m_pStats->nMostAhead = m_ahead.size();
            nWork = std::min<std::size_t>(nWork > 0 ? nWork - 1 : 0, m_nIdle);
        }
        if (m_pStats && m_nBytes > m_pStats->nMostBytes)
            m_pStats->nMostBytes = m_nBytes;
    }
    if (bWakeWalk)
        m_listed.notify_all();
    Wake(bTaken ? nWork : 0);
    return bTaken;
}

std::unique_ptr<CFolderListing> CReadAhead::ReadFolder(IDirectoryLister& lister, int& hRoot,
                                                       const Key& key,
                                                       const std::string& strRelative,
                                                       Scratch& scratch,
                                                       std::vector<Subfolder>& found) {
    if (!MayRead())
        return nullptr;
    DWORD dwError = 0;
    if (hRoot < 0) {
        Count();
        hRoot = lister.OpenRoot(m_strRoot, dwError);
        if (hRoot < 0)
            return nullptr;
    }
    Count();
    // A folder replaced by a link since it was listed is not followed, nor is a mount
    // crossed; vanished, locked or out of descriptors: the walk finds out for itself.
    const int hDir = lister.OpenBeneath(hRoot, strRelative, dwError);
    if (hDir < 0)
        return nullptr;
    auto pListing = std::make_unique<CFolderListing>();
    FileAttributes attr;
    Count();
    if (lister.GetAttributes(hDir, ".", attr, dwError)) {
        pListing->m_bHaveId = true;
        pListing->m_id = attr.id;
    }
    const bool bWhole = Fill(lister, hDir, key, strRelative, *pListing, false, scratch, found);
    lister.Close(hDir);
    if (!bWhole) {
        pListing.reset();
        found.clear(); // the walk reads the folder itself, and hands them on
    }
    return pListing;
}

// Lists the open folder into the listing, reads the attributes the walk will ask for
// and finds the subfolders to read next. A thread gives up a folder too large to hold
// (false); the walk keeps what it holds, partial, and lists the rest itself.
bool CReadAhead::Fill(IDirectoryLister& lister, int hDir, std::string_view key,
                      std::string_view strRelative, CFolderListing& listing, bool bWalk,
                      Scratch& scratch, std::vector<Subfolder>& found) {
    // Whether the listing may hold what it holds now: a thread's has its room counted
    // from the start.
    auto fits = [&] { return listing.Bytes() <= m_nMaxListing; };
    auto mayRead = [&] { return bWalk ? WalkMayRead() : MayRead(); };

    std::string& strPath = scratch.strPath;
    strPath = m_strRoot;
    strPath += strRelative;
    if (!strRelative.empty())
        strPath += '/';
    const std::size_t nBase = strPath.size();
    auto& arrToRead = scratch.arrToRead;
    auto& arrFolders = scratch.arrFolders;
    arrToRead.clear();
    arrFolders.clear();
    if (!bWalk)
        Count();
    DirEntry entry;
    DWORD dwError = 0;
    for (;;) {
        if (!mayRead() || !fits()) {
            if (!bWalk)
                return false;
            listing.m_bPartial = true;
            break;
        }
        if (!lister.Next(hDir, entry, dwError)) {
            listing.m_dwEndError = dwError;
            break;
        }
        const auto i = static_cast<std::uint32_t>(listing.Size());
        listing.Add(entry.strName, entry.kind);
        if (entry.kind == EntryKind::Unknown) {
            arrToRead.emplace_back(entry.nInode, i);
        } else if (entry.kind == EntryKind::File) {
            strPath.resize(nBase);
            strPath += entry.strName;
            if (m_wantsAttributes(strPath))
                arrToRead.emplace_back(entry.nInode, i);
        } else if (entry.kind == EntryKind::Directory && !IsDotOrDotDot(entry.strName)) {
            arrFolders.push_back(i);
        }
    }
    // In the order of their inodes, which on most file systems is their order on the
    // disk. What is not read here the walk reads itself, from the folder it has open.
    std::sort(arrToRead.begin(), arrToRead.end());
    for (const auto& [nInode, i] : arrToRead) {
        if (!mayRead() || !fits()) {
            if (!bWalk)
                return false;
            break;
        }
        if (!bWalk)
            Count();
        CFolderListing::Fetched fetched;
        if (!lister.GetAttributes(hDir, listing.Name(i), fetched.attr, fetched.dwError) &&
            fetched.dwError == 0)
            fetched.dwError = EIO;
        listing.SetAttributes(i, fetched);
        if (listing.Kind(i) == EntryKind::Unknown && listing.IsFolder(i))
            arrFolders.push_back(i);
    }
    // Those the read-ahead may read: by a path it can open, and not left out.
    strPath.resize(nBase);
    for (std::uint32_t i : arrFolders) {
        const std::string_view strName = listing.Name(i);
        if (nBase - m_strRoot.size() + strName.size() >= PATH_MAX)
            continue;
        strPath.resize(nBase);
        strPath += strName;
        if (m_leavesOut(strPath))
            continue;
        Subfolder& s = found.emplace_back();
        s.key = key;
        AppendIndex(s.key, i);
        s.strRelative.assign(strPath, m_strRoot.size());
    }
    return true;
}
