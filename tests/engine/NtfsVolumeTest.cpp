// The master-file-table reader on synthetic volumes: which records become USN records,
// how the table is mapped, and what damaged structures do to it.
#include "platform/NtfsVolume.h"
#include "engine/NtfsTestVolume.h"
#include "platform/LittleEndian.h"
#include "platform/VolumeJournal.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace ntfs_test;

namespace {

struct UsnEntry {
    std::uint64_t nReference;
    std::uint64_t nParent;
    bool bDirectory;
    std::u16string strName;
    friend bool operator==(const UsnEntry&, const UsnEntry&) = default;
};

void DecodeBuffer(const std::uint8_t* p, std::size_t n, std::vector<UsnEntry>& out) {
    namespace R = UsnRecordV2;
    std::size_t nPos = 8;
    while (nPos < n) {
        const std::uint8_t* r = p + nPos;
        const auto nLength = static_cast<std::size_t>(ReadLe32(r));
        ASSERT_GE(nLength, R::HeaderSize);
        ASSERT_EQ(nLength % 8, 0u);
        ASSERT_LE(nPos + nLength, n);
        ASSERT_EQ(ReadLe16(r + R::MajorVersion), 2u);
        UsnEntry e{ReadLe64(r + R::FileReferenceNumber),
                   ReadLe64(r + R::ParentFileReferenceNumber),
                   (ReadLe32(r + R::FileAttributes) & FILE_ATTRIBUTE_DIRECTORY) != 0,
                   {}};
        const std::size_t nNameLength = ReadLe16(r + R::FileNameLength);
        const std::size_t nNameOffset = ReadLe16(r + R::FileNameOffset);
        ASSERT_LE(nNameOffset + nNameLength, nLength);
        for (std::size_t i = 0; i < nNameLength / 2; ++i)
            e.strName += static_cast<char16_t>(ReadLe16(r + nNameOffset + 2 * i));
        out.push_back(e);
        nPos += nLength;
    }
}

// Every record of the volume, request after request, as the enumerator asks for them.
std::vector<UsnEntry> EnumerateAll(CNtfsVolume& volume, std::size_t nBufferSize = kUsnBufferSize,
                                   int* pRequests = nullptr) {
    std::vector<UsnEntry> out;
    std::vector<std::uint8_t> buffer(nBufferSize);
    std::uint64_t nStart = 0;
    int nRequests = 0;
    for (;;) {
        std::size_t nReturned = 0;
        const DWORD dw = volume.Enumerate(nStart, buffer.data(), buffer.size(), nReturned);
        if (dw == ERROR_HANDLE_EOF)
            break;
        EXPECT_EQ(dw, 0u);
        if (dw != 0 || ++nRequests > 100000)
            break;
        DecodeBuffer(buffer.data(), nReturned, out);
        const std::uint64_t nNext = ReadLe64(buffer.data());
        EXPECT_GT(nNext, nStart);
        nStart = nNext;
    }
    if (pRequests)
        *pRequests = nRequests;
    return out;
}

DWORD OpenVolume(CNtfsVolume& volume, const CTestVolume& test) {
    return volume.Open(std::make_unique<CMemoryBlockReader>(test.Build()));
}

std::uint64_t Ref(std::uint64_t nRecord, std::uint16_t nSequence) {
    return NtfsReference(nRecord, nSequence);
}

constexpr std::uint16_t kDir = kNtfsRecordInUse | kNtfsRecordIsDirectory;

} // namespace

