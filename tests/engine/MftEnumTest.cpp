// The NTFS enumerator's logic over synthetic record buffers: paths, filters, reports,
// the journal rounds, the error exits and buffers that do not hold what they should.
#include "MftEnum.h"
#include "Log.h"
#include "StringTable.h"
#include "engine/FakeVolumeJournal.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace ntfs_test;

namespace {

constexpr std::uint64_t kRoot = 0x0005000000000005ull;

std::uint64_t Ref(std::uint64_t nRecord, std::uint16_t nSequence = 1) {
    return nRecord | static_cast<std::uint64_t>(nSequence) << 48;
}

// Local time five and a half hours ahead of UTC.
class CKolkataTime final : public ILocalTime {
public:
    bool FileTimeToLocalFileTime(const std::timespec& utc, FILETIME& local) const override {
        local.nTicks = static_cast<std::uint64_t>(
            (utc.tv_sec + 19'800 + 11'644'473'600) * 10'000'000 + utc.tv_nsec / 100);
        return true;
    }
};

class MftEnumTest : public ::testing::Test {
protected:
    MftEnumTest() {
        auto p = std::make_unique<CFakeVolumeJournal>();
        journal = p.get();
        journal->nRootReference = kRoot;
        mft = std::make_unique<CMftEnum>(std::move(p));
        mft->SetLocalTime(localTime);
        for (const GroupEntry& g : g_groupTable)
            mft->AddGroup(LoadString(g.nNameId), LoadString(g.nFilterId));
        TakePendingLogRecords();
    }

    std::vector<std::string> LogLines() {
        std::vector<std::string> v;
        for (const PendingLogRecord& r : TakePendingLogRecords())
            v.push_back(std::to_string(r.nLevel) + r.strFileTag + " " + r.strMessage);
        return v;
    }

    CScanTarget target;
    CKolkataTime localTime;
    CFakeVolumeJournal* journal;
    std::unique_ptr<CMftEnum> mft;
};

std::string Tag(int nLine) {
    return " [File: .\\MftEnum.cpp] [Line: " + std::to_string(nLine) + "] ";
}

} // namespace

