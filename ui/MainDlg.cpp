#include "MainDlg.h"

#include "DetailsDlg.h"
#include "Environment.h"
#include "FinishDlg.h"
#include "GroupList.h"
#include "Log.h"
#include "MainLayout.h"
#include "Messages.h"
#include "ScanControl.h"
#include "SingleInstance.h"
#include "SizeText.h"
#include "StringTable.h"

#include <QApplication>
#include <QMetaObject>

#include <system_error>

namespace {

// The counter texts follow the counters at most this often while files come in.
constexpr std::chrono::milliseconds kRefreshInterval(16);

constexpr UINT kFaces[][4] = {
    {IDB_START, IDB_START_PRESSED, IDB_START_HOVER, IDB_START_DISABLED},
    {IDB_PAUSE, IDB_PAUSE_PRESSED, IDB_PAUSE_HOVER, IDB_PAUSE_DISABLED},
    {IDB_RESUME, IDB_RESUME_PRESSED, IDB_RESUME_HOVER, IDB_RESUME_DISABLED},
};
constexpr UINT kFaceTexts[] = {IDS_START, IDS_PAUSE, IDS_RESUME};
// Under each group's name, in group order, and under the totals'.
constexpr UINT kNoteTexts[] = {IDS_PICTURE_MAIN_NOTE_DOCUMENTS, IDS_PICTURE_MAIN_NOTE_IMAGES,
                               IDS_PICTURE_MAIN_NOTE_MUSIC, IDS_PICTURE_MAIN_NOTE_VIDEO,
                               IDS_PICTURE_MAIN_NOTE_TOTAL};

static_assert(std::size(MainLayout::kValueY) == 2 * kGroupCount + 2 &&
              std::size(MainLayout::kLinks) == kGroupCount &&
              std::size(MainLayout::kDetailsY) == kGroupCount &&
              std::size(kNoteTexts) == kGroupCount + 1);
constexpr COLORREF kLinkColour = RGB(0, 0, 206);

constexpr int kTotalCount = 2 * kGroupCount;
constexpr int kTotalSize = 2 * kGroupCount + 1;

struct DetailsStatement {
    const char* pszTag;
    const char* pszMessage;
};
constexpr DetailsStatement kDetailsStatements[] = {
    {TLOG_FILE_TAG("MainDlg.cpp", 555), "The user requiested details about found documents."},
    {TLOG_FILE_TAG("MainDlg.cpp", 573), "The user requiested details about found images."},
    {TLOG_FILE_TAG("MainDlg.cpp", 591), "The user requiested details about found music."},
    {TLOG_FILE_TAG("MainDlg.cpp", 609), "The user requiested details about found video."},
};

QPoint At(MainLayout::Point pt) {
    return QPoint(pt.x, pt.y);
}

QRect At(MainLayout::Rect rc) {
    return QRect(rc.x, rc.y, rc.cx, rc.cy);
}

QString Text(UINT nId) {
    return QString::fromStdString(LoadString(nId));
}

// What a screen reader calls the controls whose pictures say it to the eye.
QString Spoken(UINT nFormatId, std::initializer_list<std::string_view> arrTexts) {
    return QString::fromStdString(FormatString(nFormatId, arrTexts));
}

} // namespace

CMainDlg::CMainDlg(std::shared_ptr<const ScanSetup> pScanSetup)
    : CBitmapDlg(IDD_MAIN, IDB_MAIN_BACKGROUND), m_bStopped(false),
      m_bClosing(false), m_nShownFiles{}, m_nShownRecords(0), m_bRefreshPending(false),
      m_idInterface(std::this_thread::get_id()),
      m_pScanSetup(ReapplyingStop(pScanSetup
                                      ? std::move(pScanSetup)
                                      : std::make_shared<const ScanSetup>(SystemScanSetup()))),
      m_bScanActive(false) {
    m_timerRefresh.setSingleShot(true);
    QObject::connect(&m_timerRefresh, &QTimer::timeout, this, [this] { RefreshCounters(); });
    ClearResults();
    m_pWindow = std::make_unique<CQtWindow>(
        [this](UINT nMsg, WPARAM wParam, LPARAM lParam) {
            return WindowProc(nMsg, wParam, lParam);
        },
        // Found files are stored by the sending scan thread itself: a thread switch per
        // file would cost as much as finding it.
        [](UINT nMsg) { return nMsg == WM_FILEFOUND; });
}

