// tavolen: the program with a real Wii Remote. It takes no command line but
// --help and --version.
#include <cstdio>

#include "control/command_line.h"
#include "control/startup.h"
#include "platform/process.h"

namespace {

constexpr const char* kUsage =
    "usage: tavolen [--help | --version]\n"
    "Shows live what a connected Wii Remote's IR camera sees. Escape, the close box\n"
    "or the remote's HOME button end it.";

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        if (argc == 2) AnswerHelpOrVersion(argv[1], "tavolen", kUsage);
        // Anything else is a mistake: say so and leave the remote alone.
        std::fprintf(stderr, "tavolen: unexpected argument '%.60s'; usage: tavolen [--help | --version]\n",
                     argv[1]);
        EndProcess(2);
    }
    EndProcess(RunTavolen());
}
