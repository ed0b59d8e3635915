// The calling thread: its stack as text, and its id.

#include "net/Utility.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cstdlib>

namespace {
// One backtrace_symbols line with its mangled name demangled:
// "file(name+off) [addr]" becomes "demangled+off [addr]".
std::string frameText(const char* symbol) {
    std::string line(symbol);
    size_t open = line.find('(');
    if (open == std::string::npos) return line;
    std::string name = line.substr(open + 1);
    std::string tail;
    std::string offset;
    size_t close = name.find(')');
    if (close != std::string::npos) {
        tail = name.substr(close + 1);
        name.erase(close);
    }
    size_t plus = name.find('+');
    if (plus != std::string::npos) {
        offset = name.substr(plus);
        name.erase(plus);
    }
    int status = 0;
    // A null buffer: the demangler allocates what it needs and we free it.
    char* demangled = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (status != 0 || demangled == nullptr) {
        free(demangled);
        return line;
    }
    std::string text = std::string(demangled) + offset + tail;
    free(demangled);
    return text;
}
}  // namespace

std::string Utility::Stack() {
    void* frames[255];
    int n = backtrace(frames, 255);
    if (n <= 0) return std::string();
    char** symbols = backtrace_symbols(frames, n);
    if (symbols == nullptr) return std::string();
    std::string text;
    for (int i = 0; i < n; ++i) {
        text += frameText(symbols[i]);
        text += "\n";
    }
    free(symbols);
    return text;
}

pthread_t Utility::ThreadID() { return pthread_self(); }
