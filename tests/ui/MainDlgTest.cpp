#include "MainDlg.h"

#include "Bitmaps.h"
#include "DetailsDlg.h"
#include "FinishDlg.h"
#include "ForwardingVolumes.h"
#include "Log.h"
#include "ScanTestSupport.h"
#include "SizeText.h"
#include "StringTable.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Scan threads stop here until the test opens it.
class CGate {
public:
    void Close() {
        std::lock_guard lock(m_lock);
        m_bOpen = false;
    }
    void Open() {
        std::lock_guard lock(m_lock);
        m_bOpen = true;
        m_changed.notify_all();
    }
    void Pass() {
        std::unique_lock lock(m_lock);
        ++m_nWaiting;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_bOpen; });
        --m_nWaiting;
    }
    bool WaitForWaiter() {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 10s, [this] { return m_nWaiting > 0; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bOpen = true;
    int m_nWaiting = 0;
};

// Folders of a temporary tree as the fixed drives. The manager stops at listGate once it
// has reset the events; the worker of strGatedDrive stops at driveGate before its walk.
class CTestScan {
public:
    std::vector<std::string> arrDrives;
    std::string strGatedDrive;
    CGate listGate;
    CGate driveGate;
    std::atomic<int> nScans{0};

    std::shared_ptr<const ScanSetup> Setup() {
        auto pSetup = std::make_shared<ScanSetup>(FolderScanSetup(arrDrives));
        pSetup->volumeTable = [this, fnFolders = pSetup->volumeTable] {
            ++nScans;
            listGate.Pass();
            return std::shared_ptr<const IVolumeTable>(
                std::make_shared<const CGatedVolumes>(fnFolders(), *this));
        };
        return pSetup;
    }

private:
    class CGatedVolumes final : public CForwardingVolumes {
    public:
        CGatedVolumes(std::shared_ptr<const IVolumeTable> pInner, CTestScan& scan)
            : CForwardingVolumes(std::move(pInner)), m_scan(scan) {}
        bool GetVolumeInformation(const std::string& strRoot, std::string& strFileSystem,
                                  DWORD& dwError) const override {
            if (strRoot == m_scan.strGatedDrive)
                m_scan.driveGate.Pass();
            return CForwardingVolumes::GetVolumeInformation(strRoot, strFileSystem, dwError);
        }

    private:
        CTestScan& m_scan;
    };
};

enum class Face { Start, Pause, Resume, Other };

struct Row {
    Face face;
    const char* pszText;
    bool bStartEnabled;
    bool bStopEnabled;
    std::array<bool, 4> arrDetails;
    bool bBarShown;
    bool bMarquee;
};

// The log statements of the main window, as "line message".
std::vector<std::string> MainDlgLog() {
    std::vector<std::string> arrLines;
    for (const PendingLogRecord& r : TakePendingLogRecords()) {
        if (r.strFileTag.find("MainDlg.cpp") == std::string::npos)
            continue;
        const std::size_t nAt = r.strFileTag.find("[Line: ") + 7;
        arrLines.push_back(r.strFileTag.substr(nAt, r.strFileTag.find(']', nAt) - nAt) + " " +
                           r.strMessage);
    }
    return arrLines;
}

// Whether a text is whole in its field: nothing of it cut off.
bool Fits(const QLabel& label) {
    return label.fontMetrics().horizontalAdvance(label.text()) <= label.contentsRect().width();
}

// The texts of each finish window that opens, which it then closes. The window holds
// the scan's end, and the test's wait with it, until it is closed.
class CFinishWatch {
public:
    CFinishWatch() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* pDlg = dynamic_cast<CFinishDlg*>(QApplication::activeModalWidget());
            if (!pDlg)
                return;
            const auto label = [pDlg](UINT nId) -> QLabel& {
                return *static_cast<QLabel*>(pDlg->GetDlgItem(nId));
            };
            m_arrShown.push_back(label(IDC_TOTAL_COUNT).text().toStdString() + ", " +
                                 label(IDC_TOTAL_SIZE).text().toStdString());
            m_bAllFit = m_bAllFit && Fits(label(IDC_TOTAL_COUNT)) && Fits(label(IDC_TOTAL_SIZE));
            if (m_fnWhileOpen)
                m_fnWhileOpen(*pDlg);
            pDlg->reject();
        });
        m_timer.start(5);
    }
    // Runs while each finish window is open, just before it is closed.
    std::function<void(CFinishDlg&)> m_fnWhileOpen;
    const std::vector<std::string>& Shown() const { return m_arrShown; }
    bool AllFit() const { return m_bAllFit; }

private:
    QTimer m_timer;
    std::vector<std::string> m_arrShown;
    bool m_bAllFit = true;
};