CMainDlg::~CMainDlg() {
    m_pWindow.reset(); // no scan thread reaches this dialog from here on
    if (m_threadManager.joinable()) {
        if (m_bScanActive) {
            m_bStopped = true;
            ForceEvent.Set();
        }
        // Its messages go nowhere now, so it cannot wait for this thread.
        m_threadManager.join();
    }
}

// The manager clears ForceEvent as it starts: a Stop (or Close) pressed just before that
// would be lost, and the scan run to its end. It is set again once the events are reset,
// before any worker exists.
std::shared_ptr<const ScanSetup> CMainDlg::ReapplyingStop(std::shared_ptr<const ScanSetup> pSetup) {
    auto pOwn = std::make_shared<ScanSetup>(*pSetup);
    pOwn->volumeTable = [this, fnVolumes = pSetup->volumeTable] {
        auto pVolumes = fnVolumes();
        if (m_bStopped)
            ForceEvent.Set();
        return pVolumes;
    };
    return pOwn;
}

// ---- Controls --------------------------------------------------------------------------

void CMainDlg::DoDataExchange() {
    DDX_Control(IDC_BANNER, m_ctlBanner);
    for (UINT i = 0; i < m_arrValueTexts.size(); ++i)
        DDX_Control(IDC_DOCUMENTS_COUNT + i, m_arrValueTexts[i]);
    DDX_Control(IDC_PROGRESS, m_ctlProgress);
    DDX_Control(IDC_START_PAUSE, m_btnStartPause);
    DDX_Control(IDC_STOP, m_btnStop);
    DDX_Control(IDCANCEL, m_btnClose);
    for (UINT i = 0; i < m_arrLinks.size(); ++i)
        DDX_Control(IDC_LINK_DOCUMENTS + i, m_arrLinks[i]);
    for (UINT i = 0; i < m_arrDetailsButtons.size(); ++i)
        DDX_Control(IDC_DETAILS_DOCUMENTS + i, m_arrDetailsButtons[i]);
}

