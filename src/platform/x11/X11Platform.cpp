#include "platform/x11/X11Platform.h"

#include "platform/x11/KeyTable.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace quindel {

namespace {

// Xlib's default error handler ends the process. A request that fails on our connection
// (a key or pointer query racing a device change, say) must not take the program with it.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

// A press latched while nobody polled (the window stopped, or switched to MIDI) is stale: the
// first poll after such a pause reports only the keys that are down.
constexpr auto kPollPause = std::chrono::seconds(2);
// Except a press made just before that poll, such as the one that woke it, which counts. Its
// time is known when presses are taken as they arrive.
constexpr auto kFreshPress = std::chrono::milliseconds(500);

constexpr std::size_t kKeys = 256;

// How often a click-point capture looks at the left button.
constexpr long kCapturePollNanoseconds = 50'000'000;

} // namespace

struct X11Platform::Impl {
    Display* display = nullptr;
    int screen = 0;
    Window root = 0;
    int width = 0;
    int height = 0;
    std::string error;
    int xiOpcode = -1;
    int xkbEventBase = -1;
    bool rawKeys = false;
    // What the caller watches for key presses: the X connection, and an event counter that is
    // raised when a call other than takeKeyPresses read a press off the connection. That read
    // empties the socket, so the connection alone would not tell the caller; the press would
    // then wait for an unrelated event. Both are watched through one epoll descriptor.
    int pressesRead = -1;
    int keySource = -1;

    // The codes each X keycode stands for, and the keycodes of each code.
    std::array<std::vector<int>, kKeys> keycodeCodes;
    std::array<std::vector<int>, kKeys> codeKeycodes;
    // The unshifted keysym of the first key of each code, for the code's name.
    std::array<uint32_t, kKeys> codeKeysyms{};
    // Keys pressed since their last query, by code, and when they were drained.
    std::array<bool, kKeys> latched{};
    std::array<std::chrono::steady_clock::time_point, kKeys> latchedAt{};
    // Codes pressed since the last poll or the last takeKeyPresses.
    std::array<bool, kKeys> fresh{};
    // True once takeKeyPresses was called: its caller takes presses as they arrive, so their
    // drain times are their press times.
    bool taking = false;
    // Keyboard state of the last poll, one bit per keycode.
    std::array<char, 32> keymap{};
    std::chrono::steady_clock::time_point lastPoll{};
    bool polled = false;
    uint64_t roundTrips = 0;
    // The X server is XWayland, the X11 side of a Wayland desktop.
    bool xwayland = false;
    // The click-point capture: a timer that fires every 50 ms while one waits, and its caller.
    int captureTimer = -1;
    std::function<void(std::optional<ScreenPoint>)> captureDone;

    void open();
    void armCaptureTimer(bool armed);
    void loadKeyboardMapping();
    void drainEvents();
    // One XQueryPointer round trip: the pointer position on the root window and the button
    // mask; false when the pointer is on another screen.
    bool queryPointer(int& x, int& y, unsigned int& mask);
    void latchKeycode(int keycode);
    void watchKeySources();
    // The presses read so far are answered for: the event counter goes back to 0.
    void pressesAnswered();
    bool keycodeDown(int keycode) const {
        return (keymap[static_cast<std::size_t>(keycode) / 8] >> (keycode % 8)) & 1;
    }
};

