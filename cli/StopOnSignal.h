// Ctrl-C as Stop: the first SIGINT or SIGTERM stops the scan, the second ends the
// program at once.
#pragma once

#include <atomic>
#include <thread>

#include <signal.h>

// The exit status of a stopped scan, and of the program ended by a second signal.
inline constexpr int kExitStopped = 130;

// The signals CStopOnSignal takes. main blocks them before anything else, so that every
// thread started later inherits the mask and a signal that comes early waits.
sigset_t StopSignals();

// Signals are taken by a thread of its own with sigwait, so that setting the stop event
// happens outside a handler.
class CStopOnSignal {
public:
    CStopOnSignal();
    ~CStopOnSignal();
    CStopOnSignal(const CStopOnSignal&) = delete;
    CStopOnSignal& operator=(const CStopOnSignal&) = delete;

    bool Stopped() const;

private:
    const sigset_t m_set;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread; // the signal thread; the last member, started last
};
