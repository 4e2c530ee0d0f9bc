// tavolen: the program with a real Wii Remote. It takes no command line but
// --help, --version and --record FILE.
#include <cstdio>
#include <string_view>

#include "control/command_line.h"
#include "control/startup.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "platform/standard_streams.h"
#include "remote/session_recorder.h"

namespace {

constexpr const char* kUsageLine = "usage: tavolen [--record FILE] | --help | --version";
constexpr const char* kUsage =
    "usage: tavolen [--record FILE] | --help | --version\n"
    "Shows live what a connected Wii Remote's IR camera sees. Escape, the close box\n"
    "or the remote's HOME button end it.\n"
    "  --record FILE  also write what the remote sends to FILE (a new file), as a\n"
    "                 script that tavolen-sim --script FILE replays";

[[noreturn]] void Refuse(const char* what, const char* argument) {
    std::fprintf(stderr, "tavolen: %s '%.60s'; %s\n", what, argument, kUsageLine);
    EndProcess(2);
}

}  // namespace

int main(int argc, char** argv) {
    StartProgram("tavolen", &argc, &argv);
    KeepStandardStreamsOpen();  // after the console is joined: no NUL handle hides it
    if (argc == 2) AnswerHelpOrVersion(argv[1], "tavolen", kUsage);
    const char* record = nullptr;
    for (int i = 1; i < argc; ++i) {
        // Anything else is a mistake: say so and leave the remote alone.
        if (std::string_view(argv[i]) != "--record") Refuse("unexpected argument", argv[i]);
        if (i + 1 >= argc) Refuse("a value is missing after", argv[i]);
        if (record != nullptr) Refuse("given twice:", argv[i]);
        record = argv[++i];
    }
    if (record != nullptr) AskForRecording(record, "tavolen");
    EndProcess(FinishRecording(RunTavolen(StartAskedRecording)));
}
