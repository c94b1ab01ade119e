// The running byte total read while it carries into its upper word.
#include "ByteTotal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

#include <pthread.h>
#include <time.h>

namespace {

constexpr std::int64_t kNearly2To63 = INT64_MAX;

// Signals sent. ThreadSanitizer delivers them at the reader's atomic loads, so far more
// of them land between its two words, and each costs it a hundred times as much.
#ifdef __SANITIZE_THREAD__
constexpr int kSignals = 200;
#else
constexpr int kSignals = 5000;
#endif

// The counter the signal adds to: the one writer, in the middle of the reader's reads.
std::atomic<CByteCounter*> g_pCounter{nullptr};
std::atomic<std::uint64_t> g_nAdds{0};

// Two adds of nearly 2^63 always carry once past a multiple of 2^64.
void AddTwice(int) {
    for (int i = 0; i < 2; ++i) {
        g_pCounter.load()->Add(kNearly2To63);
        g_nAdds.fetch_add(1);
    }
}

} // namespace

TEST(ByteTotal, AReaderNeverSeesTheSumGoDownWhileCarriesPastTwoToTheSixtyFour) {
    // A reader that reads the upper word, is overtaken by carries, then reads the lower
    // word of another moment sees a sum that the next read takes back. The writer here
    // is a signal that interrupts the reader wherever it is, between its two words among
    // other places, sent again and again from this thread.
    CByteCounter counter;
    g_pCounter.store(&counter);
    g_nAdds.store(0);
    struct sigaction add {
    }, old{};
    add.sa_handler = &AddTwice;
    ASSERT_EQ(::sigaction(SIGUSR2, &add, &old), 0);

    std::atomic<bool> bDone{false};
    ByteCount nFall = 0;
    std::thread reader([&] {
        ByteCount nLast = 0;
        while (!bDone.load(std::memory_order_acquire)) {
            const ByteCount n = counter.Load();
            if (n < nLast && nFall == 0)
                nFall = nLast - n;
            nLast = n;
        }
    });
    for (int i = 0; i < kSignals; ++i) {
        ::pthread_kill(reader.native_handle(), SIGUSR2);
        const timespec t{0, 10'000}; // one at a time: pending ones would merge
        ::nanosleep(&t, nullptr);
    }
    bDone.store(true, std::memory_order_release);
    reader.join();
    ::sigaction(SIGUSR2, &old, nullptr);
    EXPECT_EQ(nFall, 0u) << "a read fell back by " << ByteCountText(nFall);
    EXPECT_EQ(counter.Load(), ByteCount{g_nAdds.load()} * static_cast<ByteCount>(kNearly2To63));
}