void CMainDlg::SetupControls() {
    for (std::size_t i = 0; i < m_arrValueTexts.size(); ++i) {
        CStaticEx& text = m_arrValueTexts[i];
        text.SetTextStyle("MS Shell Dlg");
        text.setText(Text(IDS_NO_VALUE));
        const std::size_t nRow = i / 2;
        const std::string strRow = nRow < static_cast<std::size_t>(kGroupCount)
                                       ? m_mapResults.GroupName(static_cast<int>(nRow))
                                       : LoadString(IDS_A11Y_TOTAL_ROW);
        text.setAccessibleName(
            Spoken(i % 2 != 0 ? IDS_A11Y_ROW_SIZE : IDS_A11Y_ROW_FILES, {strRow}));
    }
    m_ctlBanner.SetBitmaps(IDB_BANNER, IDB_BANNER_HOVER, IDB_BANNER_PRESSED);
    m_ctlBanner.move(At(MainLayout::kBanner));
    m_ctlBanner.m_strToolTip = LoadString(IDS_BANNER_TOOLTIP);
    m_ctlBanner.m_strUrl = LoadString(IDS_OFFER_URL);
    m_ctlBanner.setAccessibleDescription(
        Spoken(IDS_A11Y_BANNER, {LoadString(IDS_PICTURE_MAIN_BANNER_TITLE),
                                 LoadString(IDS_PICTURE_MAIN_BANNER_TEXT)}));
    AddPictureText(At(MainLayout::kTagline), Text(IDS_PICTURE_MAIN_TAGLINE));
    AddPictureText(At(MainLayout::kHeading), Text(IDS_PICTURE_MAIN_HEADING));
    AddPictureText(At(MainLayout::kIntro), Text(IDS_PICTURE_MAIN_INTRO));
    AddPictureText(At(MainLayout::kCaption), Text(IDS_PICTURE_MAIN_CAPTION));
    for (int nRow = 0; nRow <= kGroupCount; ++nRow)
        AddPictureText(At(MainLayout::NoteOf(nRow)), Text(kNoteTexts[nRow]));
    for (std::size_t i = 0; i < m_arrValueTexts.size(); ++i)
        m_arrValueTexts[i].move(MainLayout::kValueX, MainLayout::kValueY[i]);
    m_ctlProgress.move(At(MainLayout::kProgress));
    m_ctlProgress.setAccessibleName(Text(IDS_A11Y_PROGRESS));

    SetFace(Face::Start);
    m_btnStartPause.SizeToContent();
    m_btnStartPause.move(At(MainLayout::kStart));
    m_btnStop.LoadBitmaps(IDB_STOP, IDB_STOP_PRESSED, IDB_STOP_HOVER, IDB_STOP_DISABLED);
    m_btnStop.SizeToContent();
    m_btnStop.move(At(MainLayout::kStop));
    m_btnClose.LoadBitmaps(IDB_CLOSE, IDB_CLOSE_PRESSED, IDB_CLOSE_HOVER, IDB_CLOSE_DISABLED);
    m_btnClose.SizeToContent();
    m_btnClose.move(At(MainLayout::kClose));

    for (int i = 0; i < kGroupCount; ++i) {
        m_arrLinks[i].move(At(MainLayout::kLinks[i]));
        m_arrLinks[i].m_strToolTip = LoadString(g_groupTable[i].nFilterId);
        m_arrLinks[i].m_crVisited = kLinkColour; // a clicked "?" keeps its colour
        m_arrLinks[i].setAccessibleName(Spoken(IDS_A11Y_EXTENSIONS, {m_mapResults.GroupName(i)}));
    }
    for (int i = 0; i < kGroupCount; ++i) {
        CBitmapButtonEx& button = m_arrDetailsButtons[i];
        button.LoadBitmaps(IDB_DETAILS, IDB_DETAILS_PRESSED, IDB_DETAILS_HOVER,
                           IDB_DETAILS_DISABLED);
        button.SizeToContent();
        button.move(MainLayout::kDetailsX, MainLayout::kDetailsY[i]);
        button.m_strToolTip = LoadString(IDS_GET_DETAILS);
        button.setAccessibleName(
            Spoken(IDS_A11Y_DETAILS, {button.m_strToolTip, m_mapResults.GroupName(i)}));
    }
}

bool CMainDlg::OnInitDialog() {
    CBitmapDlg::OnInitDialog();
    // An X11 window id has 32 bits, which is what the instance slot holds.
    PublishMainWindow(static_cast<std::uint32_t>(winId()));
    setWindowIcon(m_hIcon);
    setWindowTitle(Text(IDS_APP_TITLE));
    TLOG_DEBUG("MainDlg.cpp", 273) << "Main dialog is initialized";
    return true;
}

void CMainDlg::SetFace(Face face) {
    const UINT* pIds = kFaces[static_cast<int>(face)];
    m_btnStartPause.LoadBitmaps(pIds[0], pIds[1], pIds[2], pIds[3]);
    m_btnStartPause.setText(Text(kFaceTexts[static_cast<int>(face)]));
    m_btnStartPause.update();
}

// A busy bar stands in for the marquee; switched off it stays, empty.
void CMainDlg::SetMarquee(bool bOn) {
    if (bOn) {
        m_ctlProgress.setRange(0, 0);
    } else {
        m_ctlProgress.setRange(0, 1);
        m_ctlProgress.setValue(0);
    }
}

void CMainDlg::EnableDetailsByCounter() {
    for (int i = 0; i < kGroupCount; ++i)
        m_arrDetailsButtons[i].setEnabled(GetGroupFiles(i) != 0);
}

