#pragma once

#include "platform/Platform.h"

#include <memory>

namespace quindel {

// The Platform on an X display: XTest for pointer output, XQueryKeymap plus XInput2 raw key
// events for key state, XQueryPointer for the button and the pointer position. A click point
// is taken by watching the left button every 50 ms (a timer behind desktopEventSource), in
// root-window pixels, the space of its clicks. The X server of a Wayland desktop (XWayland)
// is refused: its clicks would reach only the desktop's X11 windows.
class X11Platform : public Platform {
  public:
    X11Platform();
    ~X11Platform() override;
    X11Platform(const X11Platform&) = delete;
    X11Platform& operator=(const X11Platform&) = delete;

    bool available() const override;
    std::string errorText() const override;
    bool canClick() const override;
    bool onXWayland() const override;
    int desktopEventSource() const override;
    bool handleDesktopEvents() override;
    bool beginPointCapture(std::function<void(std::optional<ScreenPoint>)> done) override;
    void cancelPointCapture() override;
    void mouseEvent(uint32_t flags, int32_t dx, int32_t dy, uint32_t data,
                    uintptr_t extraInfo) override;
    ScreenSize screenSize() override;
    void beginKeyPoll() override;
    int16_t asyncKeyState(int virtualKey) override;
    int keyEventSource() const override;
    std::vector<int> takeKeyPresses() override;
    std::optional<ScreenPoint> cursorPos() override;
    int virtualKeyFromNative(uint32_t keycode) override;
    std::string keyName(int virtualKey) override;
    bool windowManagerRunning() override;

    // True when raw key events latch presses between polls (XInput 2.1 or later), so a tap
    // shorter than the poll interval is seen; without it only keys down at the poll count.
    bool tracksKeyTaps() const;

    // Requests since construction that waited for the server's reply (for tests and benchmarks).
    uint64_t roundTrips() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace quindel
