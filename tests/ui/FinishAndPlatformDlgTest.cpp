#include "Bitmaps.h"
#include "FinishDlg.h"
#include "NotSupportedPlatformDlg.h"
#include "StringTable.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

QRect GeometryOf(const CBitmapDlg& dlg, UINT nId) {
    const QWidget* pControl = dlg.GetDlgItem(nId);
    return pControl ? pControl->geometry() : QRect();
}

// Runs the dialog modally; fnDrive runs once it is on screen, inside the modal loop. A
// dialog that does not end within a few seconds ends with -1.
int RunModal(CBitmapDlg& dlg, std::function<void()> fnDrive) {
    QTimer::singleShot(5000, &dlg, [&dlg] { dlg.done(-1); });
    QTimer::singleShot(0, &dlg, [&dlg, fnDrive] {
        if (QTest::qWaitForWindowActive(&dlg))
            fnDrive();
        else
            dlg.done(-1);
    });
    return dlg.DoModal();
}

void ClickEnterOnFocus() {
    QWidget* pFocus = QApplication::focusWidget();
    ASSERT_NE(pFocus, nullptr);
    QTest::keyClick(pFocus, Qt::Key_Return);
}

// ---- Finish dialog ---------------------------------------------------------------------------

TEST(FinishDlg, LaysOutItsTextsBannerAndCloseOnThePicture) {
    CFinishDlg dlg("1234 files", "5.67 GB");
    dlg.Create();
    EXPECT_EQ(dlg.size(), QSize(415, 340));
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Quenby"));

    EXPECT_EQ(GeometryOf(dlg, IDCANCEL), QRect(314, 300, 86, 28)); // 15 from the right, 12 up
    EXPECT_EQ(GeometryOf(dlg, IDC_TOTAL_COUNT).topLeft(), QPoint(130, 83));
    EXPECT_EQ(GeometryOf(dlg, IDC_TOTAL_SIZE).topLeft(), QPoint(130, 102));
    EXPECT_EQ(GeometryOf(dlg, IDC_BANNER), QRect(49, 200, 317, 70));

    auto* pCount = qobject_cast<CStaticEx*>(dlg.GetDlgItem(IDC_TOTAL_COUNT));
    auto* pSize = qobject_cast<CStaticEx*>(dlg.GetDlgItem(IDC_TOTAL_SIZE));
    ASSERT_TRUE(pCount && pSize);
    EXPECT_EQ(pCount->text(), QStringLiteral("1234 files"));
    EXPECT_EQ(pSize->text(), QStringLiteral("5.67 GB"));
    EXPECT_EQ(pCount->GetFaceName(), "MS Shell Dlg"); // styled: bold dark blue on light blue
    EXPECT_EQ(pSize->GetFontWeight(), 700);

    auto* pBanner = qobject_cast<CStaticBanner*>(dlg.GetDlgItem(IDC_BANNER));
    ASSERT_NE(pBanner, nullptr);
    EXPECT_EQ(pBanner->m_strToolTip, "Quenby");
    EXPECT_EQ(pBanner->m_strUrl, LoadString(IDS_OFFER_URL));
    EXPECT_EQ(pBanner->pixmap().toImage(), LoadBitmap(IDB_FINISH_BANNER).toImage());
}

TEST(FinishDlg, BannerClickOpensTheOfferAndEndsWithOne) {
    OpenedUrls().clear();
    CFinishDlg dlg("5 files", "2.00 KB");
    const int nResult = RunModal(dlg, [&dlg] {
        QWidget* pBanner = dlg.GetDlgItem(IDC_BANNER);
        SendPress(*pBanner);
        SendRelease(*pBanner);
    });
    EXPECT_EQ(nResult, IDOK);
    EXPECT_EQ(OpenedUrls(), (std::vector<std::string>{LoadString(IDS_OFFER_URL)}));
}

TEST(FinishDlg, CloseEscapeEnterOnCloseAndTheCloseCommandEndWithTwo) {
    OpenedUrls().clear();
    const std::vector<std::pair<const char*, std::function<void(CFinishDlg&)>>> arrWays{
        {"Close clicked",
         [](CFinishDlg& d) { QTest::mouseClick(d.GetDlgItem(IDCANCEL), Qt::LeftButton); }},
        {"Escape", [](CFinishDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"Enter on the focused Close", [](CFinishDlg&) { ClickEnterOnFocus(); }},
        {"close command", [](CFinishDlg& d) { d.close(); }},
    };
    for (const auto& [pszWay, fnEnd] : arrWays) {
        CFinishDlg dlg("5 files", "2.00 KB");
        EXPECT_EQ(RunModal(dlg, [&] { fnEnd(dlg); }), IDCANCEL) << pszWay;
    }
    EXPECT_TRUE(OpenedUrls().empty());
}

// ---- Unsupported-platform dialog -------------------------------------------------------------

TEST(NotSupportedPlatformDlg, ButtonsSitOnOneLineAtTheBottomRight) {
    CNotSupportedPlatformDlg dlg;
    dlg.Create();
    EXPECT_EQ(dlg.size(), QSize(359, 200));
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Quenby"));
    EXPECT_EQ(dlg.parentWidget(), nullptr);
    EXPECT_EQ(GeometryOf(dlg, IDNO), QRect(258, 160, 86, 28));
    EXPECT_EQ(GeometryOf(dlg, IDYES), QRect(162, 160, 86, 28));
}

TEST(NotSupportedPlatformDlg, EnterContinuesTabThenEnterCancelsEscapeCancels) {
    {
        CNotSupportedPlatformDlg dlg;
        EXPECT_EQ(RunModal(dlg, [] { ClickEnterOnFocus(); }), IDYES); // Continue has the focus
    }
    {
        CNotSupportedPlatformDlg dlg;
        EXPECT_EQ(RunModal(dlg,
                           [&dlg] {
                               QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                               EXPECT_EQ(QApplication::focusWidget(), dlg.GetDlgItem(IDNO));
                               ClickEnterOnFocus();
                           }),
                  IDNO);
    }
    {
        CNotSupportedPlatformDlg dlg;
        EXPECT_EQ(RunModal(dlg, [&dlg] { QTest::keyClick(&dlg, Qt::Key_Escape); }), IDCANCEL);
    }
    {
        CNotSupportedPlatformDlg dlg;
        EXPECT_EQ(RunModal(dlg, [&dlg] { dlg.close(); }), IDCANCEL);
    }
    {
        CNotSupportedPlatformDlg dlg;
        EXPECT_EQ(
            RunModal(dlg, [&dlg] { QTest::mouseClick(dlg.GetDlgItem(IDNO), Qt::LeftButton); }),
            IDNO);
    }
}

} // namespace
