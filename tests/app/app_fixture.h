#pragma once
// In-process set-up of the forwarding core: options, parser, forwarder and a
// clock the test moves by hand.

#include "ais/ais_parser.h"
#include "app/brinecast.h"
#include "app/clock.h"
#include "app/intake.h"
#include "app/options.h"
#include "app/pipeline.h"
#include "ais_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline time_t& FakeNow() {
    static time_t now = 1700000000;
    return now;
}
inline time_t FakeClock() { return FakeNow(); }

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        params = TParams{};
        SetClockSource(FakeClock);
        FakeNow() = 1700000000;
        if (!Parser) Parser = new AISParser();
        ResetGathering();
        ResetPipeline();
        UseDestinations({});
    }
    void TearDown() override {
        delete AISBrinecast;
        AISBrinecast = nullptr;
        SetClockSource(nullptr);
    }

    // A fresh forwarder for these "host:port" destinations.
    void UseDestinations(const std::vector<std::pair<std::string, int>>& list, unsigned interval = 0) {
        delete AISBrinecast;
        outgoing_.assign(list.size(), TOutgoing{});
        pointers_.clear();
        for (size_t i = 0; i < list.size(); ++i) {
            snprintf(outgoing_[i].host, sizeof outgoing_[i].host, "%s", list[i].first.c_str());
            outgoing_[i].port = list[i].second;
            pointers_.push_back(&outgoing_[i]);
        }
        AISBrinecast = new Brinecast(pointers_.data(), static_cast<unsigned>(list.size()), interval);
    }

    static void Feed(const std::vector<std::string>& lines) {
        for (const auto& l : lines) processLine(l.c_str());
    }

private:
    std::vector<TOutgoing> outgoing_;
    std::vector<TOutgoing*> pointers_;
};

// The debug line of a new message: "(TT) OK         " then each sentence and "\n".
inline std::string OkLine(int type, const std::vector<std::string>& lines) {
    char head[32];
    snprintf(head, sizeof head, "(%02d) %-10s ", type, "OK");
    std::string s = head;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

// Sentences of a simple message of `type` from `mmsi` with `bits` bits,
// split into fragments of at most `chars` characters under identifier `seq`.
inline std::vector<std::string> Message(unsigned type, uint32_t mmsi, size_t bits = 168,
                                        size_t chars = 60, const std::string& seq = "",
                                        uint64_t salt = 0) {
    ais_builder::BitWriter w;
    w.u(type, 6).u(0, 2).u(mmsi, 30).u(salt, 32);
    w.resize(bits);
    return ais_builder::sentences(w, chars, 'A', seq);
}
