#pragma once
// The command line: one options record, the destination list and the export
// settings (export/export_settings.h). Written once at start-up, read-only
// afterwards.

#include <cstdint>
#include <string>

struct TParams {
    char mode;              // 't' TCP client, 'u' UDP listener, 'r' serial, 'i' stdin; 0 = none
    char host[256];         // TCP server host or UDP bind host
    char device[256];       // serial device path
    int32_t port;           // TCP server port or UDP listen port
    uint32_t reconnectWait; // seconds before a new TCP connection attempt
    uint32_t baud;          // serial baud rate
    int32_t dataTimeout;    // seconds without TCP input before reconnecting
    int32_t downsampling;   // downsampling interval in seconds
    bool vdmOnly;           // forward AIS ("VDM") messages only
    bool dump;              // dump handled sentences to standard output
    bool debug;             // debug lines on standard error
};

struct TOutgoing {
    char host[256];
    int32_t port;
};

constexpr unsigned kMaxDestinations = 100;

extern TParams params;
extern TOutgoing* Outgoing[kMaxDestinations];
extern uint32_t OutgoingCount;

// What the command line asks for, before anything is printed.
enum class ParseOutcome {
    Run,    // options suffice
    Usage,  // print the usage text, exit 255
    Fatal,  // print `message` on standard error, exit 255
};

// Parses and validates the command line into the globals above. Performs no
// output; on Fatal, `message` holds the complete text for standard error.
ParseOutcome ParseOptions(int argc, char** argv, std::string& message);

// Parses the command line; prints the usage text and returns true when the
// options don't suffice. Ends the process with status 255 on a fatal error
// (an unresolvable -H host, too many destinations).
bool ProcessParameters(int argc, char** argv);

// The usage text, exactly as printed.
std::string UsageText();

// Copy without leading and trailing " \f\n\r\t".
std::string trim(std::string s);
