#include "Bitmaps.h"
#include "MainLayout.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

struct Picture {
    UINT nId;
    int cx, cy;
};

// Every picture the windows use, at the size its place was drawn for.
constexpr Picture kPictures[] = {
    {IDB_MAIN_BACKGROUND, MainLayout::kWidth, MainLayout::kHeight},
    {IDB_BANNER_HOVER, 322, 74},
    {IDB_BANNER, 322, 74},
    {IDB_BANNER_PRESSED, 322, 74},
    {IDB_START, 86, 28},
    {IDB_START_PRESSED, 86, 28},
    {IDB_START_HOVER, 86, 28},
    {IDB_START_DISABLED, 86, 28},
    {IDB_PAUSE, 86, 28},
    {IDB_PAUSE_PRESSED, 86, 28},
    {IDB_PAUSE_HOVER, 86, 28},
    {IDB_PAUSE_DISABLED, 86, 28},
    {IDB_RESUME, 86, 28},
    {IDB_RESUME_PRESSED, 86, 28},
    {IDB_RESUME_HOVER, 86, 28},
    {IDB_RESUME_DISABLED, 86, 28},
    {IDB_STOP, 86, 28},
    {IDB_STOP_PRESSED, 86, 28},
    {IDB_STOP_HOVER, 86, 28},
    {IDB_STOP_DISABLED, 86, 28},
    {IDB_CLOSE, 86, 28},
    {IDB_CLOSE_PRESSED, 86, 28},
    {IDB_CLOSE_HOVER, 86, 28},
    {IDB_CLOSE_DISABLED, 86, 28},
    {IDB_DETAILS, 26, 35},
    {IDB_DETAILS_PRESSED, 26, 35},
    {IDB_DETAILS_HOVER, 26, 35},
    {IDB_DETAILS_DISABLED, 26, 35},
    {IDB_FINISH_BACKGROUND, 415, 340},
    {IDB_FINISH_BANNER_HOVER, 317, 70},
    {IDB_FINISH_BANNER, 317, 70},
    {IDB_FINISH_BANNER_PRESSED, 317, 70},
    {IDB_PLATFORM_BACKGROUND, 359, 200},
    {IDB_CONTINUE, 86, 28},
    {IDB_CONTINUE_PRESSED, 86, 28},
    {IDB_CONTINUE_HOVER, 86, 28},
    {IDB_CONTINUE_DISABLED, 86, 28},
    {IDB_CANCEL, 86, 28},
    {IDB_CANCEL_PRESSED, 86, 28},
    {IDB_CANCEL_HOVER, 86, 28},
    {IDB_CANCEL_DISABLED, 86, 28},
    {IDB_ARROW_DOWN, 9, 5},
    {IDB_ARROW_UP, 9, 5},
};

TEST(Artwork, EveryPictureLoadsAtItsStatedSize) {
    for (const Picture& picture : kPictures) {
        const QPixmap bmp = LoadBitmap(picture.nId);
        EXPECT_EQ(bmp.size(), QSize(picture.cx, picture.cy)) << picture.nId;
    }
    for (UINT nId : {0u, 1u, 130u, 158u, 170u, 173u, 184u, 9999u})
        EXPECT_TRUE(LoadBitmap(nId).isNull()) << nId;
}

TEST(Artwork, IconHasSmallAndLargeSizes) {
    const QIcon icon = LoadIcon(IDR_MAINFRAME);
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> arrSizes = icon.availableSizes();
    EXPECT_TRUE(arrSizes.contains(QSize(16, 16)));
    EXPECT_TRUE(arrSizes.contains(QSize(32, 32)));
    EXPECT_TRUE(arrSizes.contains(QSize(256, 256)));
    EXPECT_TRUE(LoadIcon(9999).isNull());
}

TEST(Artwork, HeaderArrowsPointDownAndUpInBlackOnWhite) {
    const QImage down = LoadBitmap(IDB_ARROW_DOWN).toImage();
    const QImage up = LoadBitmap(IDB_ARROW_UP).toImage();
    for (int x = 0; x < 9; ++x) {
        EXPECT_EQ(QColor(down.pixel(x, 0)), QColor(Qt::black)) << x;
        EXPECT_EQ(QColor(up.pixel(x, 4)), QColor(Qt::black)) << x;
    }
    EXPECT_EQ(QColor(down.pixel(4, 4)), QColor(Qt::black));
    EXPECT_EQ(QColor(down.pixel(3, 4)), QColor(Qt::white));
    EXPECT_EQ(QColor(up.pixel(4, 0)), QColor(Qt::black));
    EXPECT_EQ(QColor(up.pixel(0, 0)), QColor(Qt::white));
}

