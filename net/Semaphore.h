#pragma once
// A process-private POSIX counting semaphore. Every operation returns the
// POSIX result unchanged.

#include <semaphore.h>

class Semaphore {
public:
    explicit Semaphore(unsigned start = 0);
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    int Post();
    int Wait();  // a wait interrupted by a signal is resumed
    int TryWait();
    int GetValue(int& value);

private:
    sem_t m_sem;
};