void X11Platform::Impl::open() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        error = "No X display is set (DISPLAY is unset or empty): the program cannot click or read "
                "the keyboard.";
        return;
    }
    XSetErrorHandler(ignoreXError);
    display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        error = std::string("The X display \"") + name +
                "\" cannot be reached: the program cannot click or read the keyboard.";
        return;
    }
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        error = std::string("The X display \"") + name +
                "\" has no XTEST extension: the program cannot send clicks.";
        XCloseDisplay(display);
        display = nullptr;
        return;
    }
    screen = DefaultScreen(display);
    root = RootWindow(display, screen);
    width = DisplayWidth(display, screen);
    height = DisplayHeight(display, screen);
    // Resizes of the root window (a new screen mode) arrive as ConfigureNotify.
    XSelectInput(display, root, StructureNotifyMask);

    // Raw key presses reach us whichever window has the focus and even under a grab
    // (XInput 2.1 and later); they latch taps shorter than the poll interval.
    int xiEvent = 0;
    int xiError = 0;
    if (XQueryExtension(display, "XInputExtension", &xiOpcode, &xiEvent, &xiError)) {
        int xiMajor = 2;
        int xiMinor = 2;
        if (XIQueryVersion(display, &xiMajor, &xiMinor) == Success &&
            (xiMajor > 2 || (xiMajor == 2 && xiMinor >= 1))) {
            std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
            XISetMask(bits.data(), XI_RawKeyPress);
            XIEventMask mask{XIAllMasterDevices, static_cast<int>(bits.size()), bits.data()};
            rawKeys = XISelectEvents(display, root, &mask, 1) == Success;
        }
    }
    // A new layout arrives as an XKB map notification on connections that use XKB (Xlib
    // turns it on by itself), as a core MappingNotify otherwise.
    int xkbOpcode = 0;
    int xkbErrorBase = 0;
    int xkbMajor = XkbMajorVersion;
    int xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(display, &xkbOpcode, &xkbEventBase, &xkbErrorBase, &xkbMajor,
                          &xkbMinor)) {
        XkbSelectEvents(display, XkbUseCoreKbd, XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
                        XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
    } else {
        xkbEventBase = -1;
    }
    loadKeyboardMapping();
    if (rawKeys)
        watchKeySources();
    // Xwayland announces itself by an extension of its name (from version 23.1); before that
    // only by the names of the input devices it makes for the Wayland seat.
    int xwOpcode = 0, xwEvent = 0, xwError = 0;
    xwayland = XQueryExtension(display, "XWAYLAND", &xwOpcode, &xwEvent, &xwError) != 0;
    if (!xwayland && xiOpcode >= 0) {
        int count = 0;
        XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
        for (int i = 0; i < count && !xwayland; ++i)
            xwayland =
                devices[i].name != nullptr && std::strncmp(devices[i].name, "xwayland-", 9) == 0;
        if (devices != nullptr)
            XIFreeDeviceInfo(devices);
    }
    if (xwayland)
        error = std::string("The X display \"") + name +
                "\" is the X server of a Wayland desktop (XWayland): clicks sent there reach only "
                "its X11 windows.";
    captureTimer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    XFlush(display);
    roundTrips = 0; // count from here: setting up is not part of the polling cost
}

void X11Platform::Impl::watchKeySources() {
    keySource = ConnectionNumber(display);
    const int counter = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int both = epoll_create1(EPOLL_CLOEXEC);
    epoll_event watch{};
    watch.events = EPOLLIN;
    const auto add = [&](int fd) {
        return watch.data.fd = fd, epoll_ctl(both, EPOLL_CTL_ADD, fd, &watch) == 0;
    };
    if (counter >= 0 && both >= 0 && add(keySource) && add(counter)) {
        pressesRead = counter;
        keySource = both;
        return;
    }
    // Without them the connection alone is watched, as a lesser source.
    for (int fd : {counter, both})
        if (fd >= 0)
            close(fd);
}

void X11Platform::Impl::pressesAnswered() {
    if (pressesRead < 0)
        return;
    uint64_t count = 0;
    [[maybe_unused]] const auto got = read(pressesRead, &count, sizeof count);
}

