#include "SimpleEnum.h"

#include "ScanControl.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include <limits.h>

namespace {

// Folders one walk keeps open at most, so that several walks together stay well
// inside the default descriptor limit, whatever the depth of their trees.
constexpr std::size_t kMaxOpenLevels = 32;
// Folders opened again at once on the way back up.
constexpr std::size_t kWindow = kMaxOpenLevels / 2;
// The longest relative path one request may take.
constexpr std::size_t kMaxRelative = PATH_MAX - 1;
// Levels above the walk's whose listings give the read-ahead more to read: those
// nearest have the subfolders it reaches next.
constexpr std::size_t kFeedLevels = 8;

bool IsOutOfDescriptors(DWORD dwError) {
    return dwError == EMFILE || dwError == ENFILE;
}

// The chain of folders from the walk's root to the one being listed, depth first.
//
// Deeper than kMaxOpenLevels (or when the process runs out of descriptors), the
// outermost open folder below the root is closed: the rest of its listing is kept
// in memory, and on the way back it is opened again from an open ancestor, checked
// to be the same folder. So a tree of any depth is walked within the descriptor
// limit, no position in a listing is ever sought, and a folder that cannot be
// opened again is told, never silently dropped.
//
// With a read-ahead, a folder comes as its listing, read ahead or read whole on the
// way in: it is served from memory and opened only when the walk needs it open (for
// a subfolder not read ahead), checked to be the folder that was listed.
class CFolderChain {
public:
    using NotRead = std::function<void(const std::string& strFolder, DWORD dwError)>;

    // strPath: the walk's path buffer; the chain's folder names are its prefix.
    // pReadAhead, when not null, is asked for every folder the walk enters and gives
    // back its descriptors when the walk runs short.
    CFolderChain(IDirectoryLister& lister, std::string& strPath, NotRead notRead,
                 CReadAhead* pReadAhead)
        : m_lister(lister), m_strPath(strPath), m_notRead(std::move(notRead)),
          m_pReadAhead(pReadAhead) {}
    ~CFolderChain() {
        for (Level& l : m_levels) {
            if (l.hDir >= 0)
                m_lister.Close(l.hDir);
        }
    }
    CFolderChain(const CFolderChain&) = delete;
    CFolderChain& operator=(const CFolderChain&) = delete;

    bool Start(const std::string& strRoot) {
        m_strRoot = strRoot;
        DWORD dwError = 0;
        int hRoot = m_lister.OpenRoot(strRoot, dwError);
        if (hRoot < 0) {
            m_notRead(strRoot, dwError);
            return false;
        }
        m_strPath = strRoot;
        if (m_strPath.empty() || m_strPath.back() != '/')
            m_strPath += '/';
        m_levels.emplace_back(hRoot, m_strPath.size());
        m_nOpen = 1;
        if (m_pReadAhead) {
            m_pReadAhead->Take({}, {}); // never read ahead: it is where the threads start
            if (m_pReadAhead->Active())
                ReadWhole({});
        }
        return true;
    }

    // The next entry of the innermost folder, leaving folders that are done; false
    // once the root is done. The name is valid until the next call.
    bool Next(DirEntry& entry) {
        m_nCurrent = kNone;
        while (!m_levels.empty()) {
            Level& top = m_levels.back();
            if (top.bReopen && top.hDir < 0 && top.HasRest()) {
                Reopen();
                continue;
            }
            if (top.pListing && top.nNext < top.pListing->Size()) {
                m_nCurrent = top.nNext++;
                entry.strName = top.pListing->Name(m_nCurrent);
                entry.kind = top.pListing->Kind(m_nCurrent);
                ++top.nListed;
                return true;
            }
            DWORD dwError = 0;
            if (top.bMore) {
                if (m_lister.Next(top.hDir, entry, dwError)) {
                    ++top.nListed;
                    return true;
                }
                if (dwError != 0)
                    Tell(m_levels.size() - 1, dwError);
            } else if (top.pListing && top.pListing->m_dwEndError != 0) {
                Tell(m_levels.size() - 1, top.pListing->m_dwEndError);
            }
            if (top.hDir >= 0) {
                m_lister.Close(top.hDir);
                --m_nOpen;
            }
            m_levels.pop_back();
        }
        return false;
    }

