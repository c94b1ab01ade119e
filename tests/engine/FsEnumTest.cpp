#include "FsEnum.h"
#include "ScanTestSupport.h"
#include "platform/PathMatch.h"

#include <gtest/gtest.h>

namespace {

// The base with nothing to enumerate: only its decisions are tested here.
struct CDecisions : IFsEnum {
    bool EnumeratePath(const std::string&) override { return true; }
    bool EnumerateDrive(const std::string&) override { return true; }
};

std::string Group(const IFsEnum& e, const std::string& strPath) {
    std::string strGroup = "stale";
    return e.MatchGroup(strPath, strGroup) ? strGroup : "";
}

} // namespace

TEST(MatchGroup, ExtensionsOfTheFourGroupsInAnyCase) {
    CDecisions e;
    AddProgramGroups(e);
    EXPECT_EQ(Group(e, "/home/bob/report.DOCX"), "Documents");
    EXPECT_EQ(Group(e, "/home/bob/x.Pdf"), "Documents");
    EXPECT_EQ(Group(e, "scan.tiff"), "Images");
    EXPECT_EQ(Group(e, "scan.tif"), ""); // only the four-letter form is listed
    EXPECT_EQ(Group(e, "a.doc.bak"), "");
    EXPECT_EQ(Group(e, "song.AIFC"), "Music");
    EXPECT_EQ(Group(e, "clip.3gp"), "Video");
    EXPECT_EQ(Group(e, ".mp4"), "Video"); // the star matches nothing as well
    EXPECT_EQ(Group(e, "/a.doc/notes"), "");
    EXPECT_EQ(Group(e, "/dir.x/README"), "");
    EXPECT_EQ(Group(e, "noextension"), "");
    EXPECT_EQ(Group(e, "trailing.doc."), "");
    EXPECT_EQ(Group(e, "photo.jp\xE9g"), "");       // not valid UTF-8: raw bytes compared
    EXPECT_EQ(Group(e, "\xFF\xFE.jpeg"), "Images"); // the name itself may be any bytes
}

TEST(MatchGroup, EmptyOrDelimiterOnlyFiltersAndNoGroups) {
    CDecisions e;
    std::string strGroup = "stale";
    EXPECT_FALSE(e.MatchGroup("a.doc", strGroup));
    EXPECT_EQ(strGroup, "");
    e.AddGroup("Empty", "");
    e.AddGroup("Delims", " ;; ; ");
    EXPECT_FALSE(e.MatchGroup("a.doc", strGroup));
    EXPECT_FALSE(e.MatchGroup("", strGroup));
}

TEST(MatchGroup, ReplacingAGroupKeepsItsPlace) {
    CDecisions e;
    EXPECT_TRUE(e.AddGroup("Documents", "*.doc"));
    EXPECT_TRUE(e.AddGroup("Images", "*.png"));
    EXPECT_TRUE(e.AddGroup("Documents", "*.txt"));
    ASSERT_EQ(e.m_mapGroups.size(), 2u);
    EXPECT_EQ(e.m_mapGroups[0].second, "*.txt");
    EXPECT_EQ(Group(e, "a.doc"), "");
    EXPECT_EQ(Group(e, "a.TXT"), "Documents");
}

TEST(MatchGroup, GeneralWildcardsKeepGroupOrder) {
    CDecisions e;
    e.AddGroup("Backups", "*.doc.bak;report-??.*");
    e.AddGroup("Documents", "*.doc *.docx");
    e.AddGroup("Long", "*.extension");
    EXPECT_EQ(Group(e, "a.DOC.BAK"), "Backups");
    EXPECT_EQ(Group(e, "report-07.doc"), "Backups"); // an earlier group's wildcard wins
    EXPECT_EQ(Group(e, "report-7.doc"), "Documents");
    EXPECT_EQ(Group(e, "x.Extension"), "Long");
    EXPECT_EQ(Group(e, "report-\xC3\xA9\xC3\xA9.txt"), "Backups"); // '?' is one character
}

TEST(PathMatchSpec, StarsAndQuestionMarks) {
    EXPECT_TRUE(PathMatchSpec("abc", "*"));
    EXPECT_TRUE(PathMatchSpec("", "*"));
    EXPECT_TRUE(PathMatchSpec("/x/y.doc", "*.doc")); // the star spans separators
    EXPECT_TRUE(PathMatchSpec("aXbXc", "a*b*c"));
    EXPECT_FALSE(PathMatchSpec("ab", "a?b"));
    EXPECT_TRUE(PathMatchSpec("[x].doc", "[x].doc")); // brackets are plain characters
    EXPECT_FALSE(PathMatchSpec("x.doc", "[x].doc"));
    EXPECT_FALSE(PathMatchSpec("abc", "ab"));
}