TEST_F(MftEnumTest, RebuildsFullPathsUnderTheMountPointAndReportsMatchingFiles) {
    journal->buffers.push_back(CUsnBuffer(40)
                                   .Add(Ref(30), Ref(21), u"a.docx") // before its folder's record
                                   .Dir(kRoot, kRoot, u".")          // the root's own record
                                   .Dir(Ref(20), kRoot, u"Users")
                                   .Dir(Ref(21), Ref(20), u"Bob")
                                   .Add(Ref(31), kRoot, u"Top.JPG")
                                   .Add(Ref(32), Ref(21), u"notes.txt"));
    journal->buffers.push_back(CUsnBuffer(80).Add(Ref(50), Ref(21), u"song.mp3"));
    journal->files["/mnt/win/Users/Bob/a.docx"] = RegularFile(5'368'709'120, 1'600'000'000);
    journal->files["/mnt/win/Top.JPG"] = RegularFile(7, 0);
    journal->files["/mnt/win/Users/Bob/song.mp3"] = RegularFile(0);
    journal->files["/mnt/win/Users/Bob/song.mp3"].mtime.tv_sec = 1'600'021'800;

    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    auto found = target.Found();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].prop.m_strPath, "/mnt/win/Users/Bob/a.docx");
    EXPECT_EQ(found[0].strGroup, "Documents");
    EXPECT_EQ(found[0].prop.m_nSize, 5'368'709'120);
    // 2020-09-13 12:26:40 UTC is 17:56:40 in local time.
    EXPECT_EQ(
        found[0].prop.m_dtModified,
        (COleDateTime{44087.0 + (17 * 3600 + 56 * 60 + 40) / 86400.0, DateTimeStatus::valid}));
    EXPECT_TRUE(found[0].prop.m_strType.empty());
    EXPECT_EQ(found[1].prop.m_strPath, "/mnt/win/Top.JPG");
    EXPECT_EQ(found[1].strGroup, "Images");
    EXPECT_EQ(found[1].prop.m_dtModified,
              (COleDateTime{25569.0 + 19'800 / 86400.0, DateTimeStatus::valid}));
    EXPECT_EQ(found[2].strGroup, "Music");
    EXPECT_EQ(found[2].prop.m_dtModified, (COleDateTime{44088.0, DateTimeStatus::valid}))
        << "local midnight";
    // Only kept files are read, each by its own record, and the pass went on from each
    // buffer's next start.
    EXPECT_EQ(journal->kept, (std::vector<std::uint64_t>{Ref(30), Ref(31), Ref(50)}));
    EXPECT_EQ(journal->attributeReferences, journal->kept);
    EXPECT_EQ(journal->starts, (std::vector<std::uint64_t>{0, 40, 80}));
    EXPECT_EQ(mft->GetDirectoryCount(), 3u);
    EXPECT_EQ(LogLines(),
              std::vector<std::string>{"1000" + Tag(205) + "MFT enumeration is started"});
}

TEST_F(MftEnumTest, MountPointsWithTrailingSlashOrAtTheRootJoinWithOneSlash) {
    for (const char* pszRoot : {"/", "/mnt/win/", "/mnt/win//"}) {
        journal->buffers = {
            CUsnBuffer(9).Dir(Ref(20), kRoot, u"Docs").Add(Ref(21), Ref(20), u"a.pdf")};
        journal->starts.clear();
        journal->files.clear();
        const std::string strBase = std::string(pszRoot) == "/" ? "" : "/mnt/win";
        journal->files[strBase + "/Docs/a.pdf"] = RegularFile(1);
        const std::size_t nBefore = target.Found().size();
        EXPECT_TRUE(mft->EnumerateDrive(pszRoot));
        auto paths = target.Paths();
        ASSERT_EQ(paths.size(), nBefore + 1) << pszRoot;
        EXPECT_EQ(paths.back(), strBase + "/Docs/a.pdf");
    }
}

TEST_F(MftEnumTest, DropsFilesWhoseParentChainBreaksStaysStaleOrLoops) {
    journal->buffers.push_back(CUsnBuffer(99)
                                   .Dir(Ref(20, 3), kRoot, u"Live")
                                   .Add(Ref(30), Ref(20, 2), u"stale parent.docx")
                                   .Add(Ref(31), Ref(77), u"absent parent.docx")
                                   .Dir(Ref(40), Ref(41), u"LoopA")
                                   .Dir(Ref(41), Ref(40), u"LoopB")
                                   .Add(Ref(32), Ref(41), u"in a loop.docx")
                                   .Dir(Ref(42), Ref(42), u"Self")
                                   .Add(Ref(33), Ref(42), u"under self.docx")
                                   .Add(Ref(34), Ref(20, 3), u"good.docx"));
    for (const char* psz : {"stale parent.docx", "absent parent.docx", "in a loop.docx"}) {
        journal->files[std::string("/mnt/win/Live/") + psz] = RegularFile(1);
        journal->files[std::string("/") + psz] = RegularFile(1);
    }
    journal->files["/mnt/win/Live/good.docx"] = RegularFile(1);
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(target.Paths(), std::vector<std::string>{"/mnt/win/Live/good.docx"});
    std::string strPath;
    EXPECT_FALSE(mft->BuildDirectoryPath(Ref(40), strPath));
    EXPECT_TRUE(mft->BuildDirectoryPath(kRoot, strPath));
    EXPECT_EQ(strPath, "/mnt/win");
}

TEST_F(MftEnumTest, FoldersNamedLikeFilesAndExcludedFoldersAreNotReported) {
    mft->AddExclusion("/mnt/win/WINDOWS/"); // folders compare byte for byte
    journal->buffers.push_back(CUsnBuffer(99)
                                   .Dir(Ref(20), kRoot, u"Report.docx")
                                   .Add(Ref(21), Ref(20), u"inside.docx")
                                   .Dir(Ref(22), kRoot, u"WINDOWS")
                                   .Add(Ref(23), Ref(22), u"system.pdf")
                                   .Dir(Ref(24), kRoot, u"WindowsApps")
                                   .Add(Ref(25), Ref(24), u"app.pdf"));
    journal->files["/mnt/win/Report.docx"] = RegularFile(1);
    journal->files["/mnt/win/Report.docx/inside.docx"] = RegularFile(2);
    journal->files["/mnt/win/WINDOWS/system.pdf"] = RegularFile(3);
    journal->files["/mnt/win/WindowsApps/app.pdf"] = RegularFile(4);
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(target.Paths(), (std::vector<std::string>{"/mnt/win/Report.docx/inside.docx",
                                                        "/mnt/win/WindowsApps/app.pdf"}));
    // The excluded file was kept by the pass but never read.
    EXPECT_EQ(mft->GetKeptFileCount(), 3u);
    EXPECT_EQ(journal->attributeReads.size(), 2u);
}

TEST_F(MftEnumTest, SkipsFilesThatVanishedOrAreNoRegularFilesAtReportTime) {
    journal->buffers.push_back(CUsnBuffer(99)
                                   .Add(Ref(21), kRoot, u"gone.docx")
                                   .Add(Ref(22), kRoot, u"link.docx")
                                   .Add(Ref(23), kRoot, u"here.docx"));
    FileAttributes link = RegularFile(12);
    link.kind = EntryKind::Symlink;
    journal->files["/mnt/win/link.docx"] = link;
    journal->files["/mnt/win/here.docx"] = RegularFile(5);
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(target.Paths(), std::vector<std::string>{"/mnt/win/here.docx"});
    EXPECT_TRUE(LogLines().size() == 1) << "skipped files leave no statement";
}

TEST_F(MftEnumTest, NamesAreConvertedAsTheMountedFilesystemShowsThem) {
    // "ü", "😀" as a pair, a lone high and a lone low surrogate, and a reversed pair.
    const std::u16string names[] = {u"\u00fc.docx", u"\xD83D\xDE00.docx", u"a\xD800.docx",
                                    u"\xDC00z.docx", u"\xDC00\xD800.docx"};
    const std::string expected[] = {"\xC3\xBC.docx", "\xF0\x9F\x98\x80.docx", "a\xED\xA0\x80.docx",
                                    "\xED\xB0\x80z.docx", "\xED\xB0\x80\xED\xA0\x80.docx"};
    CUsnBuffer buffer(99);
    for (std::size_t i = 0; i < std::size(names); ++i) {
        buffer.Add(Ref(20 + i), kRoot, names[i]);
        journal->files["/mnt/win/" + expected[i]] = RegularFile(static_cast<std::int64_t>(i));
    }
    journal->buffers.push_back(buffer);
    mft->EnumerateDrive("/mnt/win");
    auto found = target.Found();
    ASSERT_EQ(found.size(), std::size(names));
    for (std::size_t i = 0; i < found.size(); ++i)
        EXPECT_EQ(found[i].prop.m_strPath, "/mnt/win/" + expected[i]);
}

TEST_F(MftEnumTest, NamesThatCannotBeOnePathComponentAreSkipped) {
    journal->buffers.push_back(CUsnBuffer(99)
                                   .Dir(Ref(20), kRoot, u"..")
                                   .Add(Ref(21), Ref(20), u"up.docx")
                                   .Dir(Ref(26), kRoot, u".")
                                   .Add(Ref(27), Ref(26), u"here.docx")
                                   .Add(Ref(22), kRoot, u"Users/Bob/a.docx")
                                   .Add(Ref(23), kRoot, std::u16string(u"nul\0.docx", 9))
                                   .Add(Ref(24), kRoot, u"")
                                   .Add(Ref(25), kRoot, u"fine.docx"));
    journal->files["/mnt/win/../up.docx"] = RegularFile(1);
    journal->files["/mnt/win/./here.docx"] = RegularFile(1);
    journal->files["/mnt/win/Users/Bob/a.docx"] = RegularFile(1);
    journal->files["/mnt/win/fine.docx"] = RegularFile(1);
    mft->EnumerateDrive("/mnt/win");
    EXPECT_EQ(target.Paths(), std::vector<std::string>{"/mnt/win/fine.docx"});
}

TEST_F(MftEnumTest, ARecordReferenceStoredTwiceKeepsTheFirstEntry) {
    EXPECT_TRUE(mft->AddDirectory(Ref(20), "First", kRoot));
    EXPECT_FALSE(mft->AddDirectory(Ref(20), "Second", Ref(99)));
    EXPECT_TRUE(mft->AddDirectory(kRoot, "/mnt/win", 0));
    std::string strPath;
    ASSERT_TRUE(mft->BuildDirectoryPath(Ref(20), strPath));
    EXPECT_EQ(strPath, "/mnt/win/First");
    mft->Reset();
    EXPECT_EQ(mft->GetDirectoryCount(), 0u);
    EXPECT_FALSE(mft->BuildDirectoryPath(Ref(20), strPath));
    EXPECT_TRUE(strPath.empty());
}

TEST_F(MftEnumTest, RecordsThatDoNotFitEndTheirBufferButNotThePass) {
    auto zeroLength = CUsnBuffer(50).Add(Ref(21), kRoot, u"before.docx");
    zeroLength.Raw(std::vector<std::uint8_t>(64, 0)).Add(Ref(22), kRoot, u"hidden.docx");
    auto pastEnd =
        CUsnBuffer(60).Add(Ref(23), kRoot, u"second.docx").Add(Ref(24), kRoot, u"cut.docx");
    pastEnd.Bytes().resize(pastEnd.Bytes().size() - 8); // the last record runs past the answer
    auto nameOutside =
        CUsnBuffer(70).Add(Ref(25), kRoot, u"bad name.docx").Add(Ref(26), kRoot, u"third.docx");
    nameOutside.Bytes()[8 + UsnRecordV2::FileNameOffset] = 0xF0; // name beyond its record
    auto shortHeader = CUsnBuffer(80).Add(Ref(27), kRoot, u"fourth.docx");
    shortHeader.Raw(std::vector<std::uint8_t>(20, 0xFF));
    journal->buffers = {zeroLength, pastEnd, nameOutside, shortHeader};
    for (const char* psz : {"before", "hidden", "second", "cut", "bad name", "third", "fourth"})
        journal->files["/mnt/win/" + std::string(psz) + ".docx"] = RegularFile(1);
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(target.Paths(),
              (std::vector<std::string>{"/mnt/win/before.docx", "/mnt/win/second.docx",
                                        "/mnt/win/third.docx", "/mnt/win/fourth.docx"}));
}

TEST_F(MftEnumTest, AnswersThatWouldRepeatForeverEndThePass) {
    // The same start again, a start that goes back, an answer shorter than its start
    // reference and one that claims more than the buffer holds.
    journal->buffers = {CUsnBuffer(Ref(10, 3)).Add(Ref(21), kRoot, u"a.docx"),
                        CUsnBuffer(Ref(10, 4)).Add(Ref(22), kRoot, u"b.docx")};
    journal->files["/mnt/win/a.docx"] = RegularFile(1);
    journal->files["/mnt/win/b.docx"] = RegularFile(1);
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(journal->starts.size(), 2u);
    EXPECT_EQ(target.Paths().size(), 2u) << "what was collected is still reported";

    journal->starts.clear();
    journal->buffers = {std::vector<std::uint8_t>(5, 1)};
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(journal->starts.size(), 1u);

    journal->starts.clear();
    journal->buffers = {CUsnBuffer(99).Add(Ref(23), kRoot, u"c.docx")};
    journal->nOverstateReturned = 2 * kUsnBufferSize;
    journal->files["/mnt/win/c.docx"] = RegularFile(1);
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(target.Paths().back(), "/mnt/win/c.docx");
}

TEST_F(MftEnumTest, AFailedRequestEndsThePassAndTheReportRuns) {
    journal->buffers = {CUsnBuffer(9).Add(Ref(21), kRoot, u"a.docx")};
    journal->dwEnumerateErrorAtEnd = EIO;
    journal->files["/mnt/win/a.docx"] = RegularFile(1);
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(target.Paths().size(), 1u);
    EXPECT_EQ(LogLines().size(), 1u) << "no failure: no statement";
}

TEST_F(MftEnumTest, CreatesAJournalThatIsNotActiveAndWaitsForOneBeingDeleted) {
    journal->queryErrors = {ERROR_JOURNAL_NOT_ACTIVE, ERROR_JOURNAL_DELETE_IN_PROGRESS};
    journal->buffers = {CUsnBuffer(9).Add(Ref(21), kRoot, u"a.docx")};
    journal->files["/mnt/win/a.docx"] = RegularFile(1);
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(target.Paths().size(), 1u);
    EXPECT_EQ(journal->created.MaximumSize, 8'388'608u);
    EXPECT_EQ(journal->created.AllocationDelta, 1'048'576u);
    EXPECT_EQ(journal->deleted.UsnJournalID, 0u);
    EXPECT_EQ(journal->deleted.DeleteFlags, USN_DELETE_FLAG_NOTIFY);
    EXPECT_EQ(journal->calls[0], "Open /mnt/win");
    EXPECT_EQ(std::vector<std::string>(journal->calls.begin() + 1, journal->calls.begin() + 6),
              (std::vector<std::string>{"Query", "Create", "Query", "DeleteAndWait", "Query"}));
    EXPECT_EQ(
        LogLines(),
        (std::vector<std::string>{
            "1000" + Tag(205) + "MFT enumeration is started",
            "1000" + Tag(235) +
                "The journal is not active on the volume. We need to create it and then query "
                "for its information again",
            "1000" + Tag(228) +
                "The system is deleting a journal. We need to wait for it to finish before "
                "trying to query it again.",
        }));
}

TEST_F(MftEnumTest, AJournalThatNeverBecomesActiveEndsInsteadOfTurningForever) {
    journal->dwQueryErrorForever = ERROR_JOURNAL_NOT_ACTIVE;
    EXPECT_FALSE(mft->EnumerateDrive("/mnt/win"));
    const auto nCreates = std::count(journal->calls.begin(), journal->calls.end(), "Create");
    EXPECT_GE(nCreates, 1);
    EXPECT_LE(nCreates, 16);
    auto lines = LogLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2],
              "4000" + Tag(242) +
                  "Some other error happened while querying the journal information. There is "
                  "nothing we can do from here");
    EXPECT_EQ(lines.back(), "4000" + Tag(325) + GetErrorText(ERROR_JOURNAL_NOT_ACTIVE));
    EXPECT_FALSE(journal->bOpen);
}

TEST_F(MftEnumTest, ErrorExitsLeaveTwoStatementsResetAndTheirResult) {
    struct Case {
        const char* pszWhat;
        void (*setup)(CFakeVolumeJournal&);
        bool bResult;
        int nLine;
        std::string strMessage;
        DWORD dwCode;
    };
    const Case cases[] = {
        {"open", [](CFakeVolumeJournal& j) { j.dwOpenError = EACCES; }, true, 214,
         "Cannot open volume /mnt/win", EACCES},
        {"query", [](CFakeVolumeJournal& j) { j.queryErrors = {ENOTTY}; }, false, 242,
         "Some other error happened while querying the journal information. There is nothing we "
         "can do from here",
         ENOTTY},
        {"root", [](CFakeVolumeJournal& j) { j.dwRootOpenError = ENOENT; }, true, 260,
         "Cannot create file for drive /mnt/win", ENOENT},
        {"root reference", [](CFakeVolumeJournal& j) { j.dwRootReferenceError = EUCLEAN; }, true,
         267, "Cannot get file information by handle", EUCLEAN},
    };
    for (const Case& c : cases) {
        auto p = std::make_unique<CFakeVolumeJournal>();
        CFakeVolumeJournal& j = *p;
        j.buffers = {CUsnBuffer(9).Add(Ref(21), kRoot, u"a.docx")};
        j.files["/mnt/win/a.docx"] = RegularFile(1);
        c.setup(j);
        CMftEnum mftEnum(std::move(p));
        mftEnum.AddGroup("Documents", "*.docx");
        TakePendingLogRecords();
        EXPECT_EQ(mftEnum.EnumerateDrive("/mnt/win"), c.bResult) << c.pszWhat;
        EXPECT_EQ(LogLines(),
                  (std::vector<std::string>{"1000" + Tag(205) + "MFT enumeration is started",
                                            "4000" + Tag(c.nLine) + c.strMessage,
                                            "4000" + Tag(325) + GetErrorText(c.dwCode)}))
            << c.pszWhat;
        EXPECT_FALSE(j.bOpen) << c.pszWhat;
        EXPECT_FALSE(j.bRootOpen) << c.pszWhat;
        EXPECT_TRUE(j.starts.empty()) << c.pszWhat;
        EXPECT_EQ(mftEnum.GetDirectoryCount(), 0u) << c.pszWhat;
    }
    EXPECT_TRUE(target.Found().empty());
}

TEST_F(MftEnumTest, StopDuringThePassReportsNothingAndDuringTheReportKeepsWhatWasReported) {
    journal->buffers = {CUsnBuffer(9).Add(Ref(21), kRoot, u"a.docx").Add(Ref(22), kRoot, u"b.docx"),
                        CUsnBuffer(19).Add(Ref(23), kRoot, u"c.docx")};
    for (const char* psz : {"a", "b", "c"})
        journal->files["/mnt/win/" + std::string(psz) + ".docx"] = RegularFile(1);
    journal->onEnumerate = [](std::size_t nRequest) {
        if (nRequest == 1)
            ForceEvent.Set();
    };
    EXPECT_FALSE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_TRUE(target.Found().empty());
    EXPECT_TRUE(journal->attributeReads.empty());

    ForceEvent.Reset();
    journal->onEnumerate = nullptr;
    journal->starts.clear();
    target.OnFound([](const FoundFile&) { ForceEvent.Set(); });
    EXPECT_TRUE(mft->EnumerateDrive("/mnt/win"));
    EXPECT_EQ(target.Paths(), std::vector<std::string>{"/mnt/win/a.docx"});
}

TEST_F(MftEnumTest, EnumeratePathNeedsAPathAndEnumeratesItsWholeVolume) {
    EXPECT_FALSE(mft->EnumeratePath(""));
    EXPECT_TRUE(journal->calls.empty());
    journal->buffers = {CUsnBuffer(9).Add(Ref(21), kRoot, u"a.docx")};
    journal->files["/mnt/win/a.docx"] = RegularFile(1);
    EXPECT_TRUE(mft->EnumeratePath("/mnt/win/Users/Bob"));
    EXPECT_EQ(journal->calls.front(), "Open /mnt/win");
    EXPECT_EQ(target.Paths(), std::vector<std::string>{"/mnt/win/a.docx"});
}
