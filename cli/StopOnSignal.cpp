#include "StopOnSignal.h"

#include "ScanControl.h"

#include <cstdlib>

#include <pthread.h>

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1); // sent by CStopOnSignal's destructor: the program is ending
    return set;
}

CStopOnSignal::CStopOnSignal() : m_set(StopSignals()) {
    m_thread = std::thread([this] {
        for (;;) {
            int nSignal = 0;
            if (sigwait(&m_set, &nSignal) != 0)
                continue;
            if (nSignal == SIGUSR1)
                return;
            if (m_bStop.exchange(true))
                std::_Exit(kExitStopped);
            ForceEvent.Set();
        }
    });
}

CStopOnSignal::~CStopOnSignal() {
    pthread_kill(m_thread.native_handle(), SIGUSR1);
    m_thread.join();
}

bool CStopOnSignal::Stopped() const {
    if (m_bStop.load())
        return true;
    // A signal that came as the scan ended may not have reached the thread yet.
    sigset_t pending;
    return ::sigpending(&pending) == 0 &&
           (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1);
}
