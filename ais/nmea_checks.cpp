#include "ais/nmea_checks.h"

#include "ais/byte_scan.h"

#include <cstring>

namespace {

// -1 for anything but "0"-"9" and "A"-"F": such a digit can never match.
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int checkCRC(const char* line) { return checkCRC(line, std::strlen(line)); }

int checkCRC(const char* line, size_t n) {
    if (n <= 8) return kCrcTooShort;
    if (line[n - 3] != '*') return kCrcNoField;

    // Index 0 is never part of the sum; the "*" at n-3 bounds the search.
    unsigned char sum;
    const size_t i = 1 + byte_scan::XorUpTo(line + 1, n - 1, '*', sum);

    const int hi = hexDigit(line[i + 1]);
    const int lo = hexDigit(line[i + 2]);
    if (hi < 0 || lo < 0) return kCrcMismatch;
    return sum == hi * 16 + lo ? kCrcValid : kCrcMismatch;
}

bool checkVDM(const char* line) { return checkVDM(line, std::strlen(line)); }

bool checkVDM(const char* line, size_t n) {
    if (n <= 17) return false;
    return line[3] == 'V' && line[4] == 'D' && line[5] == 'M' && line[6] == ',' &&
           isDigit(line[7]) && line[8] == ',' &&
           isDigit(line[9]) && line[10] == ',' &&
           line[n - 5] == ',' && isDigit(line[n - 4]) && line[n - 3] == '*';
}
