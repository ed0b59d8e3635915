// One table of line cases, run through each of the four inputs of the real
// binary: what is forwarded and what -G prints must not depend on the input.
#include "app_fixture.h"
#include "program.h"
#include "pseudo_terminal.h"
#include "tcp_server.h"
#include "udp_receiver.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace {

struct Row {
    std::string name;
    std::string text;                    // one input chunk, followed by a line end
    std::vector<std::string> forwarded;  // datagrams, in order
    std::string err;                     // the -G lines
};

// Builds rows from sentences that are all distinct, so that the duplicate
// window never joins two rows.
class Rows {
public:
    std::string Vdm() { return Message(1, 211000000 + ++mmsi_)[0]; }
    std::vector<std::string> Fragments() { return Message(5, 211000000 + ++mmsi_, 424, 60, "3"); }
    std::string NonVdm(const char* talker = "$GPZDA") {
        const std::string body = std::string(talker) + ",0927" + std::to_string(10 + ++time_) + ".00,10,12,2026,00,00";
        return body + ais_builder::checksum(body);
    }
    static std::string Bad(std::string s) {
        s.back() = s.back() == '0' ? '1' : '0';
        return s;
    }
    static std::string Ok(const std::string& s) { return OkLine(1, {s}); }
    static std::string NonVdmOk(const std::string& s) { return "non VDM OK " + s + "\n"; }
    static std::string Failed(const std::string& s) { return "CRC failed " + s + "\n"; }

    // Marks the end of row `i` in both outputs.
    static std::string Marker(size_t i) {
        const std::string body = "$XXMRK," + std::to_string(i);
        return body + ais_builder::checksum(body);
    }

private:
    unsigned mmsi_ = 0;
    unsigned time_ = 0;
};

std::vector<Row> Table() {
    Rows r;
    std::vector<Row> rows;
    auto pair = [&](const char* name, const std::string& before, const std::string& between,
                    const std::string& after) {
        const std::string a = r.Vdm(), b = r.Vdm();
        rows.push_back({name, before + a + between + b + after, {a + "\r\n", b + "\r\n"}, Rows::Ok(a) + Rows::Ok(b)});
    };
    pair("TAB inside", "", "\t", "");
    pair("TAB at the ends", "\t", "\t\t", "\t");
    pair("CR inside", "", "\r", "");
    pair("LF inside", "", "\n", "");
    pair("CR LF inside", "", "\r\n", "");
    pair("LF CR inside", "", "\n\r", "");
    pair("CR LF at the ends", "\r\n", "\r\n\r\n", "\r\n");
    pair("LF CR at the ends", "\n\r", "\n\r\n\r", "\n\r");
    pair("two glued", "", "", "");
    {
        const std::string a = r.Vdm();
        rows.push_back({"time stamp TAB sentence", "1733860000\t" + a, {a + "\r\n"},
                        Rows::Failed("1733860000") + Rows::Ok(a)});
    }
    {
        const std::string a = r.Vdm(), b = r.Vdm(), c = r.Vdm();
        rows.push_back({"three glued", a + b + c, {a + "\r\n", b + "\r\n", c + "\r\n"},
                        Rows::Ok(a) + Rows::Ok(b) + Rows::Ok(c)});
    }
    {
        const std::string a = r.Vdm(), bad = Rows::Bad(r.Vdm());
        rows.push_back({"glued pair, the second bad", a + bad, {a + "\r\n"}, Rows::Ok(a) + Rows::Failed(bad)});
    }
    {
        const std::string bad = Rows::Bad(r.Vdm()), a = r.Vdm();
        rows.push_back({"glued pair, the first bad", bad + a, {a + "\r\n"}, Rows::Failed(bad) + Rows::Ok(a)});
    }
    for (const char* glue : {"", "\t"}) {
        // The bad sentence is refused alone: the message is gathered without it.
        const std::vector<std::string> f = r.Fragments();
        const std::string bad = Rows::Bad(r.Vdm());
        rows.push_back({*glue ? "fragment 1 TAB a bad sentence" : "fragment 1 glued to a bad sentence",
                        f[0] + glue + bad + "\r\n" + f[1], {ais_builder::gathered(f)},
                        Rows::Failed(bad) + OkLine(5, f)});
    }
    const std::string nul(1, '\0');
    pair("NUL inside", "", nul, "");
    pair("NUL at the ends", nul, nul + "\r\n" + nul, nul);
    {
        const std::string a = r.Vdm();
        const std::string head = a.substr(0, 20), tail = a.substr(20);
        rows.push_back({"NUL inside a sentence", head + nul + tail, {}, Rows::Failed(head) + Rows::Failed(tail)});
    }
    pair("a trailing space", "", " \r\n", " ");
    pair("a trailing space and TAB", "", " \t", " \t");
    pair("blanks at both ends", " \f", "\f \r\n \f", " \f ");
    for (const size_t count : {192, 45}) {
        // A long line of glued sentences: 9,000 and 2,100 characters.
        Row row{count == 192 ? "192 glued sentences" : "45 glued sentences", "", {}, ""};
        for (size_t i = 0; i < count; ++i) {
            const std::string a = r.Vdm();
            row.text += a;
            row.forwarded.push_back(a + "\r\n");
            row.err += Rows::Ok(a);
        }
        EXPECT_GE(row.text.size(), count == 192 ? 9000u : 2100u);
        rows.push_back(row);
    }
    {
        const std::string a = r.Vdm(), b = r.Vdm();
        rows.push_back({"a piece of 5,000 characters without a start", a + "\r\n" + std::string(5000, 'x') + "\t" + b,
                        {a + "\r\n", b + "\r\n"}, Rows::Ok(a) + "too long   5000 characters\n" + Rows::Ok(b)});
    }
    {
        const std::string n1 = r.NonVdm(), a = r.Vdm(), n2 = r.NonVdm("$HEHDT"), b = r.Vdm();
        rows.push_back({"\"$\" and \"!\" sentences mixed", n1 + a + n2 + "\t" + b,
                        {n1 + "\r\n", a + "\r\n", n2 + "\r\n", b + "\r\n"},
                        Rows::NonVdmOk(n1) + Rows::Ok(a) + Rows::NonVdmOk(n2) + Rows::Ok(b)});
    }
    return rows;
}

