#pragma once

#include "platform/Platform.h"

#include <memory>

namespace quindel {

// True when a Wayland compositor accepts a connection (WAYLAND_DISPLAY, or its default name).
bool waylandCompositorAnswers();

// Where a backend's clicks can go on Wayland, as the compositor offers them.
enum class WaylandClickWay { None, VirtualPointer, KWinFakeInput, MutterRemoteDesktop };

// The Platform in a Wayland session, on a connection of its own to the compositor. It clicks
// through the first way the compositor offers: the wlroots virtual pointer, KWin's fake input,
// or Mutter's remote desktop. The screen is the bounding box of the outputs in the space the
// clicks go in (the layout's logical pixels; on GNOME Mutter's layout in its layout mode), kept
// current as outputs come, go and change. No Wayland client may watch the keyboard
// or read the global pointer: the key poll reports no keys and the pointer position is unknown.
class WaylandPlatform : public Platform {
  public:
    WaylandPlatform();
    ~WaylandPlatform() override;
    WaylandPlatform(const WaylandPlatform&) = delete;
    WaylandPlatform& operator=(const WaylandPlatform&) = delete;

    bool available() const override;
    std::string errorText() const override;
    bool canClick() const override;
    bool canWatchKeys() const override { return false; }
    bool takeClickFailure() override;
    int desktopEventSource() const override;
    bool handleDesktopEvents() override;
    void mouseEvent(uint32_t flags, int32_t dx, int32_t dy, uint32_t data,
                    uintptr_t extraInfo) override;
    ScreenSize screenSize() override;
    void beginKeyPoll() override {}
    int16_t asyncKeyState(int) override { return 0; }
    std::optional<ScreenPoint> cursorPos() override { return std::nullopt; }
    // Where the compositor has a layer shell (sway, KWin), an overlay over every output takes
    // the click; elsewhere (GNOME) the screen cover's windows do. Either way the point is in the
    // click space, counted from its top left corner: the layout's logical pixels, or Mutter's
    // layout in its layout mode (physical pixels in its default mode).
    bool beginPointCapture(std::function<void(std::optional<ScreenPoint>)> done) override;
    void cancelPointCapture() override;
    void setScreenCover(ScreenCover* cover) override;
    // From the compositor's keymap, by the rules of the X11 key table.
    int virtualKeyFromNative(uint32_t scanCode) override;
    // Once the compositor sent its keymap (it does as soon as the seat has a keyboard).
    bool knowsKeymap() override;
    std::string keyName(int virtualKey) override;
    bool desktopMovesWindows() const override { return true; }
    bool frontNeedsActivationToken() const override { return true; }

    // The way clicks go, chosen when the connection was made.
    WaylandClickWay clickWay() const;

    // The top left corner of the click space's bounding box, in compositor coordinates.
    ScreenPoint layoutOrigin();

    // The connection's state; public only for the listeners of its Wayland objects.
    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

} // namespace quindel
