#include "GroupList.h"
#include "ScanTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(GroupList, TextIsOneFullPathPerLine) {
    std::vector<FileProperty> records(2);
    records[0].m_strPath = "/home/bob/a.doc";
    records[1].m_strPath = "/b\xE9.pdf"; // bytes as the file system gave them
    EXPECT_EQ(GroupListText(records), "/home/bob/a.doc\r\n/b\xE9.pdf\r\n");
    EXPECT_EQ(GroupListText(std::vector<FileProperty>()), "");
}

TEST(GroupList, WrittenOrTheReasonWhyNot) {
    CTempTree tree;
    const std::string strFolder = tree.Folder("Tarrow");
    ASSERT_EQ(::chmod(strFolder.c_str(), 0700), 0);
    EXPECT_TRUE(WriteGroupListFile(strFolder, "Documents", "/a.doc\r\n"));
    EXPECT_EQ(Read(strFolder + "/Documents.log"), "/a.doc\r\n");
    EXPECT_TRUE(WriteGroupListFile(strFolder, "Video", "")); // nothing to write
    EXPECT_FALSE(fs::exists(strFolder + "/Video.log"));

    // The folder is never created here.
    SafeFileResult r = WriteGroupListFile(tree.Path("missing"), "Images", "/b.png\r\n");
    EXPECT_EQ(r.m_status, SafeFileStatus::systemError);
    EXPECT_EQ(r.m_nErrno, ENOENT);
    EXPECT_FALSE(fs::exists(tree.Path("missing")));

    // A link at the folder's place, with a trailing separator that once let it through.
    fs::create_directory_symlink(strFolder, tree.Path("link"));
    r = WriteGroupListFile(tree.Path("link/"), "Music", "/c.mp3\r\n");
    EXPECT_EQ(r.m_status, SafeFileStatus::linkInPath) << r.GetText();
    EXPECT_FALSE(fs::exists(strFolder + "/Music.log"));
}

TEST(GroupList, AGroupWithoutFilesLeavesNoListOfAnEarlierScan) {
    CTempTree tree;
    const std::string strFolder = tree.Folder("Tarrow");
    ASSERT_EQ(::chmod(strFolder.c_str(), 0700), 0);
    ASSERT_TRUE(WriteGroupListFile(strFolder, "Video", "/b.mkv\r\n"));
    EXPECT_TRUE(WriteGroupListFile(strFolder, "Video", ""));
    EXPECT_FALSE(fs::exists(strFolder + "/Video.log"));

    // A link at the name goes itself; what it points to stays. A folder there is kept
    // and said, as writing would refuse it.
    const std::string strOutside = tree.File("outside.log", 3);
    fs::create_symlink(strOutside, strFolder + "/Music.log");
    EXPECT_TRUE(WriteGroupListFile(strFolder, "Music", ""));
    EXPECT_FALSE(fs::is_symlink(strFolder + "/Music.log"));
    EXPECT_EQ(fs::file_size(strOutside), 3u);
    fs::create_directory(strFolder + "/Images.log");
    EXPECT_FALSE(WriteGroupListFile(strFolder, "Images", ""));
    EXPECT_TRUE(fs::is_directory(strFolder + "/Images.log"));

    // No folder holds no list, and is not made for one; a refused folder is not entered.
    EXPECT_TRUE(WriteGroupListFile(tree.Path("missing"), "Video", ""));
    EXPECT_FALSE(fs::exists(tree.Path("missing")));
    ASSERT_TRUE(WriteGroupListFile(strFolder, "Documents", "/a.doc\r\n"));
    fs::create_directory_symlink(strFolder, tree.Path("link"));
    EXPECT_EQ(WriteGroupListFile(tree.Path("link"), "Documents", "").m_status,
              SafeFileStatus::linkInPath);
    EXPECT_TRUE(fs::exists(strFolder + "/Documents.log"));
}

TEST(GroupList, FolderOfAnotherUserIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand a folder to another user";
    CTempTree tree;
    const std::string strFolder = tree.Folder("Tarrow");
    ASSERT_EQ(::chmod(strFolder.c_str(), 0700), 0);
    ASSERT_EQ(::chown(strFolder.c_str(), 65534, 65534), 0); // nobody
    SafeFileResult r = WriteGroupListFile(strFolder, "Documents", "/a.doc\r\n");
    EXPECT_EQ(r.m_status, SafeFileStatus::folderNotOwn) << r.GetText();
    EXPECT_EQ(r.GetText(), "the folder belongs to another user");
    EXPECT_FALSE(fs::exists(strFolder + "/Documents.log"));
}