TEST(NtfsVolume, HandsOutOneRecordPerInUseBaseRecordWithItsLongName) {
    CTestVolume test;
    test.AddStandardRecords();
    test.Set(16, CTestRecord(2, kDir).FileName(kRootReference, u"Users"));
    test.Set(17, CTestRecord(9).FileName(Ref(16, 2), u"a.docx"));
    // The DOS name comes first; the long name is the one handed out.
    test.Set(18, CTestRecord(1)
                     .FileName(Ref(16, 2), u"LONGNA~1.DOC", kNtfsNamespaceDos)
                     .FileName(Ref(16, 2), u"long name.docx", kNtfsNamespaceWin32));
    // A file with only a DOS name has no name the filesystem shows.
    test.Set(19, CTestRecord(1).FileName(Ref(16, 2), u"ONLYDOS.DOC", kNtfsNamespaceDos));
    // A deleted file keeps its name but is not in use.
    test.Set(20, CTestRecord(4, 0).FileName(Ref(16, 2), u"deleted.docx"));
    // Hard links: one record, one name, the first.
    test.Set(21, CTestRecord(1)
                     .FileName(Ref(16, 2), u"first.mp3", kNtfsNamespacePosix)
                     .FileName(kRootReference, u"second.mp3", kNtfsNamespacePosix));
    // An extension record is no file of its own.
    test.Set(22, CTestRecord(1, kNtfsRecordInUse, Ref(17, 9)).FileName(Ref(16, 2), u"ext.docx"));
    test.Set(
        23, CTestRecord(1).FileName(kRootReference, u"Win32AndDos.pdf", kNtfsNamespaceWin32AndDos));

    CNtfsVolume volume;
    ASSERT_EQ(OpenVolume(volume, test), 0u);
    EXPECT_EQ(volume.GetRecordCount(), 64u);
    std::uint64_t nRoot = 0;
    ASSERT_EQ(volume.GetRootReference(nRoot), 0u);
    EXPECT_EQ(nRoot, kRootReference);

    // The metadata records other than the root are left out; the root's parent is itself.
    const std::vector<UsnEntry> expected = {
        {kRootReference, kRootReference, true, u"."},
        {Ref(16, 2), kRootReference, true, u"Users"},
        {Ref(17, 9), Ref(16, 2), false, u"a.docx"},
        {Ref(18, 1), Ref(16, 2), false, u"long name.docx"},
        {Ref(21, 1), Ref(16, 2), false, u"first.mp3"},
        {Ref(23, 1), kRootReference, false, u"Win32AndDos.pdf"},
    };
    EXPECT_EQ(EnumerateAll(volume), expected);
}

TEST(NtfsVolume, SkipsTornRecordsAndKeepsTheRest) {
    CTestVolume test;
    test.AddStandardRecords();
    test.Set(16, CTestRecord(1).FileName(kRootReference, u"sound.docx"));
    // A 1 KiB record whose second sector was never written.
    auto torn = CTestRecord(1).FileName(kRootReference, u"torn.docx").Build(1024);
    torn[1022] ^= 0xFF;
    test.SetRaw(17, torn);
    test.Set(18, CTestRecord(1).FileName(kRootReference, u"after.docx"));
    CNtfsVolume volume;
    ASSERT_EQ(OpenVolume(volume, test), 0u);
    auto all = EnumerateAll(volume);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].strName, u"sound.docx");
    EXPECT_EQ(all[2].strName, u"after.docx");
}

TEST(NtfsVolume, TakesTheNameFromAnExtensionRecordWhenTheBaseHasNone) {
    CTestVolume test;
    test.AddStandardRecords();
    test.Set(30, CTestRecord(3).AttributeList({{kNtfsAttrStandardInformation, 0, Ref(30, 3)},
                                               {kNtfsAttrFileName, 0, Ref(31, 1)}}));
    test.Set(31, CTestRecord(1, kNtfsRecordInUse, Ref(30, 3))
                     .FileName(kRootReference, u"MANYLI~1.DOC", kNtfsNamespaceDos)
                     .FileName(kRootReference, u"many links.docx"));
    // An extension record that claims a base of another sequence is not believed.
    test.Set(32, CTestRecord(3).AttributeList({{kNtfsAttrFileName, 0, Ref(33, 1)}}));
    test.Set(33,
             CTestRecord(1, kNtfsRecordInUse, Ref(32, 2)).FileName(kRootReference, u"stale.docx"));
    CNtfsVolume volume;
    ASSERT_EQ(OpenVolume(volume, test), 0u);
    auto all = EnumerateAll(volume);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1], (UsnEntry{Ref(30, 3), kRootReference, false, u"many links.docx"}));
}

