#include "engine/moduloIntercettaMouse.h"
#include "engine/moduloMoveMouse.h"
#include "support/FakePlatform.h"

#include <gtest/gtest.h>

#include <limits>

namespace quindel {
namespace {

using test::FakePlatform;

TEST(AbsoluteCoordinates, ScaleToTheScreenWithHalvesToEven) {
    FakePlatform platform;
    platform.size = {1920, 1080};
    EXPECT_EQ(toAbsoluteX(platform, 960), 32768); // 32767.5 goes to the even neighbour
    EXPECT_EQ(toAbsoluteX(platform, 0), 0);
    EXPECT_EQ(toAbsoluteX(platform, 1920), 65535);
    EXPECT_EQ(toAbsoluteX(platform, 1), 34);
    EXPECT_EQ(toAbsoluteY(platform, 1080), 65535);
    EXPECT_EQ(toAbsoluteY(platform, 540), 32768);
    // Points off the screen pass on unchanged, in both directions.
    EXPECT_EQ(toAbsoluteX(platform, -960), -32768);
    EXPECT_EQ(toAbsoluteX(platform, 3840), 131070);

    platform.size = {2, 2}; // 32767.5 * k: the even neighbour each time
    EXPECT_EQ(toAbsoluteX(platform, 1), 32768);
    EXPECT_EQ(toAbsoluteX(platform, 3), 98302); // 98302.5 -> 98302
    EXPECT_EQ(toAbsoluteX(platform, -1), -32768);
}

TEST(AbsoluteCoordinates, EmptyScreenAndHugeValuesStayDefined) {
    FakePlatform platform;
    platform.size = {0, -5};
    EXPECT_EQ(toAbsoluteX(platform, 100), 0);
    EXPECT_EQ(toAbsoluteY(platform, 100), 0);
    platform.size = {1, 1};
    EXPECT_EQ(toAbsoluteX(platform, std::numeric_limits<int32_t>::max()),
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(toAbsoluteX(platform, std::numeric_limits<int32_t>::min()),
              std::numeric_limits<int32_t>::min());
}

TEST(PointerOutput, MoveIsOneAbsoluteEvent) {
    FakePlatform platform;
    movePointerTo(platform, 960, 1080);
    ASSERT_EQ(platform.events.size(), 1u);
    EXPECT_EQ(platform.events[0], (FakePlatform::Event{0x8001, 32768, 65535, 0, 0}));
}

TEST(PointerOutput, ClickSendsPressAndReleaseInOneEvent) {
    FakePlatform platform;
    EXPECT_TRUE(clickPointer(platform, 0));
    EXPECT_TRUE(clickPointer(platform, 1));
    EXPECT_TRUE(clickPointer(platform, 2));
    EXPECT_FALSE(clickPointer(platform, 3));
    EXPECT_FALSE(clickPointer(platform, -1));
    ASSERT_EQ(platform.events.size(), 3u);
    EXPECT_EQ(platform.events[0], (FakePlatform::Event{6, 0, 0, 0, 0}));
    EXPECT_EQ(platform.events[1], (FakePlatform::Event{24, 0, 0, 0, 0}));
    EXPECT_EQ(platform.events[2], (FakePlatform::Event{96, 0, 0, 0, 0}));
}

TEST(PointerOutput, LeftButtonCountsOnlyWhileDown) {
    FakePlatform platform;
    platform.setLeftButton(true);
    EXPECT_TRUE(isLeftButtonDown(platform));
    platform.setLeftButton(false);
    platform.tap(kVirtualKeyLeftButton); // a click that ended before the call
    EXPECT_FALSE(isLeftButtonDown(platform));
    EXPECT_EQ(platform.queriedKeys, (std::vector<int>{1, 1}));
}

} // namespace
} // namespace quindel