// A button or banner is copied as a rectangle: its corners must show what the window's
// picture has where the dialog places it, or each would sit in a visible box.
TEST(Artwork, CornersOfButtonsAndBannersMatchTheBackgroundBehindThem) {
    struct Placement {
        UINT nPicture, nBackground;
        int x, y;
    };
    using namespace MainLayout;
    const Placement arrPlacements[] = {
        {IDB_START, IDB_MAIN_BACKGROUND, kStart.x, kStart.y},
        {IDB_STOP_DISABLED, IDB_MAIN_BACKGROUND, kStop.x, kStop.y},
        {IDB_CLOSE_HOVER, IDB_MAIN_BACKGROUND, kClose.x, kClose.y},
        {IDB_DETAILS, IDB_MAIN_BACKGROUND, kDetailsX, kDetailsY[0]},
        {IDB_DETAILS_DISABLED, IDB_MAIN_BACKGROUND, kDetailsX, kDetailsY[3]},
        {IDB_BANNER, IDB_MAIN_BACKGROUND, kBanner.x, kBanner.y},
        {IDB_CLOSE, IDB_FINISH_BACKGROUND, 314, 300},
        {IDB_FINISH_BANNER_PRESSED, IDB_FINISH_BACKGROUND, 49, 200},
        {IDB_CONTINUE, IDB_PLATFORM_BACKGROUND, 162, 160},
        {IDB_CANCEL_PRESSED, IDB_PLATFORM_BACKGROUND, 258, 160},
    };
    for (const Placement& placement : arrPlacements) {
        const QImage picture = LoadBitmap(placement.nPicture).toImage();
        const QImage background = LoadBitmap(placement.nBackground).toImage();
        const int cx = picture.width() - 1, cy = picture.height() - 1;
        for (const QPoint& pt : {QPoint(0, 0), QPoint(cx, 0), QPoint(0, cy), QPoint(cx, cy)})
            EXPECT_EQ(QColor(picture.pixel(pt)).rgb(),
                      QColor(background.pixel(pt + QPoint(placement.x, placement.y))).rgb())
                << placement.nPicture << " corner " << pt.x() << "," << pt.y();
    }
}

// The mean difference of the colour channels of two pictures of the same size, 0-255,
// alpha included when both have one.
double MeanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int py = 0; py < x.height(); ++py)
        for (int px = 0; px < x.width(); ++px) {
            const QRgb p = x.pixel(px, py), q = y.pixel(px, py);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    return sum / (4.0 * x.width() * x.height());
}

TEST(Artwork, AFractionalRatioTakesTheNearestLargerDrawingNeverTheSmallerOne) {
    EXPECT_EQ(ChooseBitmapScale(0.75), 1.0);
    EXPECT_EQ(ChooseBitmapScale(1.0), 1.0);
    EXPECT_EQ(ChooseBitmapScale(1.25), 1.5);
    EXPECT_EQ(ChooseBitmapScale(1.5), 1.5);
    EXPECT_EQ(ChooseBitmapScale(1.5000001), 1.5); // a rounded screen setting
    EXPECT_EQ(ChooseBitmapScale(1.51), 2.0);
    EXPECT_EQ(ChooseBitmapScale(1.75), 2.0);
    EXPECT_EQ(ChooseBitmapScale(2.0), 2.0);
    EXPECT_EQ(ChooseBitmapScale(3.0), 2.0); // beyond the largest: the largest
}

// On every screen a picture covers exactly the device pixels of its 1x place, so the
// windows' layouts stay what they are.
TEST(Artwork, EveryPictureForEveryRatioTakesThePlaceOfItsOneXPicture) {
    for (const Picture& picture : kPictures)
        for (const qreal rRatio : {1.0, 1.25, 1.5, 1.75, 2.0, 2.5}) {
            const QPixmap bmp = LoadBitmap(picture.nId, rRatio);
            EXPECT_EQ(BitmapSize(bmp), QSize(picture.cx, picture.cy))
                << picture.nId << " at " << rRatio;
            EXPECT_EQ(bmp.size(), QSize(static_cast<int>(std::lround(picture.cx * rRatio)),
                                        static_cast<int>(std::lround(picture.cy * rRatio))))
                << picture.nId << " at " << rRatio;
            EXPECT_EQ(bmp.devicePixelRatio(), rRatio) << picture.nId;
        }
    EXPECT_TRUE(LoadBitmap(9999, 2.0).isNull());
    // The 1x pictures are what they always were.
    EXPECT_EQ(LoadBitmap(IDB_START, 1.0).toImage(), LoadBitmap(IDB_START).toImage());
}

// Each scale is the same drawing: brought back down to 1x it is the 1x picture but for
// the rounding of its edges (from 1.5, not a whole number of pixels, more of them). A
// drawing shifted by a pixel or laid out for another place is much further off. The
// header arrows are left out: at 1x they are pixel steps, larger a true triangle.
TEST(Artwork, EveryScaleIsTheSameDrawingAsTheOneXPicture) {
    for (const Picture& picture : kPictures) {
        if (picture.nId == IDB_ARROW_DOWN || picture.nId == IDB_ARROW_UP)
            continue;
        const QImage one = LoadBitmap(picture.nId).toImage();
        for (const double rScale : kBitmapScales) {
            const QImage down =
                LoadBitmap(picture.nId, rScale)
                    .toImage()
                    .scaled(one.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const double rWhole = rScale == std::floor(rScale) ? 4.0 : 11.0;
            EXPECT_LT(MeanDifference(down, one), rWhole) << picture.nId << " at " << rScale;
        }
    }
}

// The installed SVG icon is the icon drawn once more: rendered at 256 pixels it looks
// like the 256-pixel PNG.
TEST(Artwork, ScalableIconIsTheSameDrawingAsThePngIcon) {
    QSvgRenderer svg(QStringLiteral(TARROW_SCALABLE_ICON));
    ASSERT_TRUE(svg.isValid());
    EXPECT_EQ(svg.defaultSize(), QSize(256, 256));
    QImage rendered(256, 256, QImage::Format_ARGB32_Premultiplied);
    rendered.fill(Qt::transparent);
    QPainter p(&rendered);
    svg.render(&p);
    p.end();
    const QImage png = LoadIcon(IDR_MAINFRAME).pixmap(256, 256).toImage();
    ASSERT_EQ(png.size(), QSize(256, 256));
    EXPECT_LT(MeanDifference(rendered, png), 2.0);
}

} // namespace
