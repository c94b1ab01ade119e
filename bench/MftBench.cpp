// Times, in one run and on one mounted NTFS volume: the journal source alone (every
// record of the table into USN buffers), the whole NTFS enumerator (the pass, the path
// rebuilding and the report) and the directory walk.
//
//   tarrow_mft_bench MOUNT-POINT [--runs N] [--cold IMAGE] [--only journal|mft|walk]
//
// The three take turns, N rounds, so that a machine busy with other work slows them
// alike; each prints its median and its spread (fastest to slowest). Warm: one untimed
// round first. Cold (root only): before every timed run the volume is unmounted, the
// page cache dropped and IMAGE mounted again read-only with ntfs-3g, so that neither
// the kernel nor the filesystem process keeps anything of the run before. --only runs
// one of them alone, for a profiler.
#include "MftEnum.h"
#include "ScanControl.h"
#include "SimpleEnum.h"
#include "StringTable.h"
#include "platform/LittleEndian.h"
#include "platform/NtfsJournal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Measured {
    std::vector<double> arrSeconds;
    std::size_t nCount = 0;

    double Median() const {
        std::vector<double> v = arrSeconds;
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    double Min() const { return *std::min_element(arrSeconds.begin(), arrSeconds.end()); }
    double Max() const { return *std::max_element(arrSeconds.begin(), arrSeconds.end()); }
};

bool Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int nStatus = 0;
    return ::waitpid(pid, &nStatus, 0) == pid && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

bool DropCaches() {
    ::sync();
    std::ofstream out("/proc/sys/vm/drop_caches");
    out << "3\n";
    out.flush();
    return static_cast<bool>(out);
}

// Unmounts, drops the page cache and mounts the image again.
void MakeCold(const std::string& strRoot, const std::string& strImage) {
    if (!Run({"umount", strRoot}) || !DropCaches() ||
        !Run({"ntfs-3g", "-o", "ro", strImage, strRoot})) {
        std::fprintf(stderr, "cannot remount %s cold (needs root)\n", strRoot.c_str());
        std::exit(1);
    }
}

void Time(Measured& m, const std::function<std::size_t()>& fn) {
    const auto t0 = std::chrono::steady_clock::now();
    m.nCount = fn();
    m.arrSeconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
}

std::size_t JournalOnly(const std::string& strRoot) {
    auto pJournal = CreateVolumeJournal();
    if (pJournal->Open(strRoot) != 0) {
        std::fprintf(stderr, "cannot open the volume at %s\n", strRoot.c_str());
        std::exit(1);
    }
    std::vector<std::uint8_t> buffer(kUsnBufferSize);
    MFT_ENUM_DATA_V0 request{0, 0, 0};
    std::size_t nRecords = 0;
    for (;;) {
        std::size_t nReturned = 0;
        if (pJournal->Enumerate(request, buffer.data(), buffer.size(), nReturned) != 0)
            break;
        for (std::size_t nPos = 8; nPos + UsnRecordV2::HeaderSize <= nReturned;) {
            const std::uint32_t nLength = ReadLe32(buffer.data() + nPos);
            ++nRecords;
            nPos += nLength;
        }
        request.StartFileReferenceNumber = ReadLe64(buffer.data());
    }
    return nRecords;
}

std::size_t Scan(IFsEnum& e, const std::string& strRoot, std::size_t& nFound) {
    for (const GroupEntry& g : g_groupTable)
        e.AddGroup(LoadString(g.nNameId), LoadString(g.nFilterId));
    nFound = 0;
    e.EnumerateDrive(strRoot);
    return nFound;
}

void Print(const char* pszWhat, const Measured& m, const char* pszUnit) {
    std::printf("  %-22s %8.3f s  (%.3f .. %.3f)  %zu %s\n", pszWhat, m.Median(), m.Min(), m.Max(),
                m.nCount, pszUnit);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s MOUNT-POINT [--runs N] [--cold IMAGE] [--only journal|mft|walk]\n",
                     argv[0]);
        return 2;
    }
    const std::string strRoot = argv[1];
    int nRuns = 5;
    std::string strColdImage, strOnly;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            nRuns = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--cold") == 0 && i + 1 < argc)
            strColdImage = argv[++i];
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            strOnly = argv[++i];
    }
    const bool bCold = !strColdImage.empty();
    if (!CanOpenVolumeForRawRead(strRoot)) {
        std::fprintf(stderr, "%s is no NTFS volume that can be read raw\n", strRoot.c_str());
        return 1;
    }

    std::size_t nFound = 0;
    CDirectWindow wnd([&nFound](UINT nMsg, WPARAM, LPARAM) -> LRESULT {
        if (nMsg == WM_FILEFOUND)
            ++nFound;
        return 0;
    });
    g_hTargetWnd = wnd.GetSafeHwnd();
    ResumeEvent.Set();
    EnumFinished.Reset();

    const std::function<std::size_t()> journal = [&] { return JournalOnly(strRoot); };
    const std::function<std::size_t()> mft = [&] {
        CMftEnum e;
        return Scan(e, strRoot, nFound);
    };
    const std::function<std::size_t()> walk = [&] {
        CSimpleEnum e;
        return Scan(e, strRoot, nFound);
    };
    if (!strOnly.empty()) {
        const auto& fn = strOnly == "journal" ? journal : strOnly == "mft" ? mft : walk;
        Measured m;
        for (int i = 0; i < nRuns; ++i) {
            if (bCold)
                MakeCold(strRoot, strColdImage);
            Time(m, fn);
        }
        Print(strOnly.c_str(), m, "");
        return 0;
    }
    Measured mJournal, mMft, mWalk;
    if (!bCold) {
        journal();
        mft();
        walk();
    }
    for (int i = 0; i < nRuns; ++i) {
        for (auto [pMeasured, pFn] :
             {std::pair{&mJournal, &journal}, std::pair{&mMft, &mft}, std::pair{&mWalk, &walk}}) {
            if (bCold)
                MakeCold(strRoot, strColdImage);
            Time(*pMeasured, *pFn);
        }
    }

    std::printf("%s cache, %d rounds: median (fastest .. slowest)\n", bCold ? "cold" : "warm",
                nRuns);
    Print("journal source alone", mJournal, "records");
    Print("NTFS enumerator", mMft, "files reported");
    Print("directory walk", mWalk, "files reported");
    // A round's three runs follow each other closely, so its ratio suffers least from
    // the load changing; the median of the rounds' ratios is printed beside the ratio
    // of the medians.
    auto ratio = [](const Measured& a, const Measured& b) {
        Measured r;
        for (std::size_t i = 0; i < a.arrSeconds.size(); ++i)
            r.arrSeconds.push_back(a.arrSeconds[i] / b.arrSeconds[i]);
        std::printf("%6.1f x  (rounds: median %.1f, %.1f .. %.1f)\n", a.Median() / b.Median(),
                    r.Median(), r.Min(), r.Max());
    };
    std::printf("  walk / NTFS enumerator    ");
    ratio(mWalk, mMft);
    std::printf("  NTFS enumerator / journal ");
    ratio(mMft, mJournal);
    std::printf("  walk / journal source     ");
    ratio(mWalk, mJournal);
    if (mMft.nCount != mWalk.nCount)
        std::printf("  note: the two enumerators reported different numbers of files\n");
    return 0;
}
