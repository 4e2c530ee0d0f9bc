#include "remote/session_recorder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/immortal.h"
#include "remote/printable_text.h"

namespace {

constexpr std::size_t kMaxRawBytes = 22;  // the longest report a script's raw line holds
constexpr auto kWriteInterval = std::chrono::milliseconds(500);
constexpr int kProductRemote = 0x0306;

struct Recorder {
    std::atomic<bool> active{false};  // StartRecording succeeded

    std::mutex bufferMutex;  // guards the members up to fileMutex
    std::string pending;     // lines not yet written out
    bool opened = false;     // a remote was opened: the recording has a time 0
    bool closed = false;     // the remote was closed: nothing more comes
    int64_t openCount = 0;   // ReadPerformanceCounter() at the open

    std::mutex fileMutex;    // held while the file is written, so chunks keep their order
    std::FILE* file = nullptr;  // unbuffered: a failed write is known where it stopped
    std::string path;
    bool failed = false;     // a write failed and was said: nothing more is written
    uint64_t kept = 0;       // bytes of whole lines in the file
    long long keptLines = 0;
    long long keptMs = -1;   // the time of the last whole line that has one
};

// Never destroyed: the writer thread may still run while the process exits.
Immortal<Recorder> recorder;

// Whole milliseconds since the open. Called with bufferMutex held.
long long SinceOpenMs(const Recorder& r) {
    const int64_t counts = ReadPerformanceCounter() - r.openCount;
    return static_cast<long long>(counts / (ReadPerformanceFrequency() / 1000));
}

// "<prefix> HH HH ..." for at most kMaxRawBytes bytes, then a newline.
void AppendLine(std::string& to, const char* prefix, const uint8_t* bytes, std::size_t length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    to += prefix;
    for (std::size_t i = 0; i < length; ++i) {
        const char byte[3] = {' ', kHex[bytes[i] >> 4], kHex[bytes[i] & 0x0F]};
        to.append(byte, 3);
    }
    to += '\n';
}

// The time a recording's line starts with ("<ms> raw", "# <ms> sent"), -1
// for a line without one (the header).
long long LineMs(std::string_view line) {
    if (line.starts_with("# ")) line.remove_prefix(2);
    long long ms = -1;
    for (std::size_t i = 0; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        ms = (ms < 0 ? 0 : ms * 10) + (line[i] - '0');
    }
    return ms;
}

// The whole lines of the first `size` bytes of chunk now follow what the
// file kept.
void Keep(Recorder& r, std::string_view chunk, std::size_t size) {
    std::size_t begin = 0;
    for (std::size_t end; (end = chunk.find('\n', begin)) < size; begin = end + 1) {
        ++r.keptLines;
        const long long ms = LineMs(chunk.substr(begin, end - begin));
        if (ms >= 0) r.keptMs = ms;
    }
    r.kept += begin;
}

// Writes out what is pending; with last, closes the file too. A write that
// fails (a full disk) cuts the file back to its last whole line, so that it
// still replays up to there, says so once and ends the writing.
void WriteOut(Recorder& r, bool last) {
    std::lock_guard fileLock(r.fileMutex);
    if (r.file == nullptr) return;
    std::string chunk;
    {
        std::lock_guard lock(r.bufferMutex);
        chunk.swap(r.pending);
    }
    if (!r.failed) {
        const std::size_t written = std::fwrite(chunk.data(), 1, chunk.size(), r.file);
        const int error = errno;
        Keep(r, chunk, written);
        if (written != chunk.size()) {
            r.failed = true;
            CutOpenFile(r.file, r.kept);
            char where[96];
            if (r.keptMs >= 0) {
                std::snprintf(where, sizeof where, "it ends at line %lld, %lld ms into the session",
                              r.keptLines, r.keptMs);
            } else {
                std::snprintf(where, sizeof where, "it ends at line %lld, before the first report",
                              r.keptLines);
            }
            std::fprintf(stderr, "Tavolen cannot write the recording %s: %s; %s, and replays up to there.\n",
                         MaskControlCharacters(r.path).c_str(), std::strerror(error), where);
            std::fflush(stderr);
        }
    }
    if (last) {
        std::fclose(r.file);
        r.file = nullptr;
    }
}

void WriteOutTwiceASecond() {
    Recorder& r = recorder.value;
    for (;;) {
        std::this_thread::sleep_for(kWriteInterval);
        {
            std::lock_guard fileLock(r.fileMutex);
            if (r.file == nullptr) return;
        }
        WriteOut(r, false);
    }
}

// An input report as a script's raw line (cut to what a raw line holds), an
// output report as a comment.
void RecordReport(bool input, const uint8_t* report, std::size_t length) {
    Recorder& r = recorder.value;
    if (!r.active.load(std::memory_order_relaxed)) return;
    std::lock_guard lock(r.bufferMutex);
    if (!r.opened || r.closed) return;
    char prefix[64];
    const long long ms = SinceOpenMs(r);
    if (!input) {
        std::snprintf(prefix, sizeof prefix, "# %lld sent", ms);
        AppendLine(r.pending, prefix, report, length);
        return;
    }
    if (length > kMaxRawBytes) {
        std::snprintf(prefix, sizeof prefix, "# %lld: a report of %zu bytes, cut to %zu\n", ms, length,
                      kMaxRawBytes);
        r.pending += prefix;
    }
    std::snprintf(prefix, sizeof prefix, "%lld raw", ms);
    AppendLine(r.pending, prefix, report, std::min(length, kMaxRawBytes));
}

}  // namespace

