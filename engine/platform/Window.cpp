#include "Window.h"

#include <unordered_map>
#include <utility>

namespace {

struct Registry {
    std::mutex m_lock;
    std::uint64_t m_nNextId = 1;
    std::unordered_map<std::uint64_t, std::shared_ptr<IMessageTarget>> m_windows;
};

Registry& Windows() {
    static Registry registry;
    return registry;
}

std::shared_ptr<IMessageTarget> Find(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    Registry& r = Windows();
    std::lock_guard lock(r.m_lock);
    auto it = r.m_windows.find(hWnd.nId);
    return it == r.m_windows.end() ? nullptr : it->second;
}

struct Message {
    UINT nMsg;
    WPARAM wParam;
    LPARAM lParam;
};

} // namespace

HWND RegisterWindow(std::shared_ptr<IMessageTarget> pTarget) {
    Registry& r = Windows();
    std::lock_guard lock(r.m_lock);
    HWND h{r.m_nNextId++};
    r.m_windows.emplace(h.nId, std::move(pTarget));
    return h;
}

void UnregisterWindow(HWND hWnd) {
    std::shared_ptr<IMessageTarget> pGone;
    Registry& r = Windows();
    {
        std::lock_guard lock(r.m_lock);
        auto it = r.m_windows.find(hWnd.nId);
        if (it == r.m_windows.end())
            return;
        pGone = std::move(it->second);
        r.m_windows.erase(it);
    }
    // pGone is released outside the registry lock.
}

bool IsWindow(HWND hWnd) {
    return Find(hWnd) != nullptr;
}

LRESULT SendMessage(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    auto p = Find(hWnd);
    return p ? p->Send(nMsg, wParam, lParam) : 0;
}

bool PostMessage(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    auto p = Find(hWnd);
    return p && p->Post(nMsg, wParam, lParam);
}

// ---- CThreadWindow ---------------------------------------------------------------

class CThreadWindow::State final : public IMessageTarget {
public:
    explicit State(MessageHandler handler)
        : m_handler(std::move(handler)), m_owner(std::this_thread::get_id()) {}

    LRESULT Send(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
        if (std::this_thread::get_id() == m_owner)
            return m_handler(nMsg, wParam, lParam);
        Pending item{{nMsg, wParam, lParam}};
        std::unique_lock lock(m_lock);
        if (m_bClosed)
            return 0;
        m_queue.push_back(&item);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return item.bDone; });
        return item.nResult;
    }

    bool Post(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
        std::lock_guard lock(m_lock);
        if (m_bClosed)
            return false;
        m_posted.push_back({nMsg, wParam, lParam});
        m_queue.push_back(nullptr); // keeps sent and posted messages in arrival order
        m_changed.notify_all();
        return true;
    }

    int Pump(DWORD dwMilliseconds) {
        std::unique_lock lock(m_lock);
        if (m_queue.empty() && dwMilliseconds != 0) {
            auto ready = [&] { return !m_queue.empty() || m_bClosed; };
            if (dwMilliseconds == INFINITE)
                m_changed.wait(lock, ready);
            else
                m_changed.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), ready);
        }
        int n = 0;
        while (!m_queue.empty()) {
            Pending* pItem = m_queue.front();
            m_queue.pop_front();
            Message msg;
            if (pItem) {
                msg = pItem->msg;
            } else {
                msg = m_posted.front();
                m_posted.pop_front();
            }
            lock.unlock();
            LRESULT r = m_handler(msg.nMsg, msg.wParam, msg.lParam);
            lock.lock();
            if (pItem) {
                pItem->nResult = r;
                pItem->bDone = true;
                m_changed.notify_all();
            }
            ++n;
        }
        return n;
    }

    void Close() {
        std::lock_guard lock(m_lock);
        m_bClosed = true;
        for (Pending* pItem : m_queue) {
            if (pItem)
                pItem->bDone = true;
        }
        m_queue.clear();
        m_posted.clear();
        m_changed.notify_all();
    }

private:
    struct Pending {
        Message msg;
        LRESULT nResult = 0;
        bool bDone = false;
    };

    MessageHandler m_handler;
    std::thread::id m_owner;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Pending*> m_queue; // null: the next posted message
    std::deque<Message> m_posted;
    bool m_bClosed = false;
};

CThreadWindow::CThreadWindow(MessageHandler handler)
    : m_pState(std::make_shared<State>(std::move(handler))), m_hWnd(RegisterWindow(m_pState)) {}

CThreadWindow::~CThreadWindow() {
    UnregisterWindow(m_hWnd);
    m_pState->Close();
}

int CThreadWindow::PumpMessages(DWORD dwMilliseconds) {
    return m_pState->Pump(dwMilliseconds);
}

// ---- CDirectWindow ---------------------------------------------------------------

class CDirectWindow::State final : public IMessageTarget {
public:
    explicit State(MessageHandler handler) : m_handler(std::move(handler)) {}

    LRESULT Send(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
        std::lock_guard lock(m_lock);
        if (m_bClosed)
            return 0;
        return m_handler(nMsg, wParam, lParam);
    }

    bool Post(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
        std::lock_guard lock(m_lock);
        if (m_bClosed)
            return false;
        m_posted.push_back({nMsg, wParam, lParam});
        return true;
    }

    int Dispatch() {
        std::lock_guard lock(m_lock);
        int n = 0;
        while (!m_bClosed && !m_posted.empty()) {
            Message msg = m_posted.front();
            m_posted.pop_front();
            m_handler(msg.nMsg, msg.wParam, msg.lParam);
            ++n;
        }
        return n;
    }

    void Close() {
        std::lock_guard lock(m_lock);
        m_bClosed = true;
        m_posted.clear();
    }

private:
    MessageHandler m_handler;
    std::recursive_mutex m_lock; // a handler may send to its own window
    std::deque<Message> m_posted;
    bool m_bClosed = false;
};

CDirectWindow::CDirectWindow(MessageHandler handler)
    : m_pState(std::make_shared<State>(std::move(handler))), m_hWnd(RegisterWindow(m_pState)) {}

CDirectWindow::~CDirectWindow() {
    UnregisterWindow(m_hWnd);
    m_pState->Close();
}

int CDirectWindow::DispatchPosted() {
    return m_pState->Dispatch();
}
