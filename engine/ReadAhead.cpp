#include "ReadAhead.h"

#include "ScanControl.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Layout of a getdents64 record, as DirListing.cpp reads it.
constexpr std::size_t kInodeOffset = 0;
constexpr std::size_t kRecLenOffset = 16;
constexpr std::size_t kTypeOffset = 18;
constexpr std::size_t kNameOffset = 19;
constexpr std::size_t kBufferSize = 32 * 1024;

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
// Folders above the walk's listed again when the walk gets ahead: those nearest have
// the subfolders it reaches next.
constexpr std::size_t kChainLevels = 8;
// Inodes whose numbers differ only below this share a block of the inode table on
// ext4 (4 KiB blocks of 256-byte inodes) and are near neighbours on XFS and btrfs: a
// disk read for one brings the others into memory (ext4 reads even further ahead), so
// one attribute read warms them all and the rest are left to the walk.
constexpr std::uint64_t kInodesABlock = 16;

bool IsDotOrDotDot(std::string_view s) {
    return s == "." || s == "..";
}

bool IsPrefix(const CReadAhead::Key& a, std::span<const std::uint32_t> b) {
    return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
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

CReadAhead::CReadAhead(const std::string& strRoot, const ReadAheadOptions& options,
                       WantsAttributes wantsAttributes, LeavesOut leavesOut)
    : m_strRoot(strRoot), m_nMaxAhead(std::max<std::size_t>(options.nMaxAhead, 1)),
      m_nMaxQueued(std::max<std::size_t>(options.nMaxQueued, 1)), m_pStats(options.pStats),
      m_wantsAttributes(std::move(wantsAttributes)), m_leavesOut(std::move(leavesOut)),
      m_nThreads(options.nThreads), m_bArmed(options.bAlways) {
    if (m_strRoot.empty() || m_strRoot.back() != '/')
        m_strRoot += '/';
    if (!options.bAlways) {
        // Bytes this thread, the walk's, made the block layer fetch; without them
        // the read-ahead cannot tell a cold walk from a warm one and always runs.
        m_fdWalkIo = ::open("/proc/thread-self/io", O_RDONLY | O_CLOEXEC);
        if (m_fdWalkIo < 0)
            m_bArmed = true;
        else
            WalkReadDisk();
    }
    m_fdRoot = ::open(strRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_bArmed)
        StartThreads();
}

// Once the read-ahead is first needed: a warm walk, or one of thousands of folders
// given to one worker, starts none.
void CReadAhead::StartThreads() {
    if (m_bStarted || m_fdRoot < 0)
        return; // the walk tells why the root cannot be opened
    m_bStarted = true;
    for (int i = 0; i < m_nThreads; ++i) {
        try {
            m_threads.emplace_back([this] { Run(); });
        } catch (const std::system_error&) {
            break; // fewer threads read ahead less; the walk does not depend on them
        }
    }
}

CReadAhead::~CReadAhead() {
    {
        std::lock_guard lock(m_lock);
        m_bEnd = true;
        m_bQuit = true;
    }
    m_work.notify_all();
    m_evQuit.Set();
    for (std::thread& t : m_threads)
        t.join();
    if (m_fdRoot >= 0)
        ::close(m_fdRoot);
    if (m_fdWalkIo >= 0)
        ::close(m_fdWalkIo);
}

// Whether the walk's thread fetched anything from a disk since the last look.
bool CReadAhead::WalkReadDisk() {
    char buf[512];
    const ssize_t n = ::pread(m_fdWalkIo, buf, sizeof buf - 1, 0);
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

void CReadAhead::Reached(std::span<const std::uint32_t> key, std::string_view strRelative) {
    bool bWake;
    {
        std::lock_guard lock(m_lock);
        m_walk.assign(key.begin(), key.end());
        const std::size_t nAhead = m_ahead.size();
        // A folder read ahead, or being read, queues its own subfolders.
        const bool bKnown = m_ahead.erase(m_walk) > 0 || m_queued.contains(m_walk);
        if (m_pStats)
            ++(bKnown ? m_pStats->nReachedAhead : m_pStats->nReachedFirst);
        if (m_fdWalkIo >= 0 && (key.empty() || ++m_nSinceSample >= kSampleEvery)) {
            m_nSinceSample = 0;
            if (WalkReadDisk()) {
                m_bArmed = true;
                m_nFirstSinceRead = 0;
                StartThreads();
            }
        }
        if (!bKnown && m_fdWalkIo >= 0 && m_bArmed && ++m_nFirstSinceRead >= kWarmAfter) {
            m_bArmed = false; // warm: what is queued is let go, the walk needs none of it
            m_queued.clear();
        }
        m_ahead.erase(m_ahead.begin(), m_ahead.upper_bound(m_walk));
        // What the walk has passed is of no more use; its own folders above it still
        // list subfolders it has not reached.
        for (auto it = m_queued.begin(); it != m_queued.end() && it->first < m_walk;) {
            if (IsPrefix(it->first, key))
                ++it;
            else
                it = m_queued.erase(it);
        }
        bWake = m_ahead.size() < nAhead;
        // The walk got here first: from here on, and from the folders above it,
        // whose subfolders after this one may have been let go for want of room.
        if (!bKnown && m_bArmed && !m_bGivenBack && strRelative.size() < PATH_MAX) {
            QueueChain(key, strRelative);
            Queue(m_walk, std::string(strRelative));
            bWake = true;
        }
    }
    if (bWake)
        m_work.notify_all();
}

bool CReadAhead::GiveBackDescriptors() {
    std::unique_lock lock(m_lock);
    if (m_bGivenBack)
        return false;
    m_bGivenBack = true;
    m_bQuit = true;
    m_work.notify_all();
    m_evQuit.Set();
    m_closed.wait(lock, [this] { return m_nOpen == 0; });
    if (m_fdRoot < 0)
        return false;
    ::close(m_fdRoot);
    m_fdRoot = -1;
    if (m_fdWalkIo >= 0) {
        ::close(m_fdWalkIo);
        m_fdWalkIo = -1;
    }
    return true;
}

// Under the lock: the folders above the walk's, to be listed again for the subfolders
// it has not reached yet (their files it has had).
void CReadAhead::QueueChain(std::span<const std::uint32_t> key, std::string_view strRelative) {
    if (m_bGivenBack || strRelative.size() >= PATH_MAX)
        return;
    std::size_t nEnd = 0;
    for (std::size_t n = 0; n < key.size(); ++n) {
        if (n + kChainLevels >= key.size()) {
            Queue(Key(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(n)),
                  std::string(strRelative.substr(0, nEnd)));
        }
        nEnd = std::min(strRelative.find('/', nEnd + (n ? 1 : 0)), strRelative.size());
    }
}

// Under the lock. Room is made by dropping the folder the walk reaches last.
void CReadAhead::Queue(const Key& key, std::string strRelative) {
    if (m_queued.size() >= m_nMaxQueued) {
        auto itLast = std::prev(m_queued.end());
        if (!(key < itLast->first))
            return;
        m_queued.erase(itLast);
    }
    m_queued.emplace(key, std::move(strRelative));
    if (m_pStats && m_queued.size() > m_pStats->nMostQueued)
        m_pStats->nMostQueued = m_queued.size();
}

bool CReadAhead::MayRead() {
    if (m_bQuit.load(std::memory_order_relaxed) || ForceEvent.IsSet())
        return false;
    if (ResumeEvent.IsSet())
        return true;
    if (m_pStats)
        ++m_pStats->nWaiting;
    WaitForAnyEvent({&ForceEvent, &m_evQuit, &ResumeEvent}, INFINITE);
    if (m_pStats)
        --m_pStats->nWaiting;
    return !m_bQuit.load(std::memory_order_relaxed) && !ForceEvent.IsSet();
}

void CReadAhead::Run() {
    if (m_pStats)
        ++m_pStats->nRunning;
    // One for every folder this thread reads: filling it anew each time would cost more
    // than a cached listing.
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (;;) {
        Folder folder;
        bool bFiles = false;
        std::int64_t nPassed = -1;
        {
            std::unique_lock lock(m_lock);
            if (m_pStats)
                ++m_pStats->nWaiting;
            m_work.wait(lock, [this] {
                return m_bEnd ||
                       (!m_bGivenBack && !m_queued.empty() && m_ahead.size() < m_nMaxAhead);
            });
            if (m_pStats)
                --m_pStats->nWaiting;
            if (m_bEnd)
                break;
            auto node = m_queued.extract(m_queued.begin());
            folder.key = std::move(node.key());
            folder.strRelative = std::move(node.mapped());
            bFiles = !(folder.key < m_walk); // above the walk: it has had those
            // A folder above the walk's: its entries up to the walk's branch are passed.
            if (m_walk.size() > folder.key.size() && IsPrefix(folder.key, m_walk))
                nPassed = static_cast<std::int64_t>(m_walk[folder.key.size()]);
            if (m_walk < folder.key) {
                m_ahead.insert(folder.key);
                if (m_pStats && m_ahead.size() > m_pStats->nMostAhead)
                    m_pStats->nMostAhead = m_ahead.size();
            }
            ++m_nOpen;
        }
        Read(folder, bFiles, nPassed, {buffer.get(), kBufferSize});
        {
            std::lock_guard lock(m_lock);
            --m_nOpen;
        }
        m_closed.notify_all();
    }
    if (m_pStats)
        --m_pStats->nRunning;
}

int CReadAhead::Open(const std::string& strRelative) {
    Count();
    if (strRelative.empty())
        return ::openat(m_fdRoot, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder replaced by a link since it was listed is not followed, nor is a
    // mount crossed: what the walk does not enter is not read for it.
    if (!m_bNoOpenat2.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV | RESOLVE_BENEATH;
        long fd = ::syscall(SYS_openat2, m_fdRoot, strRelative.c_str(), &how, sizeof how);
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
            return static_cast<int>(fd);
        m_bNoOpenat2 = true; // an older kernel, or a filter that refuses it
    }
    // One name at a time, none followed when a link.
    int fd = m_fdRoot;
    std::size_t nStart = 0;
    while (nStart <= strRelative.size()) {
        std::size_t nEnd = std::min(strRelative.find('/', nStart), strRelative.size());
        const std::string strName = strRelative.substr(nStart, nEnd - nStart);
        int fdNext = ::openat(fd, strName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd != m_fdRoot)
            ::close(fd);
        if (fdNext < 0)
            return -1;
        fd = fdNext;
        nStart = nEnd + 1;
    }
    return fd;
}

// nPassed: the index of the last entry the walk has passed, or -1.
void CReadAhead::Read(const Folder& folder, bool bFiles, std::int64_t nPassed,
                      std::span<char> buffer) {
    if (!MayRead())
        return;
    const int fd = Open(folder.strRelative);
    if (fd < 0)
        return; // vanished, replaced or locked: the walk finds out for itself
    const std::string strPrefix = folder.strRelative.empty() ? "" : folder.strRelative + '/';
    std::vector<std::pair<std::uint32_t, std::string>> arrFolders;
    std::uint32_t nIndex = 0;
    std::size_t nTaken = 0;                       // more than the queue holds would be let go
    std::uint64_t nLastBlock = ~std::uint64_t{0}; // of the inodes last read
    bool bGoOn = true;
    while (bGoOn && (bFiles || nTaken < m_nMaxQueued) && MayRead()) {
        Count();
        long n = ::syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        arrFolders.clear();
        for (std::size_t nPos = 0; nPos < static_cast<std::size_t>(n);) {
            const char* pRecord = buffer.data() + nPos;
            unsigned short nRecLen;
            std::memcpy(&nRecLen, pRecord + kRecLenOffset, sizeof nRecLen);
            nPos += nRecLen;
            const std::uint32_t i = nIndex++;
            const std::string_view strName(pRecord + kNameOffset);
            if (static_cast<std::int64_t>(i) <= nPassed || IsDotOrDotDot(strName))
                continue;
            const auto dType = static_cast<unsigned char>(pRecord[kTypeOffset]);
            bool bFolder = dType == DT_DIR;
            std::uint64_t nInode;
            std::memcpy(&nInode, pRecord + kInodeOffset, sizeof nInode);
            const std::uint64_t nBlock = nInode / kInodesABlock;
            if (dType == DT_UNKNOWN ||
                (bFiles && dType == DT_REG && nBlock != nLastBlock && m_wantsAttributes(strName))) {
                nLastBlock = nBlock;
                if (!MayRead()) {
                    bGoOn = false;
                    break;
                }
                Count();
                struct stat st;
                const std::string strZ(strName);
                if (::fstatat(fd, strZ.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    dType == DT_UNKNOWN)
                    bFolder = S_ISDIR(st.st_mode);
            }
            if (bFolder && nTaken < m_nMaxQueued && strPrefix.size() + strName.size() < PATH_MAX &&
                !m_leavesOut(m_strRoot + strPrefix + std::string(strName))) {
                arrFolders.emplace_back(i, strPrefix + std::string(strName));
                ++nTaken;
            }
        }
        if (arrFolders.empty())
            continue;
        {
            std::lock_guard lock(m_lock);
            Key key = folder.key;
            key.push_back(0);
            for (auto& [i, strRelative] : arrFolders) {
                key.back() = i;
                if (!(m_walk < key))
                    continue; // passed already
                Queue(key, std::move(strRelative));
            }
        }
        m_work.notify_all();
    }
    ::close(fd);
}
