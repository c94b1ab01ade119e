#include "QtWindow.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr UINT WM_ON_SENDER = WM_USER + 1;
constexpr UINT WM_ON_INTERFACE = WM_USER + 2;

// A window recording which thread handled what, in order.
struct Recorder {
    struct Handled {
        UINT nMsg;
        WPARAM wParam;
        std::thread::id thread;
    };
    std::mutex lock;
    std::vector<Handled> arrHandled;
    std::function<void(UINT)> fnDuring;

    void Open(std::optional<CQtWindow>& window) {
        window.emplace(
            [this](UINT nMsg, WPARAM wParam, LPARAM lParam) -> LRESULT {
                if (fnDuring)
                    fnDuring(nMsg);
                std::lock_guard guard(lock);
                arrHandled.push_back({nMsg, wParam, std::this_thread::get_id()});
                return lParam + 1;
            },
            [](UINT nMsg) { return nMsg == WM_ON_SENDER; });
    }
    std::vector<Handled> Get() {
        std::lock_guard guard(lock);
        return arrHandled;
    }
};

TEST(QtWindow, SentMessagesRunOnTheInterfaceThreadWhileTheSenderWaitsExceptThoseForTheSender) {
    Recorder rec;
    std::optional<CQtWindow> window;
    rec.Open(window);
    const HWND hWnd = window->GetSafeHwnd();
    const auto idInterface = std::this_thread::get_id();

    std::atomic<bool> bReturned{false};
    std::atomic<LRESULT> nResult{0};
    std::thread::id idSender;
    std::thread sender([&] {
        idSender = std::this_thread::get_id();
        EXPECT_EQ(SendMessage(hWnd, WM_ON_SENDER, 1, 10), 11);
        EXPECT_TRUE(PostMessage(hWnd, WM_ON_INTERFACE, 2, 0));
        nResult = SendMessage(hWnd, WM_ON_INTERFACE, 3, 20);
        bReturned = true;
    });
    // The sender waits for the interface thread, which has not looked yet.
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(bReturned);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bReturned.load(); }, 5000));
    sender.join();
    EXPECT_EQ(nResult, 21);

    const auto arrHandled = rec.Get();
    ASSERT_EQ(arrHandled.size(), 3u);
    EXPECT_EQ(arrHandled[0].thread, idSender);
    EXPECT_EQ(arrHandled[1].wParam, 2u); // posted before the send: handled first
    EXPECT_EQ(arrHandled[1].thread, idInterface);
    EXPECT_EQ(arrHandled[2].wParam, 3u);
    EXPECT_EQ(arrHandled[2].thread, idInterface);

    // From the interface thread itself a send is a call.
    EXPECT_EQ(SendMessage(hWnd, WM_ON_INTERFACE, 4, 30), 31);
    EXPECT_EQ(rec.Get().size(), 4u);
}

TEST(QtWindow, DestroyedWhileSendersWaitOrHandleItReleasesThemAndNothingReachesItAfter) {
    Recorder rec;
    std::atomic<bool> bInHandler{false};
    std::atomic<bool> bHandlerDone{false};
    rec.fnDuring = [&](UINT nMsg) {
        if (nMsg == WM_ON_SENDER) {
            bInHandler = true;
            std::this_thread::sleep_for(100ms);
            bHandlerDone = true;
        }
    };
    std::optional<CQtWindow> window;
    rec.Open(window);
    const HWND hWnd = window->GetSafeHwnd();

    std::atomic<LRESULT> nWaiting{-1};
    std::thread waiting([&] { nWaiting = SendMessage(hWnd, WM_ON_INTERFACE, 0, 5); });
    std::thread handling([&] { SendMessage(hWnd, WM_ON_SENDER, 0, 5); });
    while (!bInHandler)
        std::this_thread::yield();
    std::this_thread::sleep_for(20ms); // the other sender is queued by now

    window.reset();            // no event loop ran: the waiting sender is released by the window
    EXPECT_TRUE(bHandlerDone); // the handler on the sender finished before the window went
    waiting.join();
    handling.join();
    EXPECT_EQ(nWaiting, 0);

    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(SendMessage(hWnd, WM_ON_SENDER, 0, 5), 0);
    std::thread late([&] { EXPECT_EQ(SendMessage(hWnd, WM_ON_INTERFACE, 0, 5), 0); });
    late.join();
    QCoreApplication::processEvents();
    const auto arrHandled = rec.Get();
    ASSERT_EQ(arrHandled.size(), 1u);
    EXPECT_EQ(arrHandled[0].nMsg, WM_ON_SENDER);
}

} // namespace
