// src/platform/wayland/PointerInjector.h
#pragma once
#include "platform/Platform.h"

#include <optional>
#include <string>
namespace quindel {
// A rectangle of a compositor's coordinate space.
struct LayoutBox {
    int32_t x = 0, y = 0, width = 0, height = 0;
};
// One way of sending pointer input to a Wayland compositor, kept open for the program's lifetime.
class PointerInjector {
  public:
    virtual ~PointerInjector() = default;
    // Moves the pointer to a point of the injector's space: compositor-global logical pixels
    // (origin top left of the output layout) unless space() says otherwise.
    virtual bool moveTo(int x, int y) = 0;
    // Presses or releases a button given by its Linux evdev code (BTN_LEFT = 272).
    virtual bool button(int evdevButton, bool pressed) = 0;
    // Sends what was queued (a frame); false when the connection behind it was lost, or the
    // session it was sent in had already ended, so that the events may not have been taken.
    virtual bool flush() = 0;
    // The bounding box of every output in moveTo's space, where that space is the injector's
    // own; nothing when it is the layout's logical pixels that the outputs report to clients.
    virtual std::optional<LayoutBox> space() { return std::nullopt; }
    // The point of moveTo's space at a position on the output of that name, given in the
    // output's logical pixels; nothing when the injector does not know the output (the layout
    // the clients see then places it).
    virtual std::optional<ScreenPoint> pointOnOutput(const std::string& output, double x,
                                                     double y) {
        (void)output, (void)x, (void)y;
        return std::nullopt;
    }
};
} // namespace quindel
