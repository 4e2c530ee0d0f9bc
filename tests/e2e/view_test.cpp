// What the window shows: where it is, and a cross for each point the camera
// sees, exact to the pixel, on white.
#include <X11/keysym.h>

#include "program_fixture.h"

namespace e2e {
namespace {

constexpr int kWidth = 520;
constexpr int kHeight = 420;

TEST_F(ProgramTest, WindowIsTitledTavolenAtTenTenWith520By420Client) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script("0 ir 1 300 200\n"));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    const std::optional<XClient::Geometry> geometry = X().GetGeometry(view);
    ASSERT_TRUE(geometry.has_value());
    EXPECT_EQ(geometry->x, 10);
    EXPECT_EQ(geometry->y, 10);
    EXPECT_EQ(geometry->width, kWidth);
    EXPECT_EQ(geometry->height, kHeight);
    EXPECT_EQ(X().FindWindows("Tavolen").size(), 1u);
    X().SendKey(view, XK_Escape);
    EXPECT_TRUE(EndsWith(run, 0));
}

// Points 1 or 2 seen make the view repaint with every report, so the picture
// settles on the script's points. Each case has a point that the zeroed state
// before the first report would not show, so a match means the script's
// points are drawn.
struct CrossCase {
    const char* name;
    const char* script;
    std::vector<Centre> centres;  // in window pixels
};

const CrossCase kCrossCases[] = {
    {"OnePoint", "0 ir 1 300 200\n", {{150, 100}}},
    {"OddCoordinatesRoundDown", "0 ir 1 301 201\n0 ir 2 1021 767\n", {{150, 100}, {510, 383}}},
    {"EvenNeighbourSamePixel", "0 ir 1 1020 766 5\n", {{510, 383}}},
    {"OriginShowsOnlyInnerArms", "0 ir 1 0 0\n0 ir 2 600 400\n", {{0, 0}, {300, 200}}},
    {"PointTwoAlone", "0 ir 2 100 700\n", {{50, 350}}},
    {"AllFour",
     "0 ir 1 100 100\n0 ir 2 400 300\n0 ir 3 700 500\n0 ir 4 1000 700\n",
     {{50, 50}, {200, 150}, {350, 250}, {500, 350}}},
    {"OnlyTheLatestPosition",
     "0 ir 1 100 100\n300 ir 1 900 50\n600 ir 1 500 600\n",
     {{250, 300}}},
    {"PointSwitchedOffVanishes",
     "0 ir 1 200 200\n0 ir 2 800 600\n500 ir 2 off\n",
     {{100, 100}}},
    // Another program switches the camera off (the kernel's driver when its
    // IR input device is closed), or sets it up its own way and streams 0x37
    // (when that device is opened): the set-up again brings the points back.
    {"CameraSwitchedOffByAnotherProgram",
     "0 ir 1 100 100\n2000 other 13 00\n2000 other 1A 00\n2000 other 12 00 31\n2000 other 12 00 30\n2300 ir 1 300 200\n",
     {{150, 100}}},
    {"CameraRewrittenByAnotherProgram",
     "0 ir 1 100 100\n2000 other 12 00 31\n2000 other 13 06\n2000 other 1A 06\n"
     "2000 other 16 04 B0 00 33 01 01\n2000 other 12 00 37\n2300 ir 1 300 200\n", {{150, 100}}},
};

void PrintTo(const CrossCase& c, std::ostream* out) { *out << c.name; }

class CrossTest : public ProgramTest, public ::testing::WithParamInterface<CrossCase> {};

TEST_P(CrossTest, DrawsANinePixelCrossPerSeenPointOnWhite) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(GetParam().script));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    EXPECT_TRUE(ShowsEventually(view, ExpectedView(kWidth, kHeight, GetParam().centres)));
    X().SendKey(view, XK_Escape);
    EXPECT_TRUE(EndsWith(run, 0));
}

