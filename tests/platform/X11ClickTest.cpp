// Clicks sent through the X11 backend must land on a real window at the exact pixel of the
// stored point. Runs on a virtual display of the size given as the first argument.
// GoogleTest comes before the X headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>

#include "X11TestWindow.h"
#include "engine/moduloMoveMouse.h"
#include "platform/x11/X11Platform.h"

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace quindel {
namespace {

int gExpectedWidth = 0;
int gExpectedHeight = 0;

struct Point {
    int x;
    int y;
};

class X11ClickTest : public ::testing::Test {
  protected:
    test::X11TestDisplay screen;
    X11Platform platform;

    void SetUp() override {
        ASSERT_NE(screen.display, nullptr) << "no X display";
        ASSERT_TRUE(platform.available()) << platform.errorText();
        ASSERT_EQ(screen.width, gExpectedWidth);
        ASSERT_EQ(screen.height, gExpectedHeight);
        ASSERT_TRUE(screen.openFullscreenWindow());
    }

    // Moves and clicks through the engine's pointer output; checks where press and release
    // arrive.
    void clickAndExpect(Point stored, Point expected) {
        SCOPED_TRACE(testing::Message() << "stored point " << stored.x << "," << stored.y);
        movePointerTo(platform, stored.x, stored.y);
        ASSERT_TRUE(clickPointer(platform, 0));
        XEvent press;
        ASSERT_TRUE(screen.nextEvent(ButtonPress, press)) << "no button press arrived";
        EXPECT_EQ(press.xbutton.button, static_cast<unsigned>(Button1));
        EXPECT_EQ(press.xbutton.x_root, expected.x);
        EXPECT_EQ(press.xbutton.y_root, expected.y);
        XEvent release;
        ASSERT_TRUE(screen.nextEvent(ButtonRelease, release)) << "no button release arrived";
        EXPECT_EQ(release.xbutton.x_root, expected.x);
        EXPECT_EQ(release.xbutton.y_root, expected.y);
        const auto position = platform.cursorPos();
        ASSERT_TRUE(position.has_value());
        EXPECT_EQ(position->x, expected.x);
        EXPECT_EQ(position->y, expected.y);
    }
};

TEST_F(X11ClickTest, EveryEdgeCornerAndSampledPointIsClickedOnItsPixel) {
    const int w = screen.width;
    const int h = screen.height;
    std::vector<Point> points = {{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}};
    for (int i = 1; i < 64; ++i) {
        const int x = static_cast<int>(static_cast<long>(w - 1) * i / 64);
        const int y = static_cast<int>(static_cast<long>(h - 1) * i / 64);
        points.push_back({x, 0});
        points.push_back({x, h - 1});
        points.push_back({0, y});
        points.push_back({w - 1, y});
    }
    // Pixels next to the edges, where rounding is most likely to slip by one.
    for (int d = 1; d <= 3; ++d) {
        points.push_back({d, h - 1 - d});
        points.push_back({w - 1 - d, d});
    }
    std::mt19937 random(static_cast<unsigned>(w * 7919 + h));
    std::uniform_int_distribution<int> xs(0, w - 1);
    std::uniform_int_distribution<int> ys(0, h - 1);
    for (int i = 0; i < 200; ++i)
        points.push_back({xs(random), ys(random)});

    for (const Point& p : points) {
        clickAndExpect(p, p);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(X11ClickTest, PointsOffTheScreenAreClickedOnTheNearestEdge) {
    const int w = screen.width;
    const int h = screen.height;
    clickAndExpect({w, h}, {w - 1, h - 1}); // the far edge: absolute 65535
    clickAndExpect({-10, -10}, {0, 0});
    clickAndExpect({100000, h / 2}, {w - 1, h / 2}); // beyond XTest's 16-bit coordinates
    clickAndExpect({w / 2, -100000}, {w / 2, 0});
}

TEST_F(X11ClickTest, RightAndMiddleClicksUseTheirButtons) {
    movePointerTo(platform, 5, 6);
    ASSERT_TRUE(clickPointer(platform, 1));
    ASSERT_TRUE(clickPointer(platform, 2));
    XEvent event;
    ASSERT_TRUE(screen.nextEvent(ButtonPress, event));
    EXPECT_EQ(event.xbutton.button, static_cast<unsigned>(Button3));
    ASSERT_TRUE(screen.nextEvent(ButtonPress, event));
    EXPECT_EQ(event.xbutton.button, static_cast<unsigned>(Button2));
    EXPECT_EQ(event.xbutton.x_root, 5);
    EXPECT_EQ(event.xbutton.y_root, 6);
}

} // namespace
} // namespace quindel

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2 ||
        std::sscanf(argv[1], "%dx%d", &quindel::gExpectedWidth, &quindel::gExpectedHeight) != 2) {
        std::fprintf(stderr, "usage: %s WIDTHxHEIGHT\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
