#include "app/options.h"
#include "export/export_settings.h"
#include "program.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

ParseOutcome parse(std::vector<std::string> args, std::string* message = nullptr) {
    args.insert(args.begin(), "aisbrinecast");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::string m;
    const ParseOutcome r = ParseOptions(static_cast<int>(args.size()), argv.data(), m);
    if (message) *message = m;
    return r;
}

struct OptionCase {
    const char* name;
    std::vector<std::string> args;
    ParseOutcome expected;
};

TEST(Options, WhenTheProgramMayRun) {
    const std::string H = "127.0.0.1:5000";
    const std::string longName(256, 'a');
    const OptionCase cases[] = {
        {"nothing", {}, ParseOutcome::Usage},
        {"mode without destination", {"-i"}, ParseOutcome::Usage},
        {"stdin", {"-i", "-H", H}, ParseOutcome::Run},
        {"stdin ignores extra arguments", {"-i", "-H", H, "extra"}, ParseOutcome::Run},
        {"destinations but no mode", {"-H", H}, ParseOutcome::Usage},
        {"tcp complete", {"-t", "-h", "127.0.0.1", "-p", "5000", "-H", H}, ParseOutcome::Run},
        {"tcp extra argument", {"-t", "-h", "127.0.0.1", "-p", "5000", "-H", H, "x"}, ParseOutcome::Usage},
        {"udp extra argument", {"-u", "-h", "0.0.0.0", "-p", "5000", "-H", H, "x"}, ParseOutcome::Usage},
        {"tcp without host", {"-t", "-p", "5000", "-H", H}, ParseOutcome::Usage},
        {"tcp port 0", {"-t", "-h", "127.0.0.1", "-p", "0", "-H", H}, ParseOutcome::Usage},
        {"tcp port too large", {"-t", "-h", "127.0.0.1", "-p", "65536", "-H", H}, ParseOutcome::Usage},
        {"udp port 65535", {"-u", "-h", "127.0.0.1", "-p", "65535", "-H", H}, ParseOutcome::Run},
        {"serial complete", {"-r", "-d", "/dev/ttyS0", "-s", "4800", "-H", H, "x"}, ParseOutcome::Run},
        {"serial without baud", {"-r", "-d", "/dev/ttyS0", "-H", H}, ParseOutcome::Usage},
        {"serial without device", {"-r", "-s", "4800", "-H", H}, ParseOutcome::Usage},
        {"downsampling 300", {"-i", "-H", H, "-D", "300"}, ParseOutcome::Run},
        {"downsampling 301", {"-i", "-H", H, "-D", "301"}, ParseOutcome::Usage},
        {"negative downsampling", {"-i", "-H", H, "-D", "-1"}, ParseOutcome::Usage},
        {"the last downsampling counts", {"-i", "-H", H, "-D", "400", "-D", "5"}, ParseOutcome::Run},
        {"range checked after the list", {"-i", "-D", "301", "-H", "no..such:1"}, ParseOutcome::Fatal},
        {"negative reconnect wait wraps", {"-i", "-H", H, "-x", "-1"}, ParseOutcome::Usage},
        {"downsampling that wraps", {"-i", "-H", H, "-D", "4294967297"}, ParseOutcome::Usage},
        {"negative purge", {"-i", "-H", H, "-P", "-5"}, ParseOutcome::Usage},
        {"export interval too large", {"-i", "-H", H, "-X", "65536"}, ParseOutcome::Usage},
        {"unknown option", {"-i", "-H", H, "-q"}, ParseOutcome::Usage},
        {"missing argument", {"-i", "-H", H, "-D"}, ParseOutcome::Usage},
        {"host too long", {"-i", "-H", H, "-h", longName}, ParseOutcome::Usage},
        {"device too long", {"-r", "-s", "4800", "-H", H, "-d", longName}, ParseOutcome::Usage},
        {"destination host too long", {"-i", "-H", longName + ":1"}, ParseOutcome::Usage},
        {"destination port too large", {"-i", "-H", "127.0.0.1:65536"}, ParseOutcome::Usage},
        {"unresolvable -h", {"-i", "-H", H, "-h", "no..such"}, ParseOutcome::Usage},
        {"unresolvable -H", {"-i", "-H", "no..such:1"}, ParseOutcome::Fatal},
        // A usage flag stops the parsing: the bad destination after it is never looked up.
        {"stops at the first fault", {"-i", "-q", "-H", "no..such:1"}, ParseOutcome::Usage},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c.args), c.expected) << c.name;
}

