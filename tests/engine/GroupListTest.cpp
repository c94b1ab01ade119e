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

TEST(GroupList, AGroupWithoutFilesLeavesTheListOfAnEarlierScanAsItWas) {
    CTempTree tree;
    const std::string strFolder = tree.Folder("Tarrow");
    ASSERT_EQ(::chmod(strFolder.c_str(), 0700), 0);
    ASSERT_TRUE(WriteGroupListFile(strFolder, "Video", "/b.mkv\r\n"));
    EXPECT_TRUE(WriteGroupListFile(strFolder, "Video", ""));
    EXPECT_EQ(Read(strFolder + "/Video.log"), "/b.mkv\r\n");

    // Nothing at the name is touched, a link neither followed nor taken away; the same
    // through a folder already opened.
    const std::string strOutside = tree.File("outside.log", 3);
    fs::create_symlink(strOutside, strFolder + "/Music.log");
    CFileHandle folder;
    ASSERT_TRUE(OpenPrivateFolder(strFolder, false, folder));
    EXPECT_TRUE(WriteGroupListFile(folder, "Music", ""));
    EXPECT_TRUE(fs::is_symlink(strFolder + "/Music.log"));
    EXPECT_EQ(fs::file_size(strOutside), 3u);
    EXPECT_TRUE(WriteGroupListFile(folder, "Video", ""));
    EXPECT_EQ(Read(strFolder + "/Video.log"), "/b.mkv\r\n");

    // No folder is made for nothing.
    EXPECT_TRUE(WriteGroupListFile(tree.Path("missing"), "Video", ""));
    EXPECT_FALSE(fs::exists(tree.Path("missing")));
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
