// The details window on a million records: opening (construction to first paint),
// sorting by each column, scrolling from top to bottom, the window's own memory, and
// opening on ten thousand records; against GNU sort (LC_ALL=C, case folded, one
// thread) over the same names, timed in the same run.
//
//   details-bench [RECORDS] [ROUNDS]
//
// Offscreen. The records are synthetic: folders of a home directory walked in order,
// camera, office and music file names, 300 distinct extensions of the four groups
// (letter-case variants included), sizes spread over six orders of magnitude, dates
// over fifteen years, a few invalid dates and names that are not UTF-8.

#include "DetailsDlg.h"
#include "GroupExtensions.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

// ---- Records ----------------------------------------------------------------------------

// 300 spellings of the groups' extensions: each in lower and upper case, then mixed
// case until there are 300. The first spellings of each list are the common ones.
std::array<std::vector<std::string>, 4> MakeExtensions(std::mt19937_64& rng) {
    std::array<std::vector<std::string>, 4> arrGroups;
    std::set<std::string> setAll;
    const auto add = [&](std::size_t nGroup, std::string str) {
        if (setAll.insert(str).second)
            arrGroups[nGroup].push_back("." + str);
    };
    for (std::size_t g = 0; g < 4; ++g)
        for (const char* psz : kGroups[g]) {
            std::string str = psz;
            add(g, str);
            std::transform(str.begin(), str.end(), str.begin(), ::toupper);
            add(g, str);
        }
    while (setAll.size() < 300) {
        const std::size_t g = rng() % 4;
        std::string str = kGroups[g][rng() % kGroups[g].size()];
        for (char& c : str)
            if (rng() % 2)
                c = static_cast<char>(::toupper(c));
        add(g, str);
    }
    return arrGroups;
}

std::string Digits(std::mt19937_64& rng, int n) {
    std::string str;
    for (int i = 0; i < n; ++i)
        str += static_cast<char>('0' + rng() % 10);
    return str;
}

std::string Pick(std::mt19937_64& rng, const std::vector<const char*>& arr) {
    return arr[rng() % arr.size()];
}

std::string FileStem(std::mt19937_64& rng, std::size_t nGroup) {
    static const std::vector<const char*> kWords = {
        "Report",  "Budget", "Invoice",   "notes", "Letter", "Contract", "minutes", "Plan",
        "draft",   "Résumé", "Übersicht", "Q3",    "final",  "v2",       "copy",    "scan",
        "Holiday", "family", "Beach",     "Track", "Live",   "Remix",    "Intro",   "Clip"};
    switch (rng() % 6) {
    case 0:
        return "IMG_20" + Digits(rng, 2) + Digits(rng, 4) + "_" + Digits(rng, 6);
    case 1:
        return "DSC" + Digits(rng, 5);
    case 2:
        return Pick(rng, kWords) + " " + Pick(rng, kWords) + " " + Digits(rng, 4);
    case 3:
        return nGroup == 2 ? Digits(rng, 2) + " - " + Pick(rng, kWords) + " " + Pick(rng, kWords)
                           : "Screenshot from 20" + Digits(rng, 2) + "-" + Digits(rng, 2) + "-" +
                                 Digits(rng, 2) + " " + Digits(rng, 2) + "-" + Digits(rng, 2);
    case 4:
        return Pick(rng, kWords) + "_" + Digits(rng, 3);
    default:
        // A name written by an old system in Latin-1: not UTF-8.
        return rng() % 20 == 0 ? std::string("caf\xE9-") + Digits(rng, 3)
                               : Pick(rng, kWords) + "-" + Digits(rng, 6);
    }
}

