// Times, in one run and on one mounted NTFS volume: the journal source alone (every
// record of the table into USN buffers), the whole NTFS enumerator (the pass, the path
// rebuilding and the attribute reads through the mount), and the directory walk.
//
//   tarrow_mft_bench MOUNT-POINT [--runs N] [--cold]
//
// Warm: one untimed run of each first, then the best of N. Cold: the page cache is
// dropped before every timed run (root only).
#include "MftEnum.h"
#include "ScanControl.h"
#include "SimpleEnum.h"
#include "StringTable.h"
#include "platform/LittleEndian.h"
#include "platform/NtfsJournal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Result {
    double dSeconds = 1e300;
    std::size_t nCount = 0;
};

bool DropCaches() {
    ::sync();
    std::ofstream out("/proc/sys/vm/drop_caches");
    out << "3\n";
    out.flush();
    return static_cast<bool>(out);
}

Result Measure(int nRuns, bool bCold, const std::function<std::size_t()>& fn) {
    Result r;
    if (!bCold)
        fn(); // warms the caches
    for (int i = 0; i < nRuns; ++i) {
        if (bCold && !DropCaches()) {
            std::fprintf(stderr, "cannot drop the page cache (needs root)\n");
            std::exit(1);
        }
        const auto t0 = std::chrono::steady_clock::now();
        const std::size_t n = fn();
        const double d =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        r.dSeconds = std::min(r.dSeconds, d);
        r.nCount = n;
    }
    return r;
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MOUNT-POINT [--runs N] [--cold]\n", argv[0]);
        return 2;
    }
    const std::string strRoot = argv[1];
    int nRuns = 3;
    bool bCold = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            nRuns = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--cold") == 0)
            bCold = true;
    }
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

    const Result journal = Measure(nRuns, bCold, [&] { return JournalOnly(strRoot); });
    const Result mft = Measure(nRuns, bCold, [&] {
        CMftEnum e;
        return Scan(e, strRoot, nFound);
    });
    const Result walk = Measure(nRuns, bCold, [&] {
        CSimpleEnum e;
        return Scan(e, strRoot, nFound);
    });

    std::printf("%s cache, best of %d\n", bCold ? "cold" : "warm", nRuns);
    std::printf("  journal source alone   %8.3f s  %zu records\n", journal.dSeconds,
                journal.nCount);
    std::printf("  NTFS enumerator        %8.3f s  %zu files reported\n", mft.dSeconds, mft.nCount);
    std::printf("  directory walk         %8.3f s  %zu files reported\n", walk.dSeconds,
                walk.nCount);
    std::printf("  walk / journal source  %8.1f x\n", walk.dSeconds / journal.dSeconds);
    std::printf("  walk / NTFS enumerator %8.1f x\n", walk.dSeconds / mft.dSeconds);
    if (mft.nCount != walk.nCount)
        std::printf("  note: the two enumerators reported different numbers of files\n");
    return 0;
}
