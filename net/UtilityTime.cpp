// Sleeping and the library's clock.

#include "net/Utility.h"

#include <sys/select.h>

#include <atomic>

namespace {
std::atomic<Utility::ClockFunction> g_clock{nullptr};
}  // namespace

void Utility::Sleep(int ms) {
    if (ms <= 0) return;
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    select(0, nullptr, nullptr, nullptr, &tv);
}

int Utility::GetTime(timeval* tv) { return gettimeofday(tv, nullptr); }

time_t Utility::Now() {
    ClockFunction clock = g_clock.load();
    return clock ? clock() : time(nullptr);
}

void Utility::SetClock(ClockFunction clock) { g_clock.store(clock); }
