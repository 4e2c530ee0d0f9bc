// Records a session with the remote as a script that the simulated remote
// replays: every input report the channel delivers, from the open to the
// close, as "<ms> raw <hex bytes>", and the output reports it was sent as
// comments, under a header that says what recorded it.
//
// The reader only appends to a buffer; a thread of the recorder's own writes
// the buffer out twice a second, and the close writes the rest. A process
// killed outright loses at most the last second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"

// Creates path (never an existing file) and starts recording into it; the
// first write a remote accepts is the recording's time 0. program names the
// recorder in the header ("tavolen 0.1.0"). False with *error set when the
// file cannot be made.
bool StartRecording(const char* path, const char* program, std::string* error);

// The file being recorded into (known is false when there is none).
FileIdentity ReadRecordingIdentity();

// From the channel. No-ops while nothing is recorded.
// The remote took its first write, in the stack's writeForm ("exact",
// "padded", "control" or ""): the recording's time 0.
void RecordOpened(int vendor, int product, const char* writeForm);
void RecordInput(const uint8_t* report, std::size_t length);
void RecordOutput(const uint8_t* report, std::size_t length);
void RecordClosed();  // writes out everything and ends the recording

// The exit code of a run whose recording could not be written whole (a full
// disk): the file then ends at its last whole line.
inline constexpr int kRecordingFailedExitCode = 3;

// The program is ending: writes out what is left; a recording in which no
// remote was ever opened holds nothing to replay and is removed. Returns the
// code to end with: exitCode, or kRecordingFailedExitCode when exitCode is 0
// and the recording could not be written whole.
int FinishRecording(int exitCode = 0);
