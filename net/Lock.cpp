#include "net/Lock.h"

Lock::Lock(const IMutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }

Lock::~Lock() { m_mutex.Unlock(); }