INSTANTIATE_TEST_SUITE_P(Points, CrossTest, ::testing::ValuesIn(kCrossCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An extension plugged in and pulled out: after each status report the
// remote sends nothing until it is told its mode again, which the program
// does, so the picture follows the points that move afterwards.
TEST_F(ProgramTest, AnExtensionPluggedInAndOutDoesNotFreezeThePicture) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script("0 ir 1 100 100\n"
                             "1200 extension on\n"
                             "1500 ir 1 300 200\n"
                             "2000 extension off\n"
                             "2500 ir 1 600 400\n"
                             "2500 ir 2 100 50\n"));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    EXPECT_TRUE(ShowsEventually(view, ExpectedView(kWidth, kHeight, {{300, 200}, {50, 25}})));
    X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(run, 0));
    std::vector<double> modeSetAt;
    const std::vector<LogLine> log = FinalLog(run);
    for (const LogLine& line : log) {
        if (line.bytes == std::vector<uint8_t>{0x12, 0x00, 0x33}) modeSetAt.push_back(line.ms);
    }
    ASSERT_EQ(modeSetAt.size(), 3u) << "12 00 33 once by the set-up and once after each status report";
    EXPECT_LT(modeSetAt[0], 1200);
    EXPECT_GE(modeSetAt[1], 1200);
    EXPECT_LT(modeSetAt[1], 2000);
    EXPECT_GE(modeSetAt[2], 2000);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].bytes, (std::vector<uint8_t>{0x12, 0x00, 0x30}));
    EXPECT_TRUE(log.back().close);
}

// Only points 1 and 2 make the reports repaint the view. In these scripts
// point 1 goes away at 2000 ms while points 3 or 4 change, so the frame on
// screen goes stale until an expose or a resize repaints it with the current
// state: points 3 and 4 if seen, nothing for unseen points (centre (511, 511),
// below the window).
struct RepaintCase {
    const char* name;
    const char* script;
    bool resize;  // else expose
    std::vector<Centre> centres;
};

const RepaintCase kRepaintCases[] = {
    {"ExposeNoPointSeenIsAllWhite", "0 ir 1 300 200\n2000 ir 1 off\n", false, {}},
    {"ExposeShowsPointThree", "0 ir 1 300 200\n2000 ir 1 off\n2000 ir 3 600 600\n", false,
     {{300, 300}}},
    {"ResizeNoPointSeenIsAllWhite", "0 ir 2 300 200\n2000 ir 2 off\n", true, {}},
    {"ResizeShowsPointFour", "0 ir 2 300 200\n2000 ir 2 off\n2000 ir 4 100 50\n", true,
     {{50, 25}}},
};

void PrintTo(const RepaintCase& c, std::ostream* out) { *out << c.name; }

class RepaintTest : public ProgramTest, public ::testing::WithParamInterface<RepaintCase> {};

TEST_P(RepaintTest, RepaintsTheCurrentPoints) {
    const RepaintCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(c.script));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);

    if (!c.resize) {
        EXPECT_TRUE(ShowsEventually(view, ExpectedView(kWidth, kHeight, c.centres),
                                    [&] { X().ExposeByCovering(view); }));
    } else {
        // Two sizes in turn, each bigger than the first, so that every nudge
        // is a real resize whose whole new area must be drawn. Row 511, where
        // unseen points would be, stays below both.
        int turn = 0;
        int width = 0, height = 0;
        EXPECT_TRUE(ShowsEventually(
            view, [&] { return ExpectedView(width, height, c.centres); },
            [&] {
                width = turn % 2 == 0 ? 600 : 610;
                height = turn % 2 == 0 ? 500 : 490;
                ++turn;
                X().Resize(view, width, height);
            }));
    }
    X().SendKey(view, XK_Escape);
    EXPECT_TRUE(EndsWith(run, 0));
}

INSTANTIATE_TEST_SUITE_P(Repaints, RepaintTest, ::testing::ValuesIn(kRepaintCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
