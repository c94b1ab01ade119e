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

TEST(StringTable, EveryEntryFrom158To183ExceptTheGap) {
    for (UINT id = 158; id <= 183; ++id)
        EXPECT_EQ(LoadString(id).empty(), id == 166) << id;
    EXPECT_EQ(LoadString(157), "");
    EXPECT_EQ(LoadString(184), "");
}
