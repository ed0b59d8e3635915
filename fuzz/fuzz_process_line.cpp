// Any bytes, cut into lines, through the per-line rule and the whole
// pipeline: gathering, decoding, duplicate window, snapshot and forwarder.
#include "ais/ais_parser.h"
#include "app/brinecast.h"
#include "app/intake.h"
#include "app/options.h"
#include "app/pipeline.h"
#include "export/export_thread.h"

#include <cstddef>
#include <cstdint>
#include <string>

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
        processLine(text.substr(start, end - start).c_str());
        start = end + 1;
    }
    return 0;
}
