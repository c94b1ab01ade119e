#include "DialogTemplates.h"

#include <gtest/gtest.h>

namespace {

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

// Each window finds its own layout by its id, and an unknown id none.
TEST(DialogTemplates, EachDialogIsFoundByItsId) {
    for (UINT nId : {IDD_MAIN, IDD_NOT_SUPPORTED, IDD_FINISH, IDD_DETAILS}) {
        const DialogTemplate* pTemplate = FindDialogTemplate(nId);
        ASSERT_NE(pTemplate, nullptr) << nId;
        EXPECT_EQ(pTemplate->nId, nId);
    }
    EXPECT_EQ(FindDialogTemplate(100), nullptr);
    EXPECT_EQ(GetItemClassName(DialogItemClass::ListView), "SysListView32");
    EXPECT_EQ(GetItemClassName(DialogItemClass::ProgressBar), "msctls_progress32");
}

} // namespace
