// The word-at-a-time searches against the plain byte loops they replace, at
// every length and position up to a few words, among fillers chosen to upset
// the borrow tricks: bytes next to the target, zero, and bytes with bit 7 set.
#include "ais/byte_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

const unsigned char kFillers[] = {'x', 0x00, 0x01, 0x7F, 0x80, 0xFF, 0xAC, '*' - 1, '*' + 1, ',' + 1, '\n' + 1};

std::string filled(size_t n, unsigned char filler) { return std::string(n, static_cast<char>(filler)); }

TEST(ByteScan, FindsTheFirstAndTheLastAtEveryPosition) {
    for (unsigned char f : kFillers) {
        for (size_t n = 0; n <= 40; ++n) {
            const std::string none = filled(n, f);
            EXPECT_EQ(byte_scan::FindFirstOf<'*'>(none.data(), n), n) << int(f) << " " << n;
            EXPECT_EQ(byte_scan::FindLast(none.data(), n, ','), n) << int(f) << " " << n;
            for (size_t at = 0; at < n; ++at) {
                SCOPED_TRACE(testing::Message() << "filler " << int(f) << " n " << n << " at " << at);
                std::string s = none;
                s[at] = '*';
                if (at + 3 < n) s[at + 3] = '*';  // a later one must not win
                EXPECT_EQ(byte_scan::FindFirstOf<'*'>(s.data(), n), at);
                std::string t = none;
                t[at] = ',';
                if (at >= 5) t[at - 5] = ',';  // an earlier one must not win
                EXPECT_EQ(byte_scan::FindLast(t.data(), n, ','), at);
                // Either of two (or three) bytes, whichever comes first.
                std::string u = none;
                u[at] = '\r';
                if (at + 1 < n) u[at + 1] = '\n';
                EXPECT_EQ((byte_scan::FindFirstOf<'\n', '\r'>(u.data(), n)), at);
                u[at] = '\n';
                EXPECT_EQ((byte_scan::FindFirstOf<'\n', '\r'>(u.data(), n)), at);
                std::string v = none;
                v[at] = '\t';
                EXPECT_EQ((byte_scan::FindFirstOf<'\t', '\r', '\n'>(v.data(), n)), at);
            }
        }
    }
}

TEST(ByteScan, XorUpToTheFirstStop) {
    std::string s;
    uint32_t x = 12345;
    for (int i = 0; i < 64; ++i) {
        x = x * 1103515245u + 12345u;
        const char c = static_cast<char>(x >> 24);
        s += c == '*' ? 'x' : c;
    }
    s[21] = s[46] = '*';  // stops at several places within a word
    for (size_t from = 0; from < 8; ++from) {
        for (size_t n = 0; from + n <= s.size(); ++n) {
            const char* p = s.data() + from;
            const size_t stop = std::find(p, p + n, '*') - p;
            unsigned char want = 0;
            for (size_t i = 0; i < stop; ++i) want ^= static_cast<unsigned char>(p[i]);
            unsigned char sum = 0;
            EXPECT_EQ(byte_scan::XorUpTo(p, n, '*', sum), stop) << from << " " << n;
            EXPECT_EQ(sum, want) << from << " " << n;
        }
    }
}

}  // namespace
