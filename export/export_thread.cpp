#include "export/export_thread.h"

#include "export/export_clock.h"
#include "export/export_file.h"
#include "export/export_settings.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

std::atomic<bool> exportKmlFile{false};

namespace {

struct WorkerState {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopRequested = false;
    int running = 0;
    uint64_t checksAsked = 0;  // CheckExportNow calls so far
    uint64_t checksDone = 0;   // the highest of them a check has answered
};

// Never destroyed, so that a Worker still starting up at exit has something
// to look at.
WorkerState& state() {
    static WorkerState* s = new WorkerState;
    return *s;
}

}  // namespace

void* Worker(void*) {
    WorkerState& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.stopRequested) return nullptr;
    ++s.running;
    if (exportTime != 0) {
        // What a killed run left in the export directory goes at the start,
        // not an interval later.
        lock.unlock();
        RemoveStaleExportTemporariesOnce();
        lock.lock();
    }
    time_t periodStart = ExportNow();
    if (exportTime != 0) exportKmlFile = true;
    while (!s.stopRequested) {
        const uint64_t asked = s.checksAsked;
        const time_t now = ExportNow();
        // Unsigned: a clock set backwards exports at once and restarts the period.
        if (exportKmlFile && exportTime != 0 &&
            static_cast<uint64_t>(now - periodStart) >= exportTime) {
            periodStart = now;
            lock.unlock();
            FillKml();
            lock.lock();
            if (s.stopRequested) break;
        }
        if (asked > s.checksDone) s.checksDone = asked;
        s.changed.notify_all();
        s.changed.wait_for(lock, std::chrono::seconds(1),
                           [&s, asked] { return s.stopRequested || s.checksAsked != asked; });
    }
    --s.running;
    s.changed.notify_all();
    return nullptr;
}

void StopExport() {
    WorkerState& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.stopRequested = true;
    s.changed.notify_all();
    s.changed.wait(lock, [&s] { return s.running == 0; });
}

void ResetExportThread() {
    WorkerState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.stopRequested = false;
}

bool CheckExportNow() {
    WorkerState& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    const uint64_t target = ++s.checksAsked;
    s.changed.notify_all();
    s.changed.wait_for(lock, std::chrono::seconds(10), [&s, target] {
        return s.checksDone >= target || (s.stopRequested && s.running == 0);
    });
    return s.checksDone >= target;
}
