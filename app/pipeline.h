#pragma once
// The message pipeline: decode one gathered message, drop it when it was
// seen in the last ten seconds, update the snapshot when the export is on,
// and hand it to the forwarder.

#include <cstdint>
#include <ctime>
#include <string>

class AISParser;
extern AISParser* Parser;

// Runs the pipeline on one gathered message text: its sentences, each
// followed by "\r\n". Sentences that don't complete a message by the end of
// the text are discarded (under -G: one "invalid" line).
void ProcessMessage(char* text);

// ProcessMessage on the text of one sentence of n bytes and "\r\n", without
// building that text.
void ProcessSentence(const char* line, size_t n);

// Handles one sentence of the message in progress.
void parseNMEA(char* line);

// The duplicate key of the message the parser holds: its payload CRC-32 in
// the high half, a second hash of the same bits and their length in the low
// half. A message of 24 bits or less, whose CRC is 0, has its bits and length
// there as they are.
uint64_t MessageKey(const AISParser& parser);

// True when `key` is new within the ten-second window (and records it),
// false for a duplicate. The window counts from the first sighting.
bool nodup(uint64_t key);

// While one lives, a new message that would print nothing and leave the
// snapshot alone (no -g, -G or export) is tested and sent when the next
// message has been decoded, or at FlushPipeline, whichever comes first: its
// duplicate window and forwarder rows load into the cache meanwhile.
// Datagrams, table updates and clock reads keep their order. An input loop
// keeps one over what one read hands it; the last one to end sends what
// waits, so no message waits for more input. Without one, each message is
// finished at once. Its life is also a send batch of the forwarder
// (AISBrinecast, which must not change meanwhile): the datagrams leave
// together when it ends.
class HeldMessages {
public:
    HeldMessages();
    ~HeldMessages();
    HeldMessages(const HeldMessages&) = delete;
    HeldMessages& operator=(const HeldMessages&) = delete;
};
// Tests and sends the message held back, if any.
void FlushPipeline();

// Forwards a non-"VDM" sentence (with "\r\n") unless -v is set.
void sendNoneVDM(char* text);

// Empties the duplicate window and the texts in progress (tests).
void ResetPipeline();

// Number of entries in the duplicate window now.
size_t DupWindowSize();