// Waits without running the interface thread's event loop.
bool WaitWithoutEvents(const std::function<bool()>& fnDone) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!fnDone()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class MainDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        TakePendingLogRecords();
        ResumeEvent.Reset();
        ForceEvent.Reset();
        EnumFinished.Set();
        // The list files go to this test's own folder, never the machine's.
        strOldTemp =
            std::getenv("TEMP") ? std::optional<std::string>(std::getenv("TEMP")) : std::nullopt;
        ::setenv("TEMP", temp.Root().c_str(), 1);
        strLists = temp.Folder("Tarrow") + "/";
    }
    void TearDown() override {
        scan.listGate.Open();
        scan.driveGate.Open();
        pDlg.reset();
        if (strOldTemp)
            ::setenv("TEMP", strOldTemp->c_str(), 1);
        else
            ::unsetenv("TEMP");
    }

    // The list files written, by name, with their content.
    std::map<std::string, std::string> ListFiles() {
        std::map<std::string, std::string> mapFiles;
        for (const auto& entry : std::filesystem::directory_iterator(strLists)) {
            if (entry.is_directory())
                continue;
            std::ifstream file(entry.path(), std::ios::binary);
            mapFiles[entry.path().filename().string()] =
                std::string(std::istreambuf_iterator<char>(file), {});
        }
        return mapFiles;
    }

    CMainDlg& Open(bool bShow = true) {
        pDlg = std::make_unique<CMainDlg>(scan.Setup());
        if (bShow) {
            pDlg->show();
            EXPECT_TRUE(QTest::qWaitForWindowActive(pDlg.get()));
        } else {
            pDlg->Create();
        }
        return *pDlg;
    }

    CBitmapButtonEx& Button(UINT nId) {
        return *dynamic_cast<CBitmapButtonEx*>(pDlg->GetDlgItem(nId));
    }
    std::string TextOf(UINT nId) {
        return static_cast<QLabel*>(pDlg->GetDlgItem(nId))->text().toStdString();
    }
    QProgressBar& Bar() { return *static_cast<QProgressBar*>(pDlg->GetDlgItem(IDC_PROGRESS)); }

    Face FaceOf(CBitmapButtonEx& button) {
        const QImage img = button.GetNormalBitmap().toImage();
        for (const auto& [nId, face] : {std::pair{IDB_START, Face::Start},
                                        {IDB_PAUSE, Face::Pause},
                                        {IDB_RESUME, Face::Resume}})
            if (img == LoadBitmap(nId).toImage())
                return face;
        return Face::Other;
    }

    void ExpectRow(const Row& row, const char* pszState) {
        SCOPED_TRACE(pszState);
        CBitmapButtonEx& start = Button(IDC_START_PAUSE);
        EXPECT_EQ(FaceOf(start), row.face);
        EXPECT_EQ(start.text().toStdString(), row.pszText);
        EXPECT_EQ(start.isEnabled(), row.bStartEnabled);
        EXPECT_EQ(Button(IDC_STOP).isEnabled(), row.bStopEnabled);
        EXPECT_TRUE(Button(IDCANCEL).isEnabled());
        for (UINT i = 0; i < 4; ++i) {
            EXPECT_EQ(Button(IDC_DETAILS_DOCUMENTS + i).isEnabled(), row.arrDetails[i]) << i;
            EXPECT_TRUE(pDlg->GetDlgItem(IDC_LINK_DOCUMENTS + i)->isEnabled());
        }
        EXPECT_EQ(!Bar().isHidden(), row.bBarShown);
        EXPECT_EQ(Bar().minimum() == 0 && Bar().maximum() == 0, row.bMarquee);
    }

    bool IsFinishedState() {
        return !Button(IDC_STOP).isEnabled() && Button(IDC_START_PAUSE).isEnabled() &&
               FaceOf(Button(IDC_START_PAUSE)) == Face::Start;
    }
    // A scan of a/one.jpg and b/report.pdf, paused once the image has been counted while
    // the worker of b waits at its gate: the details of Images can be had. The log so far
    // is taken.
    void PauseAfterTheImage() {
        tree.File("a/one.jpg", 1000);
        tree.File("b/report.pdf", 5000);
        scan.arrDrives = {tree.Path("a"), tree.Path("b")};
        scan.strGatedDrive = tree.Path("b");
        scan.driveGate.Close();
        Open();
        Button(IDC_START_PAUSE).click();
        ASSERT_TRUE(WaitWithoutEvents([this] { return pDlg->GetGroupFiles(1) == 1; }));
        Button(IDC_START_PAUSE).click();
        ASSERT_EQ(FaceOf(Button(IDC_START_PAUSE)), Face::Resume);
        MainDlgLog();
    }

    bool WaitForFinishedState() {
        return QTest::qWaitFor([this] { return IsFinishedState(); }, 10000);
    }

    CTempTree tree;
    CTempTree temp;
    std::optional<std::string> strOldTemp;
    std::string strLists;
    CFinishWatch finish;
    CTestScan scan;
    std::unique_ptr<CMainDlg> pDlg;
};

// The lines of a list file, each checked for its CR LF, in file order.
std::vector<std::string> Lines(const std::string& strText) {
    std::vector<std::string> arrLines;
    for (std::size_t i = 0; i < strText.size();) {
        const std::size_t j = strText.find("\r\n", i);
        if (j == std::string::npos) {
            ADD_FAILURE() << "a last line without CR LF: " << strText.substr(i);
            break;
        }
        arrLines.push_back(strText.substr(i, j - i));
        i = j + 2;
    }
    return arrLines;
}

TEST_F(MainDlgTest, StateTableRowByRowWithAStopWhilePaused) {
    tree.File("a/one.jpg", 1000);
    tree.File("a/two.jpg", 2000);
    tree.File("a/sub/three.png", 3000);
    tree.File("b/report.pdf", 5000);
    scan.arrDrives = {tree.Path("a"), tree.Path("b")};
    scan.strGatedDrive = tree.Path("b");
    scan.driveGate.Close();
    Open();
    const Row scanning{Face::Pause, "&Pause", true, true, {}, true, true};
    const Row paused{Face::Resume, "&Resume", true, true, {false, true, false, false}, true, false};

    ExpectRow({Face::Start, "&Start", true, false, {}, false, false}, "Idle");
    for (UINT nId = IDC_DOCUMENTS_COUNT; nId <= IDC_TOTAL_SIZE; ++nId)
        EXPECT_EQ(TextOf(nId), "-");

    Button(IDC_START_PAUSE).click();
    // Drive a is walked while drive b waits at its gate, so the scan goes on; the texts
    // have not been brought up yet.
    ASSERT_TRUE(WaitWithoutEvents([this] { return pDlg->GetGroupFiles(1) == 3; }));
    ExpectRow(scanning, "Scanning");

    Button(IDC_START_PAUSE).click();
    ExpectRow(paused, "Paused");
    EXPECT_EQ(TextOf(IDC_IMAGES_COUNT), "3"); // as they stand
    EXPECT_EQ(TextOf(IDC_IMAGES_SIZE), "5.86 KB");
    EXPECT_EQ(TextOf(IDC_TOTAL_COUNT), "3");
    EXPECT_EQ(TextOf(IDC_TOTAL_SIZE), "5.86 KB");
    EXPECT_EQ(TextOf(IDC_DOCUMENTS_COUNT), "-");

    Button(IDC_START_PAUSE).click();
    ExpectRow(scanning, "Resumed");
    Button(IDC_START_PAUSE).click();
    ExpectRow(paused, "Paused again");

    Button(IDC_STOP).click();
    ExpectRow({Face::Resume, "&Resume", false, true, {false, true, false, false}, true, false},
              "Stopping");
    scan.driveGate.Open(); // b's worker leaves at its first entry: the stop wins over the pause
    ASSERT_TRUE(WaitForFinishedState());
    ExpectRow({Face::Start, "&Start", true, false, {false, true, false, false}, false, false},
              "Finished");
    EXPECT_TRUE(Button(IDC_START_PAUSE).hasFocus());
    EXPECT_EQ(pDlg->GetGroupFiles(0), 0);
    EXPECT_EQ(TextOf(IDC_DOCUMENTS_COUNT), "-");
    EXPECT_TRUE(pDlg->IsStopped());
    // A stopped scan writes the lists of what it found, and shows no finish window.
    EXPECT_EQ(ListFiles().size(), 1u);
    EXPECT_EQ(Lines(ListFiles()["Images.log"]).size(), 3u);
    EXPECT_TRUE(finish.Shown().empty());
    EXPECT_EQ(MainDlgLog(), (std::vector<std::string>{
                                "273 Main dialog is initialized",
                                "493 The user Start scanning.",
                                "475 The user Paused scanning.",
                                "460 The user Resumed scanning.",
                                "475 The user Paused scanning.",
                                "538 Stopping scanning.",
                                "372 EnumFinish message received.",
                            }));
}

