#include "app/pipeline.h"

#include "ais/ais_parser.h"
#include "ais/byte_scan.h"
#include "app/brinecast.h"
#include "app/clock.h"
#include "app/dup_window.h"
#include "app/options.h"
#include "app/text_buffer.h"
#include "export/export_thread.h"
#include "export/snapshot.h"

#include <cstdio>
#include <cstring>

AISParser* Parser = nullptr;

namespace {

// The pipeline's state, main thread only; nothing outside this file reaches it.
std::string tempBuffer;  // the gathered text while it is cut into sentences
TextBuffer toSend;       // the message's sentences with "\r\n": the datagram
std::string toDump;      // the same with "\n", kept under -g/-G only

// Messages first seen in the last ten seconds.
DupWindow DupBuffer(10);

// What the forwarder needs of a decoded message.
struct Target {
    int type = 0;
    unsigned long mmsi = 0;
    long x = 0;
    long y = 0;
    bool partB = false;  // type 24 only
};

Target targetOf(int type) {
    const AISParser& p = *Parser;
    Target t;
    t.type = type;
    t.mmsi = p.mmsi;
    switch (type) {
        case 1: case 2: case 3:
            t.mmsi = p.message123.mmsi; t.x = p.message123.lon; t.y = p.message123.lat; break;
        case 4:
            t.mmsi = p.message4.mmsi; t.x = p.message4.lon; t.y = p.message4.lat; break;
        case 9:
            t.mmsi = p.message9.mmsi; t.x = p.message9.lon; t.y = p.message9.lat; break;
        case 18:
            t.mmsi = p.message18.mmsi; t.x = p.message18.lon; t.y = p.message18.lat; break;
        case 19:
            t.mmsi = p.message19.mmsi; t.x = p.message19.lon; t.y = p.message19.lat; break;
        case 5:
            t.mmsi = p.message5.mmsi; break;
        case 24:
            t.mmsi = p.message24.mmsi; t.partB = p.message24.partNumber != 0; break;
        default:
            break;
    }
    return t;
}

void dispatch(const Target& t, const TextBuffer& text) {
    AISBrinecast->DispatchMessage(t.type, t.mmsi, t.x, t.y, text.data(), text.size(), t.partB);
}

// A decoded message as far as its duplicate test and sending need it.
struct Decoded {
    uint64_t key = 0;
    Target target;
};

// The message whose duplicate test and sending wait for the next message to
// be decoded (see HeldMessages).
struct Pending {
    bool held = false;
    Decoded message;
    TextBuffer text;
};
Pending pending;
int holders = 0;  // HeldMessages alive

void discardMessage() {
    Parser->Clear();
    toSend.clear();
    toDump.clear();
}

}  // namespace

