// The file-record parser: update sequences, attribute walks, names and run lists, sound
// and damaged.
#include "platform/NtfsFileRecord.h"
#include "engine/NtfsTestVolume.h"

#include <gtest/gtest.h>

using namespace ntfs_test;

TEST(NtfsFileRecord, UpdateSequenceRestoresEveryStrideAndCatchesTornOnes) {
    for (std::size_t nSize : {512u, 1024u, 4096u}) {
        auto r = CTestRecord(1).FileName(kRootReference, std::u16string(200, u'n')).Build(nSize);
        auto torn = r;
        ASSERT_TRUE(ApplyNtfsFixups(r.data(), r.size())) << nSize;
        for (std::size_t i = 1; i <= nSize / 512; ++i)
            EXPECT_NE(r[i * 512 - 2] | r[i * 512 - 1] << 8, 7) << "stride " << i << " restored";
        torn[nSize - 2] ^= 0x01; // the last stride was not written with the others
        EXPECT_FALSE(ApplyNtfsFixups(torn.data(), torn.size())) << nSize;
    }
    // The array must match the record: one entry per 512 bytes, inside the first stride.
    auto r = CTestRecord(1).Build(1024);
    auto bad = r;
    Put(bad, 0x06, 2, 2);
    EXPECT_FALSE(ApplyNtfsFixups(bad.data(), bad.size()));
    bad = r;
    Put(bad, 0x04, 510, 2);
    EXPECT_FALSE(ApplyNtfsFixups(bad.data(), bad.size()));
    bad = r;
    Put(bad, 0x04, 0x31, 2);
    EXPECT_FALSE(ApplyNtfsFixups(bad.data(), bad.size()));
    EXPECT_FALSE(ApplyNtfsFixups(r.data(), 1000));
}

TEST(NtfsFileRecord, DamagedAttributesEndTheWalkInsideTheRecord) {
    const auto sound = CTestRecord(1).FileName(kRootReference, u"a.docx").Build(1024);
    const std::size_t nFirst = sound[0x14];
    struct Case {
        const char* pszWhat;
        std::size_t nOffset;
        std::uint64_t nValue;
        int nBytes;
    };
    const Case cases[] = {
        {"attribute length 0", nFirst + 4, 0, 4},
        {"attribute length past the record", nFirst + 4, 5000, 4},
        {"value past its attribute", nFirst + 0x10, 4000, 4},
        {"value offset past its attribute", nFirst + 0x14, 0xFFF0, 2},
        {"name longer than its value", nFirst + 0x18 + 0x40, 255, 1},
        {"first attribute inside the header", 0x14, 0x10, 2},
        {"first attribute past the bytes in use", 0x14, 0x3F0, 2},
    };
    for (const Case& c : cases) {
        auto r = sound;
        Put(r, c.nOffset, c.nValue, c.nBytes);
        NtfsFileRecordInfo info;
        ParseNtfsFileRecord(r.data(), r.size(), info); // with the name gone, or no record at all
        EXPECT_FALSE(info.bHasName) << c.pszWhat;
    }
    // Bytes in use beyond the record are cut to the record.
    auto r = sound;
    Put(r, 0x18, 0x100000, 4);
    NtfsFileRecordInfo info;
    ASSERT_TRUE(ParseNtfsFileRecord(r.data(), r.size(), info));
    EXPECT_TRUE(info.bHasName);
    EXPECT_EQ(info.header.nBytesInUse, 1024u);
    // A record without the magic is none.
    r = sound;
    r[0] = 'B';
    EXPECT_FALSE(ParseNtfsFileRecord(r.data(), r.size(), info));
}

TEST(NtfsFileRecord, MappingPairsDecodeRunsAndRejectWhatBreaksTheirBounds) {
    std::vector<NtfsRun> runs;
    // Forward, sparse and backward runs with multi-byte numbers.
    auto pairs = MappingPairs({{0x1234, 0x50000}, {16, kSparse}, {3, -0x40000}, {0x80, 0x7F}});
    ASSERT_TRUE(DecodeNtfsMappingPairs(pairs.data(), pairs.size(), 10, 1u << 20, 100, runs));
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].nVcn, 10u);
    EXPECT_EQ(runs[0].nLcn, 0x50000u);
    EXPECT_EQ(runs[0].nLength, 0x1234u);
    EXPECT_TRUE(runs[1].bSparse);
    EXPECT_EQ(runs[2].nVcn, 10u + 0x1234 + 16);
    EXPECT_EQ(runs[2].nLcn, 0x10000u);
    EXPECT_EQ(runs[3].nLcn, 0x1007Fu);

    struct Case {
        const char* pszWhat;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"no terminating zero", {0x11, 0x04, 0x10}},
        {"length size 0", {0x10, 0x10, 0x00}},
        {"length size 9", {0x19, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0x00}},
        {"cut off in the offset", {0x21, 0x04, 0x10}},
        {"length 0", {0x11, 0x00, 0x10, 0x00}},
        {"negative length", {0x11, 0xFF, 0x10, 0x00}},
        {"before the volume's first cluster", {0x11, 0x04, 0x80, 0x00}},
        {"beyond the volume", {0x31, 0x04, 0xFF, 0xFF, 0x7F, 0x00}},
        {"longer than the volume", {0x14, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00}},
        {"offset overflows", {0x81, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00}},
    };
    for (const Case& c : cases) {
        runs.clear();
        EXPECT_FALSE(DecodeNtfsMappingPairs(c.bytes.data(), c.bytes.size(), 0, 1u << 20, 100, runs))
            << c.pszWhat;
    }
    // The run list stays within its cap.
    std::vector<std::pair<std::int64_t, std::int64_t>> many(50, {1, 1});
    pairs = MappingPairs(many);
    runs.clear();
    EXPECT_FALSE(DecodeNtfsMappingPairs(pairs.data(), pairs.size(), 0, 1u << 20, 10, runs));
    EXPECT_EQ(runs.size(), 10u);
}
