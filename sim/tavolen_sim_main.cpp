// tavolen-sim: the program with the simulated remote, for the demo and the
// end-to-end tests.
//
//   tavolen-sim [--script FILE | --scenario NAME] [--log FILE]
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "control/startup.h"
#include "platform/process.h"
#include "sim/sim_remote.h"

namespace {

constexpr int kUsageError = 2;

[[noreturn]] void Refuse(const std::string& what) {
    std::fprintf(stderr, "tavolen-sim: %s\n", what.c_str());
    EndProcess(kUsageError);
}

constexpr const char* kUsage =
    "usage: tavolen-sim [--script FILE | --scenario NAME] [--log FILE]";

}  // namespace

int main(int argc, char** argv) {
    const char* script = nullptr;
    const char* scenarioName = nullptr;
    const char* logPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const char** target = option == "--script"     ? &script
                              : option == "--scenario" ? &scenarioName
                              : option == "--log"      ? &logPath
                                                       : nullptr;
        if (target == nullptr) Refuse("unknown option '" + std::string(option) + "'; " + kUsage);
        if (i + 1 >= argc) Refuse(std::string(option) + " needs a value; " + kUsage);
        if (*target != nullptr) Refuse(std::string(option) + " given twice; " + kUsage);
        *target = argv[++i];
    }
    if (script != nullptr && scenarioName != nullptr) {
        Refuse(std::string("--script and --scenario exclude each other; ") + kUsage);
    }

    Scenario scenario;
    std::string error;
    if (script != nullptr) {
        if (!LoadScenarioFile(script, &scenario, &error)) Refuse(error);
    } else if (!BuiltInScenario(scenarioName != nullptr ? scenarioName : "demo", &scenario)) {
        Refuse(std::string("unknown scenario '") + scenarioName +
               "' (demo, absent, silent, still)");
    }

    std::FILE* log = nullptr;
    if (logPath != nullptr) {
        // Binary: the same bytes, "\n" line ends, on every system.
        log = std::fopen(logPath, "wb");
        if (log == nullptr) {
            Refuse(std::string("cannot write the log ") + logPath + ": " + std::strerror(errno));
        }
    }
    SimUseScenario(scenario);
    SimUseLog(log);
    EndProcess(RunTavolen());
}
