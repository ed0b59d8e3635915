#pragma once
// A plain (non-recursive) POSIX mutex.

#include <pthread.h>

#include "net/IMutex.h"

class Mutex : public IMutex {
public:
    Mutex();
    ~Mutex() override;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    int Lock() const override;
    int Unlock() const override;

private:
    mutable pthread_mutex_t m_mutex;
};
