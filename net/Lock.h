#pragma once
// Scoped lock: holds an IMutex from construction to destruction.

#include "net/IMutex.h"

class Lock {
public:
    explicit Lock(const IMutex& mutex);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    const IMutex& m_mutex;
};
