// The rules for the program's files in a shared temporary folder. Run as root and,
// where the machine allows, once more as an unprivileged user.
#include "SafeFile.h"
#include "LogTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 65534; // nobody

SafeFileResult Open(const std::string& strPath, bool bCreate = false) {
    CFileHandle folder;
    SafeFileResult r = OpenPrivateFolder(strPath, bCreate, folder);
    EXPECT_EQ(static_cast<bool>(r), folder.IsOpen()) << strPath;
    return r;
}

SafeFileResult Write(const std::string& strFolder, const std::string& strName,
                     std::string_view strText) {
    CFileHandle folder;
    SafeFileResult r = OpenPrivateFolder(strFolder, false, folder);
    return r ? WriteWholeFile(folder, strName, strText) : r;
}

struct stat Stat(const std::string& strPath) {
    struct stat st {};
    EXPECT_EQ(::lstat(strPath.c_str(), &st), 0) << strPath;
    return st;
}

std::vector<std::string> Names(const std::string& strFolder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(strFolder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

testing::AssertionResult Is(const SafeFileResult& r, SafeFileStatus status, int nErrno = 0) {
    if (r.m_status == status && r.m_nErrno == nErrno)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "got " << static_cast<int>(r.m_status) << " (" << r.GetText() << ")";
}

// A private folder of the scratch folder, as the program's folder would be.
class SafeFileTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_scratch.Path().empty());
        m_strFolder = m_scratch.Path() + "/Tarrow";
        ASSERT_EQ(::mkdir(m_strFolder.c_str(), 0700), 0);
        m_strOutside = m_scratch.Path() + "/precious";
        WriteFile(m_strOutside, "keep me");
    }

    CScratchFolder m_scratch;
    std::string m_strFolder;
    std::string m_strOutside;
};

} // namespace