// Each row as the input receives it: its text, a line end, its marker.
std::vector<std::string> Chunks(const std::vector<Row>& rows) {
    std::vector<std::string> chunks;
    for (size_t i = 0; i < rows.size(); ++i) chunks.push_back(rows[i].text + "\r\n" + Rows::Marker(i) + "\r\n");
    return chunks;
}

std::string Joined(const std::vector<std::string>& chunks) {
    std::string all;
    for (const auto& c : chunks) all += c;
    return all;
}

// The -G lines about sentences, without the input's own reports.
std::string SentenceLines(const std::string& err) {
    static const char* const kOwn[] = {"Start in", "Connecting to", "Connected", "Connection closed",
                                       "Waiting", "No data", "Serial device"};
    std::istringstream in(err);
    std::string line, kept;
    while (std::getline(in, line)) {
        bool own = false;
        for (const char* p : kOwn) own = own || line.rfind(p, 0) == 0;
        if (!own) kept += line + "\n";
    }
    return kept;
}

enum class Input { Stdin, Tcp, Udp, Serial };

std::string Name(const testing::TestParamInfo<Input>& info) {
    static const char* const kNames[] = {"StandardInput", "TcpServer", "UdpDatagrams", "PseudoTerminal"};
    return kNames[static_cast<int>(info.param)];
}

struct Outcome {
    std::string err;
    std::vector<std::string> forwarded;
};

Outcome RunThrough(Input input, const std::vector<std::string>& chunks, UdpReceiver& rx) {
    ProgramOptions o;
    o.keepStdinOpen = input != Input::Stdin;
    o.timeoutSeconds = 4;  // the other inputs run until killed
    ProgramResult r;
    switch (input) {
        case Input::Stdin:
            o.input = Joined(chunks);
            r = RunProgram({"-i", "-H", rx.address(), "-G"}, o);
            break;
        case Input::Tcp: {
            TcpTestServer server([&](int fd, int index) {
                if (index > 0) return;
                for (const auto& c : chunks) TcpTestServer::SendAll(fd, c);
                Nap(server, 3500);
            });
            r = RunProgram({"-t", "-h", "127.0.0.1", "-p", std::to_string(server.port()), "-H", rx.address(), "-G"}, o);
            break;
        }
        case Input::Udp: {
            const int port = ClosedUdpPort();
            std::thread sender([&] {
                if (!WaitUntilUdpPortTaken(port)) return;
                const UdpSender tx(port);
                for (const auto& c : chunks) {
                    tx.Send(c);
                    usleep(2000);
                }
            });
            r = RunProgram({"-u", "-h", "127.0.0.1", "-p", std::to_string(port), "-H", rx.address(), "-G"}, o);
            sender.join();
            break;
        }
        case Input::Serial: {
            Pty pty;
            std::thread feeder;
            o.started = [&](pid_t pid) {
                feeder = std::thread([&, pid] {
                    if (!WaitUntilOpened(pid, pty.name)) return;
                    for (const auto& c : chunks) pty.Write(c);
                });
            };
            r = RunProgram({"-r", "-d", pty.name, "-s", "4800", "-H", rx.address(), "-G"}, o);
            if (feeder.joinable()) feeder.join();
            break;
        }
    }
    return {SentenceLines(r.err), rx.Drain()};
}

class LineCases : public testing::TestWithParam<Input> {};

TEST_P(LineCases, EverySentenceIsCheckedOnItsOwn) {
    const std::vector<Row> rows = Table();
    UdpReceiver rx;
    const Outcome got = RunThrough(GetParam(), Chunks(rows), rx);

    // Cut both outputs at the markers: one piece per row.
    size_t errAt = 0, datagram = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string marker = Rows::Marker(i);
        const std::string markerLine = Rows::NonVdmOk(marker);
        const size_t end = got.err.find(markerLine, errAt);
        ASSERT_NE(end, std::string::npos) << rows[i].name << ": no marker in\n" << got.err;
        EXPECT_EQ(got.err.substr(errAt, end - errAt), rows[i].err) << rows[i].name;
        errAt = end + markerLine.size();

        std::vector<std::string> forwarded;
        while (datagram < got.forwarded.size() && got.forwarded[datagram] != marker + "\r\n")
            forwarded.push_back(got.forwarded[datagram++]);
        ASSERT_LT(datagram, got.forwarded.size()) << rows[i].name << ": marker not forwarded";
        ++datagram;
        EXPECT_EQ(forwarded, rows[i].forwarded) << rows[i].name;
    }
    EXPECT_EQ(got.err.substr(errAt), "");
}

INSTANTIATE_TEST_SUITE_P(AllInputs, LineCases,
                         testing::Values(Input::Stdin, Input::Tcp, Input::Udp, Input::Serial), Name);

}  // namespace
