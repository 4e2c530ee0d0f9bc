// How a run ends: Escape, the close box and the remote's HOME button each
// take the remote through the whole sequence from opening to closing, once;
// nothing else ends it, and a second instance leaves the first alone.
#include <X11/keysym.h>

#include <thread>

#include "program_fixture.h"

namespace e2e {
namespace {

const char kOnePoint[] = "0 ir 1 300 200\n";

enum class Ending { Escape, CloseBox, HomeButton };

struct ShutdownCase {
    const char* name;
    bool demo;            // the default scenario instead of a script
    const char* script;
    Ending ending;
    double earliestCloseMs;  // the remote cannot be closed before this
};

const ShutdownCase kShutdownCases[] = {
    {"EscapeInDemo", true, "", Ending::Escape, 0},
    {"Escape", false, kOnePoint, Ending::Escape, 0},
    {"CloseBox", false, kOnePoint, Ending::CloseBox, 0},
    {"HomeButton", false,
     "0 ir 1 300 200\n"
     "1500 buttons 00 80\n",
     Ending::HomeButton, 1500},
    // The Wii Remote Plus is found under its own product identifier.
    {"HomeButtonOnRemotePlus", false,
     "product 0330\n"
     "0 ir 1 300 200\n"
     "1500 buttons 00 80\n",
     Ending::HomeButton, 1500},
};

void PrintTo(const ShutdownCase& c, std::ostream* out) { *out << c.name; }

class ShutdownTest : public ProgramTest, public ::testing::WithParamInterface<ShutdownCase> {};

TEST_P(ShutdownTest, SendsTheWholeSequenceOnceAndEndsWithZero) {
    const ShutdownCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(c.demo ? std::vector<std::string>{} : Script(c.script));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);

    switch (c.ending) {
    case Ending::Escape:
        X().SendKey(view, XK_Escape);
        break;
    case Ending::CloseBox:
        X().SendCloseRequest(view);
        break;
    case Ending::HomeButton:
        break;  // the script presses it
    }
    ASSERT_TRUE(EndsWith(run, 0));

    const std::vector<LogLine> log = FinalLog(run);
    EXPECT_TRUE(IsWholeRunSequence(log));
    ASSERT_FALSE(log.empty());
    EXPECT_GE(log.back().ms, c.earliestCloseMs) << log.back().text;
    // The server takes the window away once it notices the connection gone.
    EXPECT_TRUE(WaitFor([&] { return X().FindWindows("Tavolen").empty(); }, milliseconds(5000)));
}

INSTANTIATE_TEST_SUITE_P(Endings, ShutdownTest, ::testing::ValuesIn(kShutdownCases),
                         [](const auto& info) { return std::string(info.param.name); });

// HOME together with another button of its byte is no HOME press; the run
// goes on until HOME alone, pressed at 3000 ms, which the log's close time
// shows.
class OtherButtonsTest : public ProgramTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(OtherButtonsTest, HomeWithAnotherButtonDoesNotEndTheRun) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(std::string("0 ir 1 300 200\n") +
                             "1500 buttons " + GetParam() + "\n" +
                             "2000 buttons 00 00\n"
                             "3000 buttons 00 80\n"));
    ASSERT_TRUE(EndsWith(run, 0));
    const std::vector<LogLine> log = FinalLog(run);
    EXPECT_TRUE(IsWholeRunSequence(log));
    ASSERT_FALSE(log.empty());
    EXPECT_GE(log.back().ms, 3000.0) << "closed at " << log.back().text;
}

INSTANTIATE_TEST_SUITE_P(Buttons, OtherButtonsTest, ::testing::Values("00 88", "00 A0"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(name.find(' '), 1);
                             return "Buttons" + name;
                         });

TEST_F(ProgramTest, KeysOtherThanEscapeDoNothing) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(kOnePoint));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    for (unsigned long key : {XK_Return, XK_q, XK_space, XK_BackSpace, XK_F4}) {
        X().SendKey(view, key);
    }
    std::this_thread::sleep_for(milliseconds(1000));
    EXPECT_TRUE(run.process->Running());
    EXPECT_EQ(X().FindWindows("Tavolen").size(), 1u);

    X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(run, 0));
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
}

TEST_F(ProgramTest, SecondInstanceEndsAtOnceAndLeavesTheFirstRunning) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& first = Launch(Script(kOnePoint), "first");
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);

    Run& second = Launch(Script(kOnePoint, "second-script"), "second");
    ASSERT_TRUE(EndsWith(second, 0));
    EXPECT_EQ(LogText(second), "") << "the second instance opened the remote";
    EXPECT_EQ(Stderr(second), "");
    EXPECT_EQ(X().FindWindows("Tavolen").size(), 1u);
    EXPECT_TRUE(first.process->Running());

    X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(first, 0));
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(first)));
}

}  // namespace
}  // namespace e2e
