#pragma once
// Cuts a byte stream into lines at tab, carriage return and line feed, the
// way the serial and UDP inputs need it: empty lines are not handed on, and
// the characters after the last separator wait for more input.

#include <string>

class LineSplitter {
public:
    // Appends `text` and hands every complete line to `onLine`.
    template <typename F>
    void Feed(const char* text, size_t length, F&& onLine) {
        buffer_.append(text, length);
        char* const begin = &buffer_[0];
        char* const end = begin + buffer_.size();
        char* start = begin;
        for (char* p = begin; p < end; ++p) {
            if (*p != '\t' && *p != '\r' && *p != '\n') continue;
            if (p > start) {
                *p = '\0';
                onLine(static_cast<const char*>(start));
            }
            start = p + 1;
        }
        buffer_.erase(0, static_cast<size_t>(start - begin));
    }

    // Hands on the characters still waiting as one line, if there are any.
    template <typename F>
    void Finish(F&& onLine) {
        if (buffer_.empty()) return;
        std::string last;
        last.swap(buffer_);
        onLine(last.c_str());
    }

    size_t Pending() const { return buffer_.size(); }
    void Clear() { buffer_.clear(); }

private:
    std::string buffer_;
};
