#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quindel {

struct ScreenPoint {
    int32_t x = 0;
    int32_t y = 0;
};

struct ScreenSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Pointer-event flags as the engine hands them to the platform.
inline constexpr uint32_t kMouseMove = 0x0001;
inline constexpr uint32_t kMouseLeftDown = 0x0002;
inline constexpr uint32_t kMouseLeftUp = 0x0004;
inline constexpr uint32_t kMouseRightDown = 0x0008;
inline constexpr uint32_t kMouseRightUp = 0x0010;
inline constexpr uint32_t kMouseMiddleDown = 0x0020;
inline constexpr uint32_t kMouseMiddleUp = 0x0040;
inline constexpr uint32_t kMouseAbsolute = 0x8000;

// Virtual-key code of the left mouse button.
inline constexpr int kVirtualKeyLeftButton = 1;

// Windows of the program that cover every screen and take the next left press. The window
// toolkit provides them; the platform layer, which knows no toolkit, turns what they report into
// a point of its own click space.
class ScreenCover {
  public:
    // A press as the windows see it: the name of the screen (the desktop's name of the output)
    // and the position on that screen, in the logical pixels the toolkit measures windows in.
    struct Press {
        std::string screen;
        double x = 0;
        double y = 0;
    };
    virtual ~ScreenCover() = default;
    // Shows the windows; done follows once, with the first left press, or with nothing when the
    // user cancelled (Escape, a right click).
    virtual void show(std::function<void(std::optional<Press>)> done) = 0;
    // Closes the windows without calling done.
    virtual void hide() = 0;
};

// The desktop services the trigger engine and the editor need: synthetic pointer input, the
// state of keys and of the left button, the pointer position and the screen size. One backend
// per platform; tests use a recording fake.
class Platform {
  public:
    virtual ~Platform() = default;

    // True when the backend reached its display and can deliver input; errorText says why not.
    virtual bool available() const = 0;
    virtual std::string errorText() const = 0;

    // True when the backend has a way to send clicks on this desktop; without one a run would
    // do nothing, so the program must not start one.
    virtual bool canClick() const { return available(); }

    // True when this backend runs on the X server of a Wayland desktop (XWayland), whose clicks
    // reach only the desktop's X11 windows: it then refuses to click at all (canClick is false).
    virtual bool onXWayland() const { return false; }

    // True once after a click that the desktop did not take (its input service went away and
    // could not be had again); false again until the next such click.
    virtual bool takeClickFailure() { return false; }

    // True when the key poll and takeKeyPresses see the performer's keys on this desktop.
    virtual bool canWatchKeys() const { return available(); }

    // A file descriptor of the desktop connection, other than keyEventSource, for the caller's
    // event loop to watch; handleDesktopEvents must run when it becomes readable. -1 for none.
    virtual int desktopEventSource() const { return -1; }

    // Handles what has arrived on desktopEventSource without waiting; false once the connection
    // to the desktop is lost for good, after which the program cannot go on.
    virtual bool handleDesktopEvents() { return true; }

    // One pointer event with the flags above; with kMouseAbsolute dx, dy are 0..65535 across
    // the primary screen. Press and release flags in one event mean a press then a release.
    virtual void mouseEvent(uint32_t flags, int32_t dx, int32_t dy, uint32_t data,
                            uintptr_t extraInfo) = 0;

    // Size of the primary screen in pixels.
    virtual ScreenSize screenSize() = 0;

    // Reads the whole keyboard once; the asyncKeyState calls that follow answer from it.
    virtual void beginKeyPoll() = 0;

    // State of one virtual key: bit 15 (0x8000) while it is down now, bit 0 when it was pressed
    // since the previous query of that key. 0 for a code that names no key.
    virtual int16_t asyncKeyState(int virtualKey) = 0;

    // A file descriptor that becomes readable when key presses may have arrived, for the
    // caller's event loop to watch; -1 when this backend cannot report presses as they happen.
    // It also becomes readable when any other call of this interface read presses that
    // takeKeyPresses has not returned yet, so no press waits unseen.
    virtual int keyEventSource() const { return -1; }

    // Handles what has arrived without waiting and returns the virtual keys pressed since the
    // last key poll or the last call, each once. The state that asyncKeyState reports is not
    // changed by it.
    virtual std::vector<int> takeKeyPresses() { return {}; }

    // The pointer position in physical screen pixels, if it can be read.
    virtual std::optional<ScreenPoint> cursorPos() = 0;

    // Starts taking the next left click anywhere on the desktop, the one way this backend has
    // to do so. done is called once, with the point in the space this backend's clicks use (so
    // that a point taken is clicked on the same pixel), or with nothing when the user cancelled
    // (Escape, a right click). It is called from handleDesktopEvents, or before this returns.
    // False when no point can be taken on this desktop now.
    virtual bool beginPointCapture(std::function<void(std::optional<ScreenPoint>)> done) = 0;
    // Ends a capture that is still waiting, without calling its done.
    virtual void cancelPointCapture() {}
    // Windows of the program's toolkit over every screen, for a backend that has no way of its
    // own to take a click point on its desktop (GNOME on Wayland). Not owned; null for none.
    virtual void setScreenCover(ScreenCover* cover) { (void)cover; }

    // The virtual-key code of a key event's native scan code (the X keycode on X11): the code
    // the key state above answers for that key on the current keymap; 0 when it has none.
    virtual int virtualKeyFromNative(uint32_t scanCode) = 0;
    // True when virtualKeyFromNative answers from the desktop's keymap, so that a key it gives
    // no code has none; false while the keymap is unknown. A platform that watches the keys
    // reads the keymap to do so.
    virtual bool knowsKeymap() { return canWatchKeys(); }

    // The name of the key that has this virtual-key code on the current keymap, as its keycap
    // reads ("F5", "Esc", "Right", "è"); empty when no key has the code or it cannot be told.
    virtual std::string keyName(int virtualKey) {
        (void)virtualKey;
        return {};
    }

    // True when a window manager frames, minimises and stacks the top-level windows; without
    // one a window has no frame and a request to minimise it changes nothing on the screen.
    virtual bool windowManagerRunning() { return true; }

    // True when the desktop places the windows itself and ignores a position a program sets
    // (Wayland): a window is dragged by asking the desktop to move it while the button is held.
    virtual bool desktopMovesWindows() const { return false; }
    // True when a window comes to the front only with a token that the desktop issued for it
    // (Wayland's activation tokens, which the toolkit reads from XDG_ACTIVATION_TOKEN).
    virtual bool frontNeedsActivationToken() const { return false; }
};

// The pixel that an absolute pointer value 0..65535 stands for on a screen `extent` pixels
// wide (or high): round(absolute * extent / 65535), kept on the screen. It undoes the
// pixel-to-absolute conversion exactly, so a stored point is clicked on its own pixel.
int32_t pixelFromAbsolute(int32_t absolute, int32_t extent);

// The desktop's display systems that a backend serves.
enum class PlatformKind { X11, Wayland };

// The backend for the display system the window toolkit runs on, given by its platform name
// (Qt's "wayland" family means Wayland; "xcb" and anything else, X11). The one place that
// reads a platform name: everything else asks it.
PlatformKind platformKindFor(std::string_view toolkitPlatformName);

// Why no desktop display can be reached (neither a Wayland compositor nor an X display), in a
// sentence for the user; empty when one answers.
std::string unreachableDesktopReason();

// The backend of that kind for this build's system.
std::unique_ptr<Platform> createPlatform(PlatformKind kind);

} // namespace quindel