TEST_F(SafeFileTest, ALinkAtTheFolderIsRefusedOneAboveItFollowedWhereOnlyTheUserCouldMakeIt) {
    const std::string strScratch = m_scratch.Path();
    const std::string strElsewhere = strScratch + "/elsewhere";
    ASSERT_EQ(::mkdir(strElsewhere.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((strElsewhere + "/Tarrow").c_str(), 0700), 0);
    const std::string strLink = strScratch + "/link";
    ASSERT_EQ(::symlink(strElsewhere.c_str(), strLink.c_str()), 0);
    // At the folder's place; a trailing '/' or "/." would make the kernel follow it.
    for (const std::string& strPath : {strLink, strLink + "/", strLink + "//", strLink + "/."}) {
        EXPECT_TRUE(Is(Open(strPath), SafeFileStatus::linkInPath)) << strPath;
        EXPECT_TRUE(Is(Write(strPath, "Documents.log", "x"), SafeFileStatus::linkInPath))
            << strPath;
    }

    // Above it, in the user's private folder (a temporary folder on another disk, linked):
    // followed as any program follows it, absolute, relative or one link to another.
    ASSERT_EQ(::symlink("elsewhere", (strScratch + "/relative").c_str()), 0);
    ASSERT_EQ(::symlink("relative/.", (strScratch + "/chained").c_str()), 0);
    for (const char* psz : {"/link", "/relative", "/chained"}) {
        EXPECT_TRUE(Open(strScratch + psz + "/Tarrow")) << psz;
        EXPECT_TRUE(Write(strScratch + psz + "/Tarrow", "Documents.log", psz)) << psz;
        EXPECT_EQ(ReadFile(strElsewhere + "/Tarrow/Documents.log"), psz);
    }
    EXPECT_TRUE(Open(strLink + "/new/Tarrow", true));
    EXPECT_TRUE(fs::is_directory(strElsewhere + "/new/Tarrow"));
    ASSERT_EQ(::symlink("loop2", (strScratch + "/loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", (strScratch + "/loop2").c_str()), 0);
    EXPECT_TRUE(Is(Open(strScratch + "/loop1/Tarrow"), SafeFileStatus::systemError, ELOOP));

    // In a folder others may write in (a sticky /tmp, a group's), anyone could have put
    // it there: never followed, nothing made where it leads.
    struct Shared {
        const char* pszName;
        mode_t mode;
        uid_t owner;
    };
    std::vector<Shared> shared{{"sticky", 01777, ::geteuid()}, {"group", 0770, ::geteuid()}};
    if (::geteuid() == 0)
        shared.push_back({"another user's", 0755, kOtherUser});
    for (const Shared& folder : shared) {
        const std::string strShared = strScratch + "/" + folder.pszName;
        ASSERT_EQ(::mkdir(strShared.c_str(), 0700), 0);
        ASSERT_EQ(::symlink(strElsewhere.c_str(), (strShared + "/link").c_str()), 0);
        ASSERT_EQ(::chmod(strShared.c_str(), folder.mode), 0);
        ASSERT_EQ(::chown(strShared.c_str(), folder.owner, static_cast<gid_t>(-1)), 0);
        EXPECT_TRUE(Is(Open(strShared + "/link/Tarrow"), SafeFileStatus::linkInPath))
            << folder.pszName;
        EXPECT_TRUE(Is(Open(strShared + "/link/made/Tarrow", true), SafeFileStatus::linkInPath))
            << folder.pszName;
    }
    if (::geteuid() == 0) { // a link of another user's, in a folder that is the user's now
        const std::string strTheirs = strScratch + "/theirs";
        ASSERT_EQ(::symlink(strElsewhere.c_str(), strTheirs.c_str()), 0);
        ASSERT_EQ(::lchown(strTheirs.c_str(), kOtherUser, kOtherUser), 0);
        EXPECT_TRUE(Is(Open(strTheirs + "/Tarrow"), SafeFileStatus::linkInPath));
    }
    EXPECT_FALSE(fs::exists(strElsewhere + "/made"));
}

TEST_F(SafeFileTest, FolderMustBePrivateAndExist) {
    EXPECT_TRUE(Open(m_strFolder));
    EXPECT_TRUE(Open(m_strFolder + "//"));
    for (mode_t mode : {0770, 0702, 0777, 01777}) {
        ASSERT_EQ(::chmod(m_strFolder.c_str(), mode), 0);
        EXPECT_TRUE(Is(Open(m_strFolder), SafeFileStatus::folderNotPrivate)) << std::oct << mode;
    }
    ASSERT_EQ(::chmod(m_strFolder.c_str(), 0750), 0); // others may read: still private
    EXPECT_TRUE(Open(m_strFolder));
    EXPECT_TRUE(Is(Open(m_strFolder + "/missing"), SafeFileStatus::systemError, ENOENT));
    EXPECT_TRUE(Is(Open(m_strOutside), SafeFileStatus::systemError, ENOTDIR));
    EXPECT_TRUE(Is(Open(m_strOutside + "/sub", true), SafeFileStatus::systemError, ENOTDIR));
    EXPECT_TRUE(Is(Open(""), SafeFileStatus::systemError, ENOENT));
}

TEST_F(SafeFileTest, MissingFoldersAreCreatedPrivate) {
    const std::string strDeep = m_scratch.Path() + "/a/b//c/";
    ASSERT_TRUE(Open(strDeep, true));
    ASSERT_TRUE(Open(strDeep, true)); // an existing folder is accepted
    for (const char* psz : {"/a", "/a/b", "/a/b/c"})
        EXPECT_EQ(Stat(m_scratch.Path() + psz).st_mode & 0777, 0700u) << psz;
}

TEST_F(SafeFileTest, FolderOfAnotherUserIsRefused) {
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(m_strFolder.c_str(), kOtherUser, kOtherUser), 0);
        EXPECT_TRUE(Is(Open(m_strFolder), SafeFileStatus::folderNotOwn));
        EXPECT_TRUE(Is(Write(m_strFolder, "Documents.log", "x"), SafeFileStatus::folderNotOwn));
        EXPECT_TRUE(fs::is_empty(m_strFolder));
    } else {
        // The root folder is root's and nobody else may write in it.
        EXPECT_TRUE(Is(Open("/"), SafeFileStatus::folderNotOwn));
    }
}

TEST_F(SafeFileTest, APlainFileOfTheUsersIsRewrittenInPlace) {
    EXPECT_TRUE(Write(m_strFolder, "Documents.log", "first, longer text\r\n"));
    const struct stat before = Stat(m_strFolder + "/Documents.log");
    EXPECT_EQ(before.st_mode & 0777, 0600u);
    EXPECT_TRUE(Write(m_strFolder, "Documents.log", "second\r\n"));
    const struct stat after = Stat(m_strFolder + "/Documents.log");
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(m_strFolder + "/Documents.log"), "second\r\n");

    ASSERT_EQ(::chmod((m_strFolder + "/Documents.log").c_str(), 0644), 0);
    EXPECT_TRUE(Write(m_strFolder, "Documents.log", "third\r\n"));
    EXPECT_EQ(Stat(m_strFolder + "/Documents.log").st_mode & 0777, 0600u); // private again
    EXPECT_EQ(Names(m_strFolder), std::vector<std::string>{"Documents.log"});
}