CFileList MakeRecords(std::size_t nRecords, unsigned nSeed) {
    std::mt19937_64 rng(nSeed);
    const auto arrExtensions = MakeExtensions(rng);
    const char* const arrTop[] = {"Documents", "Pictures", "Music",    "Videos",
                                  "Downloads", "Desktop",  "projects", "backup/old laptop"};
    const std::vector<const char*> kSub = {"2019",   "2020",    "2021",  "2022",    "2023",
                                           "Work",   "Private", "Taxes", "Holiday", "Album",
                                           "Shared", "Archiv",  "Sommer"};
    CFileList list;
    std::string strFolder;
    std::size_t nInFolder = 0;
    for (std::size_t i = 0; i < nRecords; ++i) {
        if (nInFolder == 0) {
            // The next folder of the walk, 1 to 60 files deep.
            strFolder = "/home/user" + std::to_string(rng() % 3) + "/" + arrTop[rng() % 8] + "/";
            for (std::size_t d = rng() % 4; d > 0; --d)
                strFolder += Pick(rng, kSub) + " " + Digits(rng, 2) + "/";
            nInFolder = 1 + rng() % 60;
        }
        --nInFolder;
        const std::size_t nGroup = rng() % 4;
        const auto& arrGroupExtensions = arrExtensions[nGroup];
        // Common spellings far more often than rare ones.
        const std::size_t nExtension =
            rng() % 4 == 0 ? rng() % arrGroupExtensions.size()
                           : rng() % std::min<std::size_t>(arrGroupExtensions.size(), 8);
        FileProperty record;
        record.m_strPath = strFolder + FileStem(rng, nGroup) + arrGroupExtensions[nExtension];
        record.m_nSize = static_cast<std::int64_t>(std::pow(10.0, 2.0 + (rng() % 6000) / 1000.0));
        record.m_dtModified.m_dt =
            39000.0 + static_cast<double>(rng() % (15 * 365 * 86400)) / 86400;
        if (rng() % 5000 == 0)
            record.m_dtModified.m_status = DateTimeStatus::invalid;
        list.push_back(std::move(record));
    }
    return list;
}

// ---- Measuring ----------------------------------------------------------------------------

std::size_t HeapInUse() {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM").
long StatusKiB(const char* pszField) {
    std::ifstream in("/proc/self/status");
    std::string strLine;
    const std::string strPrefix = std::string(pszField) + ":";
    while (std::getline(in, strLine))
        if (strLine.rfind(strPrefix, 0) == 0)
            return std::atol(strLine.c_str() + strPrefix.size());
    return -1;
}

// Starts the peak resident size afresh from the current one.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Wall time, and the CPU time of this process: the machine may be shared, and CPU time
// is what other processes disturb least.
struct Time {
    double wall = 0, cpu = 0; // milliseconds
};

double CpuMilliseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

class CStopwatch {
public:
    CStopwatch() : m_cpuStart(CpuMilliseconds()) { m_timer.start(); }
    Time Elapsed() const {
        return {static_cast<double>(m_timer.nsecsElapsed()) / 1e6, CpuMilliseconds() - m_cpuStart};
    }

private:
    QElapsedTimer m_timer;
    double m_cpuStart;
};

// Waits for the list's first paint after show().
class CPaintWatch : public QObject {
public:
    bool m_bPainted = false;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::Paint)
            m_bPainted = true;
        return false;
    }
};

void PaintNow(CListDetails& files) {
    files.viewport()->repaint();
    files.horizontalHeader()->viewport()->repaint();
}

Time OpenToFirstPaint(CFileList& list, std::unique_ptr<CDetailsDlg>* ppKeep = nullptr) {
    const CStopwatch watch;
    auto pDlg = std::make_unique<CDetailsDlg>(&list);
    CPaintWatch paint;
    pDlg->GetFileList().viewport()->installEventFilter(&paint);
    pDlg->show();
    while (!paint.m_bPainted)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
    const Time time = watch.Elapsed();
    pDlg->GetFileList().viewport()->removeEventFilter(&paint);
    if (ppKeep)
        *ppKeep = std::move(pDlg);
    return time;
}

