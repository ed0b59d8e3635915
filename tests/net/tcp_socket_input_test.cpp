// TcpSocket input: line ends in every combination and split over reads, the
// line size limit, raw mode with the input ring, the end of a connection.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "net/TcpSocket.h"
#include "tcp_test_support.h"

namespace {

using tcptest::Client;
using tcptest::Has;
using tcptest::Listener;
using tcptest::TcpFixture;

using Lines = std::vector<std::string>;

std::vector<std::string> OneByteEach(const std::string& s) {
    std::vector<std::string> out;
    for (char c : s) out.emplace_back(1, c);
    return out;
}

class TcpInput : public TcpFixture {};

TEST_F(TcpInput, LineEndsOverRealReads) {
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        Lines lines;
        std::string pending;  // GetLine() afterwards
    };
    const std::vector<Case> cases = {
        {"CR LF and LF in one read", {"ABC\r\nDEF\n"}, {"ABC", "DEF"}, ""},
        {"CR, LF, CR LF, LF CR", {"A\rB\nC\r\nD\n\rE\n"}, {"A", "B", "C", "D", "E"}, ""},
        {"CR LF split over reads", {"ABC\r", "\nDEF\n"}, {"ABC", "DEF"}, ""},
        {"LF CR split over reads", {"ABC\n", "\r", "DEF\n"}, {"ABC", "DEF"}, ""},
        {"CR then a new line", {"ABC\r", "DEF\n"}, {"ABC", "DEF"}, ""},
        {"no pairing once a byte followed", {"ABC\rDEF", "\nGHI\n"}, {"ABC", "DEF", "GHI"}, ""},
        {"CR then CR is an empty line", {"A\r", "\r"}, {"A", ""}, ""},
        {"a finished pair pends nothing", {"A\n\r", "\nB\n"}, {"A", "", "B"}, ""},
        {"LF LF", {"\n\n"}, {"", ""}, ""},
        {"CR LF alone", {"\r\n"}, {""}, ""},
        {"CR CR LF", {"A\r\r\nB\n"}, {"A", "", "B"}, ""},
        {"a line over three reads", {"AB", "CD", "\n"}, {"ABCD"}, ""},
        {"NUL ends the text of a line", {std::string("AB\0DE\nF\n", 8)}, {"AB", "F"}, ""},
        {"a line end still to come", {"ABC\nDE"}, {"ABC"}, "DE"},
        {"one byte per read", OneByteEach("A\r\nB\n\rC\rD\n\nE"), {"A", "B", "C", "D", ""}, "E"},
    };
    Listener listener;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        trace.clear();
        int server = -1;
        Client* client = Connected(listener, server);
        ASSERT_NE(nullptr, client);
        ASSERT_TRUE(Feed(client, server, c.reads));
        EXPECT_EQ(c.lines, client->lines);
        EXPECT_EQ(c.pending, client->GetLine());
        client->SetCloseAndDelete();
        ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
        close(server);
    }
}

TEST_F(TcpInput, OverLongLineIsDroppedAloneAndTheConnectionGoesOn) {
    const std::string max(8191, 'x');
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        Lines lines;
        std::vector<int> codes;  // of the limit messages, one per dropped line
    };
    const std::vector<Case> cases = {
        {"8191 bytes pass whole", {max + "\n"}, {max}, {}},
        {"8192 bytes in one read", {max + "x\n"}, {}, {8192}},
        {"8192 bytes over two reads", {std::string(5000, 'x'), std::string(3192, 'x') + "\n"}, {}, {8192}},
        {"the next line of the same read", {"A\n" + max + "x\nNEXT\n"}, {"A", "NEXT"}, {8192}},
        {"a later read", {"A\n" + max + "x\n", "LATER\n"}, {"A", "LATER"}, {8192}},
        // What comes in later reads before the line end is the same line.
        {"its tail in a later read", {std::string(5000, 'x'), std::string(3192, 'x'), "tail\nNEXT\n"}, {"NEXT"}, {8192}},
        {"its line end in the next read", {max + "x", "\r", "\nB\n"}, {"B"}, {8192}},
        {"two of them", {max + "x\nA\n" + max + "yy\nB\n"}, {"A", "B"}, {8192, 8193}},
    };
    Listener listener;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        trace.clear();
        log.entries.clear();
        int server = -1;
        Client* client = Connected(listener, server);
        ASSERT_NE(nullptr, client);
        ASSERT_TRUE(Feed(client, server, c.reads));
        EXPECT_EQ(c.lines, client->lines);
        EXPECT_EQ("", client->GetLine());
        EXPECT_FALSE(Has(trace, "disconnect"));
        EXPECT_FALSE(client->CloseAndDelete());
        std::vector<int> codes;
        for (const auto& e : log.entries) {
            if (e.label != "TcpSocket::OnRead") continue;
            EXPECT_EQ("maximum tcp_line_size exceeded, line dropped", e.text);
            EXPECT_EQ(loglevel_warning, e.level);
            codes.push_back(e.code);
        }
        EXPECT_EQ(c.codes, codes);
        client->SetCloseAndDelete();
        ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
        close(server);
    }
}

TEST_F(TcpInput, LeavingLineModeInOnLineHandsTheRestOverRaw) {
    Client client(handler, trace);
    client.SetLineProtocol(true);
    client.onLine = [&](const std::string&) { client.SetLineProtocol(false); };
    std::string data = "A\r\nBC\nD";
    std::vector<char> buf(data.begin(), data.end());
    buf.push_back('\0');
    client.OnRead(buf.data(), data.size());
    EXPECT_EQ(Lines{"A"}, client.lines);
    EXPECT_EQ("BC\nD", client.raw);
}

