#include "StringTable.h"

#include <gtest/gtest.h>

TEST(StringTable, EntriesAsTheProgramShowsThem) {
    EXPECT_EQ(LoadString(IDS_NO_VALUE), "-");
    EXPECT_EQ(LoadString(IDS_BANNER_TOOLTIP), "Quenby");
    EXPECT_EQ(LoadString(IDS_APP_TITLE), "Quenby");
    EXPECT_EQ(LoadString(IDS_SIZE_BYTES), "%I64d B");
    EXPECT_EQ(LoadString(IDS_SIZE_GB), "%.2I64f GB");
    EXPECT_EQ(LoadString(IDS_GROUP_VIDEO), "Video");
    EXPECT_EQ(LoadString(IDS_FILTER_IMAGES), "*.jpg; *.jpeg; *.png; *.bmp; *.gif; *.psd; *.tiff");
    EXPECT_EQ(LoadString(IDS_COLUMN_DATE), "Date Modified");
    EXPECT_EQ(LoadString(IDS_RESUME), "&Resume");
    EXPECT_EQ(LoadString(IDS_OFFER_URL).rfind("https://", 0), 0u);
}

// What a screen reader hears of the pictures and picture controls, filled in by number.
TEST(StringTable, TheTextsAReaderHearsAndTheirFormats) {
    EXPECT_EQ(LoadString(166), ""); // an id between entries
    EXPECT_EQ(LoadString(157), "");
    EXPECT_EQ(FormatString(IDS_A11Y_ROW_FILES, {"Documents"}), "Documents files");
    EXPECT_EQ(FormatString(IDS_A11Y_ROW_SIZE, {LoadString(IDS_A11Y_TOTAL_ROW)}), "Total size");
    EXPECT_EQ(FormatString(IDS_A11Y_DETAILS, {LoadString(IDS_GET_DETAILS), "Video"}),
              "Get Details: Video");
    EXPECT_EQ(FormatString(IDS_A11Y_BANNER, {"Title", "Text"}), "Title. Text");
    // A format with fewer texts than places keeps the rest; more texts than places are
    // left out.
    EXPECT_EQ(FormatString(IDS_A11Y_DETAILS, {"one"}), "one: %s");
    EXPECT_EQ(FormatString(IDS_A11Y_EXTENSIONS, {"Music", "more"}), "Music extensions");
    EXPECT_EQ(FormatString(IDS_NO_VALUE, {"x"}), "-");
}
