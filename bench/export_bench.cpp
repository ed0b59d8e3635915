// One export of a snapshot of 100,000 vessels: how long it takes, the
// longest time the pipeline waits for snapshotMutex meanwhile (a thread
// keeps updating vessels during the export and times every update), the
// heap the snapshot holds per vessel between exports, and the heap memory
// the export adds at its peak.

#include "ais/ais_parser.h"
#include "export/export_settings.h"
#include "export/fill_kml.h"
#include "export/snapshot.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <malloc.h>
#include <memory>
#include <string>
#include <thread>

// Heap accounting: live bytes and their peak since the last reset, for
// every block of the process (operator new, the ZIP library's memory files
// and zlib all end in malloc). Each block counts as malloc charges it: its
// usable size and its header.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<long long> liveBytes{0};
std::atomic<long long> peakBytes{0};
constexpr long long kHeader = sizeof(size_t);

long long charge(void* p) { return p ? static_cast<long long>(malloc_usable_size(p)) + kHeader : 0; }

void counted(void* p) {
    if (!p) return;
    const long long now = liveBytes += charge(p);
    long long peak = peakBytes;
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
}
}  // namespace

extern "C" {
void* malloc(size_t n) {
    void* p = __libc_malloc(n);
    counted(p);
    return p;
}
void* calloc(size_t n, size_t size) {
    void* p = __libc_calloc(n, size);
    counted(p);
    return p;
}
void* realloc(void* old, size_t n) {
    const long long before = charge(old);
    void* p = __libc_realloc(old, n);
    if (p || n == 0) liveBytes -= before;
    counted(p);
    return p;
}
void free(void* p) {
    liveBytes -= charge(p);
    __libc_free(p);
}
}

