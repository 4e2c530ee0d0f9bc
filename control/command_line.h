// The options both programs share: --help and --version.
#pragma once

#include <string_view>

// When argument is --help or --version, prints the usage (or the program's
// name and version) on standard output and ends the process with 0; returns
// otherwise.
void AnswerHelpOrVersion(std::string_view argument, const char* program, const char* usage);
