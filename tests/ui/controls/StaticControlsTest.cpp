#include "Bitmaps.h"
#include "HyperLink.h"
#include "Shell.h"
#include "StaticBanner.h"
#include "StaticEx.h"
#include "UiTestSupport.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

namespace {

// ---- CStaticEx ----------------------------------------------------------------------------

TEST(StaticEx, TextStyleIsBoldDarkBlueOnLightBlueWithATwelvePixelCell) {
    CStaticEx label;
    EXPECT_EQ(label.GetBackgroundBrush().style(), Qt::NoBrush);
    label.resize(93, 13);
    label.setText(QStringLiteral("-"));
    label.SetTextStyle("MS Shell Dlg");
    label.SetTextStyle("MS Shell Dlg"); // repeating it is harmless

    EXPECT_EQ(label.GetFontHeight(), 12);
    EXPECT_EQ(label.GetFontWeight(), 700);
    EXPECT_EQ(label.GetFaceName(), "MS Shell Dlg");
    EXPECT_EQ(label.GetTextColor(), 0x6F0D05u); // RGB(5, 13, 111)
    EXPECT_EQ(label.GetBackgroundBrush().color(), QColor(229, 245, 255));

    // The face does not exist here: a sans-serif one stands in, bold, with the cell
    // height asked for (so it fits the 13-pixel boxes of the main window).
    EXPECT_EQ(QFontInfo(label.font()).weight(), QFont::Bold);
    EXPECT_FALSE(QFontInfo(label.font()).family().isEmpty());
    const qreal rCell = QFontMetricsF(label.font()).height();
    EXPECT_GT(rCell, 10.5);
    EXPECT_LE(rCell, 12.5);

    // Painted: the box light blue, the text dark blue.
    label.setText(QStringLiteral("888"));
    const QImage img = label.grab().toImage();
    EXPECT_EQ(QColor(img.pixel(90, 1)), QColor(229, 245, 255));
    int nDarkBlue = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < 30; ++x)
            nDarkBlue += QColor(img.pixel(x, y)) == QColor(5, 13, 111);
    EXPECT_GT(nDarkBlue, 5);
}

// ---- CStaticBanner ------------------------------------------------------------------------

struct BannerFixture : ::testing::Test {
    void SetUp() override {
        OpenedUrls().clear();
        dlg.m_fnBind = [this](CRecordingDlg& d) { d.Bind(IDC_BANNER, banner); };
        dlg.m_fnSetup = [this](CRecordingDlg&) {
            banner.SetBitmaps(IDB_BANNER, IDB_BANNER_HOVER, IDB_BANNER_PRESSED);
        };
        dlg.Create();
    }

    CStaticBanner banner;
    CRecordingDlg dlg{IDD_MAIN, IDB_MAIN_BACKGROUND};
};

using Shown = CStaticBanner::Image;

TEST_F(BannerFixture, ImagesFollowHoverPressAndLeave) {
    EXPECT_EQ(banner.GetShownImage(), Shown::Normal);
    EXPECT_EQ(banner.size(), QSize(322, 74));
    EXPECT_EQ(banner.cursor().shape(), Qt::PointingHandCursor);
    SendEnter(banner);
    EXPECT_EQ(banner.GetShownImage(), Shown::Hover);
    EXPECT_FALSE(banner.IsPressed());
    SendPress(banner);
    EXPECT_EQ(banner.GetShownImage(), Shown::Pressed);
    EXPECT_TRUE(banner.IsPressed());
    SendRelease(banner);
    EXPECT_FALSE(banner.IsPressed());
    EXPECT_EQ(banner.GetShownImage(), Shown::Pressed); // unchanged until hover or leave
    SendLeave(banner);
    EXPECT_EQ(banner.GetShownImage(), Shown::Normal);
    EXPECT_EQ(banner.pixmap().toImage(), LoadBitmap(IDB_BANNER).toImage());
}

