// Manual-reset events and waits on them.
//
// A set event releases every waiter and stays set until reset. A wait on several
// events is satisfied by any of them; when several are set it reports the first in
// the order given.
#pragma once

#include "Types.h"

#include <atomic>
#include <initializer_list>

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 0x102;

class CEvent {
public:
    constexpr explicit CEvent(bool bInitialState) noexcept : m_bSet(bInitialState) {}
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set() noexcept;
    void Reset() noexcept;
    bool IsSet() const noexcept { return m_bSet.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_bSet;
};

// WAIT_OBJECT_0 + index of the first set event in the list, or WAIT_TIMEOUT.
// A set event is answered without taking any lock.
DWORD WaitForAnyEvent(std::initializer_list<const CEvent*> events, DWORD dwMilliseconds);

inline DWORD WaitForEvent(const CEvent& event, DWORD dwMilliseconds) {
    return WaitForAnyEvent({&event}, dwMilliseconds);
}
