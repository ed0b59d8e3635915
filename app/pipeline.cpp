#include "app/pipeline.h"

#include "ais/ais_parser.h"
#include "app/brinecast.h"
#include "app/clock.h"
#include "app/options.h"
#include "export/export_thread.h"
#include "export/snapshot.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <unordered_set>

AISParser* Parser = nullptr;

std::string tempBuffer;
std::string toSend;
std::string toDump;

struct NMEABE {
    time_t time;
    uint32_t crc;
};

// Newest first; the set indexes the same keys so a look-up costs O(1).
static std::deque<NMEABE> DupBuffer;
static std::unordered_set<uint32_t> DupIndex;

namespace {

constexpr uint64_t kDupWindowSeconds = 10;

void dispatch(int type) {
    const AISParser& p = *Parser;
    unsigned long mmsi = p.mmsi;
    long x = 0;
    long y = 0;
    switch (type) {
        case 1: case 2: case 3:
            mmsi = p.message123.mmsi; x = p.message123.lon; y = p.message123.lat; break;
        case 4:
            mmsi = p.message4.mmsi; x = p.message4.lon; y = p.message4.lat; break;
        case 9:
            mmsi = p.message9.mmsi; x = p.message9.lon; y = p.message9.lat; break;
        case 18:
            mmsi = p.message18.mmsi; x = p.message18.lon; y = p.message18.lat; break;
        case 19:
            mmsi = p.message19.mmsi; x = p.message19.lon; y = p.message19.lat; break;
        case 5:
            mmsi = p.message5.mmsi; break;
        case 24:
            mmsi = p.message24.mmsi; break;
        default:
            break;
    }
    AISBrinecast->DispatchMessage(type, mmsi, x, y, &toSend[0]);
}

void discardMessage() {
    Parser->Clear();
    toSend.clear();
    toDump.clear();
}

}  // namespace

bool nodup(unsigned crc) {
    const time_t now = Now();
    // An entry stamped in the future has a huge unsigned age: it counts as old.
    while (!DupBuffer.empty() &&
           static_cast<uint64_t>(now - DupBuffer.back().time) > kDupWindowSeconds) {
        DupIndex.erase(DupBuffer.back().crc);
        DupBuffer.pop_back();
    }
    if (DupIndex.count(crc)) return false;
    DupBuffer.push_front({now, crc});
    DupIndex.insert(crc);
    return true;
}

void parseNMEA(char* line) {
    toSend += line;
    toSend += "\r\n";
    if (params.dump || params.debug) {
        toDump += line;
        toDump += "\n";
    }
    if (Parser->Assemble(line) == 0) return;

    const int type = Parser->Parse();
    if (nodup(Parser->CRC32())) {
        if (params.debug) {
            std::fprintf(stderr, "(%02u) %-10s %s", static_cast<unsigned>(type), "OK", toDump.c_str());
        } else if (params.dump) {
            std::fputs(toDump.c_str(), stdout);
        }
        if (params.debug || params.dump) std::fflush(stdout);
        if (exportKmlFile) AddUpdateSnapshot(*Parser, type, Now());
        dispatch(type);
    } else if (params.debug) {
        std::fprintf(stderr, "%-10s %s", "duplicate", toDump.c_str());
    }
    discardMessage();
}

void ProcessMessage(char* text) {
    static const char kSeparators[] = "\t\r\n";
    tempBuffer = text;
    size_t start = 0;
    for (;;) {
        const size_t sep = tempBuffer.find_first_of(kSeparators, start);
        if (sep == std::string::npos) break;
        tempBuffer[sep] = '\0';
        parseNMEA(&tempBuffer[start]);
        start = tempBuffer.find_first_not_of(kSeparators, sep + 1);
        if (start == std::string::npos) break;
    }
    tempBuffer.clear();

    // Sentences that did not complete a message (a refused fragment) must
    // never reach the next message's datagram.
    if (!toSend.empty()) {
        if (params.debug) std::fprintf(stderr, "%-10s %s", "invalid", toDump.c_str());
        discardMessage();
    }
}

void sendNoneVDM(char* text) {
    if (!params.vdmOnly) AISBrinecast->DispatchNoneVdmMessage(text);
}

void ResetPipeline() {
    DupBuffer.clear();
    DupIndex.clear();
    tempBuffer.clear();
    toSend.clear();
    toDump.clear();
    if (Parser) Parser->Clear();
}

size_t DupWindowSize() { return DupBuffer.size(); }
