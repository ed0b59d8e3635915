#pragma once
// A POSIX thread behind an object. Nothing runs until Start(), which is
// called once the object is fully built; the new thread then waits for its
// release (SetRelease(true), or the constructor's argument) before Run().
// A thread is ended by Stop(): the running flag goes down, Wake() tells Run
// to look at it, and the thread is joined. A derived class calls Stop() in
// its own destructor, before its members go, so that the object outlives
// every access its thread makes to it; ~Thread stops a thread that is still
// joinable as a last resort. An owner that must not wait for a thread busy
// in blocking work hands the object to the thread instead (Abandon).

#include <pthread.h>

#include <atomic>

#include "net/Semaphore.h"

class Thread {
public:
    explicit Thread(bool release = true);
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Creates the thread; false when it was started already, or when it
    // cannot be made: running is then false and CreateError() holds
    // pthread_create's result. Nothing is printed; the caller reports it.
    bool Start();
    int CreateError() const;
    // Lowers the running flag, wakes the thread and joins it. From the
    // thread itself only the flag goes down. Safe to call more than once.
    void Stop();
    // Ends the owner's hold on `t` without waiting: running flag down and a
    // wake-up; a thread still inside Run is detached and deletes the object
    // when Run returns, one that has ended (or never started) is joined and
    // deleted here. The object must own everything its Run still touches.
    static void Abandon(Thread* t);

    bool IsRunning() const;
    void SetRunning(bool x);
    bool IsReleased() const;
    // True lets a started thread enter Run.
    void SetRelease(bool x);
    bool IsDestructor() const;
    // Run has returned (or will never be called).
    bool Ended() const;

protected:
    virtual void Run() = 0;
    // Makes a Run that waits for events look at IsRunning() soon; called
    // by Stop() from another thread.
    virtual void Wake();

private:
    static void* StartThread(void* object);
    void Join();

    pthread_t m_thread{};
    Semaphore m_sem;
    std::atomic<bool> m_running{true};
    std::atomic<bool> m_release{false};
    std::atomic<bool> m_b_destructor{false};
    std::atomic<bool> m_ended{false};
    // Who deletes the object: the owner, or the thread once abandoned.
    enum State { kOwned, kAbandoned, kFinished };
    std::atomic<State> m_state{kOwned};
    bool m_started = false;  // touched only by the owner's thread
    bool m_joined = false;
    int m_create_error = 0;
};