void CMainDlg::SetValueText(int nIndex, const std::string& strText) {
    m_arrValueTexts[nIndex].SetText(QString::fromStdString(strText));
}

// ---- Messages --------------------------------------------------------------------------

LRESULT CMainDlg::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_FILEFOUND:
        return OnFileFound(wParam, lParam);
    case WM_ENUMFINISH:
        return OnEnumFinish(wParam, lParam);
    case WM_LINKCLICKED:
        return OnLinkClicked(wParam, lParam);
    default:
        return 0; // WM_BANNERCLICKED among them: the banner opens the page itself
    }
}

LRESULT CMainDlg::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    return WindowProc(nMsg, wParam, lParam);
}

void CMainDlg::OnCommand(UINT nId) {
    switch (nId) {
    case IDC_START_PAUSE:
        OnStartPause();
        break;
    case IDC_STOP:
        OnStop();
        break;
    case IDC_DETAILS_DOCUMENTS:
    case IDC_DETAILS_IMAGES:
    case IDC_DETAILS_MUSIC:
    case IDC_DETAILS_VIDEO:
        OnDetails(nId);
        break;
    default:
        CBitmapDlg::OnCommand(nId);
        break;
    }
}

LRESULT CMainDlg::OnLinkClicked(WPARAM, LPARAM lParam) {
    // Only the link's own repaint follows a click on a "?".
    (void)GetDlgCtrlID(lParam);
    return 0;
}

// ---- The results store ------------------------------------------------------------------

LRESULT CMainDlg::OnFileFound(WPARAM wParam, LPARAM lParam) {
    const auto* pszGroup = reinterpret_cast<const char*>(wParam);
    const auto* pProp = reinterpret_cast<const FileProperty*>(lParam);
    if (!pszGroup || !pProp)
        return 0;
    {
        std::lock_guard lock(m_csResults);
        m_mapResults.Add(pszGroup, *pProp);
    }
    RequestRefresh();
    return 0;
}

void CMainDlg::ClearResults() {
    std::lock_guard lock(m_csResults);
    m_bStopped = false;
    m_bClosing = false;
    m_mapResults.Clear();
    // The texts show "-" or what they showed: the next record rewrites its group's.
    m_nShownFiles = {};
    m_nShownRecords = 0;
}

CFileList* CMainDlg::FindGroupList(std::string_view strGroup) {
    std::lock_guard lock(m_csResults);
    return m_mapResults.FindList(strGroup);
}

std::int64_t CMainDlg::GetGroupFiles(int nGroup) const {
    return m_mapResults.GetGroupFiles(nGroup);
}

ByteCount CMainDlg::GetGroupBytes(int nGroup) const {
    return m_mapResults.GetGroupBytes(nGroup);
}

void CMainDlg::RequestRefresh() {
    if (std::this_thread::get_id() == m_idInterface) {
        RefreshCounters();
        return;
    }
    if (m_bRefreshPending.exchange(true))
        return; // the interface thread has been asked already and has not read yet
    QMetaObject::invokeMethod(
        this, [this] { OnRefreshRequested(); }, Qt::QueuedConnection);
}

void CMainDlg::OnRefreshRequested() {
    const auto elapsed = std::chrono::steady_clock::now() - m_tLastRefresh;
    if (elapsed >= kRefreshInterval) {
        RefreshCounters();
    } else if (!m_timerRefresh.isActive()) {
        m_timerRefresh.start(
            std::chrono::ceil<std::chrono::milliseconds>(kRefreshInterval - elapsed));
    }
}