    // Length of the innermost folder's path, with its trailing '/'.
    std::size_t Base() const { return m_levels.back().nBase; }

    // Attributes of the entry of the innermost folder just had; false when it
    // vanished, or could not be read (the folder is then told).
    bool GetAttributes(std::string_view strName, FileAttributes& attr) {
        const std::size_t nTop = m_levels.size() - 1;
        DWORD dwError = 0;
        const CFolderListing::Fetched* pFetched =
            m_nCurrent == kNone ? nullptr : m_levels[nTop].pListing->Attributes(m_nCurrent);
        if (pFetched) {
            attr = pFetched->attr;
            dwError = pFetched->dwError;
        } else if (Open(nTop, dwError) &&
                   m_lister.GetAttributes(m_levels[nTop].hDir, strName, attr, dwError)) {
            dwError = 0;
        }
        if (dwError == 0)
            return true;
        if (dwError != ENOENT)
            Tell(nTop, dwError);
        return false;
    }

    // Enters the subfolder of the innermost folder whose path the buffer now holds.
    void Enter(std::string_view strName) {
        const std::size_t nParent = m_levels.size() - 1;
        const std::uint32_t nIndex = m_levels[nParent].nListed - 1;
        const std::size_t nRoot = m_levels[0].nBase;
        // The read-ahead reads nothing deeper than a path can reach.
        const bool bAhead = m_pReadAhead && m_strPath.size() - nRoot < PATH_MAX;
        std::string strRelative;
        if (bAhead) {
            m_key.clear();
            for (std::size_t i = 1; i < m_levels.size(); ++i)
                CReadAhead::AppendIndex(m_key, m_levels[i].nIndex);
            CReadAhead::AppendIndex(m_key, nIndex);
            strRelative.assign(m_strPath, nRoot);
            if (auto pListing = m_pReadAhead->Take(m_key, strRelative)) {
                m_strPath += '/';
                Level& l = m_levels.emplace_back(-1, m_strPath.size());
                l.nIndex = nIndex;
                l.bMore = false;
                l.bHaveId = pListing->m_bHaveId;
                l.id = pListing->m_id;
                l.pListing = std::move(pListing);
                Feed();
                return;
            }
            if (ForceEvent.IsSet())
                return; // stopped: nothing more will be reported, so nothing more is read
        }
        DWORD dwError = 0;
        if (!Open(nParent, dwError)) {
            m_notRead(m_strPath, dwError); // its folder is gone since it was listed
            return;
        }
        if (m_nOpen >= kMaxOpenLevels)
            CloseOutermost(nParent);
        int h = m_lister.OpenChild(m_levels[nParent].hDir, strName, dwError);
        while (h < 0 && IsOutOfDescriptors(dwError) &&
               (CloseOutermost(nParent) || GiveBackReadAhead()))
            h = m_lister.OpenChild(m_levels[nParent].hDir, strName, dwError);
        if (h < 0) {
            // No longer a folder (replaced since the listing) is no folder lost.
            if (dwError != ENOTDIR && dwError != ELOOP)
                m_notRead(m_strPath, dwError);
            return;
        }
        m_strPath += '/';
        m_levels.emplace_back(h, m_strPath.size());
        m_levels.back().nIndex = nIndex;
        ++m_nOpen;
        if (bAhead && m_pReadAhead->Active())
            ReadWhole(strRelative);
    }

private:
    static constexpr std::size_t kNone = ~std::size_t{0};