bool StartRecording(const char* path, const char* program, std::string* error) {
    Recorder& r = recorder.value;
    std::FILE* file = CreateNewFile(path);
    if (file == nullptr) {
        *error = std::string("cannot record into ") + path + ": " +
                 (errno == EEXIST ? "it exists already, and a recording never replaces a file"
                                  : std::strerror(errno));
        return false;
    }
    char when[64] = "";
    const std::time_t now = std::time(nullptr);
    if (const std::tm* utc = std::gmtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", utc);
    std::setvbuf(file, nullptr, _IONBF, 0);
    {
        std::lock_guard fileLock(r.fileMutex);
        r.file = file;
        r.path = path;
    }
    {
        std::lock_guard lock(r.bufferMutex);
        r.pending = std::string("# A Wii Remote session recorded by Tavolen; replay it with\n") +
                    "#   tavolen-sim --script " + QuoteForCommandLine(MaskControlCharacters(path)) + "\n" + "# recorded " + when + " by " + program + "\n";
    }
    r.active.store(true);
    try {
        std::thread(WriteOutTwiceASecond).detach();
    } catch (const std::system_error&) {
        // No writer thread: the close still writes everything.
    }
    return true;
}

FileIdentity ReadRecordingIdentity() {
    Recorder& r = recorder.value;
    std::lock_guard fileLock(r.fileMutex);
    return ReadFileIdentity(r.file);
}

void RecordOpened(int vendor, int product, const char* writeForm) {
    Recorder& r = recorder.value;
    if (!r.active.load(std::memory_order_relaxed)) return;
    std::lock_guard lock(r.bufferMutex);
    if (r.opened) return;
    r.opened = true;
    r.openCount = ReadPerformanceCounter();
    char header[128];
    // Which write the stack took tells what a user's system does with reports.
    std::snprintf(header, sizeof header, "# remote %04X:%04X\n# write form %s\nrecorded\n", vendor & 0xFFFF,
                  product & 0xFFFF, writeForm[0] != '\0' ? writeForm : "unknown");
    r.pending += header;
    if (product != kProductRemote) {
        std::snprintf(header, sizeof header, "product %04X\n", product & 0xFFFF);
        r.pending += header;
    }
}

void RecordInput(const uint8_t* report, std::size_t length) { RecordReport(true, report, length); }

void RecordOutput(const uint8_t* report, std::size_t length) { RecordReport(false, report, length); }

void RecordClosed() {
    Recorder& r = recorder.value;
    if (!r.active.load(std::memory_order_relaxed)) return;
    {
        std::lock_guard lock(r.bufferMutex);
        if (!r.opened || r.closed) return;
        r.closed = true;
    }
    WriteOut(r, true);
}

int FinishRecording(int exitCode) {
    Recorder& r = recorder.value;
    if (!r.active.load(std::memory_order_relaxed)) return exitCode;
    bool opened;
    {
        std::lock_guard lock(r.bufferMutex);
        opened = r.opened;
        r.closed = true;
    }
    if (opened) {
        WriteOut(r, true);
    } else {
        std::lock_guard fileLock(r.fileMutex);
        if (r.file != nullptr) RemoveOpenFile(r.file, r.path.c_str());
        r.file = nullptr;
    }
    std::lock_guard fileLock(r.fileMutex);
    return exitCode == 0 && r.failed ? kRecordingFailedExitCode : exitCode;
}
