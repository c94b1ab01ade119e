#include "BitmapButtonEx.h"
#include "HyperLink.h"
#include "StaticEx.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(BitmapDlg, WindowIsItsPictureWithTheBorderItsStyleAsksFor) {
    // Main window: thin border, so one pixel of frame each way around 349 x 518.
    CRecordingDlg main(IDD_MAIN, IDB_MAIN_BACKGROUND);
    main.Create();
    EXPECT_EQ(main.size(), QSize(351, 520));
    EXPECT_EQ(main.GetClientArea()->geometry(), QRect(1, 1, 349, 518));
    EXPECT_TRUE(main.windowFlags() & Qt::FramelessWindowHint);

    // Finish and platform windows: no border, no caption: exactly the picture.
    CRecordingDlg finish(IDD_FINISH, IDB_FINISH_BACKGROUND);
    finish.Create();
    EXPECT_EQ(finish.size(), QSize(415, 340));
    CRecordingDlg platform(IDD_NOT_SUPPORTED, IDB_PLATFORM_BACKGROUND);
    platform.Create();
    EXPECT_EQ(platform.size(), QSize(359, 200));
    EXPECT_EQ(platform.GetClientArea()->size(), QSize(359, 200));
    // Pictures do not stretch: each skinned window is of one size, whatever is asked.
    for (CRecordingDlg* pDlg : {&main, &finish, &platform}) {
        const QSize size = pDlg->size();
        EXPECT_EQ(pDlg->minimumSize(), size);
        EXPECT_EQ(pDlg->maximumSize(), size);
        pDlg->resize(size * 2);
        EXPECT_EQ(pDlg->size(), size);
    }

    // A picture that cannot be loaded reads as 0 x 0: only the frame is left.
    CRecordingDlg missing(IDD_MAIN, 9999);
    missing.Create();
    EXPECT_EQ(missing.size(), QSize(2, 2));

    // The details window has no picture and keeps its title bar: the template's size.
    CRecordingDlg details(IDD_DETAILS, 0);
    details.Create();
    EXPECT_EQ(details.size(), QSize(DluToPixelsX(405), DluToPixelsY(321)));
    EXPECT_FALSE(details.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_NE(details.minimumSize(), details.maximumSize()); // its list may grow
    EXPECT_EQ(details.windowTitle(), QStringLiteral("Pellam"));
}

TEST(BitmapDlg, InitialisationBindsEveryItemThenSetsUpOnce) {
    CStaticEx count;
    CBitmapButtonEx stop;
    CHyperLink link;
    CRecordingDlg dlg(IDD_MAIN, IDB_MAIN_BACKGROUND);
    dlg.m_fnBind = [&](CRecordingDlg& d) {
        d.Bind(IDC_DOCUMENTS_COUNT, count);
        d.Bind(IDC_STOP, stop);
        d.Bind(IDC_LINK_MUSIC, link);
    };
    QSize clientDuringSetup;
    dlg.m_fnSetup = [&](CRecordingDlg& d) { clientDuringSetup = d.GetClientArea()->size(); };
    dlg.Create();
    dlg.Create(); // a second call changes nothing

    EXPECT_EQ(dlg.m_nSetupCalls, 1);
    EXPECT_FALSE(dlg.m_bInitializedDuringSetup);
    EXPECT_TRUE(dlg.IsInitializedNow());
    EXPECT_EQ(clientDuringSetup, QSize(349, 518)); // already sized to the picture

    // Members take their items: geometry from dialog units, text, state, parent.
    EXPECT_EQ(dlg.GetDlgItem(IDC_DOCUMENTS_COUNT), &count);
    EXPECT_EQ(count.geometry(), QRect(200, 224, 93, 13)); // 133, 138, 62, 8 units
    EXPECT_EQ(count.text(), QStringLiteral("Files Count"));
    EXPECT_EQ(count.parentWidget(), dlg.GetClientArea());
    EXPECT_EQ(stop.text(), QStringLiteral("S&top"));
    EXPECT_FALSE(stop.isEnabled());
    EXPECT_EQ(link.text(), QStringLiteral("?"));

    // Items no member took are still there, as plain controls with the template's state.
    auto* pProgress = qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_PROGRESS));
    ASSERT_NE(pProgress, nullptr);
    EXPECT_TRUE(pProgress->isHidden());
    auto* pBanner = qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_BANNER));
    ASSERT_NE(pBanner, nullptr);
    EXPECT_EQ(pBanner->size(), QSize(322, 74)); // a picture static takes its picture's size
    EXPECT_EQ(dlg.GetDlgItem(4242), nullptr);

    // Handles name controls only while they belong to this dialog.
    EXPECT_EQ(dlg.GetDlgCtrlID(HandleOf(&link)), IDC_LINK_MUSIC);
    EXPECT_EQ(dlg.GetDlgCtrlID(0), 0u);
    QWidget stranger;
    EXPECT_EQ(dlg.GetDlgCtrlID(HandleOf(&stranger)), 0u);
}