TEST(Options, Values) {
    ASSERT_EQ(parse({"-t", "-h", "localhost", "-p", "2000", "-H", "127.0.0.1:1", "-x", "0", "-y", "0"}),
              ParseOutcome::Run);
    EXPECT_EQ(params.mode, 't');
    EXPECT_STREQ(params.host, "localhost");
    EXPECT_EQ(params.port, 2000);
    EXPECT_EQ(params.reconnectWait, 10u);
    EXPECT_EQ(params.dataTimeout, 300);
    EXPECT_EQ(params.downsampling, 0);

    ASSERT_EQ(parse({"-u", "-t", "-r", "-i", "-H", "127.0.0.1:1", "-x", "7", "-y", "9", "-D", "30",
                     "-v", "-g", "-G", "-X", "10", "-z", "NO", "-P", "30", "-S", "/tmp/k", "-W", "http://x/"}),
              ParseOutcome::Run);
    EXPECT_EQ(params.mode, 'i');  // the last mode wins
    EXPECT_EQ(params.reconnectWait, 7u);  // defaults apply in TCP mode only
    EXPECT_EQ(params.dataTimeout, 9);
    EXPECT_EQ(params.downsampling, 30);
    EXPECT_TRUE(params.vdmOnly && params.dump && params.debug);
    EXPECT_EQ(exportTime, 10);
    EXPECT_FALSE(useKmz);
    EXPECT_EQ(purgeSnapshotTime, 1800);
    EXPECT_EQ(dir_name, "/tmp/k");
    EXPECT_EQ(imagesUrlDir, "http://x/");

    const struct { const char* word; bool kmz; } words[] = {
        {"yes", true}, {"YES", true}, {"Yes", true}, {"no", false}, {"NO", false}, {"maybe", false}};
    for (const auto& w : words) {
        ASSERT_EQ(parse({"-i", "-H", "127.0.0.1:1", "-z", w.word}), ParseOutcome::Run);
        EXPECT_EQ(useKmz, w.kmz) << w.word;
    }
    ASSERT_EQ(parse({"-i", "-H", "127.0.0.1:1"}), ParseOutcome::Run);
    EXPECT_TRUE(useKmz);
    EXPECT_EQ(exportTime, 0);
    EXPECT_EQ(purgeSnapshotTime, 900);
}

TEST(Options, DestinationList) {
    ASSERT_EQ(parse({"-i", "-H", "localhost:1,,127.0.0.1", "-H", "127.0.0.2:", "-H", "127.0.0.3:x"}),
              ParseOutcome::Run);
    ASSERT_EQ(OutgoingCount, 3u);  // the empty item and the item without ":" are skipped
    EXPECT_STREQ(Outgoing[0]->host, "localhost");
    EXPECT_EQ(Outgoing[0]->port, 1);
    EXPECT_STREQ(Outgoing[1]->host, "127.0.0.2");
    EXPECT_EQ(Outgoing[1]->port, 0);  // an item ending with ":" has port 0
    EXPECT_EQ(Outgoing[2]->port, 0);  // a port that isn't a number reads as 0

    std::string list;
    for (int i = 0; i < 100; ++i) list += "127.0.0.1:" + std::to_string(1000 + i) + ",";
    EXPECT_EQ(parse({"-i", "-H", list}), ParseOutcome::Run);
    EXPECT_EQ(OutgoingCount, 100u);
    std::string message;
    EXPECT_EQ(parse({"-i", "-H", list + "127.0.0.1:9"}, &message), ParseOutcome::Fatal);
    EXPECT_EQ(message, "Too many destinations (at most 100)\n");
    EXPECT_EQ(parse({"-i", "-H", "127.0.0.1:1,no..such:2"}, &message), ParseOutcome::Fatal);
    EXPECT_EQ(message, "Invalid host: no..such\n");
}

