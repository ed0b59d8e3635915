// Cost of the message pipeline per message (gathering, decoding, duplicate
// window) with a window that holds about 1,000 or 1,000,000 entries: the
// clock moves so that old entries leave as fast as new ones come in.
#include "ais_builder.h"
#include "ais/ais_parser.h"
#include "app/brinecast.h"
#include "app/clock.h"
#include "app/intake.h"
#include "app/options.h"
#include "app/pipeline.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

time_t fakeNow = 1700000000;
time_t fakeClock() { return fakeNow; }

const std::vector<std::string>& Pool() {
    static const std::vector<std::string> pool = [] {
        std::vector<std::string> p;
        const size_t n = 2200000;
        p.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            ais_builder::BitWriter w;
            w.u(1, 6).u(0, 2).u(200000000 + i % 50000, 30).u(0, 4).s(0, 8).u(i % 1023, 10);
            w.u(0, 1).s(static_cast<int64_t>(i) * 7 % 21600000 - 10800000, 28).s(i % 5400000, 27);
            w.u(i % 3600, 12).u(i % 360, 9).u(i % 60, 6).u(0, 6).u(i >> 10, 19);
            p.push_back(ais_builder::sentences(w)[0]);
        }
        return p;
    }();
    return pool;
}

void BM_PipelinePerMessage(benchmark::State& state) {
    const size_t window = static_cast<size_t>(state.range(0));
    const auto& pool = Pool();
    params = TParams{};
    if (!Parser) Parser = new AISParser();
    if (!AISBrinecast) AISBrinecast = new Brinecast(nullptr, 0, 0);
    SetClockSource(fakeClock);
    ResetGathering();
    ResetPipeline();
    // About `window` entries per ten seconds.
    const size_t perSecond = window / 10 ? window / 10 : 1;
    size_t i = 0;
    auto feed = [&] {
        processLine(pool[i % pool.size()].c_str());
        if (++i % perSecond == 0) ++fakeNow;
    };
    while (i < window + 1000) feed();  // fill the window
    for (auto _ : state) feed();
    state.counters["window"] = static_cast<double>(DupWindowSize());
    SetClockSource(nullptr);
}

BENCHMARK(BM_PipelinePerMessage)->Arg(1000)->Arg(1000000)->Iterations(1000000)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
