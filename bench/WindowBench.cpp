// The main window's side of the window benchmark (bench/window_bench.py drives it).
//
//   window-bench scan FOLDER   scans FOLDER, standing as the only drive, in the real main
//                              window: from the Start command to the finished state
//   window-bench store N       N synthetic records (60-byte paths) into the results store
//
// Each prints one JSON object.
#include "MainDlg.h"
#include "ScanControl.h"
#include "StringTable.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <malloc.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The end of the scan shows first as the Stop button going disabled.
class CFinishWatch : public QObject {
public:
    CFinishWatch(QWidget& stop, QEventLoop& loop) : m_stop(stop), m_loop(loop) {}
    Clock::time_point m_tFinished;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override {
        if (pWatched == &m_stop && pEvent->type() == QEvent::EnabledChange && !m_stop.isEnabled()) {
            m_tFinished = Clock::now();
            m_loop.quit();
        }
        return false;
    }

private:
    QWidget& m_stop;
    QEventLoop& m_loop;
};

void PrintGroups(CMainDlg& dlg) {
    std::printf("\"groups\": [");
    for (int i = 0; i < kGroupCount; ++i) {
        std::printf("%s{\"name\": \"%s\", \"files\": %lld, \"bytes\": %s}", i ? ", " : "",
                    LoadString(g_groupTable[i].nNameId).c_str(),
                    static_cast<long long>(dlg.GetGroupFiles(i)),
                    ByteCountText(dlg.GetGroupBytes(i)).c_str());
    }
    std::printf("]");
}

int Scan(const std::string& strFolder) {
    CMainDlg dlg(std::make_shared<const ScanSetup>(FolderScanSetup({strFolder})));
    dlg.show();
    // Shown and painted, fonts loaded, as before a user's press.
    const auto tShown = Clock::now();
    while (Clock::now() - tShown < std::chrono::milliseconds(300))
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    auto& start = static_cast<QAbstractButton&>(*dlg.GetDlgItem(IDC_START_PAUSE));
    QWidget& stop = *dlg.GetDlgItem(IDC_STOP);

    QEventLoop loop;
    CFinishWatch watch(stop, loop);
    stop.installEventFilter(&watch);

    // The longest gap between ticks is the longest time the interface thread was busy.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    Clock::time_point tLast;
    Clock::duration maxGap{};
    Clock::time_point tMaxGap;
    long nTicks = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (now - tLast > maxGap) {
            maxGap = now - tLast;
            tMaxGap = tLast;
        }
        tLast = now;
        ++nTicks;
    });

    // The finish window of a complete scan waits for a user; here nobody reads it.
    QTimer closeFinish;
    QObject::connect(&closeFinish, &QTimer::timeout, [] {
        if (auto* pDialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            pDialog->reject();
    });
    closeFinish.start(50);

    Clock::time_point tStart;
    QTimer::singleShot(0, [&] {
        tStart = tLast = Clock::now();
        tick.start(10);
        start.click();
    });
    loop.exec();
    tick.stop();
    // Ticks stop when the scan does; the time since the last one counts too.
    if (watch.m_tFinished - tLast > maxGap) {
        maxGap = watch.m_tFinished - tLast;
        tMaxGap = tLast;
    }

    std::printf("{\"elapsedSeconds\": %.3f, \"maxGapMs\": %.1f, \"maxGapAtMs\": %.1f, "
                "\"ticks\": %ld, ",
                Seconds(watch.m_tFinished - tStart), Seconds(maxGap) * 1000,
                Seconds(tMaxGap - tStart) * 1000, nTicks);
    PrintGroups(dlg);
    std::printf("}\n");
    return 0;
}

int Store(long nRecords) {
    CMainDlg dlg;
    dlg.Create();
    const HWND hWnd = dlg.GetSafeHwnd();
    const char* const arrGroups[] = {"Documents", "Images", "Music", "Video"};
    constexpr std::size_t kPathLength = 60; // for fewer than 10,000,000 records

    const std::size_t nBefore = ::mallinfo2().uordblks;
    const auto tStart = Clock::now();
    // From a thread of its own, as the scan's records come.
    std::thread sender([&] {
        FileProperty prop;
        char szPath[128];
        for (long i = 0; i < nRecords; ++i) {
            std::snprintf(szPath, sizeof szPath,
                          "/home/someone/Documents/projects/%08ld/%07ld-record.pdf", i / 1000, i);
            prop.m_strPath.assign(szPath, kPathLength);
            prop.m_nSize = i;
            SendMessage(hWnd, WM_FILEFOUND, reinterpret_cast<WPARAM>(arrGroups[i % 4]),
                        reinterpret_cast<LPARAM>(&prop));
        }
    });
    sender.join();
    const double seconds = Seconds(Clock::now() - tStart);
    const std::size_t nAfter = ::mallinfo2().uordblks;

    const double perRecord = static_cast<double>(nAfter - nBefore) / static_cast<double>(nRecords);
    std::printf("{\"records\": %ld, \"pathBytes\": %zu, \"bytesPerRecord\": %.1f, "
                "\"bytesBeyondPath\": %.1f, \"recordSize\": %zu, \"secondsToStore\": %.3f, ",
                nRecords, kPathLength, perRecord, perRecord - static_cast<double>(kPathLength),
                sizeof(FileProperty), seconds);
    PrintGroups(dlg);
    std::printf("}\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // One heap for every thread, so that mallinfo2 sees what the sender allocates.
    ::mallopt(M_ARENA_MAX, 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string strMode = argc == 3 ? argv[1] : "";
    if (strMode == "scan")
        return Scan(argv[2]);
    if (strMode == "store")
        return Store(std::atol(argv[2]));
    std::fprintf(stderr, "usage: window-bench scan FOLDER | window-bench store N\n");
    return 2;
}
