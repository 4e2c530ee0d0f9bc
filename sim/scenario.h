// A scenario drives the simulated remote: what it does over time, read from a
// script (one event a line) or taken from the built-in ones.
//
//   <ms> ir <n> <x> <y> [size]   point n (1-4) seen at x 0-1023, y 0-767, size 0-15 (2)
//   <ms> ir <n> off              point n unseen
//   <ms> buttons <b1> <b2>       the two button bytes, hex
//   <ms> accel <x> <y> <z>       decimal 0-255
//   <ms> raw <hex bytes>         one input report exactly as given, 1-22 bytes
//   <ms> other <hex bytes>       an output report from another program (the
//                                kernel's driver), 1-22 bytes: the remote takes
//                                it as one of Tavolen's; it is not logged
//   <ms> silent | resume         stop / restart sending reports
//   <ms> disconnect              the remote is lost from then on
//   <ms> off                     the remote switched off as Windows shows it:
//                                from then on reads only time out and writes fail
//   <ms> away | back             out of range and back: meanwhile it sends
//                                nothing and no write reaches it (each times out)
//   <ms> extension on | off      an extension plugged in or pulled out: the
//                                remote says so in a status report and then
//                                sends no data report until a mode is set
//   <ms> battery <0-255>         the battery level its status reports give
//   absent | denied | rate <hz>  before the first event (denied: the remote is
//                                there but opening it is not permitted)
//   adapter <n> <k>              before the first event: behind an adapter with
//                                n slots (1-8), each a device of its own, the
//                                remote in slot k (0: none); an empty slot
//                                refuses writes and never sends
//   product <hex>                before the first event: the product identifier
//                                it reports, 0306 by default, 0330 for the Plus
//   recorded                     before the first event: a recorded session; the
//                                remote sends only the script's raw reports (no
//                                reports of its own, no answers), and still takes
//                                and logs what it is sent
//
// <ms> is whole milliseconds since the remote was opened, never decreasing.
// '#' starts a comment; blank lines are allowed; a UTF-8 byte-order mark at
// the start is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

enum class SimEventKind { Ir, IrOff, Buttons, Accel, Raw, Other, Silent, Resume, Disconnect, Extension, Battery, Off, Away, Back };

struct SimEvent {
    uint32_t ms = 0;
    SimEventKind kind = SimEventKind::Silent;
    int point = 0;              // Ir, IrOff: 0-3
    int x = 0, y = 0, size = 0; // Ir: camera position and size; Accel: x, y and z in size;
                                // Extension: 1 in, 0 out; Battery: the level
    uint8_t bytes[22] = {};     // Buttons: b1, b2; Raw, Other: the report
    std::size_t length = 0;     // Raw, Other: bytes used
};

struct Scenario {
    bool absent = false;        // opening finds no remote
    bool denied = false;        // opening finds a remote it may not open
    int rate = 100;             // reports per second in modes 0x31 and 0x33
    uint16_t product = 0x0306;  // the product identifier the remote reports
    bool demoMotion = false;    // the four points move on their own, forever
    bool recorded = false;      // only the script's raw reports: a replayed recording
    int adapterSlots = 0;       // 0: the remote alone; else the slots of its adapter
    int remoteSlot = 1;         // behind an adapter: the remote's slot, 1-based; 0 for none
    std::vector<SimEvent> events;  // in time order
};

// Parses a script. On a malformed line returns false with
// *error = "FILE:LINE: what is wrong" and leaves *out unspecified.
bool ParseScenario(std::string_view text, std::string_view fileName, Scenario* out,
                   std::string* error);

// Reads and parses a script file; an unreadable file, a directory and
// anything larger than 16 MiB are errors too. openFile, if given, gets the
// file that was read, still open, for the caller to close: while it is open,
// its identity (ReadFileIdentity) is its own.
bool LoadScenarioFile(const char* path, Scenario* out, std::string* error,
                      std::FILE** openFile = nullptr);

// text in single quotes for an error line: at most 60 characters of it, with
// control characters shown as '?'.
std::string QuoteForMessage(std::string_view text);

// The built-in scenarios: "demo" (moving points), "absent", "silent",
// "still" (points held still). False for an unknown name.
bool BuiltInScenario(std::string_view name, Scenario* out);
