#include "sim/scenario.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "remote/printable_text.h"

namespace {

constexpr uint64_t kMaxScriptBytes = 16 * 1024 * 1024;

// What a script may hold; the limits are the camera's and the report's.
struct ScriptLimits {
    int pointCount = 4;
    int maxX = 1023;
    int maxY = 767;
    int maxSize = 15;
    int defaultSize = 2;
    int maxAccel = 255;
    int maxBattery = 255;
    int minRate = 1;
    int maxRate = 1000;
    int maxSlots = 8;
    std::size_t maxRawBytes = sizeof(SimEvent::bytes);
    uint32_t maxMs = 0xFFFFFFFFu;
};
constexpr ScriptLimits kLimits;

// Splits one line (comment already removed) at blanks, at most a few fields.
std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
        std::size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
        if (end > at) fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

// Whole decimal number without sign; false when not one or above max.
bool ReadDecimal(std::string_view text, uint64_t max, uint64_t* value) {
    if (text.empty() || text.size() > 12) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    if (result > max) return false;
    *value = result;
    return true;
}

// One byte written as one or two hex digits.
bool ReadHexByte(std::string_view text, uint8_t* value) {
    if (text.empty() || text.size() > 2) return false;
    unsigned result = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return false;
        result = result * 16 + digit;
    }
    *value = static_cast<uint8_t>(result);
    return true;
}

bool IsSetting(std::string_view word) {
    return word == "absent" || word == "denied" || word == "recorded" || word == "rate" || word == "product" ||
           word == "adapter";
}

// Reads "<word> ..." into *event; returns "" or what is wrong with the line.
std::string ReadEventFields(const std::vector<std::string_view>& fields, SimEvent* event) {
    const std::string_view word = fields[1];
    const std::size_t argCount = fields.size() - 2;
    auto Arg = [&](std::size_t i) { return fields[2 + i]; };
    auto Decimal = [&](std::size_t i, int max, int* out) {
        uint64_t value = 0;
        if (!ReadDecimal(Arg(i), static_cast<uint64_t>(max), &value)) return false;
        *out = static_cast<int>(value);
        return true;
    };

    if (word == "ir") {
        if (argCount < 2) return "ir needs a point and a position or off";
        int point = 0;
        if (!Decimal(0, kLimits.pointCount, &point) || point < 1) return "point must be 1-4";
        event->point = point - 1;
        if (Arg(1) == "off") {
            if (argCount != 2) return "ir off takes no more fields";
            event->kind = SimEventKind::IrOff;
            return "";
        }
        if (argCount < 3) return "ir needs x and y";
        if (argCount > 4) return "ir has too many fields";
        event->kind = SimEventKind::Ir;
        if (!Decimal(1, kLimits.maxX, &event->x)) return "x must be 0-1023";
        if (!Decimal(2, kLimits.maxY, &event->y)) return "y must be 0-767";
        event->size = kLimits.defaultSize;
        if (argCount == 4 && !Decimal(3, kLimits.maxSize, &event->size)) return "size must be 0-15";
        return "";
    }
    if (word == "buttons") {
        if (argCount != 2) return "buttons needs two hex bytes";
        event->kind = SimEventKind::Buttons;
        for (std::size_t i = 0; i < 2; ++i) {
            if (!ReadHexByte(Arg(i), &event->bytes[i])) return "bad hex byte " + QuoteForMessage(Arg(i));
        }
        event->length = 2;
        return "";
    }
    if (word == "accel") {
        if (argCount != 3) return "accel needs x, y and z";
        event->kind = SimEventKind::Accel;
        int* axes[3] = {&event->x, &event->y, &event->size};  // z is kept in size
        for (std::size_t i = 0; i < 3; ++i) {
            if (!Decimal(i, kLimits.maxAccel, axes[i])) return "accel values must be 0-255";
        }
        return "";
    }
    if (word == "raw" || word == "other") {
        if (argCount == 0 || argCount > kLimits.maxRawBytes) return std::string(word) + " needs 1-22 hex bytes";
        event->kind = word == "raw" ? SimEventKind::Raw : SimEventKind::Other;
        for (std::size_t i = 0; i < argCount; ++i) {
            if (!ReadHexByte(Arg(i), &event->bytes[i])) return "bad hex byte " + QuoteForMessage(Arg(i));
        }
        event->length = argCount;
        return "";
    }
    if (word == "extension") {
        if (argCount != 1 || (Arg(0) != "on" && Arg(0) != "off")) return "extension needs on or off";
        event->kind = SimEventKind::Extension;
        event->x = Arg(0) == "on" ? 1 : 0;
        return "";
    }
    if (word == "battery") {
        if (argCount != 1 || !Decimal(0, kLimits.maxBattery, &event->x)) return "battery needs a level 0-255";
        event->kind = SimEventKind::Battery;
        return "";
    }
    struct Bare {
        std::string_view word;
        SimEventKind kind;
    };
    constexpr Bare kBare[] = {
        {"silent", SimEventKind::Silent},
        {"resume", SimEventKind::Resume},
        {"disconnect", SimEventKind::Disconnect},
        {"off", SimEventKind::Off},
        {"away", SimEventKind::Away},
        {"back", SimEventKind::Back},
    };
    for (const Bare& bare : kBare) {
        if (word != bare.word) continue;
        if (argCount != 0) return std::string(word) + " takes no fields";
        event->kind = bare.kind;
        return "";
    }
    if (IsSetting(word)) return std::string(word) + " comes without a time, before the first event";
    return "unknown event " + QuoteForMessage(word);
}

