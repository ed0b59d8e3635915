#include "app/options.h"

#include "app/fatal.h"
#include "export/export_settings.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

TParams params;
TOutgoing* Outgoing[kMaxDestinations];
uint32_t OutgoingCount = 0;

namespace {

const char kOptionString[] = "turih:p:H:d:x:y:D:s:vgGz:P:X:S:W:";
const char kDataSharingHost[] = "feed.shoalnet.example.org";

bool resolvesIpv4(const char* host) { return gethostbyname2(host, AF_INET) != nullptr; }

// strtol base 10; text that isn't a number gives 0, like the classic reading.
// `ok` turns false when the value doesn't fit a long.
long readNumber(const char* text, bool& ok) {
    errno = 0;
    long v = std::strtol(text, nullptr, 10);
    if (errno == ERANGE) ok = false;
    return v;
}

bool copyHost(char (&dst)[256], const char* src) {
    if (std::strlen(src) > 255) return false;
    std::strcpy(dst, src);
    return true;
}

void clearDestinations() {
    for (uint32_t i = 0; i < OutgoingCount; ++i) {
        delete Outgoing[i];
        Outgoing[i] = nullptr;
    }
    OutgoingCount = 0;
}

enum class ListResult { Ok, Usage, Fatal };

// Appends the items of one -H argument: "host:port" pieces separated by ",".
ListResult addDestinations(const char* list, std::string& message) {
    std::string text = std::string(list) + ",";
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1) {
        const std::string item = text.substr(start, comma - start);
        const size_t colon = item.find(':');
        if (colon == std::string::npos) continue;
        const std::string host = item.substr(0, colon);
        const std::string portText = item.substr(colon + 1);
        if (host.size() > 255) return ListResult::Usage;
        bool ok = true;
        const long port = readNumber(portText.c_str(), ok);
        if (!ok || port < 0 || port > 65535) return ListResult::Usage;
        if (OutgoingCount >= kMaxDestinations) {
            message = "Too many destinations (at most 100)\n";
            return ListResult::Fatal;
        }
        if (!resolvesIpv4(host.c_str())) {
            message = "Invalid host: " + host + "\n";
            return ListResult::Fatal;
        }
        auto* out = new TOutgoing{};
        std::strcpy(out->host, host.c_str());
        out->port = static_cast<int32_t>(port);
        Outgoing[OutgoingCount++] = out;
    }
    return ListResult::Ok;
}

// The icon base URL goes into every exported document: it must be UTF-8
// (shortest forms, no surrogates, nothing above U+10FFFF) holding only
// characters XML 1.0 allows, or every export would be malformed. Returns
// an empty text when it is, else the message for standard error.
std::string checkImagesUrl(const std::string& text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    auto refuse = [](const char* why, size_t at) {
        char line[128];
        std::snprintf(line, sizeof line, "Invalid -W image directory url: %s (byte %zu)\n", why, at + 1);
        return std::string(line);
    };
    for (size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') return refuse("control character", i);
            ++i;
            continue;
        }
        // The lead byte fixes the length and the range of the second byte;
        // the narrowed ranges shut out overlong forms, surrogates and
        // anything above U+10FFFF.
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            if (b == 0xE0) low = 0xA0;
            if (b == 0xED) high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;
        }
        bool valid = length != 0 && n - i >= length && s[i + 1] >= low && s[i + 1] <= high;
        for (size_t k = 2; valid && k < length; ++k) valid = s[i + k] >= 0x80 && s[i + k] <= 0xBF;
        if (!valid) return refuse("not UTF-8", i);
        // U+FFFE and U+FFFF are UTF-8 but not XML characters.
        if (b == 0xEF && s[i + 1] == 0xBF && s[i + 2] >= 0xBE) return refuse("character not allowed in XML", i);
        i += length;
    }
    return std::string();
}

}  // namespace

