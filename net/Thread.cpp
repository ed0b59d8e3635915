#include "net/Thread.h"

Thread::Thread(bool release) {
    if (release) SetRelease(true);
}

Thread::~Thread() {
    m_b_destructor = true;
    // A derived class has stopped its thread already; this only ends one
    // that was never released, or joins one that has left Run.
    SetRunning(false);
    SetRelease(true);
    Join();
}

bool Thread::Start() {
    if (m_started) return false;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    int rc = pthread_create(&m_thread, &attr, &Thread::StartThread, this);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        m_create_error = rc;
        SetRunning(false);
        m_ended = true;
        return false;
    }
    m_started = true;
    return true;
}

void Thread::Stop() {
    SetRunning(false);
    SetRelease(true);
    if (!m_started || pthread_equal(m_thread, pthread_self())) return;
    Wake();
    Join();
}

int Thread::CreateError() const { return m_create_error; }

void Thread::Abandon(Thread* t) {
    t->SetRunning(false);
    t->SetRelease(true);
    if (!t->m_started) {
        delete t;
        return;
    }
    t->Wake();
    const pthread_t thread = t->m_thread;
    if (t->m_state.exchange(kAbandoned) == kFinished) {
        delete t;  // joins: Run has returned
        return;
    }
    // The thread owns the object from here on: not touched again.
    pthread_detach(thread);
}

void Thread::Join() {
    if (!m_started || m_joined || pthread_equal(m_thread, pthread_self())) return;
    pthread_join(m_thread, nullptr);
    m_joined = true;
}

void* Thread::StartThread(void* object) {
    Thread* t = static_cast<Thread*>(object);
    t->m_sem.Wait();
    if (t->IsRunning()) t->Run();
    t->SetRunning(false);
    t->m_ended = true;
    if (t->m_state.exchange(kFinished) == kAbandoned) {
        t->m_joined = true;  // detached: nobody joins it
        delete t;
    }
    return nullptr;
}

void Thread::Wake() {}

bool Thread::IsRunning() const { return m_running; }
void Thread::SetRunning(bool x) { m_running = x; }
bool Thread::IsReleased() const { return m_release; }

void Thread::SetRelease(bool x) {
    // Posted once: a second release would leave a count behind.
    if (x && !m_release.exchange(true)) m_sem.Post();
    if (!x) m_release = false;
}

bool Thread::IsDestructor() const { return m_b_destructor; }
bool Thread::Ended() const { return m_ended; }
