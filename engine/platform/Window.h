// Message delivery between threads, shaped like window messages.
//
// A "window" is a registered receiver with a handle. Sending runs the receiver's
// handler while the sender waits; posting queues the message and returns. Where the
// handler runs is the receiver's business:
//   CThreadWindow  on the thread that created it, inside its message pump;
//   CDirectWindow  on the sending thread itself, one message at a time.
// The user interface supplies its own receiver for its event loop.
#pragma once

#include "Types.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

inline constexpr UINT WM_USER = 0x400;

struct HWND {
    std::uint64_t nId = 0;
    explicit operator bool() const noexcept { return nId != 0; }
    friend bool operator==(HWND, HWND) = default;
};

class IMessageTarget {
public:
    virtual ~IMessageTarget() = default;
    // Returns once the handler has returned (or the receiver is gone: 0).
    virtual LRESULT Send(UINT nMsg, WPARAM wParam, LPARAM lParam) = 0;
    virtual bool Post(UINT nMsg, WPARAM wParam, LPARAM lParam) = 0;
};

// Registration: from RegisterWindow until UnregisterWindow the handle names a window.
HWND RegisterWindow(std::shared_ptr<IMessageTarget> pTarget);
void UnregisterWindow(HWND hWnd);

bool IsWindow(HWND hWnd);
// 0 without sending when hWnd names no window.
LRESULT SendMessage(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
// false when hWnd names no window.
bool PostMessage(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

using MessageHandler = std::function<LRESULT(UINT nMsg, WPARAM wParam, LPARAM lParam)>;

// A window served by the thread that created it. That thread must pump: while a
// sender waits, only the pump runs its handler. A message sent from the owner thread
// itself is handled at once, as a window procedure call would be.
class CThreadWindow {
public:
    explicit CThreadWindow(MessageHandler handler);
    ~CThreadWindow(); // unregisters; senders still waiting are released with 0
    CThreadWindow(const CThreadWindow&) = delete;
    CThreadWindow& operator=(const CThreadWindow&) = delete;

    HWND GetSafeHwnd() const noexcept { return m_hWnd; }

    // Handles queued messages; waits up to dwMilliseconds for the first one.
    // Returns the number handled. Owner thread only.
    int PumpMessages(DWORD dwMilliseconds);

private:
    class State;
    std::shared_ptr<State> m_pState;
    HWND m_hWnd;
};

// A window whose handler runs directly on the sending thread, serialised by a lock:
// no thread switch per message. Posted messages wait for DispatchPosted.
class CDirectWindow {
public:
    explicit CDirectWindow(MessageHandler handler);
    ~CDirectWindow();
    CDirectWindow(const CDirectWindow&) = delete;
    CDirectWindow& operator=(const CDirectWindow&) = delete;

    HWND GetSafeHwnd() const noexcept { return m_hWnd; }
    int DispatchPosted();

private:
    class State;
    std::shared_ptr<State> m_pState;
    HWND m_hWnd;
};
