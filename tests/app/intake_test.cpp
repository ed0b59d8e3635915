#include "app/line_splitter.h"
#include "app_fixture.h"
#include "udp_receiver.h"

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

using Lines = std::vector<std::string>;

struct GatherCase {
    const char* name;
    std::vector<Lines> input;       // sentences, fed in order
    std::vector<Lines> delivered;   // messages that must reach the pipeline
};

class Gathering : public CoreTest {};

TEST_F(Gathering, Rules) {
    // A and B: two-sentence messages with identifiers 1 and 2; C: three
    // sentences; E: two sentences without identifier; X: one sentence.
    const Lines A = Message(5, 211000001, 424, 60, "1");
    const Lines B = Message(5, 211000002, 424, 60, "2");
    const Lines C = Message(8, 211000003, 900, 60, "3");
    const Lines E = Message(5, 211000004, 424, 60, "");
    const Lines X = Message(1, 211000005);
    ASSERT_EQ(A.size(), 2u);
    ASSERT_EQ(C.size(), 3u);
    Lines E2other = Message(5, 211000004, 424, 60, "4");

    auto bad = [](std::string s, size_t pos, char c) {
        s[pos] = c;
        // Keep the checksum valid so only the gathering can drop it.
        const size_t star = s.rfind('*');
        return s.substr(0, star) + ais_builder::checksum(s.substr(0, star));
    };
    const GatherCase cases[] = {
        {"single sentence", {{X[0]}}, {X}},
        {"two in order", {{A[0], A[1]}}, {A}},
        {"fragment 2 alone", {{A[1]}}, {}},
        {"other identifier dropped alone", {{A[0], B[1]}}, {}},
        {"other identifier keeps pending", {{A[0], B[1], A[1]}}, {A}},
        {"repeated fragment 1 restarts", {{A[0], A[0], A[1]}}, {A}},
        {"single inside a pending message", {{A[0], X[0], A[1]}}, {X, A}},
        {"interleaved: the later message wins", {{A[0], B[0], A[1], B[1]}}, {B}},
        {"three-sentence replaces pending", {{A[0], C[0], C[1], C[2]}}, {C}},
        {"gap resets", {{C[0], C[2], C[1]}}, {}},
        {"repeat of the last fragment", {{A[0], A[1], A[1]}}, {A}},
        {"empty identifiers match", {{E[0], E[1]}}, {E}},
        {"empty matches only empty", {{E[0], E2other[1]}}, {}},
        {"count 0 dropped alone", {{A[0], bad(X[0], 7, '0'), A[1]}}, {A}},
        {"number 0 dropped alone", {{A[0], bad(A[1], 9, '0'), A[1]}}, {A}},
        {"number above count dropped alone", {{A[0], bad(A[1], 9, '3'), A[1]}}, {A}},
    };
    params.debug = true;
    for (const auto& c : cases) {
        ResetGathering();
        ResetPipeline();
        FakeNow() += 100;  // out of the duplicate window of the previous case
        std::string expected;
        for (const auto& m : c.delivered) {
            const int type = m == X ? 1 : (m == C ? 8 : 5);
            expected += OkLine(type, m);
        }
        testing::internal::CaptureStderr();
        for (const auto& step : c.input) Feed(step);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), expected) << c.name;
    }
}

