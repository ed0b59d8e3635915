#include "net/Semaphore.h"

#include <cerrno>

Semaphore::Semaphore(unsigned start) { sem_init(&m_sem, 0, start); }

Semaphore::~Semaphore() { sem_destroy(&m_sem); }

int Semaphore::Post() { return sem_post(&m_sem); }

int Semaphore::Wait() {
    int n;
    do {
        n = sem_wait(&m_sem);
    } while (n == -1 && errno == EINTR);
    return n;
}

int Semaphore::TryWait() { return sem_trywait(&m_sem); }

int Semaphore::GetValue(int& value) { return sem_getvalue(&m_sem, &value); }