// GNU sort over the names, one thread, C locale, case folded; its CPU time from wait4.
Time GnuSort(const std::string& strNamesFile, const std::string& strOutFile) {
    std::vector<std::string> arrArgs = {"sort", "-f", "--parallel=1", "-S",
                                        "1G",   "-o", strOutFile,     strNamesFile};
    std::vector<char*> argv;
    for (std::string& str : arrArgs)
        argv.push_back(str.data());
    argv.push_back(nullptr);
    std::vector<std::string> arrEnv = {"LC_ALL=C", "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& str : arrEnv)
        envp.push_back(str.data());
    envp.push_back(nullptr);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "sort", nullptr, nullptr, argv.data(), envp.data()) != 0)
        return {-1, -1};
    int nStatus = 0;
    rusage usage{};
    ::wait4(pid, &nStatus, 0, &usage);
    const double wall = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const auto ms = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) * 1e3 + static_cast<double>(tv.tv_usec) / 1e3;
    };
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0)
        return {-1, -1};
    return {wall, ms(usage.ru_utime) + ms(usage.ru_stime)};
}

double Median(std::vector<double> arr) {
    std::sort(arr.begin(), arr.end());
    const std::size_t n = arr.size();
    return n == 0 ? 0 : n % 2 ? arr[n / 2] : (arr[n / 2 - 1] + arr[n / 2]) / 2;
}

struct Round {
    Time open, open10k, gnuSort, scroll;
    std::array<Time, CListDetails::nColumns> sort;
    double scrollWorst = 0, heapMiB = 0, peakMiB = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::size_t nRecords = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1'000'000;
    const int nRounds = argc > 2 ? std::atoi(argv[2]) : 5;

