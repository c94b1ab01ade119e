// Writes the seed corpus of the fuzzers from synthetic volumes:
//   fuzz_make_seeds fuzz/corpus
#include "engine/ExtTestVolume.h"
#include "engine/NtfsTestVolume.h"
#include "platform/VolumeJournal.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace ntfs_test;

namespace {

void Write(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> WithMode(std::uint8_t nMode, std::vector<std::uint8_t> bytes) {
    bytes.insert(bytes.begin(), nMode);
    return bytes;
}

// One USN_RECORD_V2, as the enumerator's walk reads them.
void AddUsn(std::vector<std::uint8_t>& v, std::uint64_t nRef, std::uint64_t nParent, bool bDir,
            const std::u16string& strName) {
    const std::size_t nLength =
        (UsnRecordV2::HeaderSize + strName.size() * 2 + 7) & ~std::size_t{7};
    std::vector<std::uint8_t> r(nLength, 0);
    Put(r, UsnRecordV2::RecordLength, nLength, 4);
    Put(r, UsnRecordV2::MajorVersion, 2, 2);
    Put(r, UsnRecordV2::FileReferenceNumber, nRef, 8);
    Put(r, UsnRecordV2::ParentFileReferenceNumber, nParent, 8);
    Put(r, UsnRecordV2::FileAttributes, bDir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE,
        4);
    Put(r, UsnRecordV2::FileNameLength, strName.size() * 2, 2);
    Put(r, UsnRecordV2::FileNameOffset, UsnRecordV2::FileName, 2);
    auto name = Utf16Bytes(strName);
    std::copy(name.begin(), name.end(), r.begin() + UsnRecordV2::FileName);
    v.insert(v.end(), r.begin(), r.end());
}

// An answer of the journal in the fuzzer's framing: 2-byte length, then the bytes.
void AddAnswer(std::vector<std::uint8_t>& input, std::uint64_t nNext,
               const std::vector<std::uint8_t>& records) {
    std::vector<std::uint8_t> answer(8, 0);
    Put(answer, 0, nNext, 8);
    answer.insert(answer.end(), records.begin(), records.end());
    input.push_back(static_cast<std::uint8_t>(answer.size()));
    input.push_back(static_cast<std::uint8_t>(answer.size() >> 8));
    input.insert(input.end(), answer.begin(), answer.end());
}

std::vector<std::uint8_t> MftArea(const CTestVolume& test) {
    auto img = test.Build();
    const std::size_t nFirst = test.nMftCluster * test.ClusterSize();
    return std::vector<std::uint8_t>(
        img.begin() + static_cast<long>(nFirst),
        img.begin() + static_cast<long>(nFirst + test.nRecords * test.RecordSize()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    std::filesystem::create_directories(root / "usn_buffer");
    std::filesystem::create_directories(root / "ntfs_record");

    // ---- USN buffers: a small tree over two answers, and a loop of folders.
    {
        std::vector<std::uint8_t> input(8, 0);
        Put(input, 0, kRootReference, 8);
        std::vector<std::uint8_t> a, b;
        AddUsn(a, kRootReference, kRootReference, true, u".");
        AddUsn(a, NtfsReference(20, 1), kRootReference, true, u"Users");
        AddUsn(a, NtfsReference(21, 1), NtfsReference(20, 1), false, u"a.docx");
        AddUsn(b, NtfsReference(22, 1), NtfsReference(20, 2), false, u"stale.pdf");
        AddUsn(b, NtfsReference(23, 1), kRootReference, false, u"\xD800x.docx");
        AddAnswer(input, 22, a);
        AddAnswer(input, 30, b);
        Write(root / "usn_buffer" / "tree.bin", input);
    }
    {
        std::vector<std::uint8_t> input(8, 0);
        Put(input, 0, kRootReference, 8);
        std::vector<std::uint8_t> a;
        AddUsn(a, NtfsReference(40, 1), NtfsReference(41, 1), true, u"A");
        AddUsn(a, NtfsReference(41, 1), NtfsReference(40, 1), true, u"B");
        AddUsn(a, NtfsReference(42, 1), NtfsReference(41, 1), false, u"x.docx");
        AddAnswer(input, 50, a);
        Write(root / "usn_buffer" / "loop.bin", input);
    }

    // ---- Single records.
    Write(root / "ntfs_record" / "file-dos-first.bin",
          WithMode(1, CTestRecord(3)
                          .FileName(kRootReference, u"REPORT~1.DOC", kNtfsNamespaceDos)
                          .Standard(132'444'736'001'234'567ull)
                          .FileName(kRootReference, u"report.docx")
                          .NonResident(kNtfsAttrData,
                                       MappingPairs({{4, 100}, {2, kSparse}, {1, -50}}), 0, 28672)
                          .Build(1024)));
    Write(root / "ntfs_record" / "attribute-list-4k.bin",
          WithMode(2, CTestRecord(1, kNtfsRecordInUse | kNtfsRecordIsDirectory)
                          .AttributeList({{kNtfsAttrFileName, 0, NtfsReference(30, 1)},
                                          {kNtfsAttrData, 8, NtfsReference(31, 1)}})
                          .FileName(kRootReference, u"Folder", kNtfsNamespacePosix)
                          .Build(4096)));

    // ---- Small volumes: 512-byte records, the table from cluster 1.
    auto smallVolume = [] {
        CTestVolume test;
        test.nClustersPerRecord = -9;
        test.nMftCluster = 1;
        test.nRecords = 24;
        test.nTotalClusters = 64;
        return test;
    };
    {
        CTestVolume test = smallVolume();
        test.AddStandardRecords();
        test.Set(16, CTestRecord(2, kNtfsRecordInUse | kNtfsRecordIsDirectory)
                         .FileName(kRootReference, u"Users"));
        test.Set(17, CTestRecord(1)
                         .Standard(132'444'736'001'234'567ull)
                         .FileName(NtfsReference(16, 2), u"a.docx")
                         .Resident(kNtfsAttrData, std::vector<std::uint8_t>(40, 'a')));
        test.Set(18, CTestRecord(1)
                         .Standard(132'444'736'001'234'567ull)
                         .AttributeList({{kNtfsAttrFileName, 0, NtfsReference(19, 1)},
                                         {kNtfsAttrData, 0, NtfsReference(19, 1)}}));
        test.Set(19, CTestRecord(1, kNtfsRecordInUse, NtfsReference(18, 1))
                         .FileName(kRootReference, u"b.pdf")
                         .NonResident(kNtfsAttrData, MappingPairs({{2, 40}}), 0,
                                      {5000, 8192, kNtfsAttrSparse}));
        test.Set(20, CTestRecord(1, 0).FileName(kRootReference, u"deleted.docx"));
        Write(root / "ntfs_record" / "volume.bin", WithMode(0x80, MftArea(test)));
    }
    {
        // The table in two extents, the second named by record 0's attribute list.
        CTestVolume test = smallVolume();
        test.Set(0, CTestRecord(1)
                        .AttributeList({{kNtfsAttrData, 0, NtfsReference(0, 1)},
                                        {kNtfsAttrData, 2, NtfsReference(15, 1)}})
                        .NonResident(kNtfsAttrData, MappingPairs({{2, 1}}), 0, 24 * 512));
        test.Set(15, CTestRecord(1, kNtfsRecordInUse, NtfsReference(0, 1))
                         .NonResident(kNtfsAttrData, MappingPairs({{1, 3}}), 2, 0));
        test.Set(5, CTestRecord(5, kNtfsRecordInUse | kNtfsRecordIsDirectory)
                        .FileName(kRootReference, u"."));
        test.Set(17, CTestRecord(1).FileName(kRootReference, u"x.docx"));
        Write(root / "ntfs_record" / "volume-fragmented.bin", WithMode(0x80, MftArea(test)));
    }

    // ---- ext volumes of 1 KiB blocks, 32 to a group: each below 100 KiB.
    std::filesystem::create_directories(root / "ext_volume");
    auto extVolume = [](bool bCsum, bool bExtents, std::uint32_t nFlags) {
        ext_test::Options o;
        o.nBlockSize = 1024;
        o.nInodesPerGroup = 16;
        o.nInodeSize = nFlags & ext_test::kInline ? 256 : 128;
        o.nBlocksPerGroup = 32;
        o.bMetadataCsum = bCsum;
        o.bGdtCsum = !bCsum;
        o.bExtents = bExtents;
        ext_test::CTestVolume t(o);
        const std::uint32_t users = t.Dir(t.Root(), "Users");
        t.File(t.Dir(users, "flagged", 0, nFlags), "f.doc", 2);
        const std::uint32_t file = t.File(users, "a.doc", 5'000'000'000, -5, 7);
        t.Link(t.Root(), "a again.doc", file);
        t.File(t.Dir(users, "Bob"), "not \xff utf-8.doc", 1);
        for (int i = 0; i < 8; ++i)
            t.File(users, "file " + std::to_string(i) + ".txt", 1);
        t.Symlink(t.Root(), "link.doc");
        t.Build();
        return WithMode(0x80, t.Image().Flat());
    };
    Write(root / "ext_volume" / "checksums-deep-extents.bin",
          extVolume(true, true, ext_test::kDeepExtents));
    Write(root / "ext_volume" / "block-maps.bin", extVolume(false, false, 0));
    Write(root / "ext_volume" / "inline-folder.bin", extVolume(true, true, ext_test::kInline));
    return 0;
}