ParseOutcome ParseOptions(int argc, char** argv, std::string& message) {
    opterr = 0;
    optind = 0;  // full re-initialisation, so the parser may run more than once
    params = TParams{};
    params.downsampling = -1;
    clearDestinations();
    exportTime = 0;
    useKmz = true;
    purgeSnapshotTime = 900;
    dir_name.clear();
    imagesUrlDir.clear();

    // Numbers are range-checked after the last option, so the last one
    // given counts; a value its field cannot hold is refused, never wrapped.
    struct Number {
        long value = 0;
        bool given = false;
        bool readable = true;  // fits a long at all
        void Read(const char* text) {
            given = true;
            readable = true;
            value = readNumber(text, readable);
        }
        bool Within(long lo, long hi) const { return readable && value >= lo && value <= hi; }
    };
    Number port, baud, wait, timeout, interval, exportSeconds, purgeMinutes;

    bool usage = false;
    int opt;
    while (!usage && (opt = getopt(argc, argv, kOptionString)) != -1) {
        switch (opt) {
            case 't':
            case 'u':
            case 'r':
            case 'i':
                params.mode = static_cast<char>(opt);
                break;
            case 'h':
                usage = !copyHost(params.host, optarg) || !resolvesIpv4(params.host);
                break;
            case 'd':
                usage = !copyHost(params.device, optarg);
                break;
            case 'p': port.Read(optarg); break;
            case 's': baud.Read(optarg); break;
            case 'x': wait.Read(optarg); break;
            case 'y': timeout.Read(optarg); break;
            case 'D': interval.Read(optarg); break;
            case 'X': exportSeconds.Read(optarg); break;
            case 'P': purgeMinutes.Read(optarg); break;
            case 'H': {
                const ListResult r = addDestinations(optarg, message);
                if (r == ListResult::Fatal) return ParseOutcome::Fatal;
                usage = r == ListResult::Usage;
                break;
            }
            case 'v':
                params.vdmOnly = true;
                break;
            case 'g':
                params.dump = true;
                break;
            case 'G':
                params.debug = true;
                break;
            case 'z':
                useKmz = strcasecmp(optarg, "yes") == 0;
                break;
            case 'S':
                dir_name = optarg;
                break;
            case 'W':
                message = checkImagesUrl(optarg);
                if (!message.empty()) return ParseOutcome::Fatal;
                imagesUrlDir = optarg;
                break;
            default:  // unknown option or missing argument
                usage = true;
                break;
        }
    }
    if (usage) return ParseOutcome::Usage;

    if (!port.Within(INT32_MIN, INT32_MAX) || !baud.Within(0, UINT32_MAX) ||
        !wait.Within(0, UINT32_MAX) || !timeout.Within(INT32_MIN, INT32_MAX) ||
        !interval.Within(0, 300) || !exportSeconds.Within(0, UINT16_MAX) ||
        !purgeMinutes.Within(0, INT32_MAX))
        return ParseOutcome::Usage;
    params.port = static_cast<int32_t>(port.value);
    params.baud = static_cast<uint32_t>(baud.value);
    params.reconnectWait = static_cast<uint32_t>(wait.value);
    params.dataTimeout = static_cast<int32_t>(timeout.value);
    params.downsampling = static_cast<int32_t>(interval.value);  // 0 when not given
    if (exportSeconds.given) exportTime = static_cast<uint16_t>(exportSeconds.value);
    if (purgeMinutes.given) purgeSnapshotTime = static_cast<int64_t>(purgeMinutes.value) * 60;

    if (params.mode == 't') {
        if (params.dataTimeout == 0) params.dataTimeout = 300;
        if (params.reconnectWait == 0) params.reconnectWait = 10;
    }

    const bool haveDestinations = OutgoingCount > 0;
    switch (params.mode) {
        case 't':
        case 'u':
            if (params.host[0] == '\0' || params.port < 1 || params.port > 65535 ||
                !haveDestinations || optind < argc)
                return ParseOutcome::Usage;
            break;
        case 'i':
            if (!haveDestinations) return ParseOutcome::Usage;
            break;
        case 'r':
            if (!haveDestinations || params.device[0] == '\0' || params.baud == 0)
                return ParseOutcome::Usage;
            break;
        default:
            return ParseOutcome::Usage;
    }
    return ParseOutcome::Run;
}

