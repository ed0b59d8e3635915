#include "app_fixture.h"
#include "udp_receiver.h"

#include <cstring>
#include <unordered_set>

namespace {

using Lines = std::vector<std::string>;

std::string Sentence(const std::string& body) { return body + ais_builder::checksum(body); }

class Pipeline : public CoreTest {};

TEST_F(Pipeline, DebugAndDumpPrints) {
    const Lines m = Message(5, 244000001, 424, 60, "3");
    const std::string dump = m[0] + "\n" + m[1] + "\n";
    const struct {
        bool debug, dump;
        std::string err1, out1, err2;  // first sighting, then the duplicate
    } cases[] = {
        {true, false, OkLine(5, m), "", "duplicate  " + dump},
        {true, true, OkLine(5, m), "", "duplicate  " + dump},
        {false, true, "", dump, ""},
        {false, false, "", "", ""},
    };
    for (const auto& c : cases) {
        ResetPipeline();
        params.debug = c.debug;
        params.dump = c.dump;
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        Feed(m);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err1);
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        Feed(m);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err2);
    }
}

TEST_F(Pipeline, RefusedFragmentDropsTheWholeMessage) {
    UdpReceiver rx;
    UseDestinations({{"127.0.0.1", rx.port()}});
    params.debug = true;
    const Lines full = Message(5, 244000002, 424, 60, "7");
    const std::string emptyFirst = Sentence("!AIVDM,2,1,7,A,,0");
    std::string tooMuchFill = full[1];
    tooMuchFill = Sentence(tooMuchFill.substr(0, tooMuchFill.size() - 4) + "6");
    const Lines next = Message(1, 244000003);

    const struct { const char* name; Lines input; } cases[] = {
        {"empty first fragment", {emptyFirst, full[1]}},
        {"fill count above 5", {full[0], tooMuchFill}},
    };
    for (const auto& c : cases) {
        const size_t window = DupWindowSize();
        testing::internal::CaptureStderr();
        Feed(c.input);
        std::string expected = "invalid    ";
        for (const auto& l : c.input) expected += l + "\n";
        EXPECT_EQ(testing::internal::GetCapturedStderr(), expected) << c.name;
        EXPECT_EQ(DupWindowSize(), window) << c.name;
        EXPECT_TRUE(rx.Drain(50).empty()) << c.name;
    }
    // Nothing of the refused messages leaks into the next datagram.
    Feed(next);
    const auto got = rx.Expect(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], next[0] + "\r\n");
}

TEST_F(Pipeline, ShortMessageIsTypeZeroAndReachesNobody) {
    UdpReceiver rx;
    UseDestinations({{"127.0.0.1", rx.port()}});
    params.debug = true;
    const Lines shortOne = Message(1, 244000004, 142);  // a type 1 needs 143 bits
    testing::internal::CaptureStderr();
    Feed(shortOne);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), OkLine(0, shortOne));
    EXPECT_EQ(DupWindowSize(), 1u);
    EXPECT_TRUE(rx.Drain(50).empty());
}

TEST(MessageKeys, DistinctMessagesNeverShareAKey) {
    // Every message of up to 16 bits, then 300,000 random ones of common
    // lengths: a 32-bit key alone would give about ten false duplicates.
    AISParser p;
    std::unordered_set<uint64_t> keys;
    size_t made = 0;
    auto take = [&](unsigned length) {
        ++made;
        p.bitLength = length;
        EXPECT_TRUE(keys.insert(MessageKey(p)).second) << "length " << length;
    };
    for (unsigned length = 1; length <= 16; ++length) {
        for (uint32_t v = 0; v < (1u << length); ++v) {
            const uint32_t top = v << (16 - length);  // unused bits stay zero
            p.bits[0] = static_cast<uint8_t>(top >> 8);
            p.bits[1] = static_cast<uint8_t>(top);
            take(length);
        }
    }
    p.bits[0] = p.bits[1] = 0;
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 300000; ++i) {
        const unsigned length = (i % 3 == 0) ? 168 : (i % 3 == 1) ? 424 : 32 + i % 200;
        for (unsigned b = 0; b < (length + 7) / 8; ++b) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            p.bits[b] = static_cast<uint8_t>(x);
        }
        if (length % 8) p.bits[length / 8] &= static_cast<uint8_t>(0xFF << (8 - length % 8));
        take(length);
        std::memset(p.bits, 0, (length + 7) / 8);
    }
    EXPECT_EQ(keys.size(), made);
}

TEST_F(Pipeline, DuplicateWindowStaysFlatAtScale) {
    // Old entries leave the window as time moves on; a look-up stays O(1).
    for (unsigned i = 0; i < 20000; ++i) {
        if (i % 1000 == 0) FakeNow() += 6;
        ASSERT_TRUE(nodup(i));
    }
    EXPECT_LE(DupWindowSize(), 2000u);
    FakeNow() -= 100;  // a clock set back: every entry is then stamped in the future
    EXPECT_TRUE(nodup(19999));
    EXPECT_EQ(DupWindowSize(), 1u);
}

}  // namespace
