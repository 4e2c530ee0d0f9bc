// tavolen-sim: the program with the simulated remote, for the demo and the
// end-to-end tests.
//
//   tavolen-sim [--script FILE | --scenario NAME] [--log FILE] [--record FILE]
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "control/command_line.h"
#include "control/startup.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "remote/session_recorder.h"
#include "sim/sim_remote.h"

namespace {

constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: tavolen-sim [--script FILE | --scenario NAME] [--log FILE] [--record FILE]";
constexpr const char* kHelp =
    "usage: tavolen-sim [--script FILE | --scenario NAME] [--log FILE] [--record FILE]\n"
    "Runs Tavolen with a simulated Wii Remote.\n"
    "  --script FILE    play the events of a scenario script or a recording (see tavolen(1))\n"
    "  --scenario NAME  a built-in scenario: demo (the default), still, silent, absent\n"
    "  --log FILE       write every output report the remote receives to FILE\n"
    "  --record FILE    record what the remote sends into FILE (a new file), as tavolen does\n"
    "  --help, --version";

[[noreturn]] void Refuse(const std::string& what) {
    std::fprintf(stderr, "tavolen-sim: %s\n", what.c_str());
    EndProcess(kUsageError);
}

// Both paths name one file (through links, or the same path twice), or
// would once it is made.
bool IsSameFile(const char* a, const char* b) {
    std::error_code error;
    if (std::filesystem::equivalent(FilePath(a), FilePath(b), error) && !error) return true;
    const std::filesystem::path first = std::filesystem::weakly_canonical(FilePath(a), error);
    return !error && first == std::filesystem::weakly_canonical(FilePath(b), error) && !error;
}

const char* logPath = nullptr;

// Runs once this instance holds the single-instance lock: a second instance,
// which ends at once, never opens (or truncates) the running one's log.
void OpenLogAndRecording() {
    StartAskedRecording();
    if (logPath == nullptr) return;
    // Binary: the same bytes, "\n" line ends, on every system.
    std::FILE* log = OpenFile(logPath, "wb");
    if (log == nullptr) {
        Refuse("cannot write the log " + std::string(logPath) + ": " + std::strerror(errno));
    }
    SimUseLog(log, logPath);
}

}  // namespace

int main(int argc, char** argv) {
    StartProgram("tavolen-sim", &argc, &argv);
    const char* script = nullptr;
    const char* scenarioName = nullptr;
    const char* record = nullptr;
    if (argc == 2) AnswerHelpOrVersion(argv[1], "tavolen-sim", kHelp);
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const char** target = option == "--script"     ? &script
                              : option == "--scenario" ? &scenarioName
                              : option == "--log"      ? &logPath
                              : option == "--record"   ? &record
                                                       : nullptr;
        if (target == nullptr) Refuse("unknown option " + QuoteForMessage(option) + "; " + kUsage);
        if (i + 1 >= argc) Refuse(std::string(option) + " needs a value; " + kUsage);
        if (*target != nullptr) Refuse(std::string(option) + " given twice; " + kUsage);
        *target = argv[++i];
    }
    if (script != nullptr && scenarioName != nullptr) {
        Refuse(std::string("--script and --scenario exclude each other; ") + kUsage);
    }
    if (script != nullptr && logPath != nullptr && IsSameFile(script, logPath)) {
        Refuse(std::string("--log names the script ") + script + "; the log would overwrite it");
    }
    if (record != nullptr && logPath != nullptr && IsSameFile(record, logPath)) {
        Refuse(std::string("--record and --log name the same file ") + record);
    }
    if (record != nullptr) AskForRecording(record, "tavolen-sim");  // refuses an existing file
    std::error_code error;
    if (logPath != nullptr && std::filesystem::is_directory(FilePath(logPath), error)) {
        Refuse(std::string("cannot write the log ") + logPath + ": it is a directory");
    }

    Scenario scenario;
    std::string problem;
    if (script != nullptr) {
        if (!LoadScenarioFile(script, &scenario, &problem)) Refuse(problem);
    } else if (!BuiltInScenario(scenarioName != nullptr ? scenarioName : "demo", &scenario)) {
        Refuse("unknown scenario " + QuoteForMessage(scenarioName) + " (demo, absent, silent, still)");
    }
    SimUseScenario(scenario);
    const int code = RunTavolen(OpenLogAndRecording);
    FinishRecording();
    EndProcess(code);
}
