#include "BitmapButtonEx.h"
#include "Bitmaps.h"
#include "ToolTip.h"
#include "UiTestSupport.h"

#include <QHelpEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

namespace {

using Image = CBitmapButtonEx::Image;
constexpr UINT SEL = CBitmapButtonEx::ODS_SELECTED;
constexpr UINT DIS = CBitmapButtonEx::ODS_DISABLED;
constexpr UINT FOC = CBitmapButtonEx::ODS_FOCUS;

TEST(BitmapButtonEx, ImageRulePressedBeatsFocusDisabledOnlyReplacesNormal) {
    const auto choose = [](UINT nState) {
        return CBitmapButtonEx::ChooseImage(nState, true, true, true);
    };
    EXPECT_EQ(choose(0), Image::Normal);
    EXPECT_EQ(choose(SEL), Image::Selected);
    EXPECT_EQ(choose(FOC), Image::Focus);
    EXPECT_EQ(choose(SEL | FOC), Image::Selected);
    EXPECT_EQ(choose(DIS), Image::Disabled);
    EXPECT_EQ(choose(DIS | FOC), Image::Focus); // still hovered when it was disabled
    // A state whose image is missing falls through to the next rule.
    EXPECT_EQ(CBitmapButtonEx::ChooseImage(SEL | FOC, false, true, true), Image::Focus);
    EXPECT_EQ(CBitmapButtonEx::ChooseImage(SEL | FOC, false, false, true), Image::Normal);
    EXPECT_EQ(CBitmapButtonEx::ChooseImage(DIS, true, true, false), Image::Normal);
}

TEST(BitmapButtonEx, LoadBitmapsAndSizeToContent) {
    CBitmapButtonEx button;
    button.move(7, 9);
    EXPECT_EQ(button.GetDrawnImage(), Image::None);
    EXPECT_TRUE(button.LoadBitmaps(IDB_STOP, IDB_STOP_PRESSED, IDB_STOP_HOVER, IDB_STOP_DISABLED));
    button.SizeToContent();
    EXPECT_EQ(button.geometry(), QRect(7, 9, 86, 28));

    // Only the normal image is required; a missing one of the others makes it FALSE.
    EXPECT_TRUE(button.LoadBitmaps(IDB_START));
    EXPECT_FALSE(button.LoadBitmaps(IDB_START, 9999, IDB_START_HOVER));
    button.setDown(true);
    EXPECT_EQ(button.GetDrawnImage(), Image::Normal); // no pressed image: normal
    // Without a normal image nothing else is loaded and nothing is drawn.
    EXPECT_FALSE(button.LoadBitmaps(9999, IDB_START_PRESSED, IDB_START_HOVER, IDB_START_DISABLED));
    EXPECT_EQ(button.GetDrawnImage(), Image::None);

    CBitmapButtonEx details;
    details.LoadBitmaps(IDB_DETAILS, IDB_DETAILS_PRESSED, IDB_DETAILS_HOVER, IDB_DETAILS_DISABLED);
    details.SizeToContent();
    EXPECT_EQ(details.size(), QSize(26, 35));
}

TEST(BitmapButtonEx, HoverPressedAndDisabledFaces) {
    CBitmapButtonEx button;
    button.LoadBitmaps(IDB_START, IDB_START_PRESSED, IDB_START_HOVER, IDB_START_DISABLED);
    button.SizeToContent();
    button.PreSubclassWindow();
    EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(button.GetDrawnImage(), Image::Normal);

    SendEnter(button);
    EXPECT_TRUE(button.IsHovered());
    EXPECT_EQ(button.GetDrawnImage(), Image::Focus);
    button.setDown(true);
    EXPECT_EQ(button.GetDrawnImage(), Image::Selected);
    button.setDown(false);

    // Disabled while the mouse is still on it (a Stop just pressed): the focus face, painted
    // too, until the mouse leaves; a press meanwhile clicks nothing.
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    button.setEnabled(false);
    EXPECT_EQ(button.GetDrawnImage(), Image::Focus);
    EXPECT_EQ(button.grab().toImage().convertToFormat(QImage::Format_RGB32),
              LoadBitmap(IDB_START_HOVER).toImage().convertToFormat(QImage::Format_RGB32));
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_EQ(button.GetDrawnImage(), Image::Focus);
    SendLeave(button);
    EXPECT_EQ(button.GetDrawnImage(), Image::Disabled);
    button.setEnabled(true);
    EXPECT_EQ(button.GetDrawnImage(), Image::Normal);

    // What is painted is the chosen picture, copied unscaled.
    SendEnter(button);
    EXPECT_EQ(button.grab().toImage().convertToFormat(QImage::Format_RGB32),
              LoadBitmap(IDB_START_HOVER).toImage().convertToFormat(QImage::Format_RGB32));
}

TEST(BitmapButtonEx, MouseClickReportsOnceAndDisabledButtonsIgnoreIt) {
    CBitmapButtonEx button;
    button.LoadBitmaps(IDB_CLOSE, IDB_CLOSE_PRESSED, IDB_CLOSE_HOVER, IDB_CLOSE_DISABLED);
    button.SizeToContent();
    button.show();
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    button.setEnabled(false);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(BitmapButtonEx, DisabledTakesNoMouseInputAndADoubleClickIsOneClick) {
    CBitmapButtonEx button;
    button.LoadBitmaps(IDB_START, IDB_START_PRESSED, IDB_START_HOVER, IDB_START_DISABLED);
    button.SizeToContent();
    button.PreSubclassWindow();
    button.m_strToolTip = "Get Details";
    QSignalSpy clicked(&button, &QAbstractButton::clicked);

    button.setEnabled(false);
    SendEnter(button); // Qt sends it to disabled widgets too
    EXPECT_FALSE(button.IsHovered());
    EXPECT_EQ(button.GetDrawnImage(), Image::Disabled);
    EXPECT_NE(button.cursor().shape(), Qt::PointingHandCursor);
    QToolTip::hideText();
    ASSERT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000));
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&button, &help);
    EXPECT_FALSE(QToolTip::isVisible());
    SendLeave(button);

    button.setEnabled(true);
    EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
    SendDoubleClick(button);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(BitmapButtonEx, DisablingTheFocusedButtonPutsTheFocusFaceOnNoNeighbour) {
    CBitmapButtonEx start, stop;
    CRecordingDlg dlg(IDD_MAIN, IDB_MAIN_BACKGROUND);
    dlg.m_fnBind = [&](CRecordingDlg& d) {
        d.Bind(IDC_START_PAUSE, start);
        d.Bind(IDC_STOP, stop);
    };
    dlg.m_fnSetup = [&](CRecordingDlg&) {
        start.LoadBitmaps(IDB_PAUSE, IDB_PAUSE_PRESSED, IDB_PAUSE_HOVER, IDB_PAUSE_DISABLED);
        stop.LoadBitmaps(IDB_STOP, IDB_STOP_PRESSED, IDB_STOP_HOVER, IDB_STOP_DISABLED);
        stop.setEnabled(true);
    };
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    start.setFocus();
    ASSERT_TRUE(start.hasFocus());
    start.setEnabled(false);
    EXPECT_FALSE(stop.hasFocus());
    EXPECT_EQ(stop.GetDrawnImage(), Image::Normal);
    EXPECT_EQ(start.GetDrawnImage(), Image::Disabled);
    // Tab still moves the focus between enabled buttons.
    stop.setFocus();
    ASSERT_TRUE(stop.hasFocus());
    start.setEnabled(true);
    QTest::keyClick(&stop, Qt::Key_Tab);
    EXPECT_FALSE(stop.hasFocus());
}