TEST_F(MainDlgTest, ACompleteScanWritesItsGroupsListsAndShowsTheFinishWindow) {
    const std::vector<std::string> arrDocuments = {
        tree.File("a/r\xE9sum\xE9.doc", 1000), // not UTF-8: its bytes as they are
        tree.File("a/sub/report.PDF", 2000),
        tree.File("a/sub/deeper/notes.rtf", 3000),
    };
    const std::vector<std::string> arrImages = {
        tree.File("a/one.jpg", 4000),
        tree.File("a/sub/two.png", 5'000'000),
    };
    tree.File("a/readme.txt", 10);
    // A group without records leaves its list of an earlier scan as it was, a link at its
    // name too.
    std::ofstream(strLists + "Music.log", std::ios::binary) << "an earlier scan\r\n";
    const std::string strOutside = tree.File("outside.log", 7);
    ASSERT_EQ(::symlink(strOutside.c_str(), (strLists + "Video.log").c_str()), 0);
    std::ofstream(strLists + "Images.log", std::ios::binary) << std::string(100'000, 'x');
    scan.arrDrives = {tree.Path("a")};
    Open();
    MainDlgLog();

    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return finish.Shown().size() == 1; }, 10000));
    EXPECT_EQ(finish.Shown()[0], "5 files, " + FormatSize(5'015'000));
    ASSERT_TRUE(WaitForFinishedState());
    ExpectRow({Face::Start, "&Start", true, false, {true, true, false, false}, false, false},
              "Finished");
    // Once the finish window has gone, the keys go to Start again.
    EXPECT_EQ(pDlg->focusWidget(), &Button(IDC_START_PAUSE));

    std::map<std::string, std::string> mapLists = ListFiles();
    ASSERT_EQ(mapLists.size(), 4u);
    EXPECT_EQ(mapLists["Music.log"], "an earlier scan\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(strLists + "Video.log"));
    EXPECT_EQ(std::filesystem::file_size(strOutside), 7u);
    const auto expectList = [&](const std::string& strGroup, std::vector<std::string> arrPaths) {
        SCOPED_TRACE(strGroup);
        std::vector<std::string> arrLines = Lines(mapLists[strGroup + ".log"]);
        // In the order the records came, which is the store's.
        std::vector<std::string> arrStored;
        for (const FileProperty& prop : *pDlg->FindGroupList(strGroup))
            arrStored.push_back(prop.m_strPath);
        EXPECT_EQ(arrLines, arrStored);
        std::sort(arrLines.begin(), arrLines.end());
        std::sort(arrPaths.begin(), arrPaths.end());
        EXPECT_EQ(arrLines, arrPaths);
    };
    expectList("Documents", arrDocuments);
    expectList("Images", arrImages);
    EXPECT_EQ(MainDlgLog(),
              (std::vector<std::string>{
                  "493 The user Start scanning.",
                  "372 EnumFinish message received.",
                  "412 The dialog with scanning results is about to be shown: 5 files, " +
                      FormatSize(5'015'000),
              }));

    // The next scan finds nothing: every list stays as it was, no finish window opens.
    std::filesystem::remove_all(tree.Path("a"));
    tree.Folder("a");
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return scan.nScans == 2 && IsFinishedState(); }, 10000));
    QTest::qWait(50);
    EXPECT_EQ(finish.Shown().size(), 1u);
    EXPECT_EQ(ListFiles(), mapLists);
    ExpectRow({Face::Start, "&Start", true, false, {}, false, false}, "Finished with nothing");
    EXPECT_EQ(pDlg->focusWidget(), &Button(IDC_START_PAUSE));
    EXPECT_EQ(MainDlgLog(), (std::vector<std::string>{"493 The user Start scanning.",
                                                      "372 EnumFinish message received."}));
}

TEST_F(MainDlgTest, AListThatCannotBeWrittenIsLoggedAndTheOthersAreStillWritten) {
    tree.File("a/one.jpg", 10);
    tree.File("a/two.doc", 20);
    tree.File("a/three.mp3", 30);
    scan.arrDrives = {tree.Path("a")};
    const std::string strOutside = temp.File("outside.txt", 0);
    std::filesystem::create_directory(strLists + "Images.log");
    ASSERT_EQ(::symlink(strOutside.c_str(), (strLists + "Documents.log").c_str()), 0);
    Open();
    MainDlgLog();

    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return finish.Shown().size() == 1; }, 10000));
    ASSERT_TRUE(WaitForFinishedState());
    // A link is replaced, never written through; a folder at the name is refused.
    EXPECT_EQ(std::filesystem::file_size(strOutside), 0u);
    EXPECT_FALSE(std::filesystem::is_symlink(strLists + "Documents.log"));
    EXPECT_EQ(ListFiles()["Documents.log"], tree.Path("a/two.doc") + "\r\n");
    EXPECT_EQ(ListFiles()["Music.log"], tree.Path("a/three.mp3") + "\r\n");
    EXPECT_TRUE(std::filesystem::is_directory(strLists + "Images.log"));
    const std::vector<std::string> arrLog = MainDlgLog();
    ASSERT_EQ(arrLog.size(), 4u);
    EXPECT_EQ(arrLog[2].rfind(
                  "424 The list of found files was not written: " + strLists + "Images.log: ", 0),
              0u)
        << arrLog[2];

    // A folder that is a link, or that others may write in, is not written in at all;
    // a missing one is not created.
    std::filesystem::remove_all(strLists);
    const std::string strElsewhere = temp.Folder("elsewhere");
    std::filesystem::create_directory_symlink(strElsewhere,
                                              strLists.substr(0, strLists.size() - 1));
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return finish.Shown().size() == 2; }, 10000));
    EXPECT_TRUE(std::filesystem::is_empty(strElsewhere));
    // Three lists not written, each said; the fourth group has none to write.
    EXPECT_EQ(MainDlgLog().size(), 6u);

    std::filesystem::remove(strLists.substr(0, strLists.size() - 1));
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return finish.Shown().size() == 3; }, 10000));
    EXPECT_FALSE(std::filesystem::exists(strLists));
}

