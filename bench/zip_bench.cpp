// Packing a 20 MB KML document at level 9: the ZIP library against Info-ZIP's
// "zip -9 -q" on the same file, in the same run. bench/zip_vs_zip.sh turns
// the two figures into the time ratio and the size difference.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"

namespace {

// A document shaped like the export's snapshot: many vessel placemarks.
std::string MakeKml(size_t size) {
    std::string s =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://earth.google.com/kml/2.0\">\n<Document>\n"
        "<name>aisBrinecast</name>\n";
    std::mt19937 gen(42);
    static const char* kinds[] = {"Cargo", "Tanker", "Passenger", "Fishing", "Tug", "Pleasure Craft", "Sailing"};
    static const char* states[] = {"Under way using engine", "At anchor", "Moored", "Engaged in fishing"};
    unsigned n = 0;
    while (s.size() < size) {
        char buf[1024];
        unsigned mmsi = 200000000 + gen() % 600000000;
        std::snprintf(buf, sizeof buf,
                      "<Placemark>\n<name>SHIP %u</name>\n<description><![CDATA[MMSI: %u<br>Type: %s<br>"
                      "Status: %s<br>SOG: %u.%u kn<br>COG: %u.%u<br>Heading: %u<br>Destination: PORT %u<br>"
                      "Last heard: 2024-05-%02u %02u:%02u:%02u UTC]]></description>\n"
                      "<styleUrl>#style%u</styleUrl>\n<Style><IconStyle><heading>%u</heading></IconStyle></Style>\n"
                      "<Point><coordinates>%d.%06u,%d.%06u,0</coordinates></Point>\n</Placemark>\n",
                      n, mmsi, kinds[gen() % 7], states[gen() % 4], unsigned(gen() % 25), unsigned(gen() % 10),
                      unsigned(gen() % 360), unsigned(gen() % 10), unsigned(gen() % 360), unsigned(gen() % 500),
                      unsigned(1 + gen() % 28), unsigned(gen() % 24), unsigned(gen() % 60), unsigned(gen() % 60),
                      unsigned(gen() % 20), unsigned(gen() % 360), int(gen() % 360) - 180, unsigned(gen() % 1000000),
                      int(gen() % 170) - 85, unsigned(gen() % 1000000));
        s += buf;
        ++n;
    }
    s += "</Document>\n</kml>\n";
    return s;
}

struct Workspace {
    Workspace() {
        char tmpl[] = "/tmp/zip_bench_XXXXXX";
        dir = mkdtemp(tmpl);
        kml = MakeKml(20 * 1024 * 1024);
        std::ofstream(dir + "/doc.kml", std::ios::binary).write(kml.data(), std::streamsize(kml.size()));
    }
    ~Workspace() {
        std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", dir.c_str());
    }
    std::string dir;
    std::string kml;
};

Workspace& Work() {
    static Workspace w;
    return w;
}

long long FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

void BM_ZipLibraryFile(benchmark::State& state) {
    Workspace& w = Work();
    const std::string out = w.dir + "/lib.zip";
    for (auto _ : state) {
        CZipBundle zip;
        zip.Open(out.c_str(), CZipBundle::zipCreate);
        zip.AddNewFile((w.dir + "/doc.kml").c_str(), "doc.kml", 9);
        zip.Close();
    }
    state.counters["archive_bytes"] = double(FileSize(out));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(w.kml.size()));
}

void BM_InfoZipFile(benchmark::State& state) {
    Workspace& w = Work();
    const std::string out = w.dir + "/infozip.zip";
    const std::string cmd = "cd '" + w.dir + "' && rm -f infozip.zip && zip -9 -q infozip.zip doc.kml";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("zip -9 -q failed");
            break;
        }
    }
    state.counters["archive_bytes"] = double(FileSize(out));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(w.kml.size()));
}

// The export's road: everything in memory.
void BM_ZipLibraryKmzInMemory(benchmark::State& state) {
    Workspace& w = Work();
    double bytes = 0;
    for (auto _ : state) {
        CZipBundle zip;
        CZipMemFile image(1024), source(1024);
        zip.Open(image, CZipBundle::zipCreate, false);
        source.Write(w.kml.data(), unsigned(w.kml.size()));
        zip.AddNewFile(source, "aisBrinecastSnapshot.kml", 9, 7, 65536);
        zip.Close();
        bytes = double(image.GetLength());
    }
    state.counters["archive_bytes"] = bytes;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(w.kml.size()));
}

}  // namespace

BENCHMARK(BM_ZipLibraryFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_InfoZipFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ZipLibraryKmzInMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

BENCHMARK_MAIN();