TEST_F(BannerFixture, HoverWhileTheLeftButtonIsAlreadyDownShowsPressed) {
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    // The button goes down on the window next to the banner, then the mouse rests on it.
    QTest::mousePress(dlg.GetClientArea(), Qt::LeftButton, {}, QPoint(5, 300));
    SendEnter(banner);
    EXPECT_EQ(banner.GetShownImage(), Shown::Pressed);
    EXPECT_TRUE(banner.IsPressed());
    QTest::mouseRelease(dlg.GetClientArea(), Qt::LeftButton, {}, QPoint(5, 300));
    SendLeave(banner);
    SendEnter(banner);
    EXPECT_EQ(banner.GetShownImage(), Shown::Hover);
}

TEST_F(BannerFixture, ReleaseOpensAUrlAndAlwaysTellsTheDialog) {
    banner.m_strUrl = "https://www.quenby.app/backup-offer";
    SendPress(banner);
    SendRelease(banner);
    EXPECT_EQ(OpenedUrls(), (std::vector<std::string>{"https://www.quenby.app/backup-offer"}));
    ProcessPosted();
    ASSERT_EQ(dlg.m_arrMessages.size(), 1u);
    EXPECT_EQ(dlg.m_arrMessages[0].nMsg, WM_BANNERCLICKED);
    EXPECT_EQ(dlg.m_arrMessages[0].wParam, 0u);
    EXPECT_EQ(dlg.m_arrMessages[0].lParam, HandleOf(&banner));
    EXPECT_EQ(dlg.GetDlgCtrlID(dlg.m_arrMessages[0].lParam), IDC_BANNER);

    // Not a URL: nothing is opened, the dialog is told all the same.
    for (const char* pszNotUrl : {"", "www.quenby.app", "/tmp/offer.html"}) {
        banner.m_strUrl = pszNotUrl;
        SendPress(banner);
        SendRelease(banner);
    }
    ProcessPosted();
    EXPECT_EQ(OpenedUrls().size(), 1u);
    EXPECT_EQ(dlg.m_arrMessages.size(), 4u);

    // Pressed, then released off the banner: no click.
    SendPress(banner);
    SendRelease(banner, QPoint(-20, -20));
    ProcessPosted();
    EXPECT_EQ(dlg.m_arrMessages.size(), 4u);
}

TEST_F(BannerFixture, ToolTipStaysOnOneLine) {
    banner.m_strToolTip = "Quenby keeps your documents, pictures, music and videos safe online";
    dlg.show();
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), banner.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&banner, &help);
    EXPECT_EQ(QToolTip::text().toStdString(), banner.m_strToolTip);
}

TEST(StaticBanner, ImagesThatDoNotLoadLeaveTheShownOneAlone) {
    CStaticBanner banner;
    CRecordingDlg dlg(IDD_FINISH, IDB_FINISH_BACKGROUND);
    dlg.m_fnBind = [&](CRecordingDlg& d) { d.Bind(IDC_BANNER, banner); };
    dlg.m_fnSetup = [&](CRecordingDlg&) { banner.SetBitmaps(9997, 9998, 9999); };
    dlg.Create();
    // The template's picture (171, 317 x 70) stays.
    EXPECT_EQ(banner.GetShownImage(), Shown::Template);
    EXPECT_EQ(banner.size(), QSize(317, 70));
    SendEnter(banner);
    SendPress(banner);
    EXPECT_EQ(banner.GetShownImage(), Shown::Template);
}

// ---- CHyperLink --------------------------------------------------------------------------

struct LinkFixture : ::testing::Test {
    void SetUp() override {
        OpenedUrls().clear();
        dlg.m_fnBind = [this](CRecordingDlg& d) { d.Bind(IDC_LINK_IMAGES, link); };
        dlg.Create();
    }

    CHyperLink link;
    CRecordingDlg dlg{IDD_MAIN, IDB_MAIN_BACKGROUND};
};

