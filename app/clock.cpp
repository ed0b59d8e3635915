#include "app/clock.h"

static time_t (*clockSource)() = nullptr;

time_t Now() { return clockSource ? clockSource() : time(nullptr); }

void SetClockSource(time_t (*source)()) { clockSource = source; }
