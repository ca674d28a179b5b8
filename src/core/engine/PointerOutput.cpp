#include "core/engine/PointerOutput.h"

#include "platform/Platform.h"

#include <cmath>
#include <limits>

namespace quindel {

namespace {

// 65535 / extent * pixel in single precision, rounded to the nearest whole number with halves
// going to the even neighbour. An empty screen (extent 0 or less) has no absolute range to map
// to and gives 0 instead of dividing by zero; results beyond the 32-bit range saturate rather
// than overflow.
int32_t toAbsolute(int32_t extent, int32_t pixel) {
    if (extent <= 0)
        return 0;
    const float scale = 65535.0f / static_cast<float>(extent);
    const float product = scale * static_cast<float>(pixel);
    // Nearest whole number, an exact half going to the even neighbour (32767.5 -> 32768).
    float rounded = std::round(product);
    if (std::fabs(product - std::trunc(product)) == 0.5f && std::fmod(rounded, 2.0f) != 0.0f)
        rounded -= std::copysign(1.0f, product);
    constexpr float kMax = 2147483520.0f; // largest float below 2^31
    if (rounded >= kMax)
        return std::numeric_limits<int32_t>::max();
    if (rounded <= -2147483648.0f)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(rounded);
}

} // namespace

int32_t toAbsoluteX(Platform& platform, int32_t x) {
    return toAbsolute(platform.screenSize().width, x);
}

int32_t toAbsoluteY(Platform& platform, int32_t y) {
    return toAbsolute(platform.screenSize().height, y);
}

void movePointerTo(Platform& platform, int32_t x, int32_t y) {
    const int32_t absoluteX = toAbsoluteX(platform, x);
    const int32_t absoluteY = toAbsoluteY(platform, y);
    platform.mouseEvent(kMouseMove | kMouseAbsolute, absoluteX, absoluteY, 0, 0);
}

bool clickPointer(Platform& platform, int32_t button) {
    uint32_t flags = 0;
    switch (button) {
    case 0:
        flags = kMouseLeftDown | kMouseLeftUp;
        break;
    case 1:
        flags = kMouseRightDown | kMouseRightUp;
        break;
    case 2:
        flags = kMouseMiddleDown | kMouseMiddleUp;
        break;
    default:
        return false;
    }
    platform.mouseEvent(flags, 0, 0, 0, 0);
    return true;
}

bool isLeftButtonDown(Platform& platform) {
    // Only "down now" counts here; the pressed-since-last-query bit would report a click that
    // has already ended.
    return (static_cast<uint16_t>(platform.asyncKeyState(kVirtualKeyLeftButton)) & 0x8000u) != 0;
}

} // namespace quindel