void X11Platform::Impl::loadKeyboardMapping() {
    for (auto& codes : keycodeCodes)
        codes.clear();
    for (auto& keycodes : codeKeycodes)
        keycodes.clear();
    codeKeysyms.fill(0);
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    minKeycode = std::max(minKeycode, 0);
    maxKeycode = std::min(maxKeycode, static_cast<int>(kKeys) - 1);
    if (maxKeycode < minKeycode)
        return;
    int perKeycode = 0;
    ++roundTrips;
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode),
                                       maxKeycode - minKeycode + 1, &perKeycode);
    if (syms == nullptr)
        return;
    // XKB key names say where each key sits; without them the usual keycode numbering does.
    // (XkbGetKeyboard would fetch them in one request, which some servers refuse.)
    XkbDescPtr xkb = nullptr;
    if (xkbEventBase >= 0) {
        roundTrips += 2;
        xkb = XkbGetMap(display, 0, XkbUseCoreKbd);
        if (xkb != nullptr && XkbGetNames(display, XkbKeyNamesMask, xkb) != Success) {
            XkbFreeKeyboard(xkb, 0, True);
            xkb = nullptr;
        }
    }
    const bool named = xkb != nullptr && xkb->names != nullptr && xkb->names->keys != nullptr;
    std::vector<KeymapKey> keys;
    for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode) {
        // The first two levels of the first group: keysyms of further groups (a second
        // layout) are left out, or one key could stand for two letters.
        const KeySym* own = syms + static_cast<std::ptrdiff_t>(keycode - minKeycode) * perKeycode;
        KeymapKey key;
        if (named && keycode >= xkb->min_key_code && keycode <= xkb->max_key_code) {
            const char* name = xkb->names->keys[keycode].name;
            key.position = std::string_view(name, strnlen(name, XkbKeyNameLength));
        } else {
            key.position = positionOfKeycode(keycode);
        }
        key.unshifted = perKeycode > 0 ? static_cast<uint32_t>(own[0]) : 0;
        key.shifted = perKeycode > 1 ? static_cast<uint32_t>(own[1]) : 0;
        if (key.shifted == NoSymbol && key.unshifted != NoSymbol) {
            // A lone letter stands for its lower and upper case.
            KeySym lower = 0;
            KeySym upper = 0;
            XConvertCase(key.unshifted, &lower, &upper);
            key.shifted = upper != key.unshifted ? static_cast<uint32_t>(upper) : 0;
        }
        keys.push_back(key);
    }
    const KeymapCodes found = keymapVirtualKeys(keys);
    for (const KeyCollision& c : found.collisions) {
        const auto keysymName = [&](std::size_t key) {
            const char* name = XKeysymToString(keys[key].unshifted);
            return name != nullptr ? name : "NoSymbol";
        };
        std::fprintf(stderr,
                     "quindel: warning: the key of keycode %d (%s) gets no trigger code: its code "
                     "%d is that of keycode %d (%s)\n",
                     minKeycode + static_cast<int>(c.key), keysymName(c.key), c.virtualKey,
                     minKeycode + static_cast<int>(c.earlier), keysymName(c.earlier));
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const int code = found.virtualKeys[i];
        if (code == 0)
            continue;
        const int keycode = minKeycode + static_cast<int>(i);
        auto& codes = keycodeCodes[static_cast<std::size_t>(keycode)];
        if (codeKeysyms[static_cast<std::size_t>(code)] == 0)
            codeKeysyms[static_cast<std::size_t>(code)] = keys[i].unshifted;
        codes.push_back(code);
        if (int generic = genericVirtualKey(code))
            codes.push_back(generic);
        for (int c : codes)
            codeKeycodes[static_cast<std::size_t>(c)].push_back(keycode);
    }
    if (xkb != nullptr)
        XkbFreeKeyboard(xkb, 0, True);
    XFree(syms);
}

void X11Platform::Impl::latchKeycode(int keycode) {
    if (keycode < 0 || keycode >= static_cast<int>(kKeys))
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto& codes = keycodeCodes[static_cast<std::size_t>(keycode)];
    for (int code : codes) {
        latched[static_cast<std::size_t>(code)] = true;
        latchedAt[static_cast<std::size_t>(code)] = now;
        fresh[static_cast<std::size_t>(code)] = true;
    }
    // Whichever call read it, the caller learns that a press waits to be taken.
    if (!codes.empty() && pressesRead >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const auto put = write(pressesRead, &one, sizeof one);
    }
}

bool X11Platform::Impl::queryPointer(int& x, int& y, unsigned int& mask) {
    Window rootReturn = 0;
    Window child = 0;
    int winX = 0;
    int winY = 0;
    ++roundTrips;
    const bool onScreen =
        XQueryPointer(display, root, &rootReturn, &child, &x, &y, &winX, &winY, &mask) != 0;
    // Waiting for the reply may have queued events, where a watcher of the connection would
    // not see them: handle them now.
    drainEvents();
    return onScreen;
}

void X11Platform::Impl::drainEvents() {
    // Only what has already arrived: never waits for the server.
    while (XEventsQueued(display, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == GenericEvent && event.xcookie.extension == xiOpcode) {
            if (XGetEventData(display, &event.xcookie)) {
                if (event.xcookie.evtype == XI_RawKeyPress) {
                    const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
                    latchKeycode(raw->detail);
                }
                XFreeEventData(display, &event.xcookie);
            }
        } else if (xkbEventBase >= 0 && event.type == xkbEventBase) {
            const auto& xkb = reinterpret_cast<const XkbAnyEvent&>(event);
            if (xkb.xkb_type == XkbMapNotify || xkb.xkb_type == XkbNewKeyboardNotify)
                loadKeyboardMapping();
        } else if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            if (event.xmapping.request == MappingKeyboard)
                loadKeyboardMapping();
        } else if (event.type == ConfigureNotify && event.xconfigure.window == root) {
            width = event.xconfigure.width;
            height = event.xconfigure.height;
        }
    }
}

X11Platform::X11Platform() : impl_(std::make_unique<Impl>()) {
    impl_->open();
}

X11Platform::~X11Platform() {
    if (impl_->captureTimer >= 0)
        close(impl_->captureTimer);
    if (impl_->pressesRead >= 0)
        close(impl_->pressesRead), close(impl_->keySource);
    if (impl_->display != nullptr)
        XCloseDisplay(impl_->display);
}