    struct Level {
        Level(int h, std::size_t n) : hDir(h), nBase(n) {}
        int hDir;          // -1 while closed
        std::size_t nBase; // length of the level's path, with its trailing '/'
        // Entries served from memory before any is listed from hDir: a listing read
        // ahead or read on the way in, or the rest of one kept when the folder closed.
        std::unique_ptr<CFolderListing> pListing;
        std::size_t nNext = 0; // the listing's next entry
        std::size_t nFed = 0;  // its entries looked at for the read-ahead's threads
        bool bMore = true;     // entries still to be listed from hDir
        bool bReopen = false;  // closed with the rest kept: opened again to serve it
        bool bHaveId = false;
        FileId id;
        bool bTold = false;
        std::uint32_t nListed = 0; // entries the walk has had from it
        std::uint32_t nIndex = 0;  // its own entry's index in its parent's listing
        bool HasRest() const { return bMore || (pListing && nNext < pListing->Size()); }
    };

    std::string PathOf(std::size_t i) const {
        return i == 0 ? m_strRoot : m_strPath.substr(0, m_levels[i].nBase - 1);
    }

    void Tell(std::size_t i, DWORD dwError) {
        if (!m_levels[i].bTold) {
            m_levels[i].bTold = true;
            m_notRead(PathOf(i), dwError);
        }
    }

    bool GiveBackReadAhead() { return m_pReadAhead && m_pReadAhead->GiveBackDescriptors(); }

    // The innermost folder, just opened, read whole: its subfolders go to the
    // read-ahead's threads before the walk goes down into the first of them.
    void ReadWhole(std::string_view strRelative) {
        Level& l = m_levels.back();
        l.pListing = m_pReadAhead->ReadWhole(m_lister, l.hDir, m_key, strRelative);
        l.bMore = l.pListing->m_bPartial;
        Feed();
    }

    // Subfolders the walk will reach after the one it is in, from the listings of the
    // innermost levels, for the read-ahead's threads while they have room: those it
    // could not queue when it read their parent, for want of it.
    void Feed() {
        std::size_t nRoom = m_pReadAhead->Room();
        if (nRoom == 0)
            return;
        m_offers.clear();
        const std::size_t nRoot = m_levels[0].nBase;
        for (std::size_t n = m_levels.size();
             n-- > 0 && n + kFeedLevels >= m_levels.size() && m_offers.size() < nRoom;) {
            Level& l = m_levels[n];
            if (!l.pListing)
                continue;
            for (l.nFed = std::max(l.nFed, l.nNext);
                 l.nFed < l.pListing->Size() && m_offers.size() < nRoom; ++l.nFed) {
                const std::string_view strName = l.pListing->Name(l.nFed);
                if (!l.pListing->IsFolder(l.nFed) || strName == "." || strName == "..")
                    continue;
                CReadAhead::Subfolder& s = m_offers.emplace_back();
                for (std::size_t i = 1; i <= n; ++i)
                    CReadAhead::AppendIndex(s.key, m_levels[i].nIndex);
                CReadAhead::AppendIndex(s.key, static_cast<std::uint32_t>(l.nFed));
                s.strRelative.assign(m_strPath, nRoot, l.nBase - nRoot);
                s.strRelative += strName;
            }
        }
        if (!m_offers.empty())
            m_pReadAhead->Offer(m_offers);
    }

    // Level n open, for a subfolder or an entry's attributes: served from a listing,
    // it may not be. Reached from the nearest open ancestor as Reopen reaches one, each
    // step checked; false when it cannot be opened as the folder that was listed.
    bool Open(std::size_t n, DWORD& dwError) {
        if (m_levels[n].hDir >= 0)
            return true;
        std::size_t nAt = n;
        while (m_levels[nAt].hDir < 0)
            --nAt; // the root always is
        if (m_nOpen + 1 >= kMaxOpenLevels)
            CloseOutermost(nAt);
        int hAt = m_levels[nAt].hDir;
        bool bTemporary = false; // hAt is a folder on the way, not kept open
        while (nAt < n) {
            std::size_t nTo = nAt + 1;
            while (nTo < n && m_levels[nTo + 1].nBase - m_levels[nAt].nBase <= kMaxRelative)
                ++nTo;
            const int h = OpenLevel(hAt, nAt, nTo, dwError);
            if (bTemporary)
                m_lister.Close(hAt);
            if (h < 0)
                return false;
            hAt = h;
            nAt = nTo;
            bTemporary = true;
        }
        m_levels[n].hDir = hAt;
        ++m_nOpen;
        return true;
    }

