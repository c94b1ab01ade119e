#include "BackupListing.h"
#include "ScanTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Local time is UTC+05:30, whatever the machine's zone.
class CIndiaTime final : public ILocalTime {
public:
    bool FileTimeToLocalFileTime(const std::timespec& utc, FILETIME& local) const override {
        local.nTicks =
            static_cast<std::uint64_t>((utc.tv_sec + 19800 + 11644473600LL) * 10'000'000);
        return true;
    }
};
const CIndiaTime g_india;

// Local wall-clock seconds of 2024-05-06 at the given local time.
std::int64_t May6(int nHour, int nMinute, int nSecond) {
    SYSTEMTIME st{2024,
                  5,
                  0,
                  6,
                  static_cast<std::uint16_t>(nHour),
                  static_cast<std::uint16_t>(nMinute),
                  static_cast<std::uint16_t>(nSecond),
                  0};
    std::int64_t n = 0;
    EXPECT_TRUE(SystemTimeToSeconds(st, n));
    return n;
}

const std::string kSnapshot =
    R"({"time":"2024-05-06T09:00:00.5+02:00","tree":"ab","paths":["/home/a","/srv"],)"
    R"("hostname":"vm","username":"root","id":"4eaf70","short_id":"4eaf","struct_type":"snapshot"})"
    "\n";

std::string ResticNode(const std::string& strPath, const std::string& strType, int nSize,
                       const std::string& strTime) {
    return R"({"name":"x","type":")" + strType + R"(","path":")" + strPath + R"(","size":)" +
           std::to_string(nSize) + R"(,"mode":420,"mtime":")" + strTime +
           R"(","struct_type":"node"})" + "\n";
}

std::string BorgItem(const std::string& strPath, const std::string& strMode, int nSize,
                     const std::string& strTime, const std::string& strSource = "",
                     bool bHealthy = true) {
    const std::string strType = strMode[0] == 'h' ? "-" : strMode.substr(0, 1);
    return R"({"type": ")" + strType + R"(", "mode": ")" + strMode + R"(", "path": ")" + strPath +
           R"(", "healthy": )" + (bHealthy ? "true" : "false") + R"(, "source": ")" + strSource +
           R"(", "linktarget": ")" + strSource + R"(", "size": )" + std::to_string(nSize) +
           R"(, "mtime": ")" + strTime + "\"}\n";
}

// Reads a listing fed in pieces of nPiece bytes; the error, or "" when it was read.
std::string Read(CBackupIndex& index, const std::string& strListing, std::size_t nPiece = 4096,
                 ListingPathFilter keep = {}) {
    CListingReader reader(index, "test", std::move(keep), g_india);
    for (std::size_t i = 0; i < strListing.size(); i += nPiece) {
        if (!reader.Feed(std::string_view(strListing).substr(i, nPiece)))
            return reader.Error();
    }
    return reader.Finish() ? "" : reader.Error();
}

} // namespace

