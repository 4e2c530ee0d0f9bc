#include "control/command_line.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "remote/printable_text.h"
#include "remote/session_recorder.h"

namespace {

const char* recordPath = nullptr;
const char* recordingProgram = nullptr;

[[noreturn]] void RefuseRecording(const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", recordingProgram, MaskControlCharacters(why).c_str());
    EndProcess(2);
}

}  // namespace

void AnswerHelpOrVersion(std::string_view argument, const char* program, const char* usage) {
    if (argument == "--help") {
        ShowProgramText(program, usage);
        EndProcess(0);
    }
    if (argument == "--version") {
        ShowProgramText(program, (std::string(program) + " " + TAVOLEN_VERSION).c_str());
        EndProcess(0);
    }
}

void AskForRecording(const char* path, const char* program) {
    recordingProgram = program;
    std::error_code error;
    const std::filesystem::path name = FilePath(path);
    if (std::filesystem::symlink_status(name, error).type() != std::filesystem::file_type::not_found) {
        RefuseRecording(std::string("cannot record into ") + path +
                        ": it exists already, and a recording never replaces a file");
    }
    const std::filesystem::path folder = std::filesystem::absolute(name, error).parent_path();
    if (!std::filesystem::is_directory(folder, error)) {
        RefuseRecording(std::string("cannot record into ") + path + ": no folder " + PathText(folder));
    }
    recordPath = path;
}

void StartAskedRecording() {
    if (recordPath == nullptr) return;
    std::string error;
    const std::string program = std::string(recordingProgram) + " " + TAVOLEN_VERSION;
    if (!StartRecording(recordPath, program.c_str(), &error)) RefuseRecording(error);
}