    // Closes the outermost open folder between the root and level nKeep; false when
    // there is none.
    bool CloseOutermost(std::size_t nKeep) {
        for (std::size_t i = 1; i < nKeep; ++i) {
            Level& l = m_levels[i];
            if (l.hDir < 0)
                continue;
            DWORD dwError = 0;
            if (!l.bHaveId) {
                FileAttributes attr;
                l.bHaveId = m_lister.GetAttributes(l.hDir, ".", attr, dwError);
                l.id = attr.id;
            }
            if (l.bMore) {
                if (!l.pListing)
                    l.pListing = std::make_unique<CFolderListing>();
                DirEntry entry;
                while (m_lister.Next(l.hDir, entry, dwError))
                    l.pListing->Add(entry.strName, entry.kind);
                if (dwError != 0)
                    Tell(i, dwError);
                l.bMore = false;
                l.bReopen = true;
            }
            m_lister.Close(l.hDir);
            l.hDir = -1;
            --m_nOpen;
            return true;
        }
        return false;
    }

    // Opens the innermost folder again, with the closed ones just above it (half the
    // budget), from the nearest open ancestor: the first of them in one request by
    // its path relative to that ancestor, each checked to be the folder it was. A
    // folder that cannot be reached again, or is no longer the same, is left with
    // everything below it; those with entries still to list are told. The folders
    // above it are dealt with as the walk comes back to them.
    void Reopen() {
        const std::size_t nTop = m_levels.size() - 1;
        std::size_t nAt = nTop;
        while (m_levels[nAt].hDir < 0)
            --nAt;
        const std::size_t nFirst = std::max(nAt + 1, nTop + 1 - std::min(nTop + 1, kWindow));
        int hAt = m_levels[nAt].hDir;
        bool bTemporary = false; // hAt is a folder on the way, not kept open
        while (nAt < nTop) {
            std::size_t nTo = nAt + 1;
            while (nTo < nFirst && m_levels[nTo + 1].nBase - m_levels[nAt].nBase <= kMaxRelative)
                ++nTo;
            if (m_nOpen + (bTemporary ? 1 : 0) >= kMaxOpenLevels)
                CloseOutermost(nAt);
            DWORD dwError = 0;
            int h = OpenLevel(hAt, nAt, nTo, dwError);
            if (bTemporary)
                m_lister.Close(hAt);
            if (h < 0) {
                for (std::size_t i = nTo; i <= nTop; ++i) {
                    if (m_levels[i].HasRest())
                        Tell(i, dwError);
                }
                m_levels.erase(m_levels.begin() + static_cast<std::ptrdiff_t>(nTo), m_levels.end());
                return;
            }
            hAt = h;
            nAt = nTo;
            bTemporary = nAt < nFirst;
            if (!bTemporary) {
                m_levels[nAt].hDir = h;
                ++m_nOpen;
            }
        }
    }

    // Level nTo, below the open level nAt, checked to be the folder it was.
    int OpenLevel(int hAt, std::size_t nAt, std::size_t nTo, DWORD& dwError) {
        const std::size_t nStart = m_levels[nAt].nBase;
        const std::string strRelative = m_strPath.substr(nStart, m_levels[nTo].nBase - 1 - nStart);
        auto open = [&] {
            return nTo == nAt + 1 ? m_lister.OpenChild(hAt, strRelative, dwError)
                                  : m_lister.OpenBelow(hAt, strRelative, dwError);
        };
        int h = open();
        while (h < 0 && IsOutOfDescriptors(dwError) && (CloseOutermost(nAt) || GiveBackReadAhead()))
            h = open();
        if (h < 0)
            return -1;
        FileAttributes attr;
        dwError = 0;
        if (!m_levels[nTo].bHaveId || !m_lister.GetAttributes(h, ".", attr, dwError) ||
            attr.id != m_levels[nTo].id) {
            m_lister.Close(h);
            if (dwError == 0)
                dwError = ENOENT; // another folder under the same name now
            return -1;
        }
        return h;
    }