TEST_F(Gathering, PerLinePrints) {
    const std::string vdm = Message(1, 211000009)[0];
    const std::string other = "$GPZDA,092751.00,10,12,2026,00,00*6A";
    const std::string broken = "$GPZDA,092751.00,10,12,2026,00,00*6B";
    const struct {
        bool debug, dump, vdmOnly;
        std::string line, err, out;
    } cases[] = {
        {true, false, false, broken, "CRC failed " + broken + "\n", ""},
        {false, true, false, broken, "", ""},
        {true, false, false, "", "", ""},  // no sentence, nothing to report
        {true, false, false, other, "non VDM OK " + other + "\n", ""},
        {true, true, false, other, "non VDM OK " + other + "\n", ""},
        {false, true, false, other, "", other + "\n"},
        {false, true, true, other, "", other + "\n"},  // -v: printed, not forwarded
        {false, true, false, vdm, "", vdm + "\n"},
        {true, true, false, vdm, OkLine(1, {vdm}), ""},
    };
    for (const auto& c : cases) {
        ResetPipeline();
        params.debug = c.debug;
        params.dump = c.dump;
        params.vdmOnly = c.vdmOnly;
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        processLine(c.line.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.line;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.line;
    }
}

// What a splitter hands on, in order: "S:" and the piece, or "T:" and the
// length of a piece too long.
struct PieceLog {
    std::vector<std::string>& out;
    void Sentence(const char* p, size_t n) {
        EXPECT_GE(n, 1u);
        EXPECT_LE(n, kMaxSentence);
        out.push_back("S:" + std::string(p, n));
    }
    void TooLong(size_t n) { out.push_back("T:" + std::to_string(n)); }
};

std::vector<std::string> Fed(const std::string& text, const std::vector<size_t>& cuts) {
    std::vector<std::string> out;
    LineSplitter splitter;
    size_t from = 0;
    for (size_t to : cuts) {
        splitter.Feed(text.data() + from, to - from, PieceLog{out});
        from = to;
    }
    splitter.Feed(text.data() + from, text.size() - from, PieceLog{out});
    splitter.Finish(PieceLog{out});
    return out;
}

TEST(LineSplitterTest, PiecesDoNotDependOnHowTheTextArrives) {
    const std::string a = "!AIVDM,1,1,,A,16jJAwh03b0vgDbFA1VabGgf1Slf,0*74";
    const std::string b = "$GPZDA,092751.00,10,12,2026,00,00*6A";
    const std::string nul(1, '\0');
    const std::string max = "$" + std::string(kMaxSentence - 1, 'm');
    std::string glued;
    std::vector<std::string> gluedPieces;
    for (int i = 0; i < 192; ++i) {
        glued += a;
        gluedPieces.push_back("S:" + a);
    }
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"every cut byte", a + "\t" + b + "\r" + a + "\n" + b + nul + a, {"S:" + a, "S:" + b, "S:" + a, "S:" + b, "S:" + a}},
        {"before each start", "x" + a + b + "!", {"S:x", "S:" + a, "S:" + b, "S:!"}},
        {"NUL inside a sentence", a.substr(0, 20) + nul + a.substr(20), {"S:" + a.substr(0, 20), "S:" + a.substr(20)}},
        {"cut bytes and blanks alone", nul + "\r\n \f\t" + nul, {}},
        {"blanks at the ends", " \f" + a + " \f\t " + b + " ", {"S:" + a, "S:" + b}},
        {"a blank inside stays", "$GPTXT,01,01,02,ANTENNA OK*35", {"S:$GPTXT,01,01,02,ANTENNA OK*35"}},
        {"192 glued sentences", glued, gluedPieces},
        {"the longest sentence", max + "\n" + a, {"S:" + max, "S:" + a}},
        {"one byte too long", max + "m\n" + a, {"T:" + std::to_string(kMaxSentence + 1), "S:" + a}},
        {"5000 bytes, then sentences", a + "\n" + std::string(5000, 'x') + b, {"S:" + a, "T:5000", "S:" + b}},
        {"trailing blanks do not make it too long", max + std::string(3000, ' ') + "\r\n",
         {"S:" + max}},
        {"leading blanks do not either", std::string(3000, ' ') + a, {"S:" + a}},
        {"a blank run inside counts", max + std::string(10, ' ') + "m", {"T:" + std::to_string(kMaxSentence + 11)}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> whole;
        CutLine(c.text.data(), c.text.size(), PieceLog{whole});
        EXPECT_EQ(whole, c.pieces) << c.name;
        EXPECT_EQ(Fed(c.text, {}), c.pieces) << c.name;
        std::vector<size_t> everyByte;
        for (size_t i = 1; i < c.text.size(); ++i) everyByte.push_back(i);
        EXPECT_EQ(Fed(c.text, everyByte), c.pieces) << c.name << ", one byte a block";
        for (size_t at = 1; at < c.text.size(); ++at) {
            const std::vector<std::string> two = Fed(c.text, {at});
            if (two != c.pieces) {
                ADD_FAILURE() << c.name << ", cut at " << at << ": " << testing::PrintToString(two);
                break;
            }
        }
    }
}

class StandardInput : public CoreTest {};

