#include "QtWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// What a sender waiting for the interface thread waits on.
class CCall {
public:
    void Complete(LRESULT nResult) {
        {
            std::lock_guard lock(m_lock);
            m_nResult = nResult;
            m_bDone = true;
        }
        m_done.notify_all();
    }
    LRESULT Wait() {
        std::unique_lock lock(m_lock);
        m_done.wait(lock, [this] { return m_bDone; });
        return m_nResult;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    LRESULT m_nResult = 0;
    bool m_bDone = false;
};

const QEvent::Type kWindowMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

// One message on its way to the interface thread. A sent one releases its sender when the
// event goes: after it was handled, or when Qt drops it with its receiver.
class CWindowMessageEvent : public QEvent {
public:
    CWindowMessageEvent(UINT nMsg, WPARAM wParam, LPARAM lParam, std::shared_ptr<CCall> pCall)
        : QEvent(kWindowMessage), m_nMsg(nMsg), m_wParam(wParam), m_lParam(lParam),
          m_pCall(std::move(pCall)) {}
    ~CWindowMessageEvent() override {
        if (m_pCall)
            m_pCall->Complete(m_nResult);
    }
    CWindowMessageEvent(const CWindowMessageEvent&) = delete;
    CWindowMessageEvent& operator=(const CWindowMessageEvent&) = delete;

    const UINT m_nMsg;
    const WPARAM m_wParam;
    const LPARAM m_lParam;
    LRESULT m_nResult = 0;

private:
    std::shared_ptr<CCall> m_pCall; // null: posted
};

} // namespace

// Held by the registry (and by a sender while it sends), so it may outlive the window.
class CQtWindow::CState final : public IMessageTarget {
public:
    CState(MessageHandler fnHandler, std::function<bool(UINT)> fnRunsOnSender, QObject* pPump)
        : m_fnHandler(std::move(fnHandler)), m_fnRunsOnSender(std::move(fnRunsOnSender)),
          m_pPump(pPump), m_owner(std::this_thread::get_id()) {}

    LRESULT Send(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
        if (std::this_thread::get_id() == m_owner)
            return m_bClosed.load() ? 0 : m_fnHandler(nMsg, wParam, lParam);
        if (!Enter())
            return 0;
        if (m_fnRunsOnSender && m_fnRunsOnSender(nMsg)) {
            const LRESULT nResult = m_fnHandler(nMsg, wParam, lParam);
            Leave();
            return nResult;
        }
        auto pCall = std::make_shared<CCall>();
        Queue(nMsg, wParam, lParam, pCall);
        Leave(); // before waiting: Close must never wait for the interface thread
        return pCall->Wait();
    }

    bool Post(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
        if (!Enter())
            return false;
        Queue(nMsg, wParam, lParam, nullptr);
        Leave();
        return true;
    }

    LRESULT Dispatch(const CWindowMessageEvent& msg) {
        return m_bClosed.load() ? 0 : m_fnHandler(msg.m_nMsg, msg.m_wParam, msg.m_lParam);
    }

    // From here on no sender runs the handler or reaches the pump.
    void Close() {
        m_bClosed.store(true);
        for (int n = m_nInside.load(); n != 0; n = m_nInside.load())
            m_nInside.wait(n);
    }

private:
    // Sequentially consistent: either a sender sees m_bClosed, or Close sees the sender.
    bool Enter() {
        m_nInside.fetch_add(1);
        if (!m_bClosed.load())
            return true;
        Leave();
        return false;
    }
    void Leave() {
        if (m_nInside.fetch_sub(1) == 1 && m_bClosed.load())
            m_nInside.notify_all();
    }

    void Queue(UINT nMsg, WPARAM wParam, LPARAM lParam, std::shared_ptr<CCall> pCall) {
        // postEvent takes the event over, also when it cannot deliver it.
        QCoreApplication::postEvent(
            m_pPump, std::make_unique<CWindowMessageEvent>(nMsg, wParam, lParam, std::move(pCall))
                         .release());
    }

    const MessageHandler m_fnHandler;
    const std::function<bool(UINT)> m_fnRunsOnSender;
    QObject* const m_pPump;
    const std::thread::id m_owner;
    std::atomic<bool> m_bClosed{false};
    std::atomic<int> m_nInside{0}; // senders between Enter and Leave
};

class CQtWindow::CPump final : public QObject {
public:
    void SetState(CState* pState) { m_pState = pState; }

protected:
    bool event(QEvent* pEvent) override {
        if (pEvent->type() != kWindowMessage || !m_pState)
            return QObject::event(pEvent);
        auto* pMsg = static_cast<CWindowMessageEvent*>(pEvent);
        pMsg->m_nResult = m_pState->Dispatch(*pMsg);
        return true;
    }

private:
    CState* m_pState = nullptr; // owned by the window, which destroys the pump first
};

CQtWindow::CQtWindow(MessageHandler fnHandler, std::function<bool(UINT)> fnRunsOnSender)
    : m_pPump(std::make_unique<CPump>()),
      m_pState(
          std::make_shared<CState>(std::move(fnHandler), std::move(fnRunsOnSender), m_pPump.get())),
      m_hWnd(RegisterWindow(m_pState)) {
    m_pPump->SetState(m_pState.get());
}

CQtWindow::~CQtWindow() {
    UnregisterWindow(m_hWnd);
    m_pState->Close();
    m_pPump.reset(); // drops what is still queued, releasing its senders
}
