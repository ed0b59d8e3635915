#pragma once
// The per-line rule that every input mode ends in, and the gathering of the
// fragments of multi-sentence AIS messages.

#include <cstdio>
#include <string>

// Checks one NMEA line (no line end) and routes it: a bad checksum is
// dropped, a "VDM" sentence is gathered, any other valid sentence is
// forwarded with "\r\n" appended.
void processLine(const char* line);
// The same on a line of n bytes, NUL-terminated, no NUL among them.
void processLine(const char* line, size_t n);

// Gathers one "VDM" sentence that passed checkCRC and checkVDM; hands the
// gathered text to ProcessMessage when the message is complete.
void sendMessage(char* line);

// Empties the gathering state (start of a test, or a new input).
void ResetGathering();

// Reads descriptor `fd` until a read returns the end or fails, cuts it into
// lines at CR and at LF (a CR LF or LF CR pair is one line end), trims each
// line and hands it to processLine; a last line without a line end counts
// too. Lines longer than kMaxInputLine are dropped whole.
void ReadStandardInput(int fd);

constexpr size_t kMaxInputLine = 65536;
