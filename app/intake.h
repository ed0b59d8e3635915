#pragma once
// The per-line rule that every input mode ends in, and the gathering of the
// fragments of multi-sentence AIS messages.

#include <cstdio>
#include <string>

// Cuts one input line (no NUL inside) into sentences, at each TAB, CR and
// LF and before each "!" or "$" after a piece's first character, and routes
// each non-empty piece on its own: a bad checksum is dropped, a "VDM"
// sentence is gathered, any other valid sentence is forwarded with "\r\n"
// appended.
void processLine(const char* line);
// The same on a line of n bytes; no NUL need follow.
void processLine(const char* line, size_t n);

// Gathers one "VDM" sentence that passed checkCRC and checkVDM; hands the
// gathered text to ProcessMessage when the message is complete.
void sendMessage(char* line);

// Empties the gathering state (start of a test, or a new input).
void ResetGathering();

// Reads descriptor `fd` until a read returns the end or fails, cuts it into
// lines at CR and at LF (a CR LF or LF CR pair is one line end), trims each
// line and hands it to processLine; a last line without a line end counts
// too, a line that trims to nothing is skipped. Lines longer than
// kMaxInputLine are dropped whole.
void ReadStandardInput(int fd);

constexpr size_t kMaxInputLine = 65536;