// The texts of the groups that grew since they were last shown, and the totals once any
// record came. Every counter only grows during a scan, so no text ever goes back.
void CMainDlg::RefreshCounters() {
    // Cleared before reading: a record stored later asks again. Reading the flag as the
    // senders left it also makes their counts visible here.
    m_bRefreshPending.exchange(false);
    m_tLastRefresh = std::chrono::steady_clock::now();
    const std::int64_t nRecords = m_mapResults.GetRecordCount();
    std::array<std::int64_t, kGroupCount> nFiles;
    std::array<ByteCount, kGroupCount> nBytes;
    for (int i = 0; i < kGroupCount; ++i) {
        nFiles[i] = m_mapResults.GetGroupFiles(i);
        nBytes[i] = m_mapResults.GetGroupBytes(i);
    }
    std::int64_t nTotalFiles = 0;
    ByteCount nTotalBytes = 0;
    for (int i = 0; i < kGroupCount; ++i) {
        if (nFiles[i] != m_nShownFiles[i]) {
            SetValueText(2 * i, std::to_string(nFiles[i]));
            SetValueText(2 * i + 1, FormatTotalSize(nBytes[i]));
            m_nShownFiles[i] = nFiles[i];
        }
        nTotalFiles += nFiles[i];
        nTotalBytes += nBytes[i];
    }
    if (nRecords != m_nShownRecords) {
        SetValueText(kTotalCount, std::to_string(nTotalFiles));
        SetValueText(kTotalSize, FormatTotalSize(nTotalBytes));
        m_nShownRecords = nRecords;
    }
}

// ---- Commands ---------------------------------------------------------------------------

void CMainDlg::OnStartPause() {
    std::lock_guard lock(m_csResults);
    if (!m_bScanActive) {
        if (IsEnumFinished())
            StartScan();
        return;
    }
    // EnumFinished is still set by the last scan (this scan's manager has not cleared it
    // yet) or already set by this one (its end is on its way): no toggle now would last.
    if (IsEnumFinished())
        return;
    if (ResumeEvent.IsSet())
        ResumeEvent.Reset();
    else
        ResumeEvent.Set();
    if (!IsEnumFinished() && !ResumeEvent.IsSet())
        ShowPausedState();
    else
        ShowRunningState();
}

void CMainDlg::StartScan() {
    TLOG_DEBUG("MainDlg.cpp", 493) << "The user Start scanning.";
    for (CStaticEx& text : m_arrValueTexts)
        text.SetText(Text(IDS_NO_VALUE));
    m_ctlProgress.show();
    SetMarquee(true);
    m_btnStop.setEnabled(true);
    SetFace(Face::Pause);
    for (CBitmapButtonEx& button : m_arrDetailsButtons)
        button.setEnabled(false);
    ClearResults();
    if (!IsEnumFinished())
        return;
    // The last scan's manager has handled its end and has nothing left but to return.
    if (m_threadManager.joinable())
        m_threadManager.join();
    g_hTargetWnd = GetSafeHwnd();
    try {
        m_threadManager = StartManagerThread(m_pScanSetup);
        m_bScanActive = true;
    } catch (const std::system_error&) {
        ShowFinishedState(); // no scan: the window is as after one that found nothing
    }
}

void CMainDlg::ShowPausedState() {
    TLOG_DEBUG("MainDlg.cpp", 475) << "The user Paused scanning.";
    RefreshCounters(); // the counters as they stand
    SetMarquee(false);
    SetFace(Face::Resume);
    EnableDetailsByCounter();
}

void CMainDlg::ShowRunningState() {
    TLOG_DEBUG("MainDlg.cpp", 460) << "The user Resumed scanning.";
    SetMarquee(true);
    SetFace(Face::Pause);
    for (CBitmapButtonEx& button : m_arrDetailsButtons)
        button.setEnabled(false);
}

void CMainDlg::OnStop() {
    TLOG_DEBUG("MainDlg.cpp", 538) << "Stopping scanning.";
    m_bStopped = true;
    m_btnStartPause.setEnabled(false);
    ForceEvent.Set();
}

void CMainDlg::OnCancel() {
    if (!m_bClosing) {
        TLOG_DEBUG("MainDlg.cpp", 282) << "The user pressed Close button";
        OnStop();
        m_bClosing = true;
    }
    if (m_bScanActive || !IsEnumFinished())
        return; // the end of the scan closes the window
    TLOG_DEBUG("MainDlg.cpp", 290) << "All threads finished. Close application.";
    ClearResults();
    EndDialog(IDCANCEL);
}