std::string UsageText() {
    const std::string dashes(88, '-');
    const std::string entries[] = {
        "AIS Brinecast v1.2\nby the aisbrinecast developers, https://aisbrinecast.example.org",
        "\n" + dashes,
        "\nPlease support the project: share your AIS data with Shoalnet at https://shoalnet.example.org!",
        "\n" + dashes,
        "\nUsage:",
        "1. TCP client input:\n\taisbrinecast -t -h <host> -p <port> -H <host1:port1>,<host2:port2>,... [-x <timeout>] [-y <timeout>] [-D <ds time>] [-v]",
        "2. UDP input:\n\taisbrinecast -u -h <host> -p <port> -H <host1:port1>,<host2:port2>,... [-D <ds time>] [-v]",
        "3. Serial input:\n\taisbrinecast -r -d <device> -s <baudrate> -H <host1:port1>,<host2:port2>,... [-D <ds time>] [-v]",
        "4. <stdin> input:\n\taisbrinecast -i -H <host1:port1>,<host2:port2>,... [-D <ds time>] [-v]",
        "\nOptions:",
        "\t-t \tTCP client input mode",
        "\t-u \tUDP input mode",
        "\t-r \tSerial input mode",
        "\t-i \t<stdin> input mode",
        "\t-h \tTCP server host (in TCP input mode)\n\t\tUDP bind host (in UDP input mode 0.0.0.0 means all interfaces)",
        "\t-p \tTCP server port (in TCP input mode)\n\t\tUDP listen port (in UDP input mode)",
        "\t-d \tSerial device alias (ex. /dev/ttyS0)",
        "\t-s \tSerial device baud rate",
        "\t-H \tDestination(s) <host1:port1>,<host2:port2>...",
        "\t-x \tReconnect timeout (time interval between TCP connection attempts, 10 seconds by default)",
        "\t-y \tData timeout (automatic TCP reconnect if there are no data for the specified time, 300 seconds by default)",
        "\t-D \tDownsampling time (0 seconds = no downsampling by default. MAX=300)",
        "\t-v \tDispatch VDM messages only (dispatch all messages by default)",
        "\t-g \tShow NMEA dump",
        "\t-G \tTurn debug on",
        "\t-X \tSeconds for exporting KML/KMZ (default=0 export is disabled)",
        "\t-z \tUse ZIP compression (Google KMZ default=yes)",
        "\t-P \tTime to delete vessels from memory snapshot older than 'N' minutes (default=15 min.)",
        "\t-S \tDirectory for saving KML/KMZ file (default: install_dir/kml_export)",
        "\t-W \tImage directory url (default: empty using Google Earth default icons)",
        "\nExamples:",
        std::string("TCP example:    aisbrinecast -t -h ") + kDataSharingHost +
            " -p 1234 -H 127.0.0.1:5000,192.168.1.5:5001 -x10 -y60",
        std::string("UDP example:    aisbrinecast -u -h 0.0.0.0 -p 5000 -H ") + kDataSharingHost +
            ":1235 -D30 -v",
        "Serial exmaple: aisbrinecast -r -d /dev/ttyS0 -s 38400 -H 192.168.1.5:5001",
        "STDIN exmaple:  cat nmea.log | aisbrinecast -i -H localhost:1234\n",
    };
    std::string text;
    for (const auto& e : entries) text += e + "\n";  // one puts() per entry
    return text;
}

bool ProcessParameters(int argc, char** argv) {
    std::string message;
    switch (ParseOptions(argc, argv, message)) {
        case ParseOutcome::Run:
            return false;
        case ParseOutcome::Usage:
            std::fputs(UsageText().c_str(), stdout);
            std::fflush(stdout);
            return true;
        case ParseOutcome::Fatal:
            std::fputs(message.c_str(), stderr);
            FatalExit();
    }
    return true;
}

std::string trim(std::string s) {
    const char* blanks = " \f\n\r\t";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    const size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}
