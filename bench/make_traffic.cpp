// Writes N distinct AIS messages of V vessels as NMEA lines: position reports
// of types 1-3 and 18, static reports of type 5 (two sentences) and type 24
// (parts A and B). Deterministic.
//   make_traffic <messages> <vessels> > traffic.nmea
#include "ais_builder.h"

#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char** argv) {
    const long messages = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long vessels = argc > 2 ? std::atol(argv[2]) : 50000;
    std::mt19937_64 rng(42);
    std::string out;
    out.reserve(1 << 20);
    unsigned seq = 0;
    for (long i = 0; i < messages; ++i) {
        const uint32_t mmsi = 200000000 + static_cast<uint32_t>((i * 7919) % vessels) * 97;
        const bool classB = mmsi % 3 == 0;
        const long n = i / vessels;  // how often this vessel was heard: keeps messages distinct
        ais_builder::BitWriter w;
        const unsigned pick = static_cast<unsigned>(rng() % 10);
        if (pick < 8) {
            const int64_t lon = static_cast<int64_t>(rng() % 21600000) - 10800000;
            const int64_t lat = static_cast<int64_t>(rng() % 10800000) - 5400000;
            if (classB) {
                w.u(18, 6).u(0, 2).u(mmsi, 30).u(0, 8).u(rng() % 1023, 10).u(1, 1).s(lon, 28).s(lat, 27);
                w.u(rng() % 3600, 12).u(511, 9).u(n % 60, 6).u(0, 2).u(1, 1).u(0, 5).u(0, 1).u(rng() % (1 << 19), 20);
            } else {
                w.u(1 + rng() % 3, 6).u(0, 2).u(mmsi, 30).u(0, 4).s(0, 8).u(rng() % 1023, 10).u(0, 1);
                w.s(lon, 28).s(lat, 27).u(rng() % 3600, 12).u(rng() % 360, 9).u(n % 60, 6).u(0, 6);
                w.u(rng() % (1 << 19), 19);
            }
        } else if (!classB) {
            w.u(5, 6).u(0, 2).u(mmsi, 30).u(0, 2).u(9000000 + n, 30).text("CALL", 7).text("VESSEL", 20);
            w.u(70, 8).u(100, 9).u(20, 9).u(10, 6).u(10, 6).u(1, 4).u(n & 0xFFFFF, 20).u(80, 8);
            w.text("PORT", 20).u(0, 2);
        } else {
            const bool partB = rng() % 2;
            w.u(24, 6).u(0, 2).u(mmsi, 30).u(partB ? 1 : 0, 2);
            if (partB) w.u(37, 8).text("ACM", 3).u(1, 4).u(n & 0xFFFFF, 20).text("CALL", 7).u(0, 36);
            else w.text("VESSEL", 20).u(n & 0xFF, 8);
        }
        seq = seq % 9 + 1;
        for (const auto& s : ais_builder::sentences(w, 60, 'A', std::to_string(seq))) {
            out += s;
            out += "\r\n";
        }
        if (out.size() > (1 << 20) - 4096) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