// The keys can reach a window that the window system has not made active again (a modal
// window closed where no window manager hands the focus back): the focused details
// button must still show its focus picture, and Tab move it on.
TEST(BitmapButtonEx, TheButtonTheKeysReachShowsItsFocusFaceInAWindowNotYetActive) {
    CBitmapButtonEx start, documents, images;
    CRecordingDlg dlg(IDD_MAIN, IDB_MAIN_BACKGROUND);
    dlg.m_fnBind = [&](CRecordingDlg& d) {
        d.Bind(IDC_START_PAUSE, start);
        d.Bind(IDC_DETAILS_DOCUMENTS, documents);
        d.Bind(IDC_DETAILS_IMAGES, images);
    };
    dlg.m_fnSetup = [&](CRecordingDlg&) {
        start.LoadBitmaps(IDB_START, IDB_START_PRESSED, IDB_START_HOVER, IDB_START_DISABLED);
        for (CBitmapButtonEx* pButton : {&documents, &images}) {
            pButton->LoadBitmaps(IDB_DETAILS, IDB_DETAILS_PRESSED, IDB_DETAILS_HOVER,
                                 IDB_DETAILS_DISABLED);
            pButton->SizeToContent();
            pButton->setEnabled(true);
        }
    };
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    documents.setFocus();
    ASSERT_EQ(documents.GetDrawnImage(), Image::Focus);

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_EQ(dlg.focusWidget(), &documents);
    EXPECT_EQ(documents.GetDrawnImage(), Image::Normal); // no keys come here now

    QTest::keyClick(&documents, Qt::Key_Tab); // as Qt delivers keys to the window's focus
    ASSERT_TRUE(QTest::qWaitFor([&] { return images.hasFocus(); }, 3000));
    EXPECT_EQ(images.GetDrawnImage(), Image::Focus);
    EXPECT_EQ(documents.GetDrawnImage(), Image::Normal);
    EXPECT_EQ(images.grab().toImage().convertToFormat(QImage::Format_RGB32),
              LoadBitmap(IDB_DETAILS_HOVER).toImage().convertToFormat(QImage::Format_RGB32));
}

