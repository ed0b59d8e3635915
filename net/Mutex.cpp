#include "net/Mutex.h"

Mutex::Mutex() { pthread_mutex_init(&m_mutex, nullptr); }

Mutex::~Mutex() { pthread_mutex_destroy(&m_mutex); }

int Mutex::Lock() const { return pthread_mutex_lock(&m_mutex); }

int Mutex::Unlock() const { return pthread_mutex_unlock(&m_mutex); }