TEST(NtfsVolume, FillsBufferAfterBufferAndEndsLikeTheJournal) {
    CTestVolume test;
    test.nRecords = 2000;
    test.nTotalClusters = 600;
    test.AddStandardRecords();
    std::u16string strLong(255, u'x');
    for (std::uint64_t r = 16; r < 2000; ++r)
        test.Set(r, CTestRecord(1).FileName(
                        kRootReference, r % 3 ? strLong : u"f" + std::u16string(1, char16_t(r))));
    CNtfsVolume volume;
    ASSERT_EQ(OpenVolume(volume, test), 0u);
    int nRequests = 0;
    auto all = EnumerateAll(volume, kUsnBufferSize, &nRequests);
    ASSERT_EQ(all.size(), 1 + 1984u);
    EXPECT_GT(nRequests, 10);
    for (std::size_t i = 1; i < all.size(); ++i)
        EXPECT_EQ(all[i].nReference & kNtfsRecordNumberMask, 15 + i)
            << "each record exactly once, in order";

    // A start at or past the end is the end of the table; a start with a sequence
    // number in its top bits counts by its record number.
    std::vector<std::uint8_t> buffer(kUsnBufferSize);
    std::size_t nReturned = 1;
    EXPECT_EQ(volume.Enumerate(2000, buffer.data(), buffer.size(), nReturned), ERROR_HANDLE_EOF);
    EXPECT_EQ(nReturned, 0u);
    EXPECT_EQ(volume.Enumerate(Ref(1999, 7), buffer.data(), buffer.size(), nReturned), 0u);
    EXPECT_EQ(ReadLe64(buffer.data()), 2000u);
    // A buffer too small for one record is refused rather than overrun.
    EXPECT_EQ(volume.Enumerate(0, buffer.data(), 100, nReturned), static_cast<DWORD>(EINVAL));
}

TEST(NtfsVolume, FollowsAFragmentedTableThroughRecordZerosAttributeList) {
    // The table's first extent (records 0..31) at cluster 4, its second (records
    // 32..63) at cluster 100, described by extension record 16.
    CTestVolume test;
    test.nRecords = 64;
    test.nTotalClusters = 200;
    // Named data streams are no part of the table: one named in the list at a record
    // outside it, one beside the second extent with runs of its own.
    test.Set(0, CTestRecord(1)
                    .AttributeList({{kNtfsAttrFileName, 0, Ref(0, 1)},
                                    {kNtfsAttrData, 0, Ref(0, 1)},
                                    {kNtfsAttrData, 0, Ref(300, 1), u"$Bad"},
                                    {kNtfsAttrData, 8, Ref(16, 1), u"$Bad"},
                                    {kNtfsAttrData, 8, Ref(16, 1)}})
                    .FileName(kRootReference, u"$MFT")
                    .NonResident(kNtfsAttrData, MappingPairs({{8, 4}}), 0, 64 * 1024));
    test.Set(16, CTestRecord(1, kNtfsRecordInUse, Ref(0, 1))
                     .NonResident(kNtfsAttrData, MappingPairs({{8, 150}}), 8, {}, u"$Bad")
                     .NonResident(kNtfsAttrData, MappingPairs({{8, 100}}), 8, 0));
    test.Set(5, CTestRecord(5, kDir).FileName(kRootReference, u"."));
    test.Set(17, CTestRecord(1).FileName(kRootReference, u"low.docx"));
    test.Set(40, CTestRecord(1).FileName(kRootReference, u"high.docx"));
    test.Place(40, 100 * 4096 + (40 - 32) * 1024);
    CNtfsVolume volume;
    ASSERT_EQ(OpenVolume(volume, test), 0u);
    ASSERT_EQ(volume.GetMftRuns().size(), 2u);
    EXPECT_EQ(volume.GetMftRuns()[1].nLcn, 100u);
    auto all = EnumerateAll(volume);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].strName, u"low.docx");
    EXPECT_EQ(all[2], (UsnEntry{Ref(40, 1), kRootReference, false, u"high.docx"}));
}

TEST(NtfsVolume, SkipsSparsePartsOfTheTableWithoutReadingThem) {
    CTestVolume test;
    test.nTotalClusters = 64;
    // 8 clusters of records, then a sparse stretch of 2^40 clusters, then 8 more: the
    // table claims far more than the volume holds and is cut to the volume's size.
    test.Set(0, CTestRecord(1)
                    .FileName(kRootReference, u"$MFT")
                    .NonResident(kNtfsAttrData,
                                 MappingPairs({{8, 4}, {std::int64_t{1} << 40, kSparse}, {8, 8}}),
                                 0, std::uint64_t{1} << 60));
    test.Set(5, CTestRecord(5, kDir).FileName(kRootReference, u"."));
    CNtfsVolume volume;
    // The sparse run reaches beyond the volume's clusters: not a table to trust.
    EXPECT_EQ(OpenVolume(volume, test), static_cast<DWORD>(EUCLEAN));

    test.Set(0, CTestRecord(1)
                    .FileName(kRootReference, u"$MFT")
                    .NonResident(kNtfsAttrData, MappingPairs({{8, 4}, {16, kSparse}, {8, 20}}), 0,
                                 32 * 4096));
    test.Set(17, CTestRecord(1).FileName(kRootReference, u"a.docx"));
    test.Place(100, 24 * 4096 + 4 * 1024); // record 100 lies in the third run
    test.Set(100, CTestRecord(1).FileName(kRootReference, u"b.docx"));
    ASSERT_EQ(OpenVolume(volume, test), 0u);
    EXPECT_EQ(volume.GetRecordCount(), 128u);
    auto all = EnumerateAll(volume);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].nReference, Ref(100, 1));
}

