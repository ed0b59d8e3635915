#include "export/export_report.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

std::atomic<void (*)(const char*)> reporter{nullptr};

}  // namespace

void SetExportReporter(void (*report)(const char* text)) { reporter = report; }

void ExportReport(const char* format, ...) {
    void (*report)(const char*) = reporter;
    if (!report) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n >= 0) {
        std::string text(static_cast<size_t>(n), '\0');
        std::vsnprintf(&text[0], text.size() + 1, format, again);
        report(text.c_str());
    }
    va_end(again);
}
