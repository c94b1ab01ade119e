// The controls on a high-density screen: ctest runs these with QT_SCALE_FACTOR at 2 and
// at fractional scales. Every window and control keeps its size in device-independent
// pixels and shows, pixel for pixel, the picture drawn for the screen's ratio.
#include "BitmapButtonEx.h"
#include "Bitmaps.h"
#include "StaticBanner.h"
#include "UiTestSupport.h"

#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

qreal Ratio() {
    return qApp->devicePixelRatio();
}

// The largest difference of any colour channel between the two over rc (device pixels);
// -1 when either does not cover rc.
int MaxDifference(const QImage& a, const QImage& b, const QRect& rc) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (!x.rect().contains(rc) || !y.rect().contains(rc))
        return -1;
    int nMax = 0;
    for (int py = rc.top(); py <= rc.bottom(); ++py)
        for (int px = rc.left(); px <= rc.right(); ++px) {
            const QRgb p = x.pixel(px, py), q = y.pixel(px, py);
            nMax = std::max({nMax, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                             std::abs(qBlue(p) - qBlue(q))});
        }
    return nMax;
}

QImage Drawn(UINT nId) {
    return LoadBitmap(nId, Ratio()).toImage();
}

// Run without QT_SCALE_FACTOR (as ctest runs them) these tests would prove nothing.
class ScaledControls : public ::testing::Test {
protected:
    void SetUp() override {
        if (Ratio() <= 1.0)
            GTEST_SKIP() << "the screen has one device pixel per pixel";
    }
};

TEST_F(ScaledControls, DialogKeepsItsSizeAndShowsTheBackgroundDrawnForTheScreen) {
    CRecordingDlg main(IDD_MAIN, IDB_MAIN_BACKGROUND);
    main.Create();
    EXPECT_EQ(main.size(), QSize(351, 520));
    EXPECT_EQ(main.GetClientArea()->geometry(), QRect(1, 1, 349, 518));

    // The title strip has no control over it.
    const QImage shown = main.GetClientArea()->grab().toImage();
    const QRect rcTitle(0, 0, qFloor(349 * Ratio()), qFloor(56 * Ratio()));
    EXPECT_EQ(MaxDifference(shown, Drawn(IDB_MAIN_BACKGROUND), rcTitle), 0);
}

TEST_F(ScaledControls, ButtonKeepsItsSizeAndShowsEachStateDrawnForTheScreen) {
    CBitmapButtonEx button;
    ASSERT_TRUE(
        button.LoadBitmaps(IDB_START, IDB_START_PRESSED, IDB_START_HOVER, IDB_START_DISABLED));
    button.SizeToContent();
    EXPECT_EQ(button.size(), QSize(86, 28));
    EXPECT_EQ(button.sizeHint(), QSize(86, 28));

    const QImage normal = button.grab().toImage();
    const QRect rcAll(QPoint(0, 0), normal.size());
    EXPECT_EQ(MaxDifference(normal, Drawn(IDB_START), rcAll), 0);
    button.setDown(true);
    EXPECT_EQ(MaxDifference(button.grab().toImage(), Drawn(IDB_START_PRESSED), rcAll), 0);
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_EQ(MaxDifference(button.grab().toImage(), Drawn(IDB_START_DISABLED), rcAll), 0);
}

TEST_F(ScaledControls, BannerKeepsItsSizeAndShowsItsPicturesDrawnForTheScreen) {
    CStaticBanner banner;
    banner.PreSubclassWindow();
    banner.SetBitmaps(IDB_BANNER, IDB_BANNER_HOVER, IDB_BANNER_PRESSED);
    EXPECT_EQ(banner.size(), QSize(322, 74));

    const QImage normal = banner.grab().toImage();
    const QRect rcAll(QPoint(0, 0), normal.size());
    EXPECT_EQ(MaxDifference(normal, Drawn(IDB_BANNER), rcAll), 0);
    SendEnter(banner);
    EXPECT_EQ(MaxDifference(banner.grab().toImage(), Drawn(IDB_BANNER_HOVER), rcAll), 0);
}

} // namespace