TEST(NtfsVolume, RefusesWhatIsNoSoundNtfsVolume) {
    struct Case {
        const char* pszWhat;
        void (*damage)(std::vector<std::uint8_t>&);
        DWORD dwExpected;
    };
    const Case cases[] = {
        {"other filesystem", [](auto& img) { std::memcpy(img.data() + 3, "EXFAT   ", 8); },
         EMEDIUMTYPE},
        {"sector size 100", [](auto& img) { Put(img, 0x0B, 100, 2); }, EMEDIUMTYPE},
        {"sectors per cluster 3", [](auto& img) { img[0x0D] = 3; }, EMEDIUMTYPE},
        {"cluster beyond 2 MiB", [](auto& img) { img[0x0D] = 0xF0; }, EMEDIUMTYPE},
        {"record of 2^40 bytes", [](auto& img) { img[0x40] = static_cast<std::uint8_t>(-40); },
         EMEDIUMTYPE},
        {"table beyond the volume", [](auto& img) { Put(img, 0x30, 1u << 30, 8); }, EMEDIUMTYPE},
        {"volume of 2^63 bytes", [](auto& img) { Put(img, 0x28, 1ull << 60, 8); }, EMEDIUMTYPE},
        {"record 0 torn", [](auto& img) { img[4 * 4096 + 510] ^= 1; }, EUCLEAN},
        {"record 0 not in use",
         [](auto& img) {
             img[4 * 4096 + 0x16] = 0;
             img[4 * 4096 + 0x17] = 0;
         },
         EUCLEAN},
        {"root not a folder", [](auto& img) { img[4 * 4096 + 5 * 1024 + 0x16] = 1; }, EUCLEAN},
    };
    for (const Case& c : cases) {
        CTestVolume test;
        test.AddStandardRecords();
        auto img = test.Build();
        c.damage(img);
        CNtfsVolume volume;
        DWORD dw = volume.Open(std::make_unique<CMemoryBlockReader>(img));
        if (dw == 0) {
            std::uint64_t nRoot;
            dw = volume.GetRootReference(nRoot);
        }
        EXPECT_EQ(dw, c.dwExpected) << c.pszWhat;
    }
}

TEST(NtfsVolume, RefusesATableWhoseRunsOverlapOrCannotBeMapped) {
    CTestVolume test;
    test.AddStandardRecords();
    test.Set(0, CTestRecord(1)
                    .FileName(kRootReference, u"$MFT")
                    .NonResident(kNtfsAttrData, MappingPairs({{16, 4}, {16, -2}}), 0, 32 * 4096));
    CNtfsVolume volume;
    EXPECT_EQ(OpenVolume(volume, test), 0u) << "runs at overlapping clusters are allowed";

    // An extension naming its extent at a VCN the first extent already covers.
    test.Set(0, CTestRecord(1)
                    .AttributeList({{kNtfsAttrData, 0, Ref(0, 1)}, {kNtfsAttrData, 8, Ref(16, 1)}})
                    .NonResident(kNtfsAttrData, MappingPairs({{16, 4}}), 0, 64 * 1024));
    test.Set(16, CTestRecord(1, kNtfsRecordInUse, Ref(0, 1))
                     .NonResident(kNtfsAttrData, MappingPairs({{8, 100}}), 8, 0));
    EXPECT_EQ(OpenVolume(volume, test), static_cast<DWORD>(EUCLEAN));

    // An extension record outside every mapped part of the table.
    test.Set(0,
             CTestRecord(1)
                 .AttributeList({{kNtfsAttrData, 0, Ref(0, 1)}, {kNtfsAttrData, 16, Ref(200, 1)}})
                 .NonResident(kNtfsAttrData, MappingPairs({{16, 4}}), 0, 64 * 1024));
    EXPECT_EQ(OpenVolume(volume, test), static_cast<DWORD>(EUCLEAN));
}

