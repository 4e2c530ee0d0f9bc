#include "platform/program_start.h"

#include <cstdio>

// The command line is already in the user's encoding, which file names share.
void StartProgram(const char*, int*, char***) {}

void ShowProgramText(const char*, const char* text) { std::printf("%s\n", text); }