TEST_F(SafeFileTest, WhatElseStandsAtTheNameIsReplacedNeverWrittenThrough) {
    const std::string strLink = m_strFolder + "/link.log";
    const std::string strHard = m_strFolder + "/hard.log";
    const std::string strPipe = m_strFolder + "/pipe.log";
    ASSERT_EQ(::symlink(m_strOutside.c_str(), strLink.c_str()), 0);
    ASSERT_EQ(::link(m_strOutside.c_str(), strHard.c_str()), 0);
    ASSERT_EQ(::mkfifo(strPipe.c_str(), 0600), 0);
    // A pipe opened for writing without a reader would hold the program for good.
    EXPECT_EQ(0, RunInChild([&] {
                  ::alarm(10);
                  for (const char* psz : {"link.log", "hard.log", "pipe.log"}) {
                      CFileHandle folder;
                      CHILD_CHECK(OpenPrivateFolder(m_strFolder, false, folder));
                      CHILD_CHECK(WriteWholeFile(folder, psz, std::string("new ") + psz));
                  }
                  return 0;
              }));
    EXPECT_EQ(ReadFile(m_strOutside), "keep me");
    EXPECT_EQ(Stat(m_strOutside).st_nlink, 1u);
    for (const std::string& strPath : {strLink, strHard, strPipe}) {
        const struct stat st = Stat(strPath);
        EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid()) << strPath;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << strPath;
    }
    if (S_ISREG(Stat(strPipe).st_mode)) { // reading a pipe would hold the test
        EXPECT_EQ(ReadFile(strPipe), "new pipe.log");
    }
    EXPECT_EQ(Names(m_strFolder), (std::vector<std::string>{"hard.log", "link.log", "pipe.log"}));
}

TEST_F(SafeFileTest, AFileOfAnotherUserIsReplaced) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand a file to another user";
    const std::string strFile = m_strFolder + "/Images.log";
    WriteFile(strFile, "theirs");
    ASSERT_EQ(::chown(strFile.c_str(), kOtherUser, kOtherUser), 0);
    CFileHandle theirs(::open(strFile.c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_TRUE(Write(m_strFolder, "Images.log", "ours"));
    EXPECT_EQ(ReadFile(strFile), "ours");
    EXPECT_EQ(Stat(strFile).st_uid, ::geteuid());
    char buf[16] = {};
    EXPECT_EQ(::pread(theirs.Get(), buf, sizeof buf, 0), 6);
    EXPECT_STREQ(buf, "theirs"); // their file was let go, not emptied
}

TEST_F(SafeFileTest, AFolderAtTheNameOrANameWithASeparatorIsRefused) {
    ASSERT_TRUE(fs::create_directory(m_strFolder + "/Music.log"));
    EXPECT_TRUE(Is(Write(m_strFolder, "Music.log", "x"), SafeFileStatus::systemError, EISDIR));
    EXPECT_TRUE(fs::is_empty(m_strFolder + "/Music.log"));
    ASSERT_TRUE(fs::create_directory(m_strFolder + "/sub"));
    for (const char* psz : {"sub/a.log", "", ".", ".."})
        EXPECT_TRUE(Is(Write(m_strFolder, psz, "x"), SafeFileStatus::systemError, EINVAL)) << psz;
    EXPECT_EQ(Names(m_strFolder), (std::vector<std::string>{"Music.log", "sub"})); // no leftovers
    EXPECT_TRUE(fs::is_empty(m_strFolder + "/sub"));
}

TEST_F(SafeFileTest, AFullDiskIsReportedNeverTakenForSuccess) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small file system";
    const std::string strSmall = m_scratch.Path() + "/small";
    ASSERT_TRUE(fs::create_directory(strSmall));
    if (::mount("tarrow-test", strSmall.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                "size=16k,mode=0700") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string strPath;
        ~Unmount() { ::umount2(strPath.c_str(), MNT_DETACH); }
    } unmount{strSmall};

    // A file cut short is not left to pass for the whole text, nor to hold the space.
    const std::string strBig(256 * 1024, 'x');
    EXPECT_TRUE(Is(Write(strSmall, "new.log", strBig), SafeFileStatus::systemError, ENOSPC));
    EXPECT_EQ(Names(strSmall), std::vector<std::string>{});
    WriteFile(strSmall + "/old.log", "old");
    EXPECT_TRUE(Is(Write(strSmall, "old.log", strBig), SafeFileStatus::systemError, ENOSPC));
    EXPECT_EQ(Names(strSmall), std::vector<std::string>{});
    EXPECT_TRUE(Write(strSmall, "after.log", std::string(8 * 1024, 'y')));
    ::unlink((strSmall + "/after.log").c_str());
    // Through a new file renamed over a link: nothing is left of it, the link stays.
    ASSERT_EQ(::symlink(m_strOutside.c_str(), (strSmall + "/link.log").c_str()), 0);
    EXPECT_TRUE(Is(Write(strSmall, "link.log", strBig), SafeFileStatus::systemError, ENOSPC));
    EXPECT_EQ(Names(strSmall), std::vector<std::string>{"link.log"});
    EXPECT_TRUE(fs::is_symlink(strSmall + "/link.log"));
    EXPECT_TRUE(Write(strSmall, "link.log", "fits"));
}

