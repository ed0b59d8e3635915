#include "export/export_clock.h"

#include <atomic>

namespace {

std::atomic<time_t (*)()> clockSource{nullptr};

}  // namespace

void SetExportClock(time_t (*source)()) { clockSource = source; }

time_t ExportNow() {
    time_t (*source)() = clockSource;
    return source ? source() : time(nullptr);
}
