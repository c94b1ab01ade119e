// The engine's window for an object of the interface thread: a handle g_hTargetWnd can
// name, with the delivery the engine relies on. A sender waits until its message has
// been handled; the interface thread never waits for a sender.
#pragma once

#include "platform/Window.h"

#include <functional>
#include <memory>

class QObject;

class CQtWindow {
public:
    // Created on the interface thread, whose event loop then runs fnHandler for every
    // message, sent or posted, from any thread. Messages fnRunsOnSender accepts are the
    // exception: a sender on another thread runs fnHandler itself, at the same time as
    // the interface thread and other senders, so no thread switch is paid per message;
    // what that handler shares it locks, and it never waits for the interface thread.
    CQtWindow(MessageHandler fnHandler, std::function<bool(UINT nMsg)> fnRunsOnSender);
    // The handle names no window from here on. Waits for handlers running on senders
    // to return; senders waiting for the interface thread are released with 0.
    ~CQtWindow();
    CQtWindow(const CQtWindow&) = delete;
    CQtWindow& operator=(const CQtWindow&) = delete;

    HWND GetSafeHwnd() const noexcept { return m_hWnd; }

private:
    class CState;
    class CPump;

    std::unique_ptr<CPump> m_pPump; // lives on the interface thread
    std::shared_ptr<CState> m_pState;
    HWND m_hWnd;
};