TEST_F(SafeFileTest, AppendingRefusesWhatItCannotWriteInPlace) {
    const std::string strOwn = m_strFolder + "/t.log";
    ASSERT_EQ(::symlink(m_strOutside.c_str(), (m_strFolder + "/link.log").c_str()), 0);
    ASSERT_EQ(::link(m_strOutside.c_str(), (m_strFolder + "/hard.log").c_str()), 0);
    ASSERT_EQ(::mkfifo((m_strFolder + "/pipe.log").c_str(), 0600), 0);
    ASSERT_TRUE(fs::create_directory(m_strFolder + "/dir.log"));
    CFileHandle folder;
    ASSERT_TRUE(OpenPrivateFolder(m_strFolder, false, folder));
    for (const char* psz : {"link.log", "hard.log", "pipe.log", "dir.log"}) {
        CFileHandle file;
        EXPECT_TRUE(Is(OpenFileForAppend(folder, psz, file), SafeFileStatus::notPlainFile)) << psz;
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_EQ(ReadFile(m_strOutside), "keep me");

    CFileHandle file;
    ASSERT_TRUE(OpenFileForAppend(folder, "t.log", file));
    EXPECT_EQ(WriteAll(file.Get(), "one "), 0);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(Stat(strOwn).st_mode & 0777, 0600u);
    ASSERT_TRUE(OpenFileForAppend(folder, "t.log", file));
    EXPECT_EQ(WriteAll(file.Get(), "two"), 0);
    EXPECT_EQ(ReadFile(strOwn), "one two");
}

TEST_F(SafeFileTest, ReplacingGoesOnlyOverNothingOrAPlainFileOfTheUsers) {
    CFileHandle folder;
    ASSERT_TRUE(OpenFolder(m_strFolder, folder));
    const std::string strPath = m_strFolder + "/t.prom";
    EXPECT_TRUE(ReplaceWholeFile(folder, "t.prom", "one", 0644));
    const struct stat first = Stat(strPath);
    EXPECT_EQ(first.st_mode & 0777, 0644u);
    EXPECT_TRUE(ReplaceWholeFile(folder, "t.prom", "two", 0644));
    EXPECT_NE(Stat(strPath).st_ino, first.st_ino); // a new file, never the old one rewritten
    EXPECT_EQ(ReadFile(strPath), "two");

    // What was checked before a long run may have changed hands when it is written.
    const std::function<int(const char*)> plants[] = {
        [&](const char* p) { return ::symlink(m_strOutside.c_str(), p); },
        [&](const char* p) { return ::link(m_strOutside.c_str(), p); },
        [](const char* p) { return ::mkfifo(p, 0600); },
        [](const char* p) { return ::mkdir(p, 0700); },
    };
    for (const auto& plant : plants) {
        ASSERT_TRUE(CheckReplaceable(folder, "t.prom"));
        ASSERT_EQ(::unlink(strPath.c_str()), 0);
        ASSERT_EQ(plant(strPath.c_str()), 0);
        const struct stat planted = Stat(strPath);
        EXPECT_TRUE(Is(CheckReplaceable(folder, "t.prom"), SafeFileStatus::notPlainFile));
        EXPECT_TRUE(
            Is(ReplaceWholeFile(folder, "t.prom", "x", 0644), SafeFileStatus::notPlainFile));
        EXPECT_EQ(Stat(strPath).st_ino, planted.st_ino);
        EXPECT_EQ(Names(m_strFolder), std::vector<std::string>{"t.prom"}); // nothing left over
        ::rmdir(strPath.c_str());
        ::unlink(strPath.c_str());
        WriteFile(strPath, "own");
    }
    EXPECT_EQ(ReadFile(m_strOutside), "keep me");
}