TEST(Options, ImageUrlMustBeXmlText) {
    // Every byte sequence below either runs (empty message) or is refused
    // with the message naming the first bad byte.
    const struct {
        const char* name;
        std::string url;
        std::string message;
    } cases[] = {
        {"ascii url", "http://icons.example/ais", ""},
        {"tab, line feed and carriage return", "a\tb\nc\rd", ""},
        {"delete is an XML character", "a\x7f", ""},
        {"two-byte letters", "/srv/ic\xc3\xb4nes", ""},
        {"three-byte letters", "/\xe8\x88\xb9", ""},
        {"four-byte symbol", "/\xf0\x9f\x9a\xa2", ""},
        {"last before the surrogates", "\xed\x9f\xbf", ""},
        {"first after the surrogates", "\xee\x80\x80", ""},
        {"replacement character", "\xef\xbf\xbd", ""},
        {"highest code point", "\xf4\x8f\xbf\xbf", ""},
        {"start of heading", "a\x01", "control character (byte 2)"},
        {"escape", "\x1b[31m", "control character (byte 1)"},
        {"vertical tab", "a\vb", "control character (byte 2)"},
        {"form feed", "a\fb", "control character (byte 2)"},
        {"unit separator", "ab\x1f", "control character (byte 3)"},
        {"overlong slash, two bytes", "a\xc0\xaf", "not UTF-8 (byte 2)"},
        {"overlong nul", "\xc0\x80", "not UTF-8 (byte 1)"},
        {"overlong slash, three bytes", "\xe0\x80\xaf", "not UTF-8 (byte 1)"},
        {"overlong slash, four bytes", "\xf0\x80\x80\xaf", "not UTF-8 (byte 1)"},
        {"high surrogate", "x\xed\xa0\x80", "not UTF-8 (byte 2)"},
        {"low surrogate", "\xed\xbf\xbf", "not UTF-8 (byte 1)"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", "not UTF-8 (byte 1)"},
        {"lead byte above f4", "\xf5\x80\x80\x80", "not UTF-8 (byte 1)"},
        {"lone continuation byte", "ab\x80", "not UTF-8 (byte 3)"},
        {"fe and ff", "\xfe\xff", "not UTF-8 (byte 1)"},
        {"truncated at the end", "ab\xe2\x82", "not UTF-8 (byte 3)"},
        {"truncated before ascii", "\xe2\x82x", "not UTF-8 (byte 1)"},
        {"truncated four-byte form", "\xf0\x9f\x9a", "not UTF-8 (byte 1)"},
        {"latin-1 text", "caf\xe9", "not UTF-8 (byte 4)"},
        {"U+FFFE", "\xef\xbf\xbe", "character not allowed in XML (byte 1)"},
        {"U+FFFF", "a\xef\xbf\xbf", "character not allowed in XML (byte 2)"},
    };
    for (const auto& c : cases) {
        std::string message;
        const ParseOutcome r = parse({"-i", "-H", "127.0.0.1:1", "-W", c.url}, &message);
        if (c.message.empty()) {
            EXPECT_EQ(r, ParseOutcome::Run) << c.name << ": " << message;
            EXPECT_EQ(imagesUrlDir, c.url) << c.name;
        } else {
            EXPECT_EQ(r, ParseOutcome::Fatal) << c.name;
            EXPECT_EQ(message, "Invalid -W image directory url: " + c.message + "\n") << c.name;
        }
    }
}

TEST(Options, Trim) {
    const struct { const char* in; const char* out; } cases[] = {
        {"", ""}, {" \f\n\r\t", ""}, {"\t !AIVDM,x \r\n", "!AIVDM,x"}, {"a b", "a b"}, {"\va\v", "\va\v"}};
    for (const auto& c : cases) EXPECT_EQ(trim(c.in), c.out) << c.in;
}

std::string fixture(const char* name) {
    std::ifstream f(std::string(AISB_TEST_DATA) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(Options, ProgramPrintsUsageAndExits255) {
    const std::string usage = fixture("usage.txt");
    ASSERT_FALSE(usage.empty());
    const std::vector<std::vector<std::string>> commands = {
        {}, {"-i"}, {"-i", "-H", "127.0.0.1:9", "-D", "301"}, {"-t", "-h", "127.0.0.1", "-H", "127.0.0.1:9"}};
    for (const auto& args : commands) {
        const ProgramResult r = RunProgram(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, usage);
        EXPECT_EQ(r.err, "");
    }
    const struct { std::vector<std::string> args; std::string err; } fatal[] = {
        {{"-i", "-H", "no..such:9"}, "Invalid host: no..such\n"},
        {{"-i", "-H", "127.0.0.1:9", "-X", "5", "-W", "icons\x01"},
         "Invalid -W image directory url: control character (byte 6)\n"},
    };
    for (const auto& f : fatal) {
        const ProgramResult r = RunProgram(f.args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, f.err);
    }
}

}  // namespace
