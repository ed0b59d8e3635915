#pragma once
// The per-line rule that every input mode ends in, and the gathering of the
// fragments of multi-sentence AIS messages.

#include <cstdio>
#include <string>

// The per-sentence rule, as the sink of CutLine and LineSplitter
// (app/line_splitter.h): every input hands its pieces to it.
struct SentenceRule {
    // One sentence candidate of n bytes: a bad checksum is dropped, a "VDM"
    // sentence is gathered, any other valid sentence is forwarded with
    // "\r\n" appended.
    void Sentence(const char* s, size_t n) const;
    // A piece too long to be a sentence was dropped: reported under -G only.
    void TooLong(size_t n) const;
};

// Cuts one whole line into pieces (see app/line_splitter.h) and hands each
// to SentenceRule.
void processLine(const char* line);
// The same on a line of n bytes; no NUL need follow.
void processLine(const char* line, size_t n);

// Gathers one "VDM" sentence that passed checkCRC and checkVDM; hands the
// gathered text to ProcessMessage when the message is complete.
void sendMessage(char* line);

// Empties the gathering state (start of a test, or a new input).
void ResetGathering();

// Reads descriptor `fd` until a read returns the end or fails and hands its
// text, cut into pieces as every input cuts it, to SentenceRule; a last
// piece without a line end counts too.
void ReadStandardInput(int fd);