TEST(BitmapButtonEx, ToolTipWrapsAt200PixelsAndAnEmptyOneShowsNothing) {
    CBitmapButtonEx button;
    button.LoadBitmaps(IDB_DETAILS);
    button.SizeToContent();
    button.show();
    const auto ask = [&button] {
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&button, &help);
    };

    // Nothing shown for an empty text.
    QToolTip::hideText();
    ASSERT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000));
    ask();
    EXPECT_FALSE(QToolTip::isVisible());

    button.m_strToolTip = "Get Details";
    ask();
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Get Details"));

    button.m_strToolTip = "*.doc; *.docx; *.xls; *.xlsx; *.ppt; *.pptx; *.pdf; *.odf; "
                          "*.rtf; *.pst; *.ost; *.qbb; *.qdb";
    ask();
    const QStringList arrLines = QToolTip::text().split(QLatin1Char('\n'));
    EXPECT_GT(arrLines.size(), 1);
    const QFontMetrics fm(QToolTip::font());
    for (const QString& strLine : arrLines)
        EXPECT_LE(fm.horizontalAdvance(strLine), kToolTipMaxWidth) << strLine.toStdString();
    EXPECT_EQ(arrLines.join(QLatin1Char(' ')).toStdString(), button.m_strToolTip);

    // Emptied while shown: the tip goes away.
    button.m_strToolTip.clear();
    ask();
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000));
}

TEST(ToolTip, WrappingKeepsEveryWordAndLetsAnOverlongWordStandAlone) {
    QFont font;
    font.setPixelSize(12);
    const QString strLong(60, QLatin1Char('x'));
    const QString strWrapped =
        WrapToolTipText(QStringLiteral("a ") + strLong + QStringLiteral(" b"), font, 200);
    EXPECT_EQ(strWrapped, QStringLiteral("a\n") + strLong + QStringLiteral("\nb"));
    EXPECT_EQ(WrapToolTipText(QStringLiteral("one two three"), font, 0),
              QStringLiteral("one two three"));
    EXPECT_EQ(WrapToolTipText(QStringLiteral("first\nsecond"), font, 200),
              QStringLiteral("first\nsecond"));
}

} // namespace
