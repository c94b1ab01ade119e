#include "Bitmaps.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

struct Picture {
    UINT nId;
    int cx, cy;
};

// Every picture the windows use, at the size its place was drawn for.
constexpr Picture kPictures[] = {
    {IDB_MAIN_BACKGROUND, 349, 518},
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
    const Placement arrPlacements[] = {
        {IDB_START, IDB_MAIN_BACKGROUND, 18, 481},
        {IDB_STOP_DISABLED, IDB_MAIN_BACKGROUND, 106, 481},
        {IDB_CLOSE_HOVER, IDB_MAIN_BACKGROUND, 245, 481},
        {IDB_DETAILS, IDB_MAIN_BACKGROUND, 304, 219},
        {IDB_DETAILS_DISABLED, IDB_MAIN_BACKGROUND, 304, 366},
        {IDB_BANNER, IDB_MAIN_BACKGROUND, 14, 120},
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

} // namespace