TEST_F(LinkFixture, WithoutAUrlAClickPostsLinkClickedWithItsHandle) {
    EXPECT_TRUE(link.font().underline());
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
    link.m_strUrl = "not a url";
    SendPress(link);
    EXPECT_TRUE(dlg.m_arrMessages.empty()); // posted, not sent
    ProcessPosted();
    ASSERT_EQ(dlg.m_arrMessages.size(), 1u);
    EXPECT_EQ(dlg.m_arrMessages[0].nMsg, WM_LINKCLICKED);
    EXPECT_EQ(dlg.m_arrMessages[0].wParam, 0u);
    EXPECT_EQ(dlg.GetDlgCtrlID(dlg.m_arrMessages[0].lParam), IDC_LINK_IMAGES);
    EXPECT_TRUE(OpenedUrls().empty());
    EXPECT_TRUE(link.IsVisited());
}

TEST_F(LinkFixture, ADoubleClickIsOneClick) {
    SendDoubleClick(link);
    ProcessPosted();
    EXPECT_EQ(dlg.m_arrMessages.size(), 1u);
}

TEST_F(LinkFixture, WithAUrlAClickOpensItAndPostsNothing) {
    link.m_strUrl = "mailto:help@quenby.app";
    SendPress(link);
    ProcessPosted();
    EXPECT_TRUE(dlg.m_arrMessages.empty());
    EXPECT_EQ(OpenedUrls(), (std::vector<std::string>{"mailto:help@quenby.app"}));
    EXPECT_TRUE(link.IsVisited());
}

TEST_F(LinkFixture, ColoursLinkHoverAndVisitedWhichWinsForGood) {
    EXPECT_EQ(link.GetCurrentColor(), RGB(0, 0, 206));
    SendEnter(link);
    EXPECT_TRUE(link.IsOverControl());
    EXPECT_EQ(link.GetCurrentColor(), RGB(255, 0, 0));
    SendLeave(link);
    EXPECT_EQ(link.GetCurrentColor(), RGB(0, 0, 206));

    SendPress(link);
    EXPECT_EQ(link.GetCurrentColor(), RGB(132, 0, 132));
    SendEnter(link);
    EXPECT_EQ(link.GetCurrentColor(), RGB(132, 0, 132)); // visited beats hover
    // The main window sets the visited colour to the link colour: no change on click.
    link.m_crVisited = link.m_crLink;
    EXPECT_EQ(link.GetCurrentColor(), RGB(0, 0, 206));

    // What is painted uses the colour of the moment.
    const QImage img = link.grab().toImage();
    bool bFound = false;
    for (int y = 0; y < img.height() && !bFound; ++y)
        for (int x = 0; x < img.width() && !bFound; ++x)
            bFound = QColor(img.pixel(x, y)) == QColor(0, 0, 206);
    EXPECT_TRUE(bFound);
}

TEST_F(LinkFixture, ToolTipWrapsAt200Pixels) {
    link.m_strToolTip = "*.mp3; *.wav; *.wma; *.aac; *.mpa; *.m4a; *.aiff; *.aif; *.aifc";
    dlg.show();
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), link.mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(&link, &help);
    const QStringList arrLines = QToolTip::text().split(QLatin1Char('\n'));
    EXPECT_GT(arrLines.size(), 1);
    for (const QString& strLine : arrLines)
        EXPECT_LE(QFontMetrics(QToolTip::font()).horizontalAdvance(strLine), 200);
}

// ---- Addresses ------------------------------------------------------------------------------

TEST(Shell, OnlyAbsoluteUrlsWithASchemeCountAsUrls) {
    for (const char* psz : {"https://www.quenby.app/backup-offer", "http://x.org", "mailto:a@b.c",
                            "file:///tmp/x.html", "ftp://host/file"})
        EXPECT_TRUE(PathIsURL(psz)) << psz;
    for (const char* psz : {"", "www.quenby.app", "/home/user/offer.html", "C:\\offer.html",
                            "c:/offer.html", "https:", "1http://x.org", "not a url", "://x"})
        EXPECT_FALSE(PathIsURL(psz)) << psz;
}

} // namespace