TEST(NtfsVolume, ReadsFourKilobyteRecordsAndLargeClusters) {
    for (auto [nSector, nPerCluster, nPerRecord] :
         {std::tuple{4096u, 1u, std::int8_t{1}}, std::tuple{512u, 128u, std::int8_t{-10}},
          std::tuple{512u, 0xF4u, std::int8_t{-10}}}) {
        CTestVolume test;
        test.nSectorSize = nSector;
        test.nSectorsPerCluster = nPerCluster;
        test.nClustersPerRecord = nPerRecord;
        test.nRecords = 40;
        test.nMftCluster = 1;
        test.nTotalClusters = nPerCluster == 0xF4u ? 4 : 64;
        if (nPerCluster == 0xF4u) {
            test.nSectorsPerCluster = 4096; // 2 MiB clusters, stored as 2^(256-v)
        }
        test.AddStandardRecords();
        test.Set(20, CTestRecord(1).FileName(kRootReference, u"x.docx"));
        auto img = test.Build();
        img[0x0D] = static_cast<std::uint8_t>(nPerCluster);
        CNtfsVolume volume;
        ASSERT_EQ(volume.Open(std::make_unique<CMemoryBlockReader>(img)), 0u)
            << nSector << " " << nPerCluster;
        EXPECT_EQ(volume.GetBootSector().nBytesPerRecord, test.RecordSize());
        auto all = EnumerateAll(volume);
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[1].strName, u"x.docx");
    }
}

void PrintTo(const NtfsFileFacts& f, std::ostream* pOut) {
    *pOut << "{record " << (f.nReference & kNtfsRecordNumberMask) << ", " << f.nSize << ", "
          << f.nModified << "}";
}

namespace {

// 2020-09-13 12:26:40.1234567 UTC.
constexpr std::uint64_t kTime = 132'444'736'001'234'567ull;
constexpr std::uint64_t kYear10000 = 2'650'467'744'000'000'000ull;

} // namespace