TEST_F(MainDlgTest, CloseWhileIdleStopsAndClosesAtOnce) {
    Open();
    MainDlgLog();
    Button(IDCANCEL).click();
    EXPECT_FALSE(pDlg->isVisible());
    EXPECT_EQ(pDlg->result(), static_cast<int>(IDCANCEL));
    EXPECT_TRUE(ForceEvent.IsSet());
    EXPECT_EQ(MainDlgLog(), (std::vector<std::string>{
                                "282 The user pressed Close button",
                                "538 Stopping scanning.",
                                "290 All threads finished. Close application.",
                            }));
}

TEST_F(MainDlgTest, CloseTwiceDuringAScanClosesOnceTheScanHasEndedAndShowsNothingElse) {
    tree.File("a/one.jpg", 10);
    tree.File("b/two.doc", 10);
    scan.arrDrives = {tree.Path("a"), tree.Path("b")};
    scan.strGatedDrive = tree.Path("b");
    scan.driveGate.Close();
    Open();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(scan.driveGate.WaitForWaiter());
    ASSERT_TRUE(WaitWithoutEvents([this] { return pDlg->GetGroupFiles(1) == 1; }));
    Button(IDCANCEL).click();
    Button(IDCANCEL).click();
    ProcessPosted();
    EXPECT_TRUE(pDlg->isVisible());
    EXPECT_TRUE(pDlg->IsClosing());
    EXPECT_FALSE(Button(IDC_START_PAUSE).isEnabled());
    EXPECT_TRUE(Button(IDC_STOP).isEnabled());

    scan.driveGate.Open();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !pDlg->isVisible(); }, 10000));
    EXPECT_EQ(pDlg->result(), static_cast<int>(IDCANCEL));
    for (QWidget* pWindow : QApplication::topLevelWidgets())
        EXPECT_FALSE(pWindow->isVisible()) << pWindow->metaObject()->className();
    EXPECT_TRUE(finish.Shown().empty());
    // What was found before the Close is in its list.
    EXPECT_EQ(ListFiles(), (std::map<std::string, std::string>{
                               {"Images.log", tree.Path("a/one.jpg") + "\r\n"}}));
    EXPECT_EQ(MainDlgLog(), (std::vector<std::string>{
                                "273 Main dialog is initialized",
                                "493 The user Start scanning.",
                                "282 The user pressed Close button",
                                "538 Stopping scanning.",
                                "372 EnumFinish message received.",
                                "290 All threads finished. Close application.",
                            }));
}

TEST_F(MainDlgTest, StopTwiceIsStopOnce) {
    tree.File("a/one.jpg", 10);
    scan.arrDrives = {tree.Path("a")};
    scan.strGatedDrive = tree.Path("a");
    scan.driveGate.Close();
    Open();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(scan.driveGate.WaitForWaiter());
    MainDlgLog();
    pDlg->GetDlgItem(IDC_STOP)->setFocus();
    SendEnter(Button(IDC_STOP)); // the pointer stays on Stop from here on
    Button(IDC_STOP).click();
    Button(IDC_STOP).click();
    EXPECT_TRUE(ForceEvent.IsSet());
    EXPECT_EQ(MainDlgLog(),
              (std::vector<std::string>{"538 Stopping scanning.", "538 Stopping scanning."}));
    scan.driveGate.Open();
    ASSERT_TRUE(WaitForFinishedState());
    EXPECT_EQ(pDlg->GetGroupFiles(1), 0);
    EXPECT_TRUE(pDlg->isVisible());
    EXPECT_TRUE(Button(IDC_START_PAUSE).hasFocus()); // not Close, the neighbour of Stop
    // Disabled under the pointer, Stop keeps its hover face until the pointer leaves.
    EXPECT_EQ(Button(IDC_STOP).GetDrawnImage(), CBitmapButtonEx::Image::Focus);
    SendLeave(Button(IDC_STOP));
    EXPECT_EQ(Button(IDC_STOP).GetDrawnImage(), CBitmapButtonEx::Image::Disabled);
}

TEST_F(MainDlgTest, AStopPressedAsTheManagerResetsTheEventsStillStops) {
    tree.File("a/one.jpg", 10);
    scan.arrDrives = {tree.Path("a")};
    scan.listGate.Close();
    Open();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(scan.listGate.WaitForWaiter());
    Button(IDC_STOP).click();
    ForceEvent.Reset(); // the manager's reset lands just after the press
    scan.listGate.Open();
    ASSERT_TRUE(WaitForFinishedState());
    EXPECT_EQ(pDlg->GetGroupFiles(1), 0);
}