TEST_F(TcpInput, RawModeKeepsEveryBlockInTheRing) {
    Listener listener;
    int server = -1;
    Client* client = Connected(listener, server, false);
    ASSERT_NE(nullptr, client);
    ASSERT_TRUE(Feed(client, server, {"abc\r\n", std::string("def\0g", 5)}));
    EXPECT_EQ("abc\r\ndef", client->raw.substr(0, 8));
    EXPECT_EQ(10u, client->raw.size());
    EXPECT_TRUE(client->lines.empty());
    ASSERT_EQ(10u, client->GetInputLength());
    char buf[32];
    ASSERT_EQ(10u, client->ReadInput(buf, sizeof buf));
    EXPECT_EQ(client->raw, std::string(buf, 10));
    EXPECT_EQ(0u, client->GetInputLength());
    close(server);
}

TEST_F(TcpInput, FullRingStillDeliversRawData) {
    Listener listener;
    Client* client = NewClient(10);
    ASSERT_TRUE(client->Open(nettest::Loopback(), listener.port));
    handler.Add(client);
    int server = listener.Accept();
    ASSERT_NE(-1, server);
    ASSERT_TRUE(Pump([&] { return Has(trace, "connect"); }));
    ASSERT_TRUE(Feed(client, server, {"12345678", "9ab"}));
    EXPECT_EQ("123456789ab", client->raw);
    const nettest::LogEntry* e = log.Find("ibuf overflow", "OnRead");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_warning, e->level);
    char buf[16];
    ASSERT_EQ(8u, client->ReadInput(buf, sizeof buf));
    EXPECT_EQ("12345678", std::string(buf, 8));
    close(server);
}

TEST(TcpRing, WrapsAndStaysContiguous) {
    TcpSocket::CircularBuffer ring(10);
    EXPECT_TRUE(ring.Write("01234567", 8));
    EXPECT_FALSE(ring.Write("abc", 3));  // 8 + 3 > 10: nothing stored
    EXPECT_EQ(8u, ring.GetLength());
    EXPECT_TRUE(ring.Write("89", 2));
    EXPECT_EQ(0u, ring.Space());

    char out[16];
    ASSERT_TRUE(ring.Read(out, 6));
    EXPECT_EQ("012345", std::string(out, 6));
    EXPECT_TRUE(ring.Write("ABCDEF", 6));  // wraps past the end
    ASSERT_EQ(10u, ring.GetLength());
    EXPECT_EQ("6789ABCDEF", std::string(ring.GetStart(), 10));
    EXPECT_EQ(4u, ring.GetL());
    EXPECT_FALSE(ring.Read(out, 11));
    EXPECT_TRUE(ring.Remove(3));
    EXPECT_EQ("9ABCDEF", ring.ReadString(7));
    EXPECT_EQ(0u, ring.GetLength());
    EXPECT_EQ("", ring.ReadString(1));

    EXPECT_TRUE(ring.Write("ab\0cd", 5));
    EXPECT_EQ("ab", ring.ReadString(5));  // text up to the first NUL, all 5 taken
    EXPECT_EQ(0u, ring.GetLength());
    EXPECT_EQ(21u, ring.ByteCounter(true));
    EXPECT_EQ(0u, ring.ByteCounter());
}

TEST_F(TcpInput, PeerCloseEndsWithDisconnectThenDelete) {
    Listener listener;
    int server = -1;
    Client* client = Connected(listener, server);
    ASSERT_NE(nullptr, client);
    ASSERT_TRUE(Feed(client, server, {"L1\nno end"}));
    close(server);
    ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
    std::vector<std::string> tail(trace.end() - 4, trace.end());
    EXPECT_EQ((std::vector<std::string>{"disconnect", "disconnect 0 0", "delete", "freed"}), tail);
    EXPECT_EQ(nullptr, log.FindLabel("read"));
    EXPECT_EQ(nullptr, log.FindLabel("TcpSocket::OnRead"));
}

TEST_F(TcpInput, ResetByPeerIsALostConnection) {
    Listener listener;
    int server = -1;
    Client* client = Connected(listener, server);
    ASSERT_NE(nullptr, client);
    linger lg{1, 0};
    setsockopt(server, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(server);  // RST
    ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
    EXPECT_EQ(1, tcptest::Count(trace, "disconnect"));
    EXPECT_TRUE(Has(trace, "disconnect 2 " + std::to_string(ECONNRESET))) << ::testing::PrintToString(trace);
    const nettest::LogEntry* e = log.FindLabel("read");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(ECONNRESET, e->code);
}

TEST_F(TcpInput, NothingToReadIsNoLostConnection) {
    Listener listener;
    int server = -1;
    Client* client = Connected(listener, server);
    ASSERT_NE(nullptr, client);
    client->OnRead();  // recv fails with EAGAIN
    EXPECT_FALSE(client->Lost());
    EXPECT_FALSE(client->CloseAndDelete());
    EXPECT_FALSE(Has(trace, "disconnect"));
    EXPECT_EQ(nullptr, log.FindLabel("read"));
    ASSERT_TRUE(Feed(client, server, {"still here\n"}));
    EXPECT_EQ(Lines{"still here"}, client->lines);
    close(server);
}

}  // namespace