TEST_F(StandardInput, LinesEndAtCarriageReturnAndLineFeed) {
    const std::string vdm = "!AIVDM,1,1,,A,16jJAwh03b0vgDbFA1VabGgf1Slf,0*74";
    const std::string other = "$GPZDA,092751.00,10,12,2026,00,00*6A";
    const std::string bad = "!AIVDM,1,1,,B,178D3T@02o0o4lNGDI@GQV1D0@I5,0*00";
    const std::string ok = OkLine(1, {vdm});
    const std::string nonVdm = "non VDM OK " + other + "\n";
    const struct {
        const char* name;
        std::vector<std::string> reads;  // what each read of the input returns
        std::string err;
    } cases[] = {
        {"a sentence after a CR is checked on its own", {vdm + "\r" + bad + "\n"}, ok + "CRC failed " + bad + "\n"},
        {"CR LF is one line end", {other + "\r\n" + vdm + "\r\n"}, nonVdm + ok},
        {"CR LF split over two reads", {other + "\r", "\n" + vdm + "\r\n"}, nonVdm + ok},
        {"LF CR is one line end", {other + "\n\r" + vdm}, nonVdm + ok},
        {"lone CRs", {other + "\r" + vdm + "\r"}, nonVdm + ok},
        {"a blank line is skipped", {other + "\r\n\r\n" + vdm}, nonVdm + ok},
        {"two CRs are two line ends", {other + "\r\r" + vdm}, nonVdm + ok},
        {"a pair takes one half only", {other + "\r\n\n", vdm}, nonVdm + ok},
        {"blanks around a line are trimmed", {" \t" + other + " \f\r\n"}, nonVdm},
        {"a NUL cuts the line", {vdm + std::string("\0*00", 4) + "\n" + other + "\n"},
         ok + "CRC failed *00\n" + nonVdm},
        {"a piece too long is dropped alone", {vdm + "\n" + std::string(40000, 'x'), "\n" + other + "\n"},
         ok + "too long   40000 characters\n" + nonVdm},
    };
    params.debug = true;
    for (const auto& c : cases) {
        ResetGathering();
        ResetPipeline();
        FakeNow() += 100;
        // A packet socket: every read returns exactly one of the writes.
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
        for (const auto& r : c.reads)
            ASSERT_EQ(write(fds[1], r.data(), r.size()), static_cast<ssize_t>(r.size()));
        close(fds[1]);
        testing::internal::CaptureStderr();
        ReadStandardInput(fds[0]);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.name;
        close(fds[0]);
    }
}

// Without prints, a decoded message is finished only when the next one has
// been decoded: datagrams must still leave in input order, and the last
// message of a read must leave before the next read returns.
TEST_F(StandardInput, MessagesLeaveInOrderAndWithTheirRead) {
    UdpReceiver rx;
    UseDestinations({{"127.0.0.1", rx.port()}});
    auto position = [](uint32_t mmsi) {
        ais_builder::BitWriter w;
        w.u(1, 6).u(0, 2).u(mmsi, 30).u(0, 4).s(0, 8).u(0, 10).u(0, 1).s(0, 28).s(0, 27);
        w.u(0, 12).u(0, 9).u(0, 6).u(0, 25);
        return ais_builder::sentences(w)[0];
    };
    ais_builder::BitWriter five;
    five.u(5, 6).u(0, 2).u(211000003, 30).u(0, 2).u(1, 30).text("CALL", 7).text("NAME", 20);
    five.u(70, 8).u(1, 9).u(1, 9).u(1, 6).u(1, 6).u(1, 4).u(0, 20).u(1, 8).text("PORT", 20).u(0, 2);
    const Lines parts = ais_builder::sentences(five, 60, 'A', "3");
    ASSERT_EQ(parts.size(), 2u);
    const std::string a = position(211000001);
    const std::string b = position(211000002);
    const std::string other = "$GPZDA,092751.00,10,12,2026,00,00*6A";
    const struct {
        const char* name;
        std::string read;
        Lines datagrams;
    } cases[] = {
        {"a non-VDM sentence keeps its place", a + "\r\n" + other + "\r\n" + b + "\r\n",
         {a + "\r\n", other + "\r\n", b + "\r\n"}},
        {"a duplicate right after its message", a + "\n" + a + "\n", {}},
        {"a two-sentence message, then a duplicate", parts[0] + "\n" + parts[1] + "\n" + a + "\n",
         {parts[0] + "\r\n" + parts[1] + "\r\n"}},
    };
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    std::thread reader([&] { ReadStandardInput(fds[0]); });
    for (const auto& c : cases) {
        ASSERT_EQ(write(fds[1], c.read.data(), c.read.size()), static_cast<ssize_t>(c.read.size()));
        // The reader now waits for more input: everything must be out.
        EXPECT_EQ(rx.Drain(), c.datagrams) << c.name;
    }
    close(fds[1]);
    reader.join();
    close(fds[0]);
}

}  // namespace
