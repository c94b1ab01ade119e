// The results store both programs count in.
#include "ResultsStore.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

FileProperty Record(const char* pszPath, std::int64_t nSize) {
    FileProperty prop;
    prop.m_strPath = pszPath;
    prop.m_nSize = nSize;
    return prop;
}

} // namespace

TEST(ResultsStore, CountsByGroupKeepsOtherNamesApartAndNeverWraps) {
    for (const bool bKeep : {true, false}) {
        SCOPED_TRACE(bKeep ? "keeping records" : "counting only");
        CResultsStore store(bKeep);
        EXPECT_EQ(store.Add("Images", Record("/a.jpg", INT64_MAX)), 1);
        EXPECT_EQ(store.Add("Images", Record("/b.jpg", INT64_MAX)), 1);
        EXPECT_EQ(store.Add("Images", Record("/c.jpg", 2)), 1);
        // Another letter case is another name: kept apart, counted nowhere.
        EXPECT_EQ(store.Add("images", Record("/d.jpg", 5)), CResultsStore::kNoGroup);
        EXPECT_EQ(store.Add("", Record("/e", 5)), CResultsStore::kNoGroup);
        store.Add(3, Record("/f.mkv", -1)); // a negative size counts as nothing

        EXPECT_EQ(store.GetGroupFiles(1), 3);
        EXPECT_EQ(store.GetGroupBytes(1), static_cast<ByteCount>(1) << 64);
        EXPECT_EQ(store.GetGroupFiles(3), 1);
        EXPECT_EQ(store.GetTotalFiles(), 4);
        EXPECT_EQ(store.GetTotalBytes(), static_cast<ByteCount>(1) << 64);
        EXPECT_EQ(store.GetRecordCount(), 6);
        EXPECT_EQ(store.FindList("Documents"), nullptr);
        if (bKeep) {
            ASSERT_NE(store.FindList("Images"), nullptr);
            EXPECT_EQ(store.FindList("Images"), store.GroupList(1));
            EXPECT_EQ(store.FindList("Images")->back().m_strPath, "/c.jpg");
            ASSERT_NE(store.FindList("images"), nullptr);
            EXPECT_EQ(store.FindList("images")->size(), 1u);
        } else {
            EXPECT_EQ(store.FindList("Images"), nullptr);
            EXPECT_EQ(store.FindList("images"), nullptr);
        }

        store.Clear();
        EXPECT_EQ(store.GetTotalFiles(), 0);
        EXPECT_EQ(store.GetTotalBytes(), 0u);
        EXPECT_EQ(store.GetRecordCount(), 0);
        EXPECT_EQ(store.FindList("Images"), nullptr);
        EXPECT_EQ(store.FindList("images"), nullptr);
    }
}
