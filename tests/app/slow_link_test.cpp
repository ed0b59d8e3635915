// The forwarder behind a link slower than its input: a datagram the kernel
// refuses for a full send buffer waits and leaves in order; a destination
// that takes nothing is given up on alone and is not waited for again at
// once, and costs a fast destination nothing.
#include "app_fixture.h"
#include "shaped_link.h"
#include "udp_receiver.h"

#include "app/pipeline.h"

#include <chrono>

namespace {

using Lines = std::vector<std::string>;

struct LinkCase {
    const char* name;
    // tc commands; "%slow" stands for the second receiver's port.
    std::vector<std::string> shaping;
    bool secondStalls;  // the second destination takes nothing at all
};
void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

std::string WithPort(std::string text, int port) {
    const size_t at = text.find("%slow");
    if (at != std::string::npos) text.replace(at, 5, std::to_string(port));
    return text;
}

class SlowLink : public CoreTest, public ::testing::WithParamInterface<LinkCase> {};

// 3,000 messages of about 60 bytes to two destinations, 64 to an input
// read, as an input hands them on: far more than a send buffer holds.
TEST_P(SlowLink, RefusedDatagramsLeaveInOrderOnceTheBufferDrains) {
    SHAPED_LINK();
    const LinkCase& c = GetParam();
    UdpReceiver first, second;
    for (const std::string& command : c.shaping) shapedlink::Tc(WithPort(command, second.port()));
    UseDestinations({{"127.0.0.1", first.port()}, {"127.0.0.1", second.port()}});
    params.debug = c.secondStalls;  // for the line that reports the stall

    const size_t kMessages = 3000;
    std::vector<std::string> sent;
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < kMessages;) {
        HeldMessages read;
        for (size_t k = 0; k < 64 && i < kMessages; ++k, ++i) {
            const Lines m = Message(1, 244000000 + static_cast<uint32_t>(i % 500), 168, 60, "", i);
            Feed(m);
            sent.push_back(m[0] + "\r\n");
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string err = testing::internal::GetCapturedStderr();

    const auto got = first.Expect(kMessages, 20000);
    EXPECT_EQ(got, sent) << "the first destination got " << got.size() << " of " << kMessages;
    EXPECT_EQ(AISBrinecast->Lost(0), 0u);
    if (!c.secondStalls) {
        const auto other = second.Expect(kMessages, 20000);
        EXPECT_EQ(other, sent) << "the second destination got " << other.size() << " of " << kMessages;
        EXPECT_EQ(AISBrinecast->Lost(1), 0u);
        return;
    }
    // Waited for once, given up after a second without a datagram taken,
    // then only offered what its socket took at once: not a wait per read.
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 5.0);
    EXPECT_GT(AISBrinecast->Lost(1), 0u);
    EXPECT_LT(AISBrinecast->Lost(1), kMessages);
    EXPECT_NE(err.find("127.0.0.1:" + std::to_string(second.port()) +
                       " took nothing for 1000 ms: "),
              std::string::npos)
        << err.substr(0, 400);
    EXPECT_NE(err.find(" datagrams lost, not waited for 10 s\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Links, SlowLink,
    ::testing::Values(
        // Both destinations behind a link of 10 Mbit/s.
        LinkCase{"BothSlow", {"qdisc add dev lo root tbf rate 10mbit burst 32kb limit 20mb"}, false},
        // The second one's traffic held in a class of 8 bit/s, the first free.
        LinkCase{"SecondStalled",
                 {"qdisc add dev lo root handle 1: htb default 10 r2q 1000",
                  "class add dev lo parent 1: classid 1:10 htb rate 10gbit",
                  "class add dev lo parent 1: classid 1:20 htb rate 8bit burst 2kb cburst 2kb",
                  "qdisc add dev lo parent 1:20 pfifo limit 100000",
                  "filter add dev lo parent 1: protocol ip u32 match ip dport %slow 0xffff flowid 1:20"},
                 true}),
    [](const ::testing::TestParamInfo<LinkCase>& p) { return std::string(p.param.name); });

}  // namespace
