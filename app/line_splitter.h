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
        size_t start = 0;
        for (;;) {
            const size_t sep = buffer_.find_first_of(kSeparators, start);
            if (sep == std::string::npos) break;
            if (sep > start) {
                buffer_[sep] = '\0';
                onLine(buffer_.c_str() + start);
            }
            start = sep + 1;
        }
        buffer_.erase(0, start);
    }

    size_t Pending() const { return buffer_.size(); }
    void Clear() { buffer_.clear(); }

private:
    static constexpr const char* kSeparators = "\t\r\n";
    std::string buffer_;
};