TEST_F(MainDlgTest, FoundFilesAreKeptAndCountedByTheirExactGroupName) {
    Open(false);
    const HWND hWnd = pDlg->GetSafeHwnd();
    const auto send = [hWnd](const char* pszGroup, const FileProperty* pProp) {
        SendMessage(hWnd, WM_FILEFOUND, reinterpret_cast<WPARAM>(pszGroup),
                    reinterpret_cast<LPARAM>(pProp));
    };
    FileProperty image;
    image.m_strPath = "/data/a.jpg";
    image.m_nSize = 1536;
    send("Images", &image);
    EXPECT_EQ(TextOf(IDC_IMAGES_COUNT), "1");
    EXPECT_EQ(TextOf(IDC_IMAGES_SIZE), "1.50 KB");
    EXPECT_EQ(TextOf(IDC_TOTAL_COUNT), "1");
    EXPECT_EQ(TextOf(IDC_TOTAL_SIZE), "1.50 KB");
    EXPECT_EQ(TextOf(IDC_DOCUMENTS_COUNT), "-");

    // From a scan thread the record is stored at once, its texts follow on this thread.
    FileProperty song;
    song.m_nSize = 10;
    std::thread([&] { send("Music", &song); }).join();
    EXPECT_EQ(pDlg->GetGroupFiles(2), 1);
    EXPECT_EQ(TextOf(IDC_MUSIC_COUNT), "-");
    EXPECT_TRUE(QTest::qWaitFor([this] { return TextOf(IDC_MUSIC_COUNT) == "1"; }, 5000));
    EXPECT_EQ(TextOf(IDC_TOTAL_COUNT), "2");

    // Another letter case is another name: kept under it, counted nowhere.
    FileProperty other = image;
    other.m_nSize = 100;
    send("images", &other);
    send(nullptr, &image);
    send("Images", nullptr);
    EXPECT_EQ(pDlg->GetGroupFiles(1), 1);
    EXPECT_EQ(static_cast<std::int64_t>(pDlg->GetGroupBytes(1)), 1536);
    ASSERT_NE(pDlg->FindGroupList("images"), nullptr);
    EXPECT_EQ(pDlg->FindGroupList("images")->size(), 1u);
    EXPECT_EQ(pDlg->FindGroupList("Images")->size(), 1u);
    EXPECT_EQ(pDlg->FindGroupList("Video"), nullptr);
    EXPECT_EQ(TextOf(IDC_TOTAL_COUNT), "2");

    // Totals are the sum of the groups; a count is a bare number.
    FileProperty doc;
    doc.m_nSize = 1024 * 1024;
    for (int i = 0; i < 12; ++i) {
        doc.m_strPath = "/data/d" + std::to_string(i) + ".pdf";
        send("Documents", &doc);
    }
    EXPECT_EQ(TextOf(IDC_DOCUMENTS_COUNT), "12");
    EXPECT_EQ(TextOf(IDC_DOCUMENTS_SIZE), "12.00 MB");
    EXPECT_EQ(TextOf(IDC_TOTAL_COUNT), "14");
    EXPECT_EQ(TextOf(IDC_TOTAL_SIZE), FormatSize(12 * 1024 * 1024 + 1536 + 10));

    // The store keeps its own copies.
    image.m_strPath = "changed";
    EXPECT_EQ((*pDlg->FindGroupList("Images"))[0].m_strPath, "/data/a.jpg");
    EXPECT_EQ((*pDlg->FindGroupList("Documents"))[11].m_strPath, "/data/d11.pdf");

    // Closing while idle empties the store; the texts keep what they showed.
    Button(IDCANCEL).click();
    for (const char* pszName : {"Images", "images", "Documents", "Music"})
        EXPECT_EQ(pDlg->FindGroupList(pszName), nullptr) << pszName;
    for (int i = 0; i < kGroupCount; ++i) {
        EXPECT_EQ(pDlg->GetGroupFiles(i), 0);
        EXPECT_EQ(static_cast<std::int64_t>(pDlg->GetGroupBytes(i)), 0);
    }
    EXPECT_EQ(TextOf(IDC_DOCUMENTS_COUNT), "12");
    EXPECT_EQ(TextOf(IDC_TOTAL_COUNT), "14");

    // A first record under a name of no group still writes the totals.
    CMainDlg fresh(scan.Setup());
    fresh.Create();
    SendMessage(fresh.GetSafeHwnd(), WM_FILEFOUND, reinterpret_cast<WPARAM>("Other"),
                reinterpret_cast<LPARAM>(&image));
    const auto text = [&fresh](UINT nId) {
        return static_cast<QLabel*>(fresh.GetDlgItem(nId))->text().toStdString();
    };
    EXPECT_EQ(text(IDC_TOTAL_COUNT), "0");
    EXPECT_EQ(text(IDC_TOTAL_SIZE), "0 B");
    EXPECT_EQ(text(IDC_IMAGES_COUNT), "-");
}

TEST_F(MainDlgTest, SumsPastSixtyFourBitsShowWholeAndNeverNegative) {
    Open();
    const HWND hWnd = pDlg->GetSafeHwnd();
    const auto label = [this](UINT nId) -> QLabel& {
        return *static_cast<QLabel*>(pDlg->GetDlgItem(nId));
    };
    // Three sparse files of 4 EiB: past 2^63 in Video and in the total.
    FileProperty video;
    video.m_nSize = std::int64_t{1} << 62;
    for (const char* pszPath : {"/s/a.mkv", "/s/b.mkv", "/s/c.mkv"}) {
        video.m_strPath = pszPath;
        SendMessage(hWnd, WM_FILEFOUND, reinterpret_cast<WPARAM>("Video"),
                    reinterpret_cast<LPARAM>(&video));
    }
    EXPECT_EQ(TextOf(IDC_VIDEO_SIZE), "12.00 EB");
    EXPECT_EQ(TextOf(IDC_TOTAL_SIZE), "12.00 EB");
    // Past 2^64 in the total.
    video.m_strPath = "/s/d.mkv";
    SendMessage(hWnd, WM_FILEFOUND, reinterpret_cast<WPARAM>("Video"),
                reinterpret_cast<LPARAM>(&video));
    FileProperty doc = video;
    doc.m_strPath = "/s/e.pdf";
    SendMessage(hWnd, WM_FILEFOUND, reinterpret_cast<WPARAM>("Documents"),
                reinterpret_cast<LPARAM>(&doc));
    EXPECT_EQ(TextOf(IDC_VIDEO_SIZE), "16.00 EB");
    EXPECT_EQ(TextOf(IDC_TOTAL_SIZE), "20.00 EB");
    for (UINT nId = IDC_DOCUMENTS_COUNT; nId <= IDC_TOTAL_SIZE; ++nId) {
        SCOPED_TRACE(nId);
        EXPECT_TRUE(TextOf(nId) == "-" || TextOf(nId).front() != '-') << TextOf(nId);
        EXPECT_TRUE(Fits(label(nId))) << TextOf(nId);
    }

    // The finish window shows the same sum, whole.
    SendMessage(hWnd, WM_ENUMFINISH, 0, 0);
    ASSERT_EQ(finish.Shown().size(), 1u);
    EXPECT_EQ(finish.Shown()[0], "5 files, 20.00 EB");
    EXPECT_TRUE(finish.AllFit());

    // The widest texts a sum can have fit the fields too: the most GB shown, and the most
    // a scan can count.
    for (const ByteCount n :
         {9'999'999 * (ByteCount{1} << 30) + 1'063'004'406,
          (ByteCount{1023} << 60) + (ByteCount{1} << 59), ByteCount{1} << 126}) {
        label(IDC_TOTAL_SIZE).setText(QString::fromStdString(FormatTotalSize(n)));
        EXPECT_TRUE(Fits(label(IDC_TOTAL_SIZE))) << FormatTotalSize(n);
    }
}