namespace {

constexpr uint32_t kVessels = 100000;
constexpr uint32_t kFirstMmsi = 200000000;
const time_t kNow = time(nullptr);

time_t benchClock() { return kNow; }

void fillSnapshot(AISParser& parser) {
    ClearSnapshot();
    for (uint32_t i = 0; i < kVessels; ++i) {
        const uint32_t mmsi = kFirstMmsi + i;
        parser.mmsi = mmsi;
        TMessage123& p = parser.message123;
        p = TMessage123{};
        p.mmsi = mmsi;
        p.navStatus = static_cast<uint8_t>(i % 16);
        p.sog = i % 300;
        p.lon = static_cast<int32_t>(i * 997 % 108000000) - 54000000;
        p.lat = static_cast<int32_t>(i * 991 % 54000000) - 27000000;
        p.cog = i % 3600;
        p.heading = i % 360;
        AddUpdateSnapshot(parser, 1, kNow);

        TMessage5& s = parser.message5;
        s = TMessage5{};
        s.mmsi = mmsi;
        s.imo = 9000000 + i;
        std::snprintf(s.callsign, sizeof s.callsign, "C&%04u", i % 10000);
        std::snprintf(s.name, sizeof s.name, "VSL <%u> & 'CO'", i);
        s.shipType = static_cast<uint8_t>(i % 100);
        s.toBow = 100;
        s.toStern = 20;
        s.toPort = 10;
        s.toStarboard = 12;
        s.eta = (12u << 16) | (24u << 11) | (6u << 6) | 30u;
        s.draught = 55;
        std::snprintf(s.destination, sizeof s.destination, "PORT \"%u\"", i % 1000);
        AddUpdateSnapshot(parser, 5, kNow);
    }
}

// The pipeline: position updates of known vessels, back to back, each timed.
class Pipeline {
public:
    Pipeline() : thread_([this] { Run(); }) {
        while (!running_) std::this_thread::yield();
    }
    void Stop() {
        stop_ = true;
        thread_.join();
    }
    // Valid after Stop: the longest wait for snapshotMutex and the longest
    // AddUpdateSnapshot call (lock wait included), in milliseconds.
    double worstWaitMs = 0;
    double worstUpdateMs = 0;
    long long updates = 0;

private:
    void Run() {
        auto own = std::make_unique<AISParser>();
        uint32_t i = 0;
        running_ = true;
        while (!stop_) {
            const uint32_t mmsi = kFirstMmsi + (i++ * 7919) % kVessels;
            own->mmsi = mmsi;
            own->message123.mmsi = mmsi;
            own->message123.sog = i % 200;
            // The wait for the lock alone, then a whole update.
            const auto t0 = std::chrono::steady_clock::now();
            snapshotMutex.lock();
            const auto t1 = std::chrono::steady_clock::now();
            snapshotMutex.unlock();
            AddUpdateSnapshot(*own, 1, kNow);
            const auto t2 = std::chrono::steady_clock::now();
            worstWaitMs = std::max(worstWaitMs, std::chrono::duration<double, std::milli>(t1 - t0).count());
            worstUpdateMs = std::max(worstUpdateMs, std::chrono::duration<double, std::milli>(t2 - t1).count());
            ++updates;
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

void BM_ExportWhileUpdating(benchmark::State& state) {
    char pattern[] = "/tmp/export_bench.XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const std::string dir = pattern;
    auto parser = std::make_unique<AISParser>();
    ClearSnapshot();
    const long long empty = liveBytes;
    fillSnapshot(*parser);
    const long long held = liveBytes - empty;
    useKmz = state.range(0) == 2;
    imagesUrlDir = state.range(0) == 1 ? "http://icons.example/ais" : "";
    dir_name = dir;
    purgeSnapshotTime = 900;
    SetExportClock(benchClock);

    double worstWaitMs = 0;
    double worstUpdateMs = 0;
    double idleUpdateMs = 0;
    double peakAddedMb = 0;
    long long updates = 0;
    for (auto _ : state) {
        // First the pipeline alone: what the machine costs an update at worst.
        Pipeline idle;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        idle.Stop();
        idleUpdateMs = std::max(idleUpdateMs, idle.worstUpdateMs);

        Pipeline busy;
        const long long before = liveBytes;
        peakBytes = before;
        const auto start = std::chrono::steady_clock::now();
        const bool written = FillKml();
        const auto end = std::chrono::steady_clock::now();
        const long long peak = peakBytes;
        busy.Stop();

        if (!written) state.SkipWithError("export failed");
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        worstWaitMs = std::max(worstWaitMs, busy.worstWaitMs);
        worstUpdateMs = std::max(worstUpdateMs, busy.worstUpdateMs);
        peakAddedMb = std::max(peakAddedMb, static_cast<double>(peak - before) / (1024.0 * 1024.0));
        updates += busy.updates;
    }
    state.counters["max_lock_wait_ms"] = worstWaitMs;
    state.counters["max_update_ms"] = worstUpdateMs;
    state.counters["idle_max_update_ms"] = idleUpdateMs;
    state.counters["peak_added_MiB"] = peakAddedMb;
    state.counters["peak_added_B_per_vessel"] = peakAddedMb * 1024.0 * 1024.0 / kVessels;
    state.counters["snapshot_B_per_vessel"] = static_cast<double>(held) / kVessels;
    // The same after the exports: what stays between exports.
    state.counters["after_export_B_per_vessel"] = static_cast<double>(liveBytes - empty) / kVessels;
    state.counters["updates_per_export"] =
        benchmark::Counter(static_cast<double>(updates) / static_cast<double>(state.iterations()));
    state.counters["file_MiB"] =
        static_cast<double>(std::filesystem::file_size(dir + (useKmz ? "/aisBrinecastSnapshot.kmz" : "/aisBrinecastSnapshot.kml"))) / (1024.0 * 1024.0);

    SetExportClock(nullptr);
    ClearSnapshot();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    dir_name.clear();
}

// Argument: 0 = KML with the built-in icon, 1 = KML with an icon URL (-W),
// 2 = KMZ (the default output).
BENCHMARK(BM_ExportWhileUpdating)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