TEST(BitmapDlg, FocusStartsOnTheFirstEnabledTabStop) {
    CBitmapButtonEx start;
    CRecordingDlg dlg(IDD_MAIN, IDB_MAIN_BACKGROUND);
    dlg.m_fnBind = [&](CRecordingDlg& d) { d.Bind(IDC_START_PAUSE, start); };
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    // The four details buttons come first in the template but are disabled.
    EXPECT_EQ(QApplication::focusWidget(), &start);
}

TEST(BitmapDlg, EnterDoesNothingUntilAPictureButtonHasTheFocusThenItsReleaseClicks) {
    CBitmapButtonEx start, close;
    CRecordingDlg dlg(IDD_MAIN, IDB_MAIN_BACKGROUND);
    dlg.m_fnBind = [&](CRecordingDlg& d) {
        d.Bind(IDC_START_PAUSE, start);
        d.Bind(IDCANCEL, close);
    };
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));

    // No button focused: Enter is the default command, which does nothing.
    start.clearFocus();
    QTest::keyClick(&dlg, Qt::Key_Return);
    QTest::keyClick(&dlg, Qt::Key_Enter, Qt::KeypadModifier);
    ProcessPosted();
    EXPECT_EQ(dlg.m_arrCommands, (std::vector<UINT>{IDOK, IDOK}));
    EXPECT_TRUE(dlg.isVisible());

    // Focused button: the press is still only the default command; the release clicks.
    dlg.m_arrCommands.clear();
    start.setFocus();
    QTest::keyPress(&start, Qt::Key_Return);
    ProcessPosted();
    EXPECT_EQ(dlg.m_arrCommands, (std::vector<UINT>{IDOK}));
    QTest::keyRelease(&start, Qt::Key_Return);
    ProcessPosted();
    EXPECT_EQ(dlg.m_arrCommands, (std::vector<UINT>{IDOK, IDC_START_PAUSE}));

    // A release without its press (the key went down in another window) clicks nothing.
    dlg.m_arrCommands.clear();
    QTest::keyRelease(&start, Qt::Key_Return);
    ProcessPosted();
    EXPECT_TRUE(dlg.m_arrCommands.empty());

    // Enter on the focused Close button ends the dialog with 2.
    close.setFocus();
    QTest::keyClick(&close, Qt::Key_Return);
    ProcessPosted();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), IDCANCEL);
}

TEST(BitmapDlg, EscapeAndTheCloseCommandEndWithTwoUnlessTheDialogKeepsItselfOpen) {
    CRecordingDlg escaped(IDD_FINISH, IDB_FINISH_BACKGROUND);
    escaped.show();
    QTest::keyClick(&escaped, Qt::Key_Escape);
    EXPECT_FALSE(escaped.isVisible());
    EXPECT_EQ(escaped.result(), 2);

    CRecordingDlg closed(IDD_FINISH, IDB_FINISH_BACKGROUND);
    closed.show();
    EXPECT_TRUE(closed.close());
    EXPECT_EQ(closed.result(), 2);
    EXPECT_EQ(closed.m_arrCommands, (std::vector<UINT>{IDCANCEL}));

    // A dialog whose cancel handling waits (the main window while a scan stops).
    CRecordingDlg waiting(IDD_MAIN, IDB_MAIN_BACKGROUND);
    waiting.m_bKeepOpenOnCancel = true;
    waiting.show();
    EXPECT_FALSE(waiting.close());
    QTest::keyClick(&waiting, Qt::Key_Escape);
    EXPECT_TRUE(waiting.isVisible());
    EXPECT_EQ(waiting.m_arrCommands, (std::vector<UINT>{IDCANCEL, IDCANCEL}));
}

