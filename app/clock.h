#pragma once
// Seconds since the epoch for the forwarding core. Tests replace the source
// so that time-dependent rules (duplicate window, downsampling, expiry) are
// checked without sleeping.

#include <ctime>

time_t Now();

// nullptr restores the system clock.
void SetClockSource(time_t (*source)());
