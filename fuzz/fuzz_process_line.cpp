// Any bytes, cut into lines, through the per-line rule and the whole
// pipeline: gathering, decoding, duplicate window, snapshot and forwarder.
// The same bytes, fed to an input's splitter in blocks whose sizes the input
// chooses, must give the pieces the whole-line cut gives.
#include "ais/ais_parser.h"
#include "app/brinecast.h"
#include "app/intake.h"
#include "app/line_splitter.h"
#include "app/options.h"
#include "app/pipeline.h"
#include "export/export_thread.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Recorder {
    std::vector<std::string>& out;
    void Sentence(const char* p, size_t n) { out.emplace_back(p, n); }
    void TooLong(size_t n) { out.push_back("too long " + std::to_string(n)); }
};

void compareCuts(const std::string& text, const uint8_t* sizes, size_t count) {
    std::vector<std::string> whole, fed;
    CutLine(text.data(), text.size(), Recorder{whole});
    LineSplitter splitter;
    size_t at = 0;
    for (size_t i = 0; at < text.size(); ++i) {
        // Blocks of 1 to 256 bytes, and now and then a long one.
        size_t n = count ? sizes[i % count] + 1u : text.size();
        if (n == 256) n = 4096;
        if (n > text.size() - at) n = text.size() - at;
        splitter.Feed(text.data() + at, n, Recorder{fed});
        at += n;
    }
    splitter.Finish(Recorder{fed});
    if (fed != whole) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        params = TParams{};
        Parser = new AISParser();
        AISBrinecast = new Brinecast(nullptr, 0, 0);  // no destinations: no network
        exportKmlFile = true;
        return true;
    }();
    (void)ready;
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        processLine(text.data() + start, end - start);
        start = end + 1;
    }
    compareCuts(text, data, size < 16 ? size : 16);
    return 0;
}