TEST(BackupListing, ResticAndBorgListingsSayWhatTheyHold) {
    const std::string strRestic =
        kSnapshot + ResticNode("/home/a", "dir", 0, "2024-05-06T01:00:00Z") +
        ResticNode("/home/a/r.doc", "file", 100, "2024-05-06T04:00:07.9+02:00") + // 07:30:07 here
        ResticNode("/home/a/link.doc", "symlink", 5, "2024-05-06T04:00:07Z") +
        R"({"name":"e","type":"file","path":"/home/a/empty.doc","mode":420,)"
        R"("mtime":"2024-05-06T02:00:00Z","struct_type":"node","message_type":"node"})" // size 0
                                                                                        // left out
        "\n";
    const std::string strBorg =
        BorgItem("srv/b.doc", "-rw-r--r--", 200, "2024-05-06T12:00:00.999999") +
        BorgItem("srv/sub/b2.doc", "hrw-r--r--", 0, "2024-05-06T12:00:00.999999", "srv/b.doc") +
        BorgItem("srv/bad.doc", "-rw-r--r--", 3, "2024-05-06T12:00:00", "", false) +
        BorgItem("srv", "drwxr-xr-x", 0, "2024-05-06T12:00:00");
    CBackupIndex index;
    ASSERT_EQ(Read(index, strRestic), "");
    // Fed a byte at a time, a line that spans any number of pieces reads the same.
    ASSERT_EQ(Read(index, strBorg, 1), "");
    index.Seal();

    struct Case {
        const char* pszPath;
        std::int64_t nSize;
        std::int64_t nModified;
        bool bHeld;
    } cases[] = {
        {"/home/a/r.doc", 100, May6(7, 30, 7), true},  // the same second, fraction dropped
        {"/home/a/r.doc", 100, May6(7, 30, 6), true},  // the backup's copy is newer
        {"/home/a/r.doc", 100, May6(7, 30, 8), false}, // written since
        {"/home/a/r.doc", 101, May6(7, 30, 7), false}, // grown
        {"/home/a/R.doc", 100, May6(7, 30, 7), false}, // byte for byte
        {"/home/a/link.doc", 5, May6(9, 30, 7), false},
        {"/home/a/empty.doc", 0, May6(7, 30, 0), true},
        {"/srv/b.doc", 200, May6(12, 0, 0), true}, // borg's local time as it is
        {"/srv/b.doc", 200, May6(12, 0, 1), false},
        {"/srv/sub/b2.doc", 200, May6(12, 0, 0), true}, // its first name's size
        {"/srv/bad.doc", 3, May6(12, 0, 0), false},     // borg could not read it whole
        {"/srv", 0, May6(12, 0, 0), false},
        {"/elsewhere.doc", 100, May6(7, 30, 7), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(index.Holds(c.pszPath, c.nSize, c.nModified), c.bHeld) << c.pszPath;

    ASSERT_EQ(index.Listings().size(), 2u);
    const BackupListingInfo& r = index.Listings()[0];
    EXPECT_EQ(r.tool, BackupTool::restic);
    EXPECT_EQ(r.strSnapshot, "4eaf70");
    EXPECT_EQ(r.strHost, "vm");
    EXPECT_EQ(r.nTime, 1714978800); // 07:00:00 UTC
    EXPECT_EQ(r.arrPaths, (std::vector<std::string>{"/home/a", "/srv"}));
    EXPECT_EQ(r.nFiles, 2);
    const BackupListingInfo& b = index.Listings()[1];
    EXPECT_EQ(b.tool, BackupTool::borg);
    EXPECT_FALSE(b.strSnapshot || b.nTime || b.strHost || b.arrPaths);
    EXPECT_EQ(b.nFiles, 3);
}

TEST(BackupListing, NamesThatAreNotUtf8AreComparedAsTheToolWroteThem) {
    // restic writes each such byte as the escape \ufffd, and U+FFFD itself as its bytes;
    // borg writes each as '?'.
    CBackupIndex index;
    ASSERT_EQ(
        Read(index, kSnapshot +
                        ResticNode(R"(/r/caf\ufffd.jpg)", "file", 1, "2024-05-06T00:00:00Z") +
                        ResticNode("/r/real\xEF\xBF\xBD.jpg", "file", 1, "2024-05-06T00:00:00Z") +
                        ResticNode(R"(/r/two\ufffd\ufffd.jpg)", "file", 1, "2024-05-06T00:00:00Z")),
        "");
    ASSERT_EQ(Read(index, BorgItem("b/caf?.jpg", "-rw-r--r--", 1, "2024-05-06T05:30:00") +
                              BorgItem("b/what?.jpg", "-rw-r--r--", 1, "2024-05-06T05:30:00")),
              "");
    index.Seal();
    const std::int64_t t = May6(5, 30, 0);
    EXPECT_TRUE(index.Holds("/r/caf\xE9.jpg", 1, t));
    EXPECT_TRUE(index.Holds("/r/caf\xFF.jpg", 1, t)); // which byte it was is lost
    EXPECT_FALSE(index.Holds("/r/caf\xEF\xBF\xBD.jpg", 1, t));
    EXPECT_TRUE(index.Holds("/r/real\xEF\xBF\xBD.jpg", 1, t));
    EXPECT_FALSE(index.Holds("/r/real\xE9.jpg", 1, t));
    EXPECT_TRUE(index.Holds("/r/two\xE2\x80.jpg", 1, t)); // a sequence cut short: two bytes
    EXPECT_FALSE(index.Holds("/r/two\xE2\x82\xAC.jpg", 1, t));
    EXPECT_TRUE(index.Holds("/b/caf\xE9.jpg", 1, t));
    EXPECT_TRUE(index.Holds("/b/caf?.jpg", 1, t));
    EXPECT_TRUE(index.Holds("/b/what?.jpg", 1, t));
    EXPECT_FALSE(index.Holds("/b/caf\xC3\xA9.jpg", 1, t)); // valid UTF-8 came exactly
}

TEST(BackupListing, AFilterKeepsOnlyThePathsAskedAbout) {
    CBackupIndex index;
    ASSERT_EQ(Read(index,
                   BorgItem("a.doc", "-rw-r--r--", 1, "2024-05-06T00:00:00") +
                       BorgItem("a.txt", "-rw-r--r--", 1, "2024-05-06T00:00:00") +
                       BorgItem("b.doc", "hrw-r--r--", 0, "2024-05-06T00:00:00", "a.doc"),
                   4096, [](std::string_view s) { return s.ends_with(".doc"); }),
              "");
    EXPECT_EQ(index.Entries(), 2u);
    EXPECT_EQ(index.Listings().at(0).nFiles, 3);
}

TEST(BackupListing, ABadListingSaysWhatIsWrongAndWhere) {
    const std::string strNode = ResticNode("/a.doc", "file", 1, "2024-05-06T00:00:00Z");
    const std::string strItem = BorgItem("a.doc", "-rw-r--r--", 1, "2024-05-06T00:00:00");
    auto replaced = [](std::string s, const std::string& strFrom, const std::string& strTo) {
        return s.replace(s.find(strFrom), strFrom.size(), strTo);
    };
    struct Case {
        std::string strListing;
        std::string strError; // its beginning
    } cases[] = {
        {"", "empty"},
        {"\n  \n", "empty"},
        {kSnapshot + strNode.substr(0, 40), "line 2: not a whole JSON object"},
        {kSnapshot + strNode + "{\"name\":", "line 3: not a whole JSON object"},
        {kSnapshot + std::string(CListingReader::kMaxLine + 1, ' ') + "\n",
         "line 2: longer than 1 MiB"},
        {kSnapshot + std::string(3 * CListingReader::kMaxLine, 'x'), "line 2: longer than 1 MiB"},
        {kSnapshot + replaced(strNode, "\"size\":1", "\"size\":\"1\""), "line 2: \"size\" is not"},
        {kSnapshot + replaced(strNode, "\"size\":1", "\"size\":-1"), "line 2: \"size\" is not"},
        {kSnapshot + replaced(strNode, "\"size\":1", "\"size\":1.5"), "line 2: \"size\" is not"},
        {kSnapshot + replaced(strNode, "\"size\":1", "\"size\":9223372036854775808"),
         "line 2: \"size\" is not"},
        {kSnapshot + replaced(strNode, "\"path\":\"/a.doc\"", "\"path\":7"),
         "line 2: \"path\" is not a string"},
        {kSnapshot + replaced(strNode, "2024-05-06T00:00:00Z", "2024-05-06 00:00:00Z"),
         "line 2: \"mtime\" is not a time"},
        {kSnapshot + replaced(strNode, "2024-05-06T00:00:00Z", "2024-02-30T00:00:00Z"),
         "line 2: \"mtime\" is not a time"},
        {kSnapshot + replaced(strNode, "2024-05-06T00:00:00Z", "2024-05-06T00:00:00"),
         "line 2: \"mtime\" is not a time"}, // restic always gives the offset
        {kSnapshot + replaced(strNode, "\"mtime\":\"2024-05-06T00:00:00Z\",", ""),
         "line 2: a file without \"mtime\""},
        {replaced(kSnapshot, "[\"/home/a\",\"/srv\"]", "\"/home/a\""), "line 1: \"paths\" is not"},
        {replaced(kSnapshot, "[\"/home/a\",\"/srv\"]", "[1]"), "line 1: \"paths\" holds"},
        {kSnapshot + kSnapshot, "line 2: a second snapshot"},
        {strNode, "line 1: a node of restic ls --json, but not the snapshot line"},
        {"[{\"time\":\"2018-08-10T13:41:51+02:00\",\"nodes\":[]}]\n",
         "line 1: one JSON array, as restic 0.9.3 and older"},
        {"{\n  \"archives\": []\n}\n", "line 1: not a whole JSON object"}, // borg list --json
        {"{\"message_type\":\"summary\"}\n", "line 1: a line of restic of the type \"summary\""},
        {"{\"a\":1}\n", "line 1: neither the snapshot line"},
        {"hello\n", "line 1: not a JSON object"},
        {kSnapshot + strNode + "\"x\"\n", "line 3: not a JSON object"},
        {kSnapshot + strNode.substr(0, strNode.size() - 1) + " {}\n", "line 2: more than one"},
        {kSnapshot + replaced(strNode, "/a.doc", "/caf\xE9.doc"), "line 2: holds bytes that are"},
        {strItem + strNode, "line 2: a line of restic in a listing of borg"},
        {strItem + replaced(strItem, "\"healthy\": true", "\"healthy\": 1"),
         "line 2: \"healthy\" is neither"},
        {strItem + replaced(strItem, "\"mode\": \"-rw-r--r--\"", "\"mode\": 420"),
         "line 2: an item without a \"mode\" text"},
        {strItem + BorgItem("b.doc", "hrw-r--r--", 0, "2024-05-06T00:00:00"),
         "line 2: a hard link without the name"},
        {strItem + replaced(strItem, "2024-05-06T00:00:00", "today"),
         "line 2: \"mtime\" is not a time"},
    };
    for (const Case& c : cases) {
        CBackupIndex index;
        const std::string strError = Read(index, c.strListing, 100'000);
        EXPECT_EQ(strError.substr(0, c.strError.size()), c.strError)
            << strError << "\nfor: " << c.strListing.substr(0, 200);
        EXPECT_TRUE(index.Listings().empty());
    }
}

TEST(BackupListing, ManyFilesAreFoundAgainAndNoneElse) {
    CBackupIndex index;
    std::string strListing = kSnapshot;
    for (int i = 0; i < 20'000; ++i)
        strListing +=
            ResticNode("/d/" + std::to_string(i) + ".doc", "file", i, "2024-05-06T00:00:00Z");
    ASSERT_EQ(Read(index, strListing), "");
    index.Seal();
    int nHeld = 0, nWrong = 0;
    for (int i = 0; i < 20'000; ++i) {
        const std::string strPath = "/d/" + std::to_string(i) + ".doc";
        nHeld += index.Holds(strPath, i, May6(5, 30, 0));
        nWrong += index.Holds(strPath, i + 1, May6(5, 30, 0)) +
                  index.Holds("/e/" + std::to_string(i) + ".doc", i, May6(5, 30, 0));
    }
    EXPECT_EQ(nHeld, 20'000);
    EXPECT_EQ(nWrong, 0);
}

namespace {

class ListingFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& strName, const std::string& strText) {
        std::ofstream(m_tree.Path(strName), std::ios::binary) << strText;
        return m_tree.Path(strName);
    }
    ListingResult ReadFile(const std::string& strFile, const ListingReadOptions& o = {}) {
        ListingReadOptions options = o;
        options.pLocalTime = &g_india;
        return ReadListingFile(strFile, m_index, {}, options);
    }

    CTempTree m_tree;
    CBackupIndex m_index;
};

} // namespace

TEST_F(ListingFileTest, FilesPipesAndWhatIsNeither) {
    const std::string strListing =
        kSnapshot + ResticNode("/a.doc", "file", 1, "2024-05-06T00:00:00Z");
    EXPECT_EQ(ReadFile(Write("l.json", strListing)).m_status, ListingStatus::done);
    EXPECT_EQ(ReadFile(m_tree.Path("missing")).m_strWhy, "No such file or directory");
    EXPECT_EQ(ReadFile(m_tree.Root()).m_strWhy, "a folder, not a listing");
    EXPECT_EQ(ReadFile(Write("e.json", "")).m_strWhy.substr(0, 5), "empty");

    // A named pipe: read until its writer closes it; one without a writer is no listing,
    // and does not hold the program.
    const std::string strPipe = m_tree.Path("pipe");
    ASSERT_EQ(::mkfifo(strPipe.c_str(), 0600), 0);
    ListingReadOptions quick;
    quick.nWriterWaitMilliseconds = 200;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadFile(strPipe, quick).m_strWhy, "a named pipe that nobody writes into");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    std::thread writer([&] {
        const int fd = ::open(strPipe.c_str(), O_WRONLY | O_CLOEXEC);
        for (char c : strListing) { // slowly, as a tool that lists as it goes
            if (::write(fd, &c, 1) != 1)
                break;
        }
        ::close(fd);
    });
    const ListingResult r = ReadFile(strPipe);
    writer.join();
    EXPECT_EQ(r.m_status, ListingStatus::done) << r.m_strWhy;
    EXPECT_EQ(m_index.Listings().size(), 2u);
}

TEST_F(ListingFileTest, AFileThatChangesOrGoesWhileItIsReadIsNoListing) {
    std::string strListing = kSnapshot;
    while (strListing.size() < 3 * (CListingReader::kMaxLine + CListingReader::kBlock))
        strListing += ResticNode("/a.doc", "file", 1, "2024-05-06T00:00:00Z");
    const std::string strFile = Write("l.json", strListing);
    for (bool bRemove : {false, true}) {
        int nCalls = 0;
        ListingReadOptions options;
        options.stopped = [&] {
            if (++nCalls == 2) { // once the first block is read
                EXPECT_EQ(bRemove ? ::unlink(strFile.c_str()) : ::truncate(strFile.c_str(), 100),
                          0);
            }
            return false;
        };
        const ListingResult r = ReadFile(strFile, options);
        EXPECT_EQ(r.m_strWhy.substr(0, 39), "changed or went away while it was read:")
            << r.m_strWhy;
        Write("l.json", strListing);
    }
    ListingReadOptions stop;
    stop.stopped = [] { return true; };
    EXPECT_EQ(ReadFile(strFile, stop).m_status, ListingStatus::stopped);
    EXPECT_TRUE(m_index.Listings().empty());
}