void CMainDlg::OnDetails(UINT nId) {
    // Closing: the end of the scan would close this window, and empty the store, from
    // inside the details window's own loop.
    if (m_bClosing)
        return;
    const int nGroup = static_cast<int>(nId - IDC_DETAILS_DOCUMENTS);
    CFileList* pList = FindGroupList(LoadString(g_groupTable[nGroup].nNameId));
    if (!pList)
        return;
    TLOG_TAGGED(LogLevel::debug, kDetailsStatements[nGroup].pszTag)
        << kDetailsStatements[nGroup].pszMessage;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    CDetailsDlg dlg(pList, this);
    dlg.GetFileList().setAccessibleName(QString::fromStdString(m_mapResults.GroupName(nGroup)));
    {
        // It reads the list while it builds its rows; a paused scan may still append.
        std::lock_guard lock(m_csResults);
        dlg.Create();
    }
    QApplication::restoreOverrideCursor();
    dlg.DoModal();
}

// ---- The end of a scan ------------------------------------------------------------------

LRESULT CMainDlg::OnEnumFinish(WPARAM, LPARAM) {
    TLOG_DEBUG("MainDlg.cpp", 372) << "EnumFinish message received.";
    m_bScanActive = false;
    RefreshCounters(); // every record is in
    ShowFinishedState();
    if (::g_nLogThreshold.load(std::memory_order_relaxed) <= LogLevel::debug) {
        for (const GroupEntry& group : g_groupTable)
            WriteGroupList(group.nNameId);
    }

    std::int64_t nFiles = 0;
    ByteCount nBytes = 0;
    for (int i = 0; i < kGroupCount; ++i) {
        nFiles += GetGroupFiles(i);
        nBytes += GetGroupBytes(i);
    }
    if (!m_bStopped && nFiles > 0) {
        const std::string strCount = std::to_string(nFiles) + " files";
        const std::string strSize = FormatTotalSize(nBytes);
        TLOG_DEBUG("MainDlg.cpp", 412)
            << "The dialog with scanning results is about to be shown: " << strCount << ", "
            << strSize;
        // The scan's manager waits in its message until this window is closed.
        CFinishDlg dlg(strCount, strSize, this);
        dlg.DoModal();
    }
    if (m_bClosing)
        QMetaObject::invokeMethod(
            this, [this] { OnCommand(IDCANCEL); }, Qt::QueuedConnection);
    return 0;
}

void CMainDlg::WriteGroupList(UINT nGroupNameId) {
    const std::string strGroup = LoadString(nGroupNameId);
    const CFileList* pList = FindGroupList(strGroup);
    // A group without records leaves the list of an earlier scan as it was: a scan
    // stopped early must not take away what a complete one wrote.
    if (!pList || pList->empty())
        return;
    const std::string strFolder = GetLogFolder();
    CFileHandle folder;
    SafeFileResult result = OpenPrivateFolder(strFolder, false, folder);
    if (result) {
        // Only for a folder that takes it: a group's text is as big as its paths. The
        // path's own bytes, whatever the locale: a name the locale cannot spell is still
        // a file that would be lost, and the line must lead back to it.
        result = WriteGroupListFile(folder, strGroup, GroupListText(*pList));
    }
    if (!result) {
        TLOG_ERROR("MainDlg.cpp", 424) << "The list of found files was not written: " << strFolder
                                       << GroupListFileName(strGroup) << ": " << result.GetText();
    }
}

void CMainDlg::ShowFinishedState() {
    m_ctlProgress.hide();
    SetMarquee(false);
    EnableDetailsByCounter();
    m_btnStop.setEnabled(false);
    SetFace(Face::Start);
    m_btnStartPause.setEnabled(true);
    m_btnStartPause.setFocus();
}
