// tavolen-sim: the program with the simulated remote, for the demo and the
// end-to-end tests.
//
//   tavolen-sim [--script FILE | --scenario NAME] [--log FILE] [--record FILE]
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "control/command_line.h"
#include "control/startup.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "platform/standard_streams.h"
#include "remote/printable_text.h"
#include "remote/session_recorder.h"
#include "sim/sim_log.h"
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

const char* logPath = nullptr;
// The script read, kept open until the log has been compared with it: closed,
// its identity could pass to a file made meanwhile.
std::FILE* openScript = nullptr;
bool logCreated = false;      // this run made the log: a refusal removes it
std::FILE* openLog = nullptr;

// Refused: one line and exit 2, leaving behind nothing this run made.
[[noreturn]] void Refuse(const std::string& what) {
    // The log first: it may be the recording, which then goes too.
    if (openLog != nullptr && logCreated) RemoveOpenFile(openLog, logPath);
    if (openLog != nullptr && !logCreated) std::fclose(openLog);
    FinishRecording();  // no remote was opened yet, so the recording goes
    std::fprintf(stderr, "tavolen-sim: %s\n", MaskControlCharacters(what).c_str());
    EndProcess(kUsageError);
}

// Runs once this instance holds the single-instance lock: a second instance,
// which ends at once, never opens (or empties) the running one's log. Two
// names of one file (a link, a hard link, another spelling) are told apart
// by the files opened, whatever their names.
void OpenLogAndRecording() {
    StartAskedRecording();
    if (logPath != nullptr) {
        std::string problem;
        openLog = OpenSimLog(logPath, openScript, ReadRecordingIdentity(), &logCreated, &problem);
        if (openLog == nullptr) Refuse(problem);
        SimUseLog(openLog, logPath);
    }
    if (openScript != nullptr) std::fclose(openScript);
    openScript = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    StartProgram("tavolen-sim", &argc, &argv);
    KeepStandardStreamsOpen();  // after the console is joined: no NUL handle hides it
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
    if (record != nullptr) AskForRecording(record, "tavolen-sim");  // refuses an existing file
    std::error_code error;
    if (logPath != nullptr && std::filesystem::is_directory(FilePath(logPath), error)) {
        Refuse(std::string("cannot write the log ") + logPath + ": it is a directory");
    }

    Scenario scenario;
    std::string problem;
    if (script != nullptr) {
        if (!LoadScenarioFile(script, &scenario, &problem, &openScript)) Refuse(problem);
    } else if (!BuiltInScenario(scenarioName != nullptr ? scenarioName : "demo", &scenario)) {
        Refuse("unknown scenario " + QuoteForMessage(scenarioName) + " (demo, absent, silent, still)");
    }
    SimUseScenario(scenario);
    EndProcess(FinishRecording(RunTavolen(OpenLogAndRecording)));
}
