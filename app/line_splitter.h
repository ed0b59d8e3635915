#pragma once
// Cuts input text into the pieces that may be sentences: the one rule of
// every input, whatever blocks, reads or datagrams the text arrives in.
//
// A piece ends at TAB, CR, LF or NUL, none of which a sentence holds, and
// before each "!" or "$" after its first character, since a sentence starts
// with one of them and neither stands inside one. Blanks (space, form feed)
// at a piece's ends are not part of it, and a piece of blanks only is no
// piece. A piece longer than kMaxSentence is no sentence and is dropped
// whole, never cut: a tail cut off a sentence could pass as one.
//
// A sink takes the pieces in order:
//   Sentence(const char* p, size_t n)  1 <= n <= kMaxSentence bytes, no cut
//                                      byte among them, no blank at either end;
//                                      p is valid for the call only
//   TooLong(size_t n)                  a piece of n > kMaxSentence bytes
//                                      (blanks at its ends not counted) was dropped

#include "ais/byte_scan.h"

#include <cstddef>
#include <string>

// The longest sentence: the parser takes a payload of 2000 characters, and a
// sentence's fields around it need a few dozen more.
constexpr size_t kMaxSentence = 2048;

namespace line_cut {

inline bool IsCut(char c) { return c == '\t' || c == '\r' || c == '\n' || c == '\0'; }
inline bool IsBlank(char c) { return c == ' ' || c == '\f'; }

// The first byte of [p + from, p + n) that ends a piece: a cut byte or the
// start of the next sentence; n when there is none.
inline size_t PieceEnd(const char* p, size_t from, size_t n) {
    return from + byte_scan::FindFirstOf<'\t', '\r', '\n', '\0', '!', '$'>(p + from, n - from);
}

// The first byte from i on that can start a piece.
inline size_t SkipGaps(const char* p, size_t i, size_t n) {
    while (i < n && (IsCut(p[i]) || IsBlank(p[i]))) ++i;
    return i;
}

// n without the blanks that end [p, p + n).
inline size_t Trimmed(const char* p, size_t n) {
    while (n > 0 && IsBlank(p[n - 1])) --n;
    return n;
}

// One whole piece whose first byte is no blank.
template <typename Sink>
void Hand(const char* p, size_t n, Sink& sink) {
    n = Trimmed(p, n);
    if (n > kMaxSentence) {
        sink.TooLong(n);
    } else {
        sink.Sentence(p, n);
    }
}

}  // namespace line_cut

// Hands every piece of a whole line, its last one included, to the sink,
// where they lie: nothing is copied.
template <typename Sink>
void CutLine(const char* p, size_t n, Sink&& sink) {
    for (size_t i = line_cut::SkipGaps(p, 0, n); i < n; i = line_cut::SkipGaps(p, i, n)) {
        const size_t end = line_cut::PieceEnd(p, i + 1, n);
        line_cut::Hand(p + i, end - i, sink);
        i = end;
    }
}

// The same over a stream that arrives in blocks. A piece that ends inside
// its block is handed on where it lies; only a piece cut by a block's end is
// copied, and of it no more than kMaxSentence bytes are ever held.
class LineSplitter {
public:
    // Hands on every piece that the block completes; the bytes after the
    // last cut wait for the next block.
    template <typename Sink>
    void Feed(const char* p, size_t n, Sink&& sink) {
        size_t i = 0;
        if (open_) {
            const size_t end = line_cut::PieceEnd(p, 0, n);
            extend(p, end);
            if (end == n) return;
            close(sink);
            i = end;
        }
        for (i = line_cut::SkipGaps(p, i, n); i < n; i = line_cut::SkipGaps(p, i, n)) {
            const size_t end = line_cut::PieceEnd(p, i + 1, n);
            if (end == n) {
                open_ = true;
                extend(p + i, n - i);
                return;
            }
            line_cut::Hand(p + i, end - i, sink);
            i = end;
        }
    }

    // The input ended: a piece still waiting is complete.
    template <typename Sink>
    void Finish(Sink&& sink) {
        if (open_) close(sink);
    }

    // Bytes of the piece that waits for more input.
    size_t Pending() const { return length_; }

    // Forgets the waiting piece.
    void Clear() {
        carry_.clear();
        open_ = false;
        length_ = 0;
        kept_ = 0;
    }

private:
    // Holds the first kMaxSentence bytes of the waiting piece and counts the
    // rest: a longer piece is dropped anyway, blanks at its end aside.
    void extend(const char* p, size_t n) {
        const size_t room = kMaxSentence - carry_.size();
        carry_.append(p, n < room ? n : room);
        const size_t text = line_cut::Trimmed(p, n);
        if (text > 0) kept_ = length_ + text;
        length_ += n;
    }

    template <typename Sink>
    void close(Sink& sink) {
        if (kept_ > kMaxSentence) {
            sink.TooLong(kept_);
        } else {
            sink.Sentence(carry_.data(), kept_);
        }
        Clear();
    }

    std::string carry_;  // the waiting piece's first bytes
    bool open_ = false;  // a piece waits
    size_t length_ = 0;  // its bytes so far
    size_t kept_ = 0;    // of them, those up to its last one that is no blank
};
