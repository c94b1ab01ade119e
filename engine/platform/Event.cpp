#include "Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// All events share one lock and one condition: the process has a handful of
// events and a waiter on several of them needs to hear from any.
struct EventHub {
    std::mutex m_lock;
    std::condition_variable m_changed;
};

EventHub& Hub() {
    static EventHub hub;
    return hub;
}

DWORD FirstSet(std::initializer_list<const CEvent*> events) {
    DWORD i = 0;
    for (const CEvent* e : events) {
        if (e->IsSet())
            return WAIT_OBJECT_0 + i;
        ++i;
    }
    return WAIT_TIMEOUT;
}

} // namespace

void CEvent::Set() noexcept {
    EventHub& hub = Hub();
    {
        std::lock_guard lock(hub.m_lock);
        m_bSet.store(true, std::memory_order_release);
    }
    hub.m_changed.notify_all();
}

void CEvent::Reset() noexcept {
    std::lock_guard lock(Hub().m_lock);
    m_bSet.store(false, std::memory_order_release);
}

DWORD WaitForAnyEvent(std::initializer_list<const CEvent*> events, DWORD dwMilliseconds) {
    DWORD r = FirstSet(events);
    if (r != WAIT_TIMEOUT || dwMilliseconds == 0)
        return r;

    EventHub& hub = Hub();
    std::unique_lock lock(hub.m_lock);
    if (dwMilliseconds == INFINITE) {
        while ((r = FirstSet(events)) == WAIT_TIMEOUT)
            hub.m_changed.wait(lock);
        return r;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    while ((r = FirstSet(events)) == WAIT_TIMEOUT) {
        if (hub.m_changed.wait_until(lock, deadline) == std::cv_status::timeout)
            return FirstSet(events);
    }
    return r;
}
