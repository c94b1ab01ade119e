#include "Path.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include <unistd.h>

TEST(Path, TrimmingKeepsTheRoot) {
    EXPECT_EQ(TrimTrailingSeparators("/a/b//"), "/a/b");
    EXPECT_EQ(TrimTrailingSeparators("/a/b"), "/a/b");
    EXPECT_EQ(TrimTrailingSeparators("a/"), "a");
    EXPECT_EQ(TrimTrailingSeparators("///"), "/");
    EXPECT_EQ(TrimTrailingSeparators(""), "");
    EXPECT_EQ(FolderPrefix("/x//"), "/x");
    EXPECT_EQ(FolderPrefix("//"), "");
}

TEST(Path, JoiningPutsOneSeparatorBetween) {
    EXPECT_EQ(JoinPath("/", "a.doc"), "/a.doc");
    EXPECT_EQ(JoinPath("/tmp/Tarrow/", "t.log"), "/tmp/Tarrow/t.log");
    EXPECT_EQ(JoinPath("/tmp//", "t.log"), "/tmp/t.log");
    EXPECT_EQ(JoinPath("/mnt/data", ".Trash-0"), "/mnt/data/.Trash-0");
    EXPECT_EQ(JoinPath("logs", "t.log"), "logs/t.log");
    EXPECT_EQ(JoinPath("", "t.log"), "t.log"); // never made absolute
}

TEST(Path, ANormalFolderHasOneSpellingFromTheTextAlone) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/u", "/home/u"},
        {"/home/u/", "/home/u"},
        {"/home/u//", "/home/u"},
        {"/home/u/.", "/home/u"},
        {"//home//./u/", "/home/u"},
        {"/home/x/../u", "/home/u"},
        {"/..", "/"},
        {"/", "/"},
        {"/a/b/../../..", "/"},
        {"/caf\xE9/", "/caf\xE9"},
        {"/a/...", "/a/..."},
    };
    for (const auto& [pszIn, pszOut] : cases)
        EXPECT_EQ(NormalFolder(pszIn), pszOut) << pszIn;
    char buf[4096];
    ASSERT_TRUE(::getcwd(buf, sizeof buf));
    EXPECT_EQ(NormalFolder("sub/./x/.."), JoinPath(buf, "sub")); // from the working folder
}

TEST(Path, TheNearestFolderAboveIsFoundFromThePathUp) {
    const std::set<std::string_view> roots = {"/", "/home", "/home/u/data", "/caf\xE9"};
    const auto nearest = [&](std::string_view s) {
        return std::string(NearestAtOrAbove(s, [&](std::string_view f) { return roots.count(f); }));
    };
    EXPECT_EQ(nearest("/home/u/data/a.doc"), "/home/u/data");
    EXPECT_EQ(nearest("/home/u/database/a.doc"), "/home"); // name by name, not by bytes
    EXPECT_EQ(nearest("/home"), "/home");
    EXPECT_EQ(nearest("/homes/a.doc"), "/");
    EXPECT_EQ(nearest("/caf\xE9/x"), "/caf\xE9");
    EXPECT_EQ(nearest("relative/a.doc"), ""); // never reaches a root
    EXPECT_EQ(nearest(""), "");
    EXPECT_TRUE(IsPathAtOrBelow("/a/b", "/a//"));
    EXPECT_TRUE(IsPathAtOrBelow("/a", "/"));
    EXPECT_FALSE(IsPathAtOrBelow("", "/"));
    EXPECT_FALSE(IsPathAtOrBelow("/a", "/a/b"));
}