TEST(BitmapDlg, DraggingEmptyAreaALabelOrADisabledButtonMovesTheWindowButNotAButtonOrLink) {
    CStaticEx label;
    CBitmapButtonEx button, disabled;
    CHyperLink link;
    QProgressBar progress;
    CRecordingDlg dlg(IDD_MAIN, IDB_MAIN_BACKGROUND);
    dlg.m_fnBind = [&](CRecordingDlg& d) {
        d.Bind(IDC_DOCUMENTS_COUNT, label);
        d.Bind(IDC_START_PAUSE, button);
        d.Bind(IDC_STOP, disabled); // disabled in the template
        d.Bind(IDC_LINK_DOCUMENTS, link);
        d.Bind(IDC_PROGRESS, progress); // hidden in the template
    };
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    progress.show(); // as during a scan

    const auto drag = [&dlg](QWidget& where) {
        const QPoint ptFrom = dlg.pos();
        QTest::mousePress(&where, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseMove(&where, QPoint(23, 13));
        QTest::mouseRelease(&where, Qt::LeftButton, {}, QPoint(23, 13));
        return dlg.pos() - ptFrom;
    };
    EXPECT_EQ(drag(*dlg.GetClientArea()), QPoint(20, 10));
    EXPECT_EQ(drag(label), QPoint(20, 10));
    EXPECT_EQ(drag(disabled), QPoint(20, 10));
    EXPECT_EQ(drag(button), QPoint(0, 0));
    EXPECT_EQ(drag(link), QPoint(0, 0));
    EXPECT_EQ(drag(progress), QPoint(0, 0)); // a progress bar takes its own presses
}

// A tap-to-click touchpad presses and releases within milliseconds: asked to move at the
// press, the window manager got the request after the release and the window followed
// the bare pointer. Only a drag past the platform's distance moves the window.
TEST(BitmapDlg, AClickMovesNothingAndADragStartsPastTheDragDistance) {
    CBitmapButtonEx disabled;
    CRecordingDlg dlg(IDD_MAIN, IDB_MAIN_BACKGROUND);
    dlg.m_fnBind = [&](CRecordingDlg& d) { d.Bind(IDC_STOP, disabled); };
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    const QPoint ptStart = dlg.pos();
    const int nDistance = QApplication::startDragDistance();
    const auto moveTo = [](QWidget& where, QPoint pt, Qt::MouseButtons buttons) {
        QMouseEvent move(QEvent::MouseMove, pt, where.mapToGlobal(pt), Qt::NoButton, buttons,
                         Qt::NoModifier);
        QApplication::sendEvent(&where, &move);
    };

    for (QWidget* pWhere : {dlg.GetClientArea(), static_cast<QWidget*>(&disabled)}) {
        SendPress(*pWhere, QPoint(3, 3));
        SendRelease(*pWhere, QPoint(3, 3));
        moveTo(*pWhere, QPoint(60, 40), Qt::NoButton);
        moveTo(*pWhere, QPoint(90, 70), Qt::NoButton);
        EXPECT_EQ(dlg.pos(), ptStart) << "after a click on " << pWhere->objectName().toStdString();
    }

    // Held, but not yet as far as a drag: nothing; past it, the whole way from the press.
    QWidget& area = *dlg.GetClientArea();
    SendPress(area, QPoint(3, 3));
    moveTo(area, QPoint(3 + nDistance - 1, 3), Qt::LeftButton);
    EXPECT_EQ(dlg.pos(), ptStart);
    moveTo(area, QPoint(3 + nDistance + 20, 13), Qt::LeftButton);
    EXPECT_EQ(dlg.pos(), ptStart + QPoint(nDistance + 20, 10));
    SendRelease(area, QPoint(3, 3));
    const QPoint ptDropped = dlg.pos();
    moveTo(area, QPoint(50, 50), Qt::NoButton);
    EXPECT_EQ(dlg.pos(), ptDropped);
}

TEST(BitmapDlg, PostedMessagesOfItsControlsReachTheDialog) {
    CRecordingDlg dlg(IDD_MAIN, IDB_MAIN_BACKGROUND);
    dlg.Create();
    PostWindowMessage(dlg.GetClientArea(), WM_LINKCLICKED, 0, 1234);
    PostWindowMessage(&dlg, WM_BANNERCLICKED, 5, 6);
    EXPECT_TRUE(dlg.m_arrMessages.empty()); // posted, not sent
    ProcessPosted();
    ASSERT_EQ(dlg.m_arrMessages.size(), 2u);
    EXPECT_EQ(dlg.m_arrMessages[0].nMsg, 1126u);
    EXPECT_EQ(dlg.m_arrMessages[0].lParam, 1234);
    EXPECT_EQ(dlg.m_arrMessages[1].nMsg, 1127u);
    EXPECT_EQ(dlg.m_arrMessages[1].wParam, 5u);
}

} // namespace
