#include "control/command_line.h"

#include <cstdio>

#include "platform/process.h"

void AnswerHelpOrVersion(std::string_view argument, const char* program, const char* usage) {
    if (argument == "--help") {
        std::printf("%s\n", usage);
        EndProcess(0);
    }
    if (argument == "--version") {
        std::printf("%s %s\n", program, TAVOLEN_VERSION);
        EndProcess(0);
    }
}
