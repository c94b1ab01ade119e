#include "DialogTemplates.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<UINT> ItemIds(const DialogTemplate& t) {
    std::vector<UINT> arrIds;
    for (const DialogItem& item : t.arrItems)
        arrIds.push_back(item.nId);
    return arrIds;
}

TEST(DialogTemplates, DialogUnitsRoundToTheNearestPixel) {
    EXPECT_EQ(DluToPixelsX(4), 6);
    EXPECT_EQ(DluToPixelsY(8), 13);
    EXPECT_EQ(DluToPixelsX(133), 200); // 199.5 rounds up
    EXPECT_EQ(DluToPixelsX(215), 323); // 322.5
    EXPECT_EQ(DluToPixelsY(138), 224); // 224.25
    EXPECT_EQ(DluToPixelsY(6), 10);    // 9.75
    EXPECT_EQ(DluToPixelsX(0), 0);
    EXPECT_EQ(DluToPixelsX(-133), -200); // halves away from zero
}

TEST(DialogTemplates, MainWindowLayout) {
    const DialogTemplate* pMain = FindDialogTemplate(IDD_MAIN);
    ASSERT_NE(pMain, nullptr);
    EXPECT_EQ(pMain->cx, 234);
    EXPECT_EQ(pMain->cy, 321);
    EXPECT_EQ(pMain->dwStyle & WS_BORDER, WS_BORDER);
    EXPECT_NE(pMain->dwStyle & WS_CAPTION, WS_CAPTION); // the border is one of its two bits
    EXPECT_EQ(pMain->dwExStyle, WS_EX_APPWINDOW);
    EXPECT_EQ(ItemIds(*pMain), (std::vector<UINT>{1001, 1002, 1003, 1015, 1004, 1005, 1016, 1006,
                                                  1007, 1017, 1008, 1009, 1018, 1012, 1010, 1011,
                                                  1013, 1014, 2,    1020, 1021, 1022, 1023}));
    const DialogItem& banner = pMain->arrItems[0];
    EXPECT_EQ(banner.dwStyle, 0x5000090Eu);
    EXPECT_EQ(banner.nImageId, IDB_BANNER);
    const DialogItem& stop = pMain->arrItems[17];
    EXPECT_EQ(stop.strText, "S&top");
    EXPECT_EQ(stop.dwStyle, 0x5801000Bu); // owner-drawn, tab stop, disabled
    const DialogItem& progress = pMain->arrItems[13];
    EXPECT_EQ(progress.itemClass, DialogItemClass::ProgressBar);
    EXPECT_EQ(progress.dwStyle & WS_VISIBLE, 0u);
    const DialogItem& link = pMain->arrItems[22];
    EXPECT_EQ(link.dwStyle, 0x50020100u);
    EXPECT_EQ((std::vector<int>{link.x, link.y, link.cx, link.cy}),
              (std::vector<int>{47, 230, 8, 8}));
}

TEST(DialogTemplates, FinishPlatformAndDetailsLayouts) {
    const DialogTemplate* pFinish = FindDialogTemplate(IDD_FINISH);
    const DialogTemplate* pPlatform = FindDialogTemplate(IDD_NOT_SUPPORTED);
    const DialogTemplate* pDetails = FindDialogTemplate(IDD_DETAILS);
    ASSERT_TRUE(pFinish && pPlatform && pDetails);
    EXPECT_EQ(pFinish->dwStyle, 0x90080848u);
    EXPECT_EQ(pPlatform->dwStyle, 0x90080848u);
    EXPECT_EQ(ItemIds(*pFinish), (std::vector<UINT>{2, 1010, 1011, 1001}));
    EXPECT_EQ(pFinish->arrItems[3].nImageId, IDB_FINISH_BANNER);
    EXPECT_EQ(ItemIds(*pPlatform), (std::vector<UINT>{IDYES, IDNO}));
    EXPECT_EQ(pPlatform->arrItems[0].strText, "Co&ntinue");
    EXPECT_EQ(pDetails->dwStyle & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(pDetails->strCaption, "Pellam");
    EXPECT_EQ(ItemIds(*pDetails), (std::vector<UINT>{IDCANCEL, IDC_FILE_LIST}));
    EXPECT_EQ(GetItemClassName(pDetails->arrItems[1].itemClass), "SysListView32");
    EXPECT_EQ(FindDialogTemplate(100), nullptr);
}

} // namespace
