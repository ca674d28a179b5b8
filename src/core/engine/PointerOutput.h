#pragma once

#include <cstdint>

namespace quindel {

class Platform;

// Pixel to the absolute pointer range 0..65535 of the current screen size, in single
// precision, halves to even.
int32_t toAbsoluteX(Platform& platform, int32_t x);
int32_t toAbsoluteY(Platform& platform, int32_t y);

// One absolute move event (flags 0x8001) to the pixel point.
void movePointerTo(Platform& platform, int32_t x, int32_t y);

// One event with press and release of the button (0 left, 1 right, 2 middle) where the
// pointer stands; false and nothing sent for any other button.
bool clickPointer(Platform& platform, int32_t button);

// True while the left mouse button is down at the moment of the call.
bool isLeftButtonDown(Platform& platform);

} // namespace quindel