// absent | denied | recorded | rate <hz> | product <hex> | adapter <n> <k>:
// settings of the remote as a whole.
std::string ReadSetting(const std::vector<std::string_view>& fields, Scenario* out) {
    if (fields[0] == "adapter") {
        uint64_t slots = 0, slot = 0;
        if (fields.size() != 3 || !ReadDecimal(fields[1], static_cast<uint64_t>(kLimits.maxSlots), &slots) ||
            slots < 1 || !ReadDecimal(fields[2], slots, &slot)) {
            return "adapter needs its slots (1-8) and the remote's slot (0 for none)";
        }
        out->adapterSlots = static_cast<int>(slots);
        out->remoteSlot = static_cast<int>(slot);
        return "";
    }
    if (fields[0] == "absent" || fields[0] == "denied" || fields[0] == "recorded") {
        if (fields.size() != 1) return std::string(fields[0]) + " takes no fields";
        (fields[0] == "absent" ? out->absent : fields[0] == "denied" ? out->denied : out->recorded) = true;
        return "";
    }
    if (fields.size() != 2) return std::string(fields[0]) + " needs one value";
    if (fields[0] == "rate") {
        uint64_t rate = 0;
        if (!ReadDecimal(fields[1], static_cast<uint64_t>(kLimits.maxRate), &rate) ||
            rate < static_cast<uint64_t>(kLimits.minRate)) {
            return "rate must be 1-1000";
        }
        out->rate = static_cast<int>(rate);
        return "";
    }
    unsigned product = 0;
    const char* first = fields[1].data();
    const char* last = first + fields[1].size();
    const auto [end, failure] = std::from_chars(first, last, product, 16);
    if (failure != std::errc{} || end != last || fields[1].size() > 4) {
        return "product must be 1-4 hex digits";
    }
    out->product = static_cast<uint16_t>(product);
    return "";
}

}  // namespace

std::string QuoteForMessage(std::string_view text) {
    constexpr std::size_t kMaxQuoted = 60;
    // Control bytes from a file must not reach the user's terminal.
    std::string quoted = "'" + MaskControlCharacters(text.substr(0, kMaxQuoted));
    if (text.size() > kMaxQuoted) quoted += "...";
    return quoted + "'";
}