TEST(NtfsVolume, KnowsSizeAndTimeOfPlainFilesAndLeavesTheRestToTheMount) {
    CTestVolume test; // 4 KiB clusters, 1 MiB
    test.AddStandardRecords();
    const auto pairs = MappingPairs({{2, 50}});
    auto file = [](const char16_t* pszName) {
        return CTestRecord(1).FileName(kRootReference, pszName);
    };
    const std::vector<std::uint8_t> bytes(123, 'x');
    struct Case {
        std::uint64_t nRecord;
        CTestRecord record;
        std::int64_t nSize; // -1: the mount must tell
    };
    const std::uint64_t kFiveGiB = 5ull << 30;
    const Case cases[] = {
        {16, file(u"resident.docx").Standard(kTime).Resident(kNtfsAttrData, bytes), 123},
        {17, file(u"empty.docx").Standard(kTime).Resident(kNtfsAttrData, {}), 0},
        {18,
         file(u"sparse.mkv")
             .Standard(kTime)
             .NonResident(kNtfsAttrData, pairs, 0, {kFiveGiB, kFiveGiB, kNtfsAttrSparse}),
         static_cast<std::int64_t>(kFiveGiB)},
        {19,
         file(u"compressed.docx")
             .Standard(kTime)
             .NonResident(kNtfsAttrData, pairs, 0, {kFiveGiB - 1, kFiveGiB, 1}),
         static_cast<std::int64_t>(kFiveGiB - 1)},
        {20,
         file(u"non-resident.docx")
             .Standard(kTime)
             .NonResident(kNtfsAttrData, pairs, 0, {8000, 8192, 0})
             .NonResident(kNtfsAttrData, pairs, 2, {}),
         8000},
        {21, file(u"last second.docx").Standard(kYear10000 - 1).Resident(kNtfsAttrData, bytes),
         123},
        {22, file(u"1601.docx").Standard(0).Resident(kNtfsAttrData, bytes), 123},
        // What the record does not say for sure.
        {23, file(u"only named.docx").Standard(kTime).Resident(kNtfsAttrData, bytes, u"s"), -1},
        {24,
         file(u"twice.docx")
             .Standard(kTime)
             .Resident(kNtfsAttrData, bytes)
             .Resident(kNtfsAttrData, bytes),
         -1},
        {25, file(u"no standard.docx").Resident(kNtfsAttrData, bytes), -1},
        {26, file(u"link.docx").Standard(kTime, 0x420).Resident(kNtfsAttrData, bytes), -1},
        {27,
         file(u"reparse.docx")
             .Standard(kTime)
             .Resident(kNtfsAttrData, bytes)
             .Resident(kNtfsAttrReparsePoint, std::vector<std::uint8_t>(16)),
         -1},
        {28, file(u"interix.docx").Standard(kTime, 0x24).Resident(kNtfsAttrData, bytes), -1},
        {29, file(u"encrypted.docx").Standard(kTime, 0x4020).Resident(kNtfsAttrData, bytes), -1},
        {30, file(u"before 1601.docx").Standard(1ull << 63).Resident(kNtfsAttrData, bytes), -1},
        {31, file(u"after 9999.docx").Standard(kYear10000).Resident(kNtfsAttrData, bytes), -1},
        {32,
         file(u"more than allocated.docx")
             .Standard(kTime)
             .NonResident(kNtfsAttrData, pairs, 0, {8193, 8192, 0}),
         -1},
        {33,
         file(u"bigger than the volume.docx")
             .Standard(kTime)
             .NonResident(kNtfsAttrData, pairs, 0, {2 << 20, 2 << 20, 0}),
         -1},
        {34,
         file(u"beyond what NTFS addresses.mkv")
             .Standard(kTime)
             .NonResident(kNtfsAttrData, pairs, 0, {1ull << 44, 4096ull << 32, kNtfsAttrSparse}),
         -1},
        {35,
         file(u"part of a cluster.docx")
             .Standard(kTime)
             .NonResident(kNtfsAttrData, pairs, 0, {100, 4000, 0}),
         -1},
        {36, file(u"no data.docx").Standard(kTime), -1},
        {37,
         CTestRecord(1, kDir)
             .FileName(kRootReference, u"Folder.docx")
             .Standard(kTime)
             .Resident(kNtfsAttrData, bytes),
         -1},
    };
    std::vector<NtfsFileFacts> expected;
    for (const Case& c : cases) {
        test.Set(c.nRecord, c.record);
        if (c.nSize >= 0)
            expected.push_back({Ref(c.nRecord, 1), static_cast<std::uint64_t>(c.nSize),
                                c.nRecord == 21   ? kYear10000 - 1
                                : c.nRecord == 22 ? 0
                                                  : kTime});
    }
    // The start of the data in an extension record, found through the attribute list
    // past a named stream's entry.
    test.Set(40, CTestRecord(1)
                     .Standard(kTime)
                     .AttributeList({{kNtfsAttrData, 0, Ref(41, 1), u"Zone"},
                                     {kNtfsAttrData, 0, Ref(42, 1)},
                                     {kNtfsAttrData, 2, Ref(43, 1)}})
                     .FileName(kRootReference, u"extension.docx"));
    test.Set(41, CTestRecord(1, kNtfsRecordInUse, Ref(40, 1))
                     .Resident(kNtfsAttrData, std::vector<std::uint8_t>(7), u"Zone"));
    test.Set(42, CTestRecord(1, kNtfsRecordInUse, Ref(40, 1))
                     .NonResident(kNtfsAttrData, pairs, 0, {12'000, 12'288, 0}));
    expected.push_back({Ref(40, 1), 12'000, kTime});
    // An extension that another record owns says nothing of this one.
    test.Set(44, CTestRecord(1)
                     .Standard(kTime)
                     .AttributeList({{kNtfsAttrData, 0, Ref(45, 1)}})
                     .FileName(kRootReference, u"stolen.docx"));
    test.Set(45, CTestRecord(1, kNtfsRecordInUse, Ref(40, 1))
                     .NonResident(kNtfsAttrData, pairs, 0, {12'000, 12'288, 0}));

    CNtfsVolume volume;
    ASSERT_EQ(OpenVolume(volume, test), 0u);
    std::vector<std::uint8_t> buffer(kUsnBufferSize);
    std::size_t nReturned = 0;
    ASSERT_EQ(volume.Enumerate(0, buffer.data(), buffer.size(), nReturned), 0u);
    EXPECT_EQ(ReadLe64(buffer.data()), 64u) << "one answer holds the whole table";
    EXPECT_EQ(volume.GetFacts(), expected);
    // The facts are those of the last answer only.
    EXPECT_EQ(volume.Enumerate(64, buffer.data(), buffer.size(), nReturned), ERROR_HANDLE_EOF);
    EXPECT_TRUE(volume.GetFacts().empty());
}