bool X11Platform::available() const {
    return impl_->display != nullptr;
}

std::string X11Platform::errorText() const {
    return impl_->error;
}

bool X11Platform::canClick() const {
    return available() && !impl_->xwayland;
}

bool X11Platform::onXWayland() const {
    return impl_->xwayland;
}

void X11Platform::Impl::armCaptureTimer(bool armed) {
    const long interval = armed ? kCapturePollNanoseconds : 0;
    const itimerspec period{{0, interval}, {0, interval}};
    timerfd_settime(captureTimer, 0, &period, nullptr);
}

int X11Platform::desktopEventSource() const {
    return impl_->captureTimer;
}

bool X11Platform::handleDesktopEvents() {
    Impl& d = *impl_;
    uint64_t expirations = 0;
    [[maybe_unused]] const auto got = read(d.captureTimer, &expirations, sizeof expirations);
    if (!d.captureDone || d.display == nullptr)
        return true;
    // The point is where the pointer is when the button is first seen down; the press itself
    // goes on to the window below, so the click also acts there.
    int x = 0;
    int y = 0;
    unsigned int mask = 0;
    if (d.queryPointer(x, y, mask) && (mask & Button1Mask) != 0) {
        d.armCaptureTimer(false);
        std::exchange(d.captureDone, nullptr)(ScreenPoint{x, y});
    }
    return true;
}

bool X11Platform::beginPointCapture(std::function<void(std::optional<ScreenPoint>)> done) {
    Impl& d = *impl_;
    // On XWayland the pointer is seen only over the desktop's X11 windows.
    if (d.display == nullptr || d.captureTimer < 0 || d.xwayland || !done)
        return false;
    d.captureDone = std::move(done);
    d.armCaptureTimer(true);
    return true;
}

void X11Platform::cancelPointCapture() {
    impl_->captureDone = nullptr;
    if (impl_->captureTimer >= 0)
        impl_->armCaptureTimer(false);
}

bool X11Platform::tracksKeyTaps() const {
    return impl_->rawKeys;
}

uint64_t X11Platform::roundTrips() const {
    return impl_->roundTrips;
}

void X11Platform::mouseEvent(uint32_t flags, int32_t dx, int32_t dy, uint32_t, uintptr_t) {
    Display* display = impl_->display;
    if (display == nullptr)
        return;
    impl_->drainEvents();
    if (flags & kMouseMove) {
        if (flags & kMouseAbsolute) {
            XTestFakeMotionEvent(display, impl_->screen, pixelFromAbsolute(dx, impl_->width),
                                 pixelFromAbsolute(dy, impl_->height), CurrentTime);
        } else {
            XTestFakeRelativeMotionEvent(display, std::clamp(dx, -32768, 32767),
                                         std::clamp(dy, -32768, 32767), CurrentTime);
        }
    }
    // Press before release for each button, in the order left, right, middle.
    struct ButtonFlags {
        uint32_t down;
        uint32_t up;
        unsigned int button;
    };
    constexpr std::array buttons{ButtonFlags{kMouseLeftDown, kMouseLeftUp, Button1},
                                 ButtonFlags{kMouseRightDown, kMouseRightUp, Button3},
                                 ButtonFlags{kMouseMiddleDown, kMouseMiddleUp, Button2}};
    for (const ButtonFlags& b : buttons) {
        if (flags & b.down)
            XTestFakeButtonEvent(display, b.button, True, CurrentTime);
        if (flags & b.up)
            XTestFakeButtonEvent(display, b.button, False, CurrentTime);
    }
    // Send now without waiting for a reply: the server handles our requests in order, so the
    // click lands where the move put the pointer.
    XFlush(display);
    // A flush that had to wait for the server reads what it sends meanwhile into Xlib's queue,
    // where a watcher of the connection would not see it.
    if (XEventsQueued(display, QueuedAlready) > 0)
        impl_->drainEvents();
}

ScreenSize X11Platform::screenSize() {
    if (impl_->display == nullptr)
        return {};
    impl_->drainEvents();
    return {impl_->width, impl_->height};
}

void X11Platform::beginKeyPoll() {
    Impl& d = *impl_;
    if (d.display == nullptr)
        return;
    const auto now = std::chrono::steady_clock::now();
    const bool resumed = !d.polled || now - d.lastPoll > kPollPause;
    d.polled = true;
    d.lastPoll = now;
    // The one round trip of a poll. Its reply comes after every event the server generated
    // before it, so all raw presses up to this moment are queued once it returns.
    ++d.roundTrips;
    XQueryKeymap(d.display, d.keymap.data());
    d.drainEvents();
    d.pressesAnswered();
    if (resumed)
        for (std::size_t code = 0; code < kKeys; ++code)
            if (!d.taking || now - d.latchedAt[code] > kFreshPress)
                d.latched[code] = false;
    // This poll answers for every press so far.
    d.fresh.fill(false);
}