TEST(IsExcluded, FolderItselfAndEverythingBelowByteForByte) {
    CDecisions e;
    EXPECT_TRUE(e.AddExclusion("/home/bob/.cache"));
    EXPECT_TRUE(e.IsExcluded("/home/bob/.cache"));
    EXPECT_TRUE(e.IsExcluded("/home/bob/.cache/x/a.doc"));
    // Names differing in letter case are other folders on a Linux file system.
    EXPECT_FALSE(e.IsExcluded("/HOME/Bob/.Cache/x/a.doc"));
    EXPECT_FALSE(e.IsExcluded("/home/bob/.CACHE"));
    e.AddExclusion("/mnt/Caf\xC3\xA9");
    EXPECT_TRUE(e.IsExcluded("/mnt/Caf\xC3\xA9/a.doc"));
    EXPECT_FALSE(e.IsExcluded("/mnt/caf\xC3\xA9/a.doc"));
    EXPECT_FALSE(e.IsExcluded("/mnt/Caf\xC3\x89/a.doc"));
    EXPECT_FALSE(e.IsExcluded("/home/bob/.cacheX/a.doc")); // a neighbour with the same prefix
    EXPECT_FALSE(e.IsExcluded("/home/bob/.cach"));
    EXPECT_FALSE(e.IsExcluded("/home/bob"));
    EXPECT_FALSE(e.IsExcluded("/home/bob/a.doc"));
}

TEST(IsExcluded, TrailingSeparatorsMakeNoDifference) {
    CDecisions a, b;
    a.AddExclusion("/tmp/");
    b.AddExclusion("/tmp///");
    for (const char* psz : {"/tmp", "/tmp/", "/tmp/a.doc", "/tmpfs/a.doc", "/TMP/x", "/"}) {
        CDecisions plain;
        plain.AddExclusion("/tmp");
        EXPECT_EQ(a.IsExcluded(psz), plain.IsExcluded(psz)) << psz;
        EXPECT_EQ(b.IsExcluded(psz), plain.IsExcluded(psz)) << psz;
    }
    EXPECT_TRUE(a.IsExcluded("/tmp"));
}

TEST(IsExcluded, RootFolderAndEmptyPaths) {
    CDecisions e;
    EXPECT_FALSE(e.AddExclusion(""));
    EXPECT_TRUE(e.m_arrExclude.empty());
    EXPECT_FALSE(e.IsExcluded("/anything"));
    e.AddExclusion("/");
    EXPECT_TRUE(e.IsExcluded("/anything"));
    EXPECT_EQ(e.m_arrExclude.front(), "/"); // stored as given
}

TEST(IsExcluded, DozensOfFoldersDuplicatesAllowed) {
    CDecisions e;
    for (int i = 0; i < 40; ++i)
        e.AddExclusion("/data/f" + std::to_string(i));
    e.AddExclusion("/data/f3");
    EXPECT_EQ(e.m_arrExclude.size(), 41u);
    EXPECT_TRUE(e.IsExcluded("/data/f39/x"));
    EXPECT_TRUE(e.IsExcluded("/data/f3"));
    EXPECT_FALSE(e.IsExcluded("/data/F3"));
    EXPECT_FALSE(e.IsExcluded("/data/f40"));
}

TEST(IsIncluded, EmptyListIncludesEverythingAFilledOneLimitsLikeTheExclusions) {
    CDecisions e;
    EXPECT_TRUE(e.IsIncluded("/any/path"));
    EXPECT_TRUE(e.IsIncluded(""));
    // Nothing in the program fills the list; filled, it takes the same test.
    e.m_arrInclude.push_back("/home/bob/");
    EXPECT_TRUE(e.IsIncluded("/home/bob/Docs/a.doc"));
    EXPECT_TRUE(e.IsIncluded("/home/bob"));
    EXPECT_FALSE(e.IsIncluded("/home/Bob/a.doc")); // names compare byte for byte
    EXPECT_FALSE(e.IsIncluded("/home/bobby/a.doc"));
    EXPECT_FALSE(e.IsIncluded("/etc/a.doc"));
    EXPECT_FALSE(e.IsExcluded("/home/bob/a.doc"));
}