bool ParseScenario(std::string_view text, std::string_view fileName, Scenario* out,
                   std::string* error) {
    *out = Scenario{};
    // An editor's UTF-8 byte-order mark is no part of the first line.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
    std::size_t lineNumber = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;

        const std::size_t comment = line.find('#');
        if (comment != std::string_view::npos) line = line.substr(0, comment);
        const std::vector<std::string_view> fields = SplitFields(line);
        if (fields.empty()) continue;

        std::string wrong;
        const bool timed = fields[0][0] >= '0' && fields[0][0] <= '9';
        if (!timed) {
            if (IsSetting(fields[0])) {
                if (!out->events.empty()) {
                    wrong = std::string(fields[0]) + " must come before the first event";
                } else {
                    wrong = ReadSetting(fields, out);
                }
            } else if (fields[0][0] == '-') {
                wrong = "time must be whole non-negative milliseconds";
            } else {
                wrong = "line must start with a time in milliseconds";
            }
        } else {
            uint64_t ms = 0;
            SimEvent event;
            if (!ReadDecimal(fields[0], kLimits.maxMs, &ms)) {
                wrong = "time must be whole non-negative milliseconds";
            } else if (!out->events.empty() && ms < out->events.back().ms) {
                wrong = "time goes back (after " + std::to_string(out->events.back().ms) + ")";
            } else if (fields.size() < 2) {
                wrong = "missing event after the time";
            } else {
                event.ms = static_cast<uint32_t>(ms);
                wrong = ReadEventFields(fields, &event);
            }
            if (wrong.empty()) out->events.push_back(event);
        }
        if (!wrong.empty()) {
            *error = std::string(fileName) + ":" + std::to_string(lineNumber) + ": " + wrong;
            return false;
        }
    }
    return true;
}

bool LoadScenarioFile(const char* path, Scenario* out, std::string* error, std::FILE** openFile) {
    std::error_code status;
    const std::filesystem::path name = FilePath(path);
    const std::filesystem::file_status kind = std::filesystem::status(name, status);
    std::string why;
    if (std::filesystem::is_directory(kind)) {
        why = "a directory";
    } else if (std::filesystem::is_regular_file(kind) &&
               std::filesystem::file_size(name, status) > kMaxScriptBytes && !status) {
        why = "larger than 16 MiB";
    }
    std::FILE* file = why.empty() ? OpenFile(path, "rb") : nullptr;
    if (why.empty() && file == nullptr) why = std::strerror(errno);
    // Whatever it is (a pipe, a device), no more than the limit is read.
    std::string text;
    if (file != nullptr) {
        char chunk[65536];
        std::size_t got;
        while (why.empty() && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            if (text.size() + got > kMaxScriptBytes) why = "larger than 16 MiB";
            else text.append(chunk, got);
        }
        if (why.empty() && std::ferror(file) != 0) why = "read error";
        if (openFile != nullptr && why.empty()) {
            *openFile = file;
        } else {
            std::fclose(file);
        }
    }
    if (!why.empty()) {
        *error = std::string(path) + ": cannot be read as a script (" + why + ")";
        return false;
    }
    return ParseScenario(text, path, out, error);
}

bool BuiltInScenario(std::string_view name, Scenario* out) {
    *out = Scenario{};
    if (name == "demo") {
        out->demoMotion = true;
        return true;
    }
    if (name == "absent") {
        out->absent = true;
        return true;
    }
    if (name == "silent") {
        SimEvent silent;
        silent.kind = SimEventKind::Silent;
        out->events.push_back(silent);
        return true;
    }
    if (name == "still") {
        // Four corners of a square around the middle, each its own size, so a
        // view that swaps or drops a point shows it.
        struct StillPoint {
            int x, y, size;
        };
        constexpr StillPoint kStill[4] = {{312, 234, 3}, {712, 234, 4}, {312, 534, 5}, {712, 534, 6}};
        for (int i = 0; i < 4; ++i) {
            SimEvent point;
            point.kind = SimEventKind::Ir;
            point.point = i;
            point.x = kStill[i].x;
            point.y = kStill[i].y;
            point.size = kStill[i].size;
            out->events.push_back(point);
        }
        return true;
    }
    return false;
}
