#pragma once
// Serial input: the device opened raw at the given baud rate, read in blocks
// and cut as every input cuts its text (app/line_splitter.h).

#include "app/line_splitter.h"

#include <atomic>
#include <cstddef>
#include <functional>

struct SerialTiming {
    unsigned reopenWaitSeconds = 60;     // after a failed open, a device lost without data, or
                                         // a path that is not a character device
    unsigned lostAfterReads = 10;        // consecutive empty or failed reads
    const std::atomic<bool>* stop = nullptr;  // tests end the loop with it
    std::function<void(unsigned)> wait;  // tests: called instead of sleeping that many seconds
};

// Maps a baud rate to its terminal speed; false for a rate the port can't take.
bool BaudToSpeed(unsigned baud, unsigned& speed);

// The serial loop. Returns only when `timing.stop` is set; ends the process
// with status 255 on an invalid baud rate. A path that opens but is not a
// character device (a regular file, say) is read to its end once, reported
// once, and from then on counts as a device that cannot be opened until a
// character device stands under that path.
void doSerial(const char* device, unsigned baud, const SerialTiming& timing = SerialTiming());

// Bytes asked of one read.
constexpr size_t kSerialBlock = 2000;

// The accumulator of the serial input: hands every piece a block completes
// to SentenceRule, cut as every input cuts its text (app/line_splitter.h);
// the bytes after the last cut wait for the next block.
class SerialAccumulator {
public:
    void Feed(const char* block, size_t length);
    // The input ended: a piece still waiting is its last one.
    void Finish();
    size_t Pending() const { return lines_.Pending(); }
private:
    LineSplitter lines_;
};
