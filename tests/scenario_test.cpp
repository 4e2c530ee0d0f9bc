#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>

#include "sim/scenario.h"

namespace {

TEST(ParseScenario, ReadsEveryKindOfLine) {
    const char* text =
        "\xEF\xBB\xBF# a remote that does a bit of everything (behind an editor's byte-order mark)\n"
        "absent\n"
        "rate 250   # faster than usual\n"
        "product 0330\n"
        "denied\n"
        "recorded\n"
        "adapter 4 3\n"
        "\n"
        "0 ir 1 1023 767 15\n"
        "0 ir 4 0 12\n"
        "5 ir 2 off\n"
        "5 buttons 1f 80\n"
        "7 accel 0 128 255\n"
        "9 raw 20 00 00 08 00 00 C8\r\n"
        "10 silent\n"
        "11 resume\n"
        "12 off\n"
        "4294967295 disconnect\n";
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ParseScenario(text, "s.txt", &scenario, &error)) << error;
    EXPECT_TRUE(scenario.absent);
    EXPECT_EQ(scenario.rate, 250);
    EXPECT_EQ(scenario.product, 0x0330);
    EXPECT_TRUE(scenario.denied);
    EXPECT_TRUE(scenario.recorded);
    EXPECT_EQ((std::tuple{scenario.adapterSlots, scenario.remoteSlot}), std::tuple(4, 3));
    ASSERT_EQ(scenario.events.size(), 10u);
    const auto& e = scenario.events;
    const SimEventKind kinds[10] = {SimEventKind::Ir,     SimEventKind::Ir,     SimEventKind::IrOff,
                                    SimEventKind::Buttons, SimEventKind::Accel, SimEventKind::Raw,
                                    SimEventKind::Silent,  SimEventKind::Resume, SimEventKind::Off,
                                    SimEventKind::Disconnect};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(e[i].kind, kinds[i]) << i;
    EXPECT_EQ((std::tuple{e[0].point, e[0].x, e[0].y, e[0].size}), std::tuple(0, 1023, 767, 15));
    EXPECT_EQ((std::tuple{e[1].point, e[1].x, e[1].y, e[1].size}), std::tuple(3, 0, 12, 2));
    EXPECT_EQ((std::tuple{e[2].point, e[2].ms}), std::tuple(1, 5u));
    EXPECT_EQ((std::tuple{e[3].bytes[0], e[3].bytes[1]}), std::tuple(0x1F, 0x80));
    EXPECT_EQ((std::tuple{e[4].x, e[4].y, e[4].size}), std::tuple(0, 128, 255));
    EXPECT_EQ(std::string(e[5].bytes, e[5].bytes + e[5].length), std::string("\x20\0\0\x08\0\0\xC8", 7));
    EXPECT_EQ(e[9].ms, 4294967295u);
}

TEST(ParseScenario, RejectsAMalformedLineWithItsFileAndLine) {
    struct Bad {
        const char* text;
        const char* error;
    };
    const Bad kBad[] = {
        {"0 ir 5 1 1\n", "s.txt:1: point must be 1-4"},
        {"\n0 ir 1 1024 0\n", "s.txt:2: x must be 0-1023"},
        {"0 ir 1 0 768\n", "s.txt:1: y must be 0-767"},
        {"0 ir 1 0 0 16\n", "s.txt:1: size must be 0-15"},
        {"0 ir 1 0\n", "s.txt:1: ir needs x and y"},
        {"0 buttons 00\n", "s.txt:1: buttons needs two hex bytes"},
        {"0 buttons 0g 00\n", "s.txt:1: bad hex byte '0g'"},
        {"0 accel 1 2 256\n", "s.txt:1: accel values must be 0-255"},
        {"0 raw\n", "s.txt:1: raw needs 1-22 hex bytes"},
        {"0 other 12 00 3g\n", "s.txt:1: bad hex byte '3g'"},
        {"0 raw 0 1 2 3 4 5 6 7 8 9 a b c d e f 10 11 12 13 14 15 16\n", "s.txt:1: raw needs 1-22 hex bytes"},
        {"0 silent please\n", "s.txt:1: silent takes no fields"},
        {"0 jump\n", "s.txt:1: unknown event 'jump'"},
        {"0\n", "s.txt:1: missing event after the time"},
        {"-5 silent\n", "s.txt:1: time must be whole non-negative milliseconds"},
        {"20 silent\n10 resume\n", "s.txt:2: time goes back (after 20)"},
        {"silent\n", "s.txt:1: line must start with a time in milliseconds"},
        {"rate 1001\n", "s.txt:1: rate must be 1-1000"},
        {"product 10330\n", "s.txt:1: product must be 1-4 hex digits"},
        {"product 03x0\n", "s.txt:1: product must be 1-4 hex digits"},
        {"product\n", "s.txt:1: product needs one value"},
        {"0 silent\nrate 10\n", "s.txt:2: rate must come before the first event"},
        {"0 rate 10\n", "s.txt:1: rate comes without a time, before the first event"},
        {"0 recorded\n", "s.txt:1: recorded comes without a time, before the first event"},
        {"recorded yes\n", "s.txt:1: recorded takes no fields"},
        {"0 extension in\n", "s.txt:1: extension needs on or off"},
        {"0 battery 256\n", "s.txt:1: battery needs a level 0-255"},
        {"adapter 9 1\n", "s.txt:1: adapter needs its slots (1-8) and the remote's slot (0 for none)"},
        {"adapter 0 0\n", "s.txt:1: adapter needs its slots (1-8) and the remote's slot (0 for none)"},
        {"adapter 4 5\n", "s.txt:1: adapter needs its slots (1-8) and the remote's slot (0 for none)"},
        {"adapter 4\n", "s.txt:1: adapter needs its slots (1-8) and the remote's slot (0 for none)"},
        {"0 off now\n", "s.txt:1: off takes no fields"},
        // At most 60 characters of what is wrong, control bytes shown as '?'.
        {"0 \x1b[31mxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n",
         "s.txt:1: unknown event '?[31mxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...'"},
    };
    for (const Bad& bad : kBad) {
        Scenario scenario;
        std::string error;
        EXPECT_FALSE(ParseScenario(bad.text, "s.txt", &scenario, &error)) << bad.text;
        EXPECT_EQ(error, bad.error) << bad.text;
    }
}

