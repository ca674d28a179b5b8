// src/platform/wayland/PointerInjector.h
#pragma once
#include <string>
namespace quindel {
// One way of sending pointer input to a Wayland compositor, kept open for the program's lifetime.
class PointerInjector {
  public:
    virtual ~PointerInjector() = default;
    // Moves the pointer to a compositor-global logical point (origin top left of the output layout).
    virtual bool moveTo(int x, int y) = 0;
    // Presses or releases a button given by its Linux evdev code (BTN_LEFT = 272).
    virtual bool button(int evdevButton, bool pressed) = 0;
    // Sends what was queued (a frame); false when the connection behind it was lost.
    virtual bool flush() = 0;
};
}
