// The main window: Start, Pause, Resume, Stop and Close of the scan, the count and size
// of each group as the files come in, the details of each group, and the results store
// behind them.
#pragma once

#include "BitmapButtonEx.h"
#include "BitmapDlg.h"
#include "EnumMgr.h"
#include "FileProperty.h"
#include "GroupTable.h"
#include "HyperLink.h"
#include "QtWindow.h"
#include "ResultsStore.h"
#include "StaticBanner.h"
#include "StaticEx.h"

#include <QProgressBar>
#include <QTimer>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class CMainDlg : public CBitmapDlg {
public:
    // Start scans what pScanSetup names; null: every fixed drive of the machine.
    explicit CMainDlg(std::shared_ptr<const ScanSetup> pScanSetup = nullptr);
    // Stops a scan still running (nothing is left to show it) and waits for its end.
    ~CMainDlg() override;

    // What g_hTargetWnd names for the scans this window starts.
    HWND GetSafeHwnd() const { return m_pWindow->GetSafeHwnd(); }

    // The store, read on the interface thread. While a scan runs, scan threads append to
    // it under m_csResults; a stored record never moves.
    // The list of a group's records; null when the group has none.
    CFileList* FindGroupList(std::string_view strGroup);
    std::int64_t GetGroupFiles(int nGroup) const;
    ByteCount GetGroupBytes(int nGroup) const;
    bool IsStopped() const { return m_bStopped; }
    bool IsClosing() const { return m_bClosing; }

protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;
    void OnCancel() override;
    void OnCommand(UINT nId) override;
    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) override;
    void SetupControls() override;

    // Stores a copy of the record under its group name and counts it in its group, if it
    // names one. Runs on the sending scan thread; the texts follow on the interface thread.
    LRESULT OnFileFound(WPARAM wParam, LPARAM lParam);
    // Back to the finished state; the list files; the finish window after a complete
    // scan that found files; a pending Close.
    LRESULT OnEnumFinish(WPARAM wParam, LPARAM lParam);
    // The group's list file in the log's folder, when the group has records. The folder
    // is never created here; a file not written is said in the log.
    void WriteGroupList(UINT nGroupNameId);
    LRESULT OnLinkClicked(WPARAM wParam, LPARAM lParam);
    void OnStartPause();
    void OnStop();
    void OnDetails(UINT nId);
    // Empties the store, zeroes the counters and both flags; the texts stay as they are.
    void ClearResults();

private:
    enum class Face { Start, Pause, Resume };

    std::shared_ptr<const ScanSetup> ReapplyingStop(std::shared_ptr<const ScanSetup> pSetup);
    LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam);
    void StartScan();
    void ShowPausedState();
    void ShowRunningState();
    void ShowFinishedState();
    void SetFace(Face face);
    void SetMarquee(bool bOn);
    void EnableDetailsByCounter();
    void SetValueText(int nIndex, const std::string& strText);
    // Asks the interface thread to bring the texts up to the counters, at most once a
    // frame; on the interface thread itself they are brought up at once.
    void RequestRefresh();
    void OnRefreshRequested();
    void RefreshCounters();

    CStaticBanner m_ctlBanner;
    std::array<CStaticEx, 2 * kGroupCount + 2> m_arrValueTexts; // count, size per group; totals
    QProgressBar m_ctlProgress;
    CBitmapButtonEx m_btnStartPause;
    CBitmapButtonEx m_btnStop;
    CBitmapButtonEx m_btnClose;
    std::array<CHyperLink, kGroupCount> m_arrLinks;
    std::array<CBitmapButtonEx, kGroupCount> m_arrDetailsButtons;

    // The results store: the lists by group and their counters m_nGroupFiles and
    // m_nGroupBytes. Scan threads write it under m_csResults; the interface thread reads
    // the lists under the same lock while a scan runs, but the counters without it, so
    // that it never waits for a scan thread that holds the lock.
    CResultsStore m_mapResults;
    mutable std::recursive_mutex m_csResults;
    std::atomic<bool> m_bStopped; // also read by the scan's manager
    bool m_bClosing;

    // What the texts show; interface thread.
    std::array<std::int64_t, kGroupCount> m_nShownFiles;
    std::int64_t m_nShownRecords;
    std::atomic<bool> m_bRefreshPending;
    QTimer m_timerRefresh;
    std::chrono::steady_clock::time_point m_tLastRefresh;
    const std::thread::id m_idInterface;

    const std::shared_ptr<const ScanSetup> m_pScanSetup;
    std::thread m_threadManager;
    // From Start until the end of that scan has been handled: EnumFinished alone cannot
    // tell a scan whose manager has not cleared it yet, nor one whose end is on its way.
    bool m_bScanActive;
    std::unique_ptr<CQtWindow> m_pWindow;
};
