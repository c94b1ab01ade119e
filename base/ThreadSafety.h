// What a lock guards, said where the compiler can check it: Clang's thread-safety
// analysis (-Wthread-safety) reads these annotations; other compilers see nothing.
// The mutex and its scoped lock carry them, as std::mutex does not.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define TARROW_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TARROW_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) TARROW_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY TARROW_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) TARROW_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) TARROW_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) TARROW_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) TARROW_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) TARROW_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

class CAPABILITY("mutex") CMutex {
public:
    void Lock() ACQUIRE() { m_mutex.lock(); }
    void Unlock() RELEASE() { m_mutex.unlock(); }

private:
    friend class CLock;
    std::mutex m_mutex;
};

// Holds the mutex for its scope.
class SCOPED_CAPABILITY CLock {
public:
    explicit CLock(CMutex& mutex) ACQUIRE(mutex) : m_lock(mutex.m_mutex) {}
    ~CLock() RELEASE() {}
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    // Gives the mutex up until notified (or woken spuriously) and takes it again: the
    // caller tests its condition anew, under the lock, as the analysis sees it.
    void Wait(std::condition_variable& cv) { cv.wait(m_lock); }

private:
    std::unique_lock<std::mutex> m_lock;
};