TEST_F(MainDlgTest, AScanCountsEveryFileOfTheTreeOnceAndItsTextsNeverGoBack) {
    // The test's own idea of the groups, independent of the engine's filters.
    const std::map<std::string, int> mapGroups = {
        {"doc", 0},  {"docx", 0}, {"xls", 0}, {"xlsx", 0}, {"ppt", 0}, {"pptx", 0}, {"pdf", 0},
        {"odf", 0},  {"rtf", 0},  {"pst", 0}, {"ost", 0},  {"qbb", 0}, {"qdb", 0},  {"jpg", 1},
        {"jpeg", 1}, {"png", 1},  {"bmp", 1}, {"gif", 1},  {"psd", 1}, {"tiff", 1}, {"mp3", 2},
        {"wav", 2},  {"wma", 2},  {"aac", 2}, {"mpa", 2},  {"m4a", 2}, {"aiff", 2}, {"aif", 2},
        {"aifc", 2}, {"avi", 3},  {"3gp", 3}, {"flv", 3},  {"mkv", 3}, {"mov", 3},  {"mp4", 3},
        {"mpg", 3},  {"wmv", 3},  {"m4v", 3}};
    const char* const arrOther[] = {"txt", "tif", "doc.bak", "mp3~", "", "jpg.part", "log"};
    std::vector<std::string> arrExtensions;
    for (const auto& [strExt, nGroup] : mapGroups)
        arrExtensions.push_back(strExt);
    for (const char* psz : arrOther)
        arrExtensions.push_back(psz);

    std::mt19937 rng(7);
    std::array<std::int64_t, 4> nFiles{}, nBytes{};
    std::array<std::vector<std::string>, 4> arrPaths;
    for (int i = 0; i < 600; ++i) {
        std::string strExt = arrExtensions[rng() % arrExtensions.size()];
        if (rng() % 3 == 0)
            std::transform(strExt.begin(), strExt.end(), strExt.begin(), ::toupper);
        const std::string strName = (i % 2 ? "a/" : "b/") + std::to_string(rng() % 12) + "/" +
                                    std::to_string(rng() % 4) + "/f" + std::to_string(i) +
                                    (i % 97 == 0 ? "-caf\xE9" : "") +
                                    (strExt.empty() ? "" : "." + strExt);
        const std::int64_t nSize = static_cast<std::int64_t>(rng() % 5'000'000);
        const std::string strPath = tree.File(strName, nSize);
        std::string strLower = strExt.substr(strExt.rfind('.') + 1);
        std::transform(strLower.begin(), strLower.end(), strLower.begin(), ::tolower);
        const auto it =
            strExt.find('.') == std::string::npos ? mapGroups.find(strLower) : mapGroups.end();
        if (it != mapGroups.end()) {
            ++nFiles[it->second];
            nBytes[it->second] += nSize;
            arrPaths[it->second].push_back(strPath);
        }
    }
    scan.arrDrives = {tree.Path("a"), tree.Path("b")};
    Open();

    std::vector<long> arrSeen; // the total count text whenever the event loop ran
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const std::string strCount = TextOf(IDC_TOTAL_COUNT);
        arrSeen.push_back(strCount == "-" ? -1 : std::stol(strCount));
    });
    watch.start(1);
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(WaitForFinishedState());
    watch.stop();
    EXPECT_TRUE(std::is_sorted(arrSeen.begin(), arrSeen.end()));

    std::int64_t nTotalFiles = 0, nTotalBytes = 0;
    for (int i = 0; i < kGroupCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pDlg->GetGroupFiles(i), nFiles[i]);
        EXPECT_EQ(static_cast<std::int64_t>(pDlg->GetGroupBytes(i)), nBytes[i]);
        EXPECT_EQ(TextOf(IDC_DOCUMENTS_COUNT + 2 * i), std::to_string(nFiles[i]));
        EXPECT_EQ(TextOf(IDC_DOCUMENTS_SIZE + 2 * i), FormatSize(nBytes[i]));
        const CFileList* pList = pDlg->FindGroupList(LoadString(g_groupTable[i].nNameId));
        ASSERT_NE(pList, nullptr);
        std::vector<std::string> arrStored;
        for (const FileProperty& prop : *pList)
            arrStored.push_back(prop.m_strPath);
        std::sort(arrStored.begin(), arrStored.end());
        std::sort(arrPaths[i].begin(), arrPaths[i].end());
        EXPECT_EQ(arrStored, arrPaths[i]);
        nTotalFiles += nFiles[i];
        nTotalBytes += nBytes[i];
    }
    EXPECT_EQ(TextOf(IDC_TOTAL_COUNT), std::to_string(nTotalFiles));
    EXPECT_EQ(TextOf(IDC_TOTAL_SIZE), FormatSize(nTotalBytes));
    EXPECT_FALSE(pDlg->IsStopped());
}