TEST(LoadScenarioFile, NamesTheFileInItsErrors) {
    char path[] = "/tmp/tavolen-scenario-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::FILE* file = fdopen(fd, "w");
    std::fputs("0 buttons 00 08\n10 accel 1 2\n", file);
    std::fclose(file);
    Scenario scenario;
    std::string error;
    EXPECT_FALSE(LoadScenarioFile(path, &scenario, &error));
    EXPECT_EQ(error, std::string(path) + ":2: accel needs x, y and z");
    // More than 16 MiB (here a sparse file) is no script; neither is a
    // directory, nor a device that never ends.
    ASSERT_EQ(truncate(path, 16 * 1024 * 1024 + 1), 0);
    const struct {
        std::string path;
        const char* why;
    } kRefused[] = {
        {path, "larger than 16 MiB"},
        {"/tmp", "a directory"},
        {"/dev/zero", "larger than 16 MiB"},
        {"/nonexistent/script.txt", "No such file or directory"},
    };
    for (const auto& refused : kRefused) {
        EXPECT_FALSE(LoadScenarioFile(refused.path.c_str(), &scenario, &error));
        EXPECT_EQ(error, refused.path + ": cannot be read as a script (" + refused.why + ")");
    }
    std::remove(path);
}

// Kept open, the script's identity is its own: removed meanwhile, it passes to
// none of the files made after it (a closed file's inode goes to the next).
TEST(LoadScenarioFile, KeepsTheScriptOpenSoNoFileMadeLaterTakesItsIdentity) {
    const std::string script =
        std::filesystem::temp_directory_path().string() + "/tavolen-identity-" + std::to_string(getpid());
    std::fclose(std::fopen(script.c_str(), "w"));
    Scenario scenario;
    std::string error;
    std::FILE* file = nullptr;
    ASSERT_TRUE(LoadScenarioFile(script.c_str(), &scenario, &error, &file)) << error;
    const FileIdentity identity = ReadFileIdentity(file);
    std::remove(script.c_str());  // Windows keeps it: no other process may delete it while open
    for (int i = 0; i < 20; ++i) {
        std::FILE* made = CreateNewFile((script + std::to_string(i)).c_str());
        ASSERT_NE(made, nullptr);
        EXPECT_FALSE(ReadFileIdentity(made).SameAs(identity)) << i;
        std::fclose(made);
        std::remove((script + std::to_string(i)).c_str());
    }
    std::fclose(file);
    std::remove(script.c_str());
}

TEST(BuiltInScenario, KnowsItsFourScenarios) {
    Scenario scenario;
    ASSERT_TRUE(BuiltInScenario("demo", &scenario));
    EXPECT_TRUE(scenario.demoMotion && !scenario.absent);
    ASSERT_TRUE(BuiltInScenario("absent", &scenario));
    EXPECT_TRUE(scenario.absent);
    ASSERT_TRUE(BuiltInScenario("silent", &scenario));
    ASSERT_EQ(scenario.events.size(), 1u);
    EXPECT_EQ(scenario.events[0].kind, SimEventKind::Silent);
    ASSERT_TRUE(BuiltInScenario("still", &scenario));
    ASSERT_EQ(scenario.events.size(), 4u);
    std::set<std::pair<int, int>> positions;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ((std::tuple{scenario.events[i].kind, scenario.events[i].point}), std::tuple(SimEventKind::Ir, i));
        positions.insert({scenario.events[i].x, scenario.events[i].y});
    }
    EXPECT_EQ(positions.size(), 4u);
    EXPECT_FALSE(BuiltInScenario("dance", &scenario));
}

}  // namespace
