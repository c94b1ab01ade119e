#include "ScanControl.h"
#include "ScanTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A receiver living on a thread of its own that pumps until told to stop.
class CPumpingThread {
public:
    explicit CPumpingThread(MessageHandler handler) {
        std::atomic<bool> bReady{false};
        m_thread = std::thread([&, handler = std::move(handler)] {
            CThreadWindow window(handler);
            m_hWnd = window.GetSafeHwnd();
            m_owner = std::this_thread::get_id();
            bReady = true;
            while (!m_bStop)
                window.PumpMessages(5);
        });
        while (!bReady)
            std::this_thread::yield();
    }
    ~CPumpingThread() {
        m_bStop = true;
        m_thread.join();
    }
    HWND Hwnd() const { return m_hWnd; }
    std::thread::id Owner() const { return m_owner; }

private:
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    HWND m_hWnd;
    std::thread::id m_owner;
};

} // namespace

TEST(Window, SendRunsTheHandlerOnTheReceiversThreadWhileTheSenderWaits) {
    std::thread::id handledOn;
    CPumpingThread receiver([&](UINT nMsg, WPARAM wParam, LPARAM) -> LRESULT {
        handledOn = std::this_thread::get_id();
        std::this_thread::sleep_for(10ms);
        return static_cast<LRESULT>(nMsg + wParam);
    });
    EXPECT_TRUE(IsWindow(receiver.Hwnd()));
    EXPECT_EQ(SendMessage(receiver.Hwnd(), 1000, 24, 0), 1024);
    EXPECT_EQ(handledOn, receiver.Owner());
}

TEST(Window, PostedAndSentMessagesArriveInOrder) {
    std::vector<UINT> order;
    std::mutex lock;
    CPumpingThread receiver([&](UINT nMsg, WPARAM, LPARAM) -> LRESULT {
        std::lock_guard g(lock);
        order.push_back(nMsg);
        return 0;
    });
    EXPECT_TRUE(PostMessage(receiver.Hwnd(), 1, 0, 0));
    EXPECT_TRUE(PostMessage(receiver.Hwnd(), 2, 0, 0));
    SendMessage(receiver.Hwnd(), 3, 0, 0); // returns after 1 and 2 were handled
    std::lock_guard g(lock);
    EXPECT_EQ(order, (std::vector<UINT>{1, 2, 3}));
}

TEST(Window, GoneWindowReceivesNothingAndReleasesWaitingSenders) {
    auto pWindow =
        std::make_unique<CThreadWindow>([](UINT, WPARAM, LPARAM) -> LRESULT { return 1; });
    HWND hWnd = pWindow->GetSafeHwnd();
    EXPECT_TRUE(IsWindow(hWnd));
    EXPECT_EQ(SendMessage(hWnd, 5, 0, 0), 1); // from the owner thread: handled at once

    // A sender on another thread waits while nobody pumps; closing the window releases it.
    std::atomic<LRESULT> nResult{-1};
    std::thread sender([&] { nResult = SendMessage(hWnd, 5, 0, 0); });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(nResult.load(), -1);
    pWindow.reset();
    sender.join();
    EXPECT_EQ(nResult.load(), 0);

    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(SendMessage(hWnd, 5, 0, 0), 0);
    EXPECT_FALSE(PostMessage(hWnd, 5, 0, 0));
    EXPECT_FALSE(IsWindow(HWND{}));
}

TEST(Window, DirectWindowHandlesOnTheSendingThreadOneAtATime) {
    std::atomic<int> nInside{0}, nMaxInside{0}, nCalls{0};
    std::set<std::thread::id> threads;
    std::mutex lock;
    CDirectWindow window([&](UINT, WPARAM, LPARAM) -> LRESULT {
        int n = ++nInside;
        nMaxInside = std::max(nMaxInside.load(), n);
        {
            std::lock_guard g(lock);
            threads.insert(std::this_thread::get_id());
        }
        ++nCalls;
        --nInside;
        return 0;
    });
    std::vector<std::thread> senders;
    for (int i = 0; i < 4; ++i) {
        senders.emplace_back([&] {
            for (int k = 0; k < 500; ++k)
                SendMessage(window.GetSafeHwnd(), 7, 0, 0);
        });
    }
    for (auto& t : senders)
        t.join();
    EXPECT_EQ(nCalls.load(), 2000);
    EXPECT_EQ(nMaxInside.load(), 1);
    EXPECT_EQ(threads.size(), 4u);

    EXPECT_TRUE(PostMessage(window.GetSafeHwnd(), 8, 0, 0));
    EXPECT_EQ(nCalls.load(), 2000);
    EXPECT_EQ(window.DispatchPosted(), 1);
    EXPECT_EQ(nCalls.load(), 2001);
}

TEST(NotifyFileFound, SentOnlyToALiveTargetWhileAScanRuns) {
    FileProperty prop;
    prop.m_strPath = "/x/a.doc";
    prop.m_nSize = 12;
    {
        CRecordingTarget target;
        SetScanRunning();
        NotifyFileFound("Documents", prop);
        ASSERT_EQ(target.Found().size(), 1u);
        EXPECT_EQ(target.Found()[0].strGroup, "Documents");
        EXPECT_EQ(target.Found()[0].prop.m_strPath, "/x/a.doc");
        EXPECT_EQ(target.Found()[0].prop.m_nSize, 12);

        EnumFinished.Set(); // no scan running: nothing is sent
        NotifyFileFound("Documents", prop);
        EXPECT_EQ(target.Found().size(), 1u);
        EnumFinished.Reset();
    }
    // The target is gone: nothing to send to, and nothing fails.
    NotifyFileFound("Documents", prop);
    SetScanIdle();
}