TEST_F(MainDlgTest, ASecondStartBeforeTheManagerClearedEnumFinishedStartsNothing) {
    tree.File("a/one.jpg", 10);
    scan.arrDrives = {tree.Path("a")};
    Open();
    CBitmapButtonEx& start = Button(IDC_START_PAUSE);

    // The manager runs, but EnumFinished still reads set: a key pressed twice at once.
    scan.listGate.Close();
    start.click();
    ASSERT_TRUE(scan.listGate.WaitForWaiter());
    EnumFinished.Set();
    start.click();
    EnumFinished.Reset();
    scan.listGate.Open();
    ASSERT_TRUE(WaitForFinishedState());
    EXPECT_EQ(scan.nScans, 1);
    EXPECT_EQ(pDlg->GetGroupFiles(1), 1);
}

TEST_F(MainDlgTest, AStartBeforeTheEndOfTheScanIsHandledStartsNothing) {
    tree.File("a/one.jpg", 10);
    scan.arrDrives = {tree.Path("a")};
    Open();
    Button(IDC_START_PAUSE).click();
    // The scan ends; its end waits for the interface thread, which does not look yet.
    ASSERT_TRUE(WaitWithoutEvents([this] { return pDlg->GetGroupFiles(1) == 1; }));
    ASSERT_TRUE(WaitWithoutEvents([] { return IsEnumFinished(); }));
    Button(IDC_START_PAUSE).click();
    EXPECT_EQ(pDlg->GetGroupFiles(1), 1);
    ASSERT_TRUE(WaitForFinishedState());
    EXPECT_EQ(scan.nScans, 1);
    EXPECT_EQ(TextOf(IDC_IMAGES_COUNT), "1");

    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return scan.nScans == 2 && IsFinishedState(); }, 10000));
}

// The shown-counts of the last scan are forgotten with its results: a group that the
// next scan does not reach again shows "-", not 0, and one that finds as many files as
// last time still shows them.
TEST_F(MainDlgTest, ASecondScanShowsOnlyWhatItFoundAndDashesElsewhere) {
    tree.File("a/one.jpg", 1000);
    tree.File("a/two.doc", 2000);
    tree.File("a/song.mp3", 3000);
    tree.File("a/film.mkv", 4000);
    scan.arrDrives = {tree.Path("a")};
    Open();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return finish.Shown().size() == 1; }, 10000));
    ASSERT_TRUE(WaitForFinishedState());
    for (UINT nId = IDC_DOCUMENTS_COUNT; nId <= IDC_TOTAL_SIZE; ++nId)
        ASSERT_NE(TextOf(nId), "-") << nId;

    // Only the image is left, as it was: the same count and size as before.
    for (const char* psz : {"a/two.doc", "a/song.mp3", "a/film.mkv"})
        std::filesystem::remove(tree.Path(psz));
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return finish.Shown().size() == 2; }, 10000));
    ASSERT_TRUE(WaitForFinishedState());
    EXPECT_EQ(TextOf(IDC_IMAGES_COUNT), "1");
    EXPECT_EQ(TextOf(IDC_IMAGES_SIZE), FormatSize(1000));
    EXPECT_EQ(TextOf(IDC_TOTAL_COUNT), "1");
    EXPECT_EQ(TextOf(IDC_TOTAL_SIZE), FormatSize(1000));
    for (const UINT nId : {IDC_DOCUMENTS_COUNT, IDC_DOCUMENTS_SIZE, IDC_MUSIC_COUNT, IDC_MUSIC_SIZE,
                           IDC_VIDEO_COUNT, IDC_VIDEO_SIZE})
        EXPECT_EQ(TextOf(nId), "-") << nId;

    // Nothing at all: "-" everywhere.
    std::filesystem::remove(tree.Path("a/one.jpg"));
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return scan.nScans == 3 && IsFinishedState(); }, 10000));
    for (UINT nId = IDC_DOCUMENTS_COUNT; nId <= IDC_TOTAL_SIZE; ++nId)
        EXPECT_EQ(TextOf(nId), "-") << nId;
}

// Close waits for the scan's end as long as a scan is active or has not finished, and
// either alone is enough: just after Start the manager has not cleared the finished
// event yet; just as a scan ends the event is set but its end has not been handled.
TEST_F(MainDlgTest, CloseJustAfterStartOrJustAsTheScanEndsWaitsForItsEnd) {
    tree.File("a/one.jpg", 10);
    scan.arrDrives = {tree.Path("a")};
    const std::map<std::string, std::string> mapList{
        {"Images.log", tree.Path("a/one.jpg") + "\r\n"}};

    // Before the manager cleared EnumFinished: a Close pressed with Start.
    Open();
    scan.listGate.Close();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(scan.listGate.WaitForWaiter());
    EnumFinished.Set();
    Button(IDCANCEL).click();
    ProcessPosted();
    EXPECT_TRUE(pDlg->isVisible());
    EnumFinished.Reset();
    scan.listGate.Open();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !pDlg->isVisible(); }, 10000));
    EXPECT_EQ(pDlg->result(), static_cast<int>(IDCANCEL));
    pDlg.reset();

    // The scan has ended, its end not handled yet: the Close waits for it, and the lists
    // of that scan are written.
    EXPECT_TRUE(ListFiles().empty()); // stopped before its first file
    Open();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(WaitWithoutEvents([this] { return pDlg->GetGroupFiles(1) == 1; }));
    ASSERT_TRUE(WaitWithoutEvents([] { return IsEnumFinished(); }));
    Button(IDCANCEL).click();
    EXPECT_TRUE(pDlg->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !pDlg->isVisible(); }, 10000));
    EXPECT_EQ(ListFiles(), mapList);
    EXPECT_TRUE(finish.Shown().empty());
}