uint64_t MessageKey(const AISParser& parser) {
    const uint32_t n = (parser.bitLength + 7) / 8;
    if (n <= 3) {
        // The bits and their length fit in the key as they are (the CRC of so
        // few bytes is 0): such messages never collide.
        return (parser.bitLength << 24) | (uint32_t{parser.bits[0]} << 16) |
               (uint32_t{parser.bits[1]} << 8) | parser.bits[2];
    }
    // The payload CRC alone lets distinct messages collide once the window
    // holds many thousands: a second, independent hash of the same bits and
    // their length makes the key 64 bits wide. It takes eight bytes a step;
    // the bytes after the message are zero, and the buffer is whole words.
    static_assert(sizeof parser.bits % 8 == 0, "the buffer must be whole words");
    uint64_t h = 0x9E3779B97F4A7C15ull ^ parser.bitLength;
    for (uint32_t i = 0; i < n && i < sizeof parser.bits; i += 8) {
        uint64_t w;
        std::memcpy(&w, parser.bits + i, sizeof w);
        h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return (static_cast<uint64_t>(parser.CRC32()) << 32) | static_cast<uint32_t>(h ^ (h >> 32));
}

bool nodup(uint64_t key) { return DupBuffer.Admit(key, Now()); }

namespace {

// The one road of a decoded message: the duplicate test, then for a new
// one the prints and the snapshot (only while the parser still holds it,
// `current`; a held message has neither) and the sending.
void settle(const Decoded& m, const TextBuffer& text, bool current) {
    if (!nodup(m.key)) {
        if (current && params.debug) std::fprintf(stderr, "%-10s %s", "duplicate", toDump.c_str());
        return;
    }
    if (current) {
        const int type = m.target.type;
        if (params.debug) {
            std::fprintf(stderr, "(%02u) %-10s %s", static_cast<unsigned>(type), "OK", toDump.c_str());
        } else if (params.dump) {
            std::fputs(toDump.c_str(), stdout);
        }
        if (params.debug || params.dump) std::fflush(stdout);
        if (exportKmlFile) AddUpdateSnapshot(*Parser, type, Now());
    }
    dispatch(m.target, text);
}

// parseNMEA on a sentence of n bytes.
void parseSentence(const char* line, size_t n) {
    toSend.append(line, n);
    toSend.append("\r\n", 2);
    if (params.dump || params.debug) toDump.append(line, n).append("\n", 1);
    // The held message's index slot has arrived by now: its entry next.
    if (pending.held) AISBrinecast->PrefetchEntry(pending.message.target.mmsi, pending.message.target.type);
    if (Parser->Assemble(line, n) == 0) return;

    Decoded m;
    m.key = MessageKey(*Parser);
    DupBuffer.Prefetch(m.key);  // decoding hides the table's cache miss
    m.target = targetOf(Parser->Parse());
    AISBrinecast->Prefetch(m.target.mmsi, m.target.type);  // the forwarder's index slot, for later
    if (pending.held) AISBrinecast->PrefetchNeighbours(pending.message.target.mmsi, pending.message.target.type);
    FlushPipeline();  // the held message goes first
    // Without prints or snapshot, nothing but the tables and the sending
    // follows from here: this message waits for its table rows to arrive in
    // the cache while the next one is decoded.
    if (holders > 0 && !params.debug && !params.dump && !exportKmlFile) {
        pending.message = m;
        pending.text.swap(toSend);
        pending.held = true;
    } else {
        settle(m, toSend, true);
    }
    discardMessage();
}

bool separator(char c) { return c == '\t' || c == '\r' || c == '\n'; }

// Sentences that did not complete a message (a refused fragment) must
// never reach the next message's datagram.
void dropLeftovers() {
    if (toSend.empty()) return;
    if (params.debug) std::fprintf(stderr, "%-10s %s", "invalid", toDump.c_str());
    discardMessage();
}

}  // namespace

void parseNMEA(char* line) { parseSentence(line, std::strlen(line)); }

void ProcessSentence(const char* line, size_t n) {
    // A separator inside would make several sentences of it.
    if (byte_scan::FindFirstOf<'\t', '\r', '\n'>(line, n) != n) {
        std::string text(line, n);
        text.append("\r\n", 2);
        ProcessMessage(&text[0]);
        return;
    }
    parseSentence(line, n);
    dropLeftovers();
}

void ProcessMessage(char* text) {
    tempBuffer = text;
    char* p = &tempBuffer[0];
    char* const end = p + tempBuffer.size();
    for (;;) {
        char* const sep = p + byte_scan::FindFirstOf<'\t', '\r', '\n'>(p, static_cast<size_t>(end - p));
        if (sep == end) break;  // a last piece without separator is not handled
        *sep = '\0';
        parseSentence(p, static_cast<size_t>(sep - p));
        p = sep + 1;
        while (p < end && separator(*p)) ++p;
        if (p == end) break;
    }
    tempBuffer.clear();
    dropLeftovers();
}

void FlushPipeline() {
    if (!pending.held) return;
    pending.held = false;
    settle(pending.message, pending.text, false);
}

HeldMessages::HeldMessages() {
    ++holders;
    if (AISBrinecast) AISBrinecast->OpenSendBatch();
}

HeldMessages::~HeldMessages() {
    if (--holders == 0) FlushPipeline();
    if (AISBrinecast) AISBrinecast->CloseSendBatch();
}

void sendNoneVDM(char* text) {
    FlushPipeline();  // datagrams leave in input order
    if (!params.vdmOnly) AISBrinecast->DispatchNoneVdmMessage(text);
}

void ResetPipeline() {
    pending.held = false;
    DupBuffer.Clear();
    tempBuffer.clear();
    toSend.clear();
    toDump.clear();
    if (Parser) Parser->Clear();
}

size_t DupWindowSize() { return DupBuffer.Live(Now()); }