    IDirectoryLister& m_lister;
    std::string& m_strPath;
    NotRead m_notRead;
    std::string m_strRoot;
    std::vector<Level> m_levels;
    std::size_t m_nOpen = 0;
    CReadAhead* m_pReadAhead;
    CReadAhead::Key m_key;
    std::vector<CReadAhead::Subfolder> m_offers;
    std::size_t m_nCurrent = kNone; // the entry just had, when from the innermost listing
};

} // namespace

CSimpleEnum::CSimpleEnum() : CSimpleEnum(CreateDirectoryLister()) {}

CSimpleEnum::CSimpleEnum(std::unique_ptr<IDirectoryLister> pLister)
    : m_pLister(std::move(pLister)) {}

CSimpleEnum::~CSimpleEnum() = default;

bool CSimpleEnum::EnumerateDrive(const std::string& strRoot) {
    if (strRoot.empty())
        return false;
    return EnumeratePath(strRoot);
}

bool CSimpleEnum::EnumeratePath(const std::string& strPath) {
    WalkFolder(strPath);
    return true;
}

// Passed over without a trace of its own; the caller may count or say it.
void CSimpleEnum::FolderNotRead(const std::string& strFolder, DWORD dwError) {
    if (m_onFolderNotRead)
        m_onFolderNotRead(strFolder, dwError);
}

// Depth first with an explicit stack of folders, so that a deep tree cannot exhaust
// the thread's stack; a subfolder is walked completely at the moment it is met.
void CSimpleEnum::WalkFolder(const std::string& strFolder) {
    std::optional<CReadAhead> readAhead; // outlives the chain: joined after the walk
    if (m_readAhead.nThreads > 0) {
        readAhead.emplace(
            strFolder, m_readAhead, *m_pLister,
            [this](std::string_view strPath) {
                std::string strGroup;
                return MatchGroup(strPath, strGroup);
            },
            [this](std::string_view strPath) {
                return IsExcluded(strPath) || !IsIncluded(strPath);
            });
    }
    std::string strPath;
    CFolderChain chain(
        *m_pLister, strPath, [this](const std::string& s, DWORD dw) { FolderNotRead(s, dw); },
        readAhead ? &*readAhead : nullptr);
    if (!chain.Start(strFolder))
        return;
    std::string strGroup;
    DirEntry entry;
    FileAttributes attr;

    while (chain.Next(entry)) {
        if (entry.strName == "." || entry.strName == "..")
            continue;
        if (!WaitWhilePaused())
            return; // the chain closes every folder still open

        strPath.resize(chain.Base());
        strPath += entry.strName;
        if (IsExcluded(strPath) || !IsIncluded(strPath))
            continue;

        EntryKind kind = entry.kind;
        bool bHaveAttributes = false;
        if (kind == EntryKind::Unknown) {
            if (!chain.GetAttributes(entry.strName, attr))
                continue;
            kind = attr.kind;
            bHaveAttributes = true;
        }

        if (kind == EntryKind::Directory) {
            chain.Enter(entry.strName);
            continue;
        }
        // Symbolic links hold no data of their own and following them counts files
        // twice or loops; fifos, sockets and devices are not files a user keeps.
        if (kind != EntryKind::File || !MatchGroup(strPath, strGroup))
            continue;
        if (!bHaveAttributes && !chain.GetAttributes(entry.strName, attr))
            continue; // vanished since the listing
        if (attr.kind != EntryKind::File)
            continue; // replaced by something else since the listing
        // Data lost without a backup is counted once, whatever the number of names.
        if (attr.nLinks > 1 && !m_pLinks->FirstMeeting(attr.id))
            continue;

        FileProperty prop;
        prop.m_strPath = strPath;
        prop.m_nSize = attr.nSize;
        prop.SetModifiedFromUtc(attr.mtime, *m_pLocalTime);
        NotifyFileFound(strGroup, std::move(prop));
    }
}