int X11Platform::keyEventSource() const {
    return impl_->keySource;
}

std::vector<int> X11Platform::takeKeyPresses() {
    Impl& d = *impl_;
    if (d.display == nullptr)
        return {};
    d.taking = true;
    d.drainEvents();
    d.pressesAnswered();
    std::vector<int> keys;
    for (std::size_t code = 0; code < kKeys; ++code)
        if (std::exchange(d.fresh[code], false))
            keys.push_back(static_cast<int>(code));
    return keys;
}

int16_t X11Platform::asyncKeyState(int virtualKey) {
    Impl& d = *impl_;
    if (d.display == nullptr || virtualKey <= 0 || virtualKey >= static_cast<int>(kKeys))
        return 0;
    // Mouse buttons are not in the keymap; ask the pointer.
    unsigned int buttonMask = 0;
    switch (virtualKey) {
    case 1:
        buttonMask = Button1Mask;
        break;
    case 2:
        buttonMask = Button3Mask;
        break;
    case 4:
        buttonMask = Button2Mask;
        break;
    default:
        break;
    }
    if (buttonMask != 0) {
        int x = 0;
        int y = 0;
        unsigned int mask = 0;
        d.queryPointer(x, y, mask);
        return (mask & buttonMask) ? static_cast<int16_t>(0x8000) : int16_t{0};
    }
    const auto index = static_cast<std::size_t>(virtualKey);
    const auto& keycodes = d.codeKeycodes[index];
    const bool down = std::any_of(keycodes.begin(), keycodes.end(),
                                  [&](int keycode) { return d.keycodeDown(keycode); });
    const bool pressed = d.latched[index];
    d.latched[index] = false;
    return static_cast<int16_t>((down ? 0x8000 : 0) | (pressed ? 0x0001 : 0));
}

std::optional<ScreenPoint> X11Platform::cursorPos() {
    Impl& d = *impl_;
    if (d.display == nullptr)
        return std::nullopt;
    d.drainEvents();
    int x = 0;
    int y = 0;
    unsigned int mask = 0;
    if (!d.queryPointer(x, y, mask))
        return std::nullopt;
    return ScreenPoint{x, y};
}

int X11Platform::virtualKeyFromNative(uint32_t keycode) {
    Impl& d = *impl_;
    if (d.display == nullptr || keycode >= kKeys)
        return 0;
    d.drainEvents(); // a keymap change that arrived since the last poll
    // The code the key poll fires on for this key. A key event names a modifier by its generic
    // code (Shift is 16 on either side), as stored groups expect; the key poll still tells the
    // sides apart when asked to.
    const auto& codes = d.keycodeCodes[keycode];
    if (codes.empty())
        return 0;
    const int generic = genericVirtualKey(codes.front());
    return generic != 0 ? generic : codes.front();
}

std::string X11Platform::keyName(int virtualKey) {
    Impl& d = *impl_;
    if (d.display == nullptr || virtualKey <= 0 || virtualKey >= static_cast<int>(kKeys))
        return {};
    d.drainEvents(); // a keymap change that arrived since the last poll
    // Punctuation and accented keys are named by what they carry on this keymap (no name when
    // no key has the code here); the other keys are named by their code alone.
    return keyNameOf(virtualKey, d.codeKeysyms[static_cast<std::size_t>(virtualKey)]);
}

bool X11Platform::windowManagerRunning() {
    Impl& d = *impl_;
    if (d.display == nullptr)
        return false;
    // An EWMH window manager keeps a check window on the root that names itself; a stale
    // property left by one that ended names a window that is gone or does not name itself.
    const auto checkWindow = [&](Window w) -> Window {
        const Atom check = XInternAtom(d.display, "_NET_SUPPORTING_WM_CHECK", False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        ++d.roundTrips;
        Window found = 0;
        if (XGetWindowProperty(d.display, w, check, 0, 1, False, XA_WINDOW, &type, &format, &count,
                               &after, &data) == Success &&
            type == XA_WINDOW && format == 32 && count == 1)
            found = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
        if (data != nullptr)
            XFree(data);
        return found;
    };
    const Window child = checkWindow(d.root);
    return child != 0 && checkWindow(child) == child;
}

} // namespace quindel
