// Pause of the NTFS enumerator from another thread, at both of its stages.
#include "MftEnum.h"
#include "engine/FakeVolumeJournal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace ntfs_test;

namespace {

constexpr std::uint64_t kRoot = 0x0005000000000005ull;

bool WaitFor(const std::atomic<bool>& bFlag) {
    for (int i = 0; i < 1000 && !bFlag.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return bFlag.load();
}

// Time for a worker that should be blocked to show that it is not.
void Linger() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

class MftEnumThreadTest : public ::testing::Test {
protected:
    MftEnumThreadTest() {
        auto p = std::make_unique<CFakeVolumeJournal>();
        journal = p.get();
        journal->nRootReference = kRoot;
        journal->buffers = {CUsnBuffer(9).Add(21, kRoot, u"a.docx").Add(22, kRoot, u"b.docx"),
                            CUsnBuffer(19).Add(23, kRoot, u"c.docx")};
        for (const char* psz : {"a", "b", "c"})
            journal->files["/mnt/win/" + std::string(psz) + ".docx"] = RegularFile(1);
        mft = std::make_unique<CMftEnum>(std::move(p));
        mft->AddGroup("Documents", "*.docx");
    }

    ~MftEnumThreadTest() override {
        if (worker.joinable()) { // a failed expectation must not leave the worker blocked
            ForceEvent.Set();
            worker.join();
        }
    }

    void Start() {
        worker = std::thread([this] { bResult = mft->EnumerateDrive("/mnt/win"); });
    }

    const std::vector<std::string> all = {"/mnt/win/a.docx", "/mnt/win/b.docx", "/mnt/win/c.docx"};
    CScanTarget target;
    CFakeVolumeJournal* journal;
    std::unique_ptr<CMftEnum> mft;
    std::thread worker;
    std::atomic<bool> bPaused{false};
    std::atomic<bool> bResult{false};
};

} // namespace

TEST_F(MftEnumThreadTest, PauseDuringThePassBlocksAtTheNextRecordAndResumesThere) {
    journal->onEnumerate = [this](std::size_t nRequest) {
        if (nRequest == 1) {
            ResumeEvent.Reset();
            bPaused = true;
        }
    };
    Start();
    ASSERT_TRUE(WaitFor(bPaused));
    Linger();
    EXPECT_TRUE(target.Found().empty());
    EXPECT_TRUE(journal->attributeReads.empty()) << "the report has not begun";
    ResumeEvent.Set();
    worker.join();
    EXPECT_TRUE(bResult);
    EXPECT_EQ(target.Paths(), all);
}

TEST_F(MftEnumThreadTest, PauseDuringTheReportBlocksAtTheNextFileAndResumesThere) {
    target.OnFound([this](const FoundFile&) {
        if (!bPaused) {
            ResumeEvent.Reset();
            bPaused = true;
        }
    });
    Start();
    ASSERT_TRUE(WaitFor(bPaused));
    Linger();
    EXPECT_EQ(target.Found().size(), 1u);
    EXPECT_EQ(journal->attributeReads.size(), 1u);
    ResumeEvent.Set();
    worker.join();
    EXPECT_TRUE(bResult);
    EXPECT_EQ(target.Paths(), all);
}