    std::printf("making %zu records ...\n", nRecords);
    CFileList list = MakeRecords(nRecords, 1);
    CFileList small = MakeRecords(10'000, 2);
    std::set<std::string> setExtensions;
    for (const FileProperty& record : list)
        setExtensions.insert(record.GetExtension());
    std::printf("%zu distinct extensions\n", setExtensions.size());

    // The names GNU sort gets: the same bytes the Name column sorts.
    char szDir[] = "/tmp/details-bench-XXXXXX";
    if (!::mkdtemp(szDir)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string strNames = std::string(szDir) + "/names";
    const std::string strSorted = std::string(szDir) + "/sorted";
    {
        std::ofstream out(strNames, std::ios::binary);
        for (const FileProperty& record : list)
            out << record.GetFileName() << '\n';
    }

    // A first opening loads the MIME database, the icons and Qt's caches, and gives the
    // records their type names: what is measured below is the window alone.
    OpenToFirstPaint(list);
    OpenToFirstPaint(small);

    std::vector<Round> arrRounds;
    for (int r = 0; r < nRounds; ++r) {
        Round round;
        round.gnuSort = GnuSort(strNames, strSorted);

        // Freed memory back to the system first, so that the resident size starts low.
        ::malloc_trim(0);
        const std::size_t nHeapBefore = HeapInUse();
        const long nRssBefore = StatusKiB("VmRSS");
        ResetPeak();
        std::unique_ptr<CDetailsDlg> pDlg;
        round.open = OpenToFirstPaint(list, &pDlg);
        round.heapMiB = static_cast<double>(HeapInUse() - nHeapBefore) / (1024.0 * 1024.0);
        CListDetails& files = pDlg->GetFileList();

        for (const int nColumn : {1, 2, 3, 4, 0}) {
            const CStopwatch watch;
            files.OnColumnClick(nColumn);
            PaintNow(files);
            round.sort[static_cast<std::size_t>(nColumn)] = watch.Elapsed();
        }

        // Dragging the scroll bar from top to bottom: 2000 frames, each painted.
        QScrollBar& bar = *files.verticalScrollBar();
        const int nSteps = 2000;
        const CStopwatch total;
        for (int i = 0; i <= nSteps; ++i) {
            const CStopwatch frame;
            bar.setValue(static_cast<int>(static_cast<long long>(bar.maximum()) * i / nSteps));
            PaintNow(files);
            round.scrollWorst = std::max(round.scrollWorst, frame.Elapsed().wall);
        }
        round.scroll = total.Elapsed();
        round.scroll.wall /= nSteps + 1;
        round.scroll.cpu /= nSteps + 1;
        round.peakMiB = static_cast<double>(StatusKiB("VmHWM") - nRssBefore) / 1024.0;
        pDlg.reset();

        round.open10k = OpenToFirstPaint(small);
        arrRounds.push_back(round);
        std::printf("round %d: open %.0f ms, sorts %.0f/%.0f/%.0f/%.0f/%.0f ms, scroll %.2f "
                    "ms/frame (worst %.1f), heap +%.1f MiB (peak +%.1f), 10k open %.1f ms, GNU "
                    "sort %.0f ms\n",
                    r + 1, round.open.wall, round.sort[0].wall, round.sort[1].wall,
                    round.sort[2].wall, round.sort[3].wall, round.sort[4].wall, round.scroll.wall,
                    round.scrollWorst, round.heapMiB, round.peakMiB, round.open10k.wall,
                    round.gnuSort.wall);
        std::fflush(stdout);
    }
    ::unlink(strNames.c_str());
    ::unlink(strSorted.c_str());
    ::rmdir(szDir);

    const auto median = [&arrRounds](auto field) {
        std::vector<double> arrWall, arrCpu;
        for (const Round& round : arrRounds) {
            arrWall.push_back(field(round).wall);
            arrCpu.push_back(field(round).cpu);
        }
        return Time{Median(arrWall), Median(arrCpu)};
    };
    const auto medianOf = [&arrRounds](auto field) {
        std::vector<double> arr;
        for (const Round& round : arrRounds)
            arr.push_back(field(round));
        return Median(arr);
    };
    const Time gnu = median([](const Round& r) { return r.gnuSort; });
    std::printf("\nmedians of %d rounds, %zu records    wall ms  (cpu ms)   wall/cpu x GNU sort\n",
                nRounds, nRecords);
    const auto line = [&gnu](const char* pszWhat, Time t, const char* pszTarget) {
        std::printf("  %-32s %8.0f  (%6.0f)   %5.2f / %5.2f   %s\n", pszWhat, t.wall, t.cpu,
                    t.wall / gnu.wall, t.cpu / gnu.cpu, pszTarget);
    };
    line("GNU sort -f (LC_ALL=C, 1 thread)", gnu, "");
    line("open to first paint", median([](const Round& r) { return r.open; }), "target < 2000");
    const char* const arrNames[] = {"Name", "Path", "Type", "Size", "Date Modified"};
    for (std::size_t c = 0; c < CListDetails::nColumns; ++c) {
        const std::string strWhat = std::string("sort by ") + arrNames[c];
        line(strWhat.c_str(), median([c](const Round& r) { return r.sort[c]; }), "target < 1500");
    }
    const Time scroll = median([](const Round& r) { return r.scroll; });
    std::printf("  %-32s %8.2f  (%6.2f)   worst frame %.1f ms\n", "scroll, per frame", scroll.wall,
                scroll.cpu, medianOf([](const Round& r) { return r.scrollWorst; }));
    std::printf("  %-32s %8.1f MiB                        target < 64\n",
                "window's own heap, once open", medianOf([](const Round& r) { return r.heapMiB; }));
    std::printf("  %-32s %8.1f MiB\n", "peak resident growth, to the end",
                medianOf([](const Round& r) { return r.peakMiB; }));
    const Time small10k = median([](const Round& r) { return r.open10k; });
    std::printf("  %-32s %8.1f  (%6.1f)                   target < 100\n", "open 10,000 records",
                small10k.wall, small10k.cpu);
    return 0;
}