TEST_F(MainDlgTest, DetailsOpenOnTheirGroupsListButNotOnceTheWindowIsClosing) {
    ASSERT_NO_FATAL_FAILURE(PauseAfterTheImage());

    int nOpened = 0;
    QObject timers; // a close still waiting when the test ends goes with it
    const auto closeWhatOpens = [&nOpened, &timers](std::chrono::milliseconds delay) {
        QTimer::singleShot(delay, &timers, [&nOpened] {
            if (auto* pModal = dynamic_cast<CDetailsDlg*>(QApplication::activeModalWidget())) {
                ++nOpened;
                pModal->reject();
            }
        });
    };
    closeWhatOpens(0ms);
    Button(IDC_DETAILS_IMAGES).click();
    EXPECT_EQ(nOpened, 1);
    EXPECT_EQ(MainDlgLog(), (std::vector<std::string>{
                                "573 The user requiested details about found images.",
                            }));

    Button(IDCANCEL).click();
    ASSERT_TRUE(Button(IDC_DETAILS_IMAGES).isEnabled());
    closeWhatOpens(200ms);
    Button(IDC_DETAILS_IMAGES).click();
    EXPECT_EQ(nOpened, 1);
    scan.driveGate.Open();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !pDlg->isVisible(); }, 10000));
    EXPECT_EQ(nOpened, 1);
}

// A modal window keeps the mouse and keys from the main window; it keeps a screen
// reader's presses from it too: Resume while the details are open, Close while the
// finish window is.
TEST_F(MainDlgTest, AReadersPressOnTheMainWindowDoesNothingWhileAModalWindowIsOpen) {
    ASSERT_NO_FATAL_FAILURE(PauseAfterTheImage());
    const auto press = [](QWidget& widget) {
        QAccessible::queryAccessibleInterface(&widget)->actionInterface()->doAction(
            QAccessibleActionInterface::pressAction());
    };

    bool bSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* pDetails = dynamic_cast<CDetailsDlg*>(QApplication::activeModalWidget());
        if (!pDetails || bSeen)
            return;
        bSeen = true;
        press(Button(IDC_START_PAUSE)); // Resume
        ProcessPosted();
        EXPECT_FALSE(ResumeEvent.IsSet());
        EXPECT_EQ(FaceOf(Button(IDC_START_PAUSE)), Face::Resume);
        press(pDetails->GetCloseButton());
    });
    watch.start(5);
    press(Button(IDC_DETAILS_IMAGES));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return bSeen && !QApplication::activeModalWidget(); }, 10000));
    EXPECT_EQ(MainDlgLog(), (std::vector<std::string>{
                                "573 The user requiested details about found images.",
                            }));
    press(Button(IDC_START_PAUSE)); // nothing in the way now
    ASSERT_TRUE(QTest::qWaitFor([] { return ResumeEvent.IsSet(); }, 10000));

    finish.m_fnWhileOpen = [&](CFinishDlg& dlg) {
        press(Button(IDCANCEL));
        ProcessPosted();
        EXPECT_FALSE(pDlg->IsClosing());
        EXPECT_TRUE(dlg.isVisible());
    };
    scan.driveGate.Open();
    ASSERT_TRUE(QTest::qWaitFor([this] { return finish.Shown().size() == 1; }, 10000));
    ASSERT_TRUE(WaitForFinishedState());
    ProcessPosted();
    EXPECT_TRUE(pDlg->isVisible());
    EXPECT_FALSE(pDlg->IsClosing());
    EXPECT_EQ(MainDlgLog(), (std::vector<std::string>{
                                "460 The user Resumed scanning.",
                                "372 EnumFinish message received.",
                                "412 The dialog with scanning results is about to be shown: "
                                "2 files, " +
                                    FormatSize(6000),
                            }));
}

TEST_F(MainDlgTest, HoveringAQuestionMarkShowsItsGroupsFilter) {
    Open();
    for (int i = 0; i < kGroupCount; ++i) {
        QWidget* pLink = pDlg->GetDlgItem(IDC_LINK_DOCUMENTS + static_cast<UINT>(i));
        QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), pLink->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(pLink, &help);
        ASSERT_TRUE(QToolTip::isVisible()) << i;
        EXPECT_EQ(QToolTip::text().replace(QLatin1Char('\n'), QLatin1Char(' ')).toStdString(),
                  LoadString(g_groupTable[i].nFilterId));
    }
    EXPECT_EQ(QToolTip::text().replace(QLatin1Char('\n'), QLatin1Char(' ')).toStdString(),
              "*.avi; *.3gp; *.flv; *.mkv; *.mov; *.mp4; *.mpg; *.wmv; *.m4v");
    QToolTip::hideText();
}

TEST_F(MainDlgTest, GoingAwayDuringAScanOrWhileItsEndWaitsNeitherHangsNorCrashes) {
    for (int i = 0; i < 400; ++i)
        tree.File((i % 2 ? "a/" : "b/") + std::to_string(i % 13) + "/" + std::to_string(i) +
                  ".jpg");
    scan.arrDrives = {tree.Path("a"), tree.Path("b")};

    // Scan threads sending records as the window goes.
    Open();
    HWND hWnd = pDlg->GetSafeHwnd();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(WaitWithoutEvents([this] { return pDlg->GetGroupFiles(1) > 0; }));
    pDlg.reset();
    EXPECT_TRUE(IsEnumFinished());
    EXPECT_FALSE(IsWindow(hWnd));

    // Paused: a worker waits for a resume that will not come.
    scan.strGatedDrive = tree.Path("b");
    scan.driveGate.Close();
    Open();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(scan.driveGate.WaitForWaiter());
    Button(IDC_START_PAUSE).click();
    ASSERT_FALSE(ResumeEvent.IsSet());
    scan.driveGate.Open();
    pDlg.reset();
    EXPECT_TRUE(IsEnumFinished());
    scan.strGatedDrive.clear();

    // The manager waiting in the scan-finished message as the window goes.
    Open();
    hWnd = pDlg->GetSafeHwnd();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(WaitWithoutEvents([this] { return pDlg->GetGroupFiles(1) == 400; }));
    ASSERT_TRUE(WaitWithoutEvents([] { return IsEnumFinished(); }));
    pDlg.reset();

    // Messages for the window that has gone go nowhere.
    FileProperty prop;
    std::thread late([hWnd, &prop] {
        EXPECT_EQ(SendMessage(hWnd, WM_FILEFOUND, reinterpret_cast<WPARAM>("Images"),
                              reinterpret_cast<LPARAM>(&prop)),
                  0);
        EXPECT_EQ(SendMessage(hWnd, WM_ENUMFINISH, 0, 0), 0);
    });
    late.join();
    QCoreApplication::processEvents();
}

} // namespace
