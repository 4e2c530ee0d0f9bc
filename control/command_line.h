// The options both programs share: --help, --version and --record.
#pragma once

#include <string_view>

// When argument is --help or --version, prints the usage (or the program's
// name and version) on standard output and ends the process with 0; returns
// otherwise.
void AnswerHelpOrVersion(std::string_view argument, const char* program, const char* usage);

// --record FILE: remembers it, or refuses it at once (one line, exit 2) when
// something by that name exists. A program that only finds another instance
// running never creates it.
void AskForRecording(const char* path, const char* program);

// Once the program holds its lock: starts the recording asked for, if any;
// one line and exit 2 when the file cannot be made.
void StartAskedRecording();
