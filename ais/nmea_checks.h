#pragma once
// Checks on one NMEA 0183 line, given without its line end. Both functions
// are pure: no state, no allocation, the line is never changed.

#include <cstddef>

// Result codes of checkCRC.
enum : int {
    kCrcValid = 0,      // checksum digits match the computed checksum
    kCrcTooShort = 1,   // line of 8 bytes or less
    kCrcNoField = 2,    // no "*" three characters before the end
    kCrcMismatch = 3,   // digits differ, or a digit is not 0-9/A-F
};

// XOR of the bytes from index 1 up to the first "*", compared with the two
// upper-case hexadecimal digits that follow that "*".
int checkCRC(const char* line);
// The same on a line of `length` bytes (no NUL among them; none need follow).
int checkCRC(const char* line, size_t length);

// True when the line has the fixed-position shape of an AIS "VDM" sentence:
// "xxxVDM,c,n,...,f*hh" with single-digit fragment count c, fragment number n
// and fill-bit count f. Only those positions are examined.
bool checkVDM(const char* line);
bool checkVDM(const char* line, size_t length);
