// Decoder cost per message: one single-sentence type 1 message through
// Assemble, Parse, CRC32 and Clear, as the pipeline runs them.
#include <benchmark/benchmark.h>

#include "ais/ais_parser.h"

namespace {

void BM_AssembleParseCrcType1(benchmark::State& state) {
    static const char kLine[] = "!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C";
    AISParser parser;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parser.Assemble(kLine));
        benchmark::DoNotOptimize(parser.Parse());
        benchmark::DoNotOptimize(parser.CRC32());
        parser.Clear();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_AssembleParseCrcType1);

}  // namespace

BENCHMARK_MAIN();
