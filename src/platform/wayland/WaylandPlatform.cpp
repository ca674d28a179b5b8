#include "platform/wayland/WaylandPlatform.h"

#include "platform/wayland/KWinFakeInputAccess.h"
#include "platform/wayland/MutterRemoteDesktop.h"
#include "platform/wayland/PointCaptureOverlay.h"
#include "platform/wayland/PointerInjector.h"
#include "platform/xkb/XkbKeymapCodes.h"

#include "fake-input-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <list>
#include <utility>

namespace quindel {

namespace {

// One output of the layout. Its logical geometry comes from xdg-output where the compositor
// offers it; else from wl_output's position and its mode divided by the scale.
struct Output {
    uint32_t name = 0;
    std::string outputName; // the desktop's name of it ("HEADLESS-1", "Meta-0")
    wl_output* output = nullptr;
    zxdg_output_v1* xdg = nullptr;
    int32_t x = 0, y = 0, modeWidth = 0, modeHeight = 0, scale = 1;
    bool logical = false;
    int32_t logicalX = 0, logicalY = 0, logicalWidth = 0, logicalHeight = 0;
};

using Box = LayoutBox;

uint32_t millisecondsNow() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// wlroots: a virtual pointer device of the seat. Absolute motion is measured against the
// layout's bounding box, which the compositor maps onto that same box, so each pixel is exact.
class VirtualPointer : public PointerInjector {
  public:
    VirtualPointer(wl_display* display, zwlr_virtual_pointer_v1* pointer,
                   std::function<Box()> layout)
        : display_(display), pointer_(pointer), layout_(std::move(layout)) {}
    ~VirtualPointer() override { zwlr_virtual_pointer_v1_destroy(pointer_); }
    bool moveTo(int x, int y) override {
        const Box box = layout_();
        if (box.width <= 0 || box.height <= 0)
            return false;
        const auto along = [](int v, int32_t origin, int32_t extent) {
            return static_cast<uint32_t>(std::clamp(v - origin, 0, extent - 1));
        };
        zwlr_virtual_pointer_v1_motion_absolute(
            pointer_, millisecondsNow(), along(x, box.x, box.width), along(y, box.y, box.height),
            static_cast<uint32_t>(box.width), static_cast<uint32_t>(box.height));
        return true;
    }
    bool button(int evdevButton, bool pressed) override {
        zwlr_virtual_pointer_v1_button(
            pointer_, millisecondsNow(), static_cast<uint32_t>(evdevButton),
            pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        return true;
    }
    bool flush() override {
        zwlr_virtual_pointer_v1_frame(pointer_);
        return wl_display_flush(display_) >= 0 || errno == EAGAIN;
    }

  private:
    wl_display* display_;
    zwlr_virtual_pointer_v1* pointer_;
    std::function<Box()> layout_;
};

// KWin: fake input in compositor coordinates. KWin ends each request's event by itself.
class FakeInput : public PointerInjector {
  public:
    FakeInput(wl_display* display, org_kde_kwin_fake_input* input)
        : display_(display), input_(input) {}
    ~FakeInput() override { org_kde_kwin_fake_input_destroy(input_); }
    bool moveTo(int x, int y) override {
        org_kde_kwin_fake_input_pointer_motion_absolute(input_, wl_fixed_from_int(x),
                                                        wl_fixed_from_int(y));
        return true;
    }
    bool button(int evdevButton, bool pressed) override {
        org_kde_kwin_fake_input_button(input_, static_cast<uint32_t>(evdevButton),
                                       pressed ? WL_POINTER_BUTTON_STATE_PRESSED
                                               : WL_POINTER_BUTTON_STATE_RELEASED);
        return true;
    }
    bool flush() override { return wl_display_flush(display_) >= 0 || errno == EAGAIN; }

  private:
    wl_display* display_;
    org_kde_kwin_fake_input* input_;
};

} // namespace

bool waylandCompositorAnswers() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
        return false;
    wl_display_disconnect(display);
    return true;
}

struct WaylandPlatform::Impl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    wl_pointer* pointer = nullptr;
    // Key codes from the keymap the compositor hands its clients: the key capture dialog gets
    // the codes that the same layout gives on X11.
    XkbKeymapCodes keymapCodes;
    zxdg_output_manager_v1* outputManager = nullptr;
    zwlr_virtual_pointer_manager_v1* virtualPointers = nullptr;
    org_kde_kwin_fake_input* fakeInput = nullptr;
    // A global of KWin's own (wlroots offers KWin's server decorations too): where KWin offers
    // no fake input, it refused it to this program.
    bool kwin = false;
    // What a click-point capture draws with, where the compositor has a layer shell.
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    zwlr_layer_shell_v1* layerShell = nullptr;
    wp_viewporter* viewporter = nullptr;
    std::unique_ptr<PointCaptureOverlay> overlay; // made at the first capture
    PointCaptureOverlay* capture() const {
        return overlay && overlay->showing() ? overlay.get() : nullptr;
    }
    std::function<void(std::optional<ScreenPoint>)> captureDone;
    // The toolkit's windows, which take the point where there is no layer shell (GNOME).
    ScreenCover* cover = nullptr;
    bool coverShown = false;
    std::list<Output> outputs; // stable addresses: each is its listeners' data
    std::unique_ptr<PointerInjector> injector;
    WaylandClickWay way = WaylandClickWay::None;
    bool lost = false;
    bool clickFailed = false;
    std::string error;

    void open();
    void chooseClickWay();
    // True when a way to click is ready; a Mutter session that ended is opened again first.
    bool reopenInjector();
    void watchOutput(Output& output);
    Box layout() const;
    // The space of the clicks: the injector's own where it has one (Mutter's layout), else the
    // layout's logical pixels. Stored points count from its top left corner.
    Box clickSpace() const;
    // A press on the toolkit's windows as a point of the click space; nothing for a screen
    // that is not known.
    std::optional<ScreenPoint> pointOfPress(const ScreenCover::Press& press) const;
    // Reads and handles what the compositor sent, without waiting; false when the connection
    // is gone.
    bool dispatch();
    bool lose();
    // Ends a capture whose user has decided and hands its outcome on.
    void finishCapture();
};

namespace {

// What an output tells of itself: its place, current mode, scale and name.
struct OutputEvents {
    static Output& of(void* data) { return *static_cast<Output*>(data); }
    static void geometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                         const char*, const char*, int32_t) {
        of(data).x = x;
        of(data).y = y;
    }
    static void mode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
                     int32_t) {
        if (flags & WL_OUTPUT_MODE_CURRENT) {
            of(data).modeWidth = width;
            of(data).modeHeight = height;
        }
    }
    static void done(void*, wl_output*) {}
    static void scale(void* data, wl_output*, int32_t factor) {
        of(data).scale = std::max(factor, 1);
    }
    static void name(void* data, wl_output*, const char* name) { of(data).outputName = name; }
    static void description(void*, wl_output*, const char*) {}
};
const wl_output_listener kOutputListener = {
    .geometry = OutputEvents::geometry,
    .mode = OutputEvents::mode,
    .done = OutputEvents::done,
    .scale = OutputEvents::scale,
    .name = OutputEvents::name,
    .description = OutputEvents::description,
};

// The output's place and size in the layout's logical pixels, where xdg-output tells them.
struct XdgOutputEvents {
    static Output& of(void* data) { return *static_cast<Output*>(data); }
    static void logicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
        of(data).logicalX = x;
        of(data).logicalY = y;
    }
    static void logicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
        of(data).logicalWidth = width;
        of(data).logicalHeight = height;
        of(data).logical = true;
    }
    static void done(void*, zxdg_output_v1*) {}
    static void name(void* data, zxdg_output_v1*, const char* name) { of(data).outputName = name; }
    static void description(void*, zxdg_output_v1*, const char*) {}
};
const zxdg_output_v1_listener kXdgOutputListener = {
    .logical_position = XdgOutputEvents::logicalPosition,
    .logical_size = XdgOutputEvents::logicalSize,
    .done = XdgOutputEvents::done,
    .name = XdgOutputEvents::name,
    .description = XdgOutputEvents::description,
};

// The seat's keyboard: its keymap, and the keys, which reach this connection only while a
// capture's overlay has the keyboard.
struct KeyboardEvents {
    static WaylandPlatform::Impl& of(void* data) {
        return *static_cast<WaylandPlatform::Impl*>(data);
    }
    // The keymap arrives as a file to map; a keymap that cannot be read leaves the codes as
    // they were.
    static void keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
            void* text = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (text != MAP_FAILED) {
                of(data).keymapCodes.setKeymapText(
                    std::string_view(static_cast<const char*>(text), size));
                ::munmap(text, size);
            }
        }
        ::close(fd);
    }
    static void enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
    static void leave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
    static void key(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
        if (PointCaptureOverlay* capture = of(data).capture();
            capture && state == WL_KEYBOARD_KEY_STATE_PRESSED)
            capture->keyPressed(key);
    }
    static void modifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
    static void repeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}
};
const wl_keyboard_listener kKeyboardListener = {
    .keymap = KeyboardEvents::keymap,
    .enter = KeyboardEvents::enter,
    .leave = KeyboardEvents::leave,
    .key = KeyboardEvents::key,
    .modifiers = KeyboardEvents::modifiers,
    .repeat_info = KeyboardEvents::repeatInfo,
};

// The seat's pointer, which reaches this connection only over a capture's overlay.
struct PointerEvents {
    static PointCaptureOverlay* captureOf(void* data) {
        return static_cast<WaylandPlatform::Impl*>(data)->capture();
    }
    static void enter(void* data, wl_pointer* pointer, uint32_t serial, wl_surface* surface,
                      wl_fixed_t x, wl_fixed_t y) {
        if (PointCaptureOverlay* capture = captureOf(data))
            capture->pointerEntered(pointer, serial, surface, wl_fixed_to_double(x),
                                    wl_fixed_to_double(y));
    }
    static void leave(void* data, wl_pointer*, uint32_t, wl_surface* surface) {
        if (PointCaptureOverlay* capture = captureOf(data))
            capture->pointerLeft(surface);
    }
    static void motion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
        if (PointCaptureOverlay* capture = captureOf(data))
            capture->pointerMoved(wl_fixed_to_double(x), wl_fixed_to_double(y));
    }
    static void button(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button,
                       uint32_t state) {
        if (PointCaptureOverlay* capture = captureOf(data))
            capture->pointerButton(button, state == WL_POINTER_BUTTON_STATE_PRESSED);
    }
    static void axis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
    static void frame(void*, wl_pointer*) {}
    static void axisSource(void*, wl_pointer*, uint32_t) {}
    static void axisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
    static void axisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}
    static void axisValue120(void*, wl_pointer*, uint32_t, int32_t) {}
#ifdef WL_POINTER_AXIS_RELATIVE_DIRECTION_SINCE_VERSION // libwayland 1.22 and later
    static void axisRelativeDirection(void*, wl_pointer*, uint32_t, uint32_t) {}
#endif
};
const wl_pointer_listener kPointerListener = {
    .enter = PointerEvents::enter,
    .leave = PointerEvents::leave,
    .motion = PointerEvents::motion,
    .button = PointerEvents::button,
    .axis = PointerEvents::axis,
    .frame = PointerEvents::frame,
    .axis_source = PointerEvents::axisSource,
    .axis_stop = PointerEvents::axisStop,
    .axis_discrete = PointerEvents::axisDiscrete,
    .axis_value120 = PointerEvents::axisValue120,
#ifdef WL_POINTER_AXIS_RELATIVE_DIRECTION_SINCE_VERSION
    .axis_relative_direction = PointerEvents::axisRelativeDirection,
#endif
};

// The seat's devices as they come and go: a keyboard for its keymap, a pointer for captures.
struct SeatEvents {
    static void capabilities(void* data, wl_seat* seat, uint32_t capabilities) {
        auto& impl = *static_cast<WaylandPlatform::Impl*>(data);
        const bool keyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
        if (keyboard && impl.keyboard == nullptr) {
            impl.keyboard = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(impl.keyboard, &kKeyboardListener, &impl);
        } else if (!keyboard && impl.keyboard != nullptr) {
            // The last keyboard went away (unplugged, or Mutter's remote desktop session
            // ended). The compositor sends nothing more to this object, not even when a
            // keyboard comes back: a new one brings the keymap in force then, and its later
            // changes. The codes stay meanwhile.
            wl_keyboard_destroy(impl.keyboard);
            impl.keyboard = nullptr;
        }
        if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && impl.pointer == nullptr) {
            impl.pointer = wl_seat_get_pointer(seat);
            wl_pointer_add_listener(impl.pointer, &kPointerListener, &impl);
        }
    }
    static void name(void*, wl_seat*, const char*) {}
};
const wl_seat_listener kSeatListener = {.capabilities = SeatEvents::capabilities,
                                        .name = SeatEvents::name};

// The compositor's globals: each one the backend uses is bound as it is announced, and an
// output is let go when it is removed.
struct RegistryEvents {
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version);
    static void globalRemove(void* data, wl_registry*, uint32_t name);
};
const wl_registry_listener kRegistryListener = {.global = RegistryEvents::global,
                                                .global_remove = RegistryEvents::globalRemove};

void RegistryEvents::global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                            uint32_t version) {
    auto& d = *static_cast<WaylandPlatform::Impl*>(data);
    const auto is = [&](const wl_interface& i) { return std::strcmp(interface, i.name) == 0; };
    const auto bind = [&](const wl_interface& i, uint32_t highest) {
        return wl_registry_bind(registry, name, &i, std::min(version, highest));
    };
    if (std::strncmp(interface, "org_kde_kwin_", 13) == 0 &&
        std::strcmp(interface, "org_kde_kwin_server_decoration_manager") != 0)
        d.kwin = true;
    if (is(wl_output_interface)) {
        Output& o = d.outputs.emplace_back();
        o.name = name;
        o.output = static_cast<wl_output*>(bind(wl_output_interface, 4)); // 4 names it
        wl_output_add_listener(o.output, &kOutputListener, &o);
        d.watchOutput(o);
    } else if (is(zxdg_output_manager_v1_interface)) {
        d.outputManager =
            static_cast<zxdg_output_manager_v1*>(bind(zxdg_output_manager_v1_interface, 2));
        for (Output& o : d.outputs)
            d.watchOutput(o);
    } else if (is(wl_seat_interface) && d.seat == nullptr) {
        d.seat = static_cast<wl_seat*>(bind(wl_seat_interface, 1));
        wl_seat_add_listener(d.seat, &kSeatListener, &d);
    } else if (is(wl_compositor_interface)) {
        d.compositor = static_cast<wl_compositor*>(bind(wl_compositor_interface, 4));
    } else if (is(wl_shm_interface)) {
        d.shm = static_cast<wl_shm*>(bind(wl_shm_interface, 1));
    } else if (is(wp_viewporter_interface)) {
        d.viewporter = static_cast<wp_viewporter*>(bind(wp_viewporter_interface, 1));
    } else if (is(zwlr_layer_shell_v1_interface)) {
        d.layerShell = static_cast<zwlr_layer_shell_v1*>(bind(zwlr_layer_shell_v1_interface, 4));
    } else if (is(zwlr_virtual_pointer_manager_v1_interface)) {
        d.virtualPointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
            bind(zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (is(org_kde_kwin_fake_input_interface) && version >= 3) {
        // Absolute motion came with version 3; the highest version both sides know, so that
        // a newer KWin hears the requests as its own version defines them.
        d.fakeInput = static_cast<org_kde_kwin_fake_input*>(
            bind(org_kde_kwin_fake_input_interface,
                 static_cast<uint32_t>(org_kde_kwin_fake_input_interface.version)));
    }
}

void RegistryEvents::globalRemove(void* data, wl_registry*, uint32_t name) {
    auto& d = *static_cast<WaylandPlatform::Impl*>(data);
    d.outputs.remove_if([name](Output& o) {
        if (o.name != name)
            return false;
        if (o.xdg != nullptr)
            zxdg_output_v1_destroy(o.xdg);
        wl_output_destroy(o.output);
        return true;
    });
}

} // namespace

void WaylandPlatform::Impl::watchOutput(Output& o) {
    if (outputManager == nullptr || o.xdg != nullptr)
        return;
    o.xdg = zxdg_output_manager_v1_get_xdg_output(outputManager, o.output);
    zxdg_output_v1_add_listener(o.xdg, &kXdgOutputListener, &o);
}

Box WaylandPlatform::Impl::layout() const {
    int32_t left = std::numeric_limits<int32_t>::max(), top = left;
    int32_t right = std::numeric_limits<int32_t>::min(), bottom = right;
    for (const Output& o : outputs) {
        const Box b = o.logical ? Box{o.logicalX, o.logicalY, o.logicalWidth, o.logicalHeight}
                                : Box{o.x, o.y, o.modeWidth / o.scale, o.modeHeight / o.scale};
        if (b.width <= 0 || b.height <= 0)
            continue;
        left = std::min(left, b.x), top = std::min(top, b.y);
        right = std::max(right, b.x + b.width), bottom = std::max(bottom, b.y + b.height);
    }
    if (right <= left || bottom <= top)
        return {};
    return {left, top, right - left, bottom - top};
}

Box WaylandPlatform::Impl::clickSpace() const {
    if (injector != nullptr)
        if (const std::optional<Box> own = injector->space(); own && own->width > 0)
            return *own;
    return layout();
}

std::optional<ScreenPoint>
WaylandPlatform::Impl::pointOfPress(const ScreenCover::Press& press) const {
    const Box space = clickSpace();
    if (injector != nullptr)
        if (const auto point = injector->pointOnOutput(press.screen, press.x, press.y))
            return ScreenPoint{point->x - space.x, point->y - space.y};
    for (const Output& o : outputs) {
        if (o.outputName != press.screen)
            continue;
        return ScreenPoint{(o.logical ? o.logicalX : o.x) + static_cast<int32_t>(press.x) - space.x,
                           (o.logical ? o.logicalY : o.y) + static_cast<int32_t>(press.y) -
                               space.y};
    }
    return std::nullopt;
}

void WaylandPlatform::Impl::open() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    display = wl_display_connect(nullptr);
    if (display == nullptr) {
        error = std::string("The Wayland compositor \"") + (name ? name : "wayland-0") +
                "\" cannot be reached: the program cannot click.";
        return;
    }
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, this);
    // The globals, then the outputs' geometry that binding them asked for.
    if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) {
        error = "The Wayland compositor closed the connection while it was being set up.";
        wl_display_disconnect(display);
        display = nullptr;
        return;
    }
    chooseClickWay();
    // The compositor has the new device before the first click.
    if (wl_display_roundtrip(display) < 0)
        lose();
}

void WaylandPlatform::Impl::chooseClickWay() {
    if (virtualPointers != nullptr) {
        // One device for the program's lifetime: without other input devices, removing it
        // would take the seat's pointer away, and a fresh device's first click can be lost.
        injector = std::make_unique<VirtualPointer>(
            display, zwlr_virtual_pointer_manager_v1_create_virtual_pointer(virtualPointers, seat),
            [this] { return layout(); });
        way = WaylandClickWay::VirtualPointer;
    } else if (fakeInput != nullptr) {
        org_kde_kwin_fake_input_authenticate(fakeInput, "Quindel",
                                             "Clicks at stored points on MIDI and key triggers");
        injector = std::make_unique<FakeInput>(display, fakeInput);
        fakeInput = nullptr; // the injector owns it now
        way = WaylandClickWay::KWinFakeInput;
    } else if (kwin) {
        std::error_code unknown;
        error = kwinFakeInputRefusal(std::filesystem::canonical("/proc/self/exe", unknown),
                                     desktopFoldersOfSession());
        std::fprintf(stderr, "quindel: %s\n", error.c_str());
    } else {
        std::string whyNot;
        injector = openMutterRemoteDesktop(&whyNot);
        if (injector != nullptr)
            way = WaylandClickWay::MutterRemoteDesktop;
        else if (!whyNot.empty())
            std::fprintf(stderr, "quindel: GNOME remote desktop: %s\n", whyNot.c_str());
    }
}

bool WaylandPlatform::Impl::reopenInjector() {
    if (way != WaylandClickWay::MutterRemoteDesktop)
        return injector != nullptr;
    // A session that Mutter closed is opened again before the next event, and one that cannot
    // be is reported: the event is not sent.
    std::string whyNot;
    if (injector == nullptr)
        injector = openMutterRemoteDesktop(&whyNot);
    else if (auto& mutter = static_cast<MutterRemoteDesktop&>(*injector);
             !mutter.reopenIfClosed()) {
        whyNot = mutter.errorText();
        injector.reset();
    }
    if (injector == nullptr)
        std::fprintf(stderr, "quindel: GNOME remote desktop: %s\n", whyNot.c_str());
    return injector != nullptr;
}

bool WaylandPlatform::Impl::lose() {
    if (!lost) {
        const int code = display != nullptr ? wl_display_get_error(display) : 0;
        error = std::string("The connection to the Wayland compositor was lost") +
                (code != 0 ? std::string(" (") + std::strerror(code) + ")" : std::string()) + ".";
    }
    lost = true;
    return false;
}

bool WaylandPlatform::Impl::dispatch() {
    if (lost || display == nullptr)
        return false;
    while (wl_display_prepare_read(display) != 0)
        if (wl_display_dispatch_pending(display) < 0)
            return lose();
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return lose();
    }
    pollfd ready{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&ready, 1, 0) > 0) {
        if (wl_display_read_events(display) < 0)
            return lose();
    } else {
        wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0)
        return lose();
    finishCapture();
    return true;
}

void WaylandPlatform::Impl::finishCapture() {
    if (!capture() || !capture()->outcome())
        return;
    const std::optional<ScreenPoint> point = *capture()->outcome();
    // The overlay goes before the caller hears of it, which may start the next capture.
    overlay->hide();
    auto done = std::exchange(captureDone, nullptr);
    if (done)
        done(point);
}

WaylandPlatform::WaylandPlatform() : impl_(std::make_unique<Impl>()) {
    impl_->open();
}

WaylandPlatform::~WaylandPlatform() {
    Impl& d = *impl_;
    if (d.display == nullptr)
        return;
    d.overlay.reset();
    d.injector.reset();
    for (Output& o : d.outputs) {
        if (o.xdg != nullptr)
            zxdg_output_v1_destroy(o.xdg);
        wl_output_destroy(o.output);
    }
    if (d.fakeInput != nullptr)
        org_kde_kwin_fake_input_destroy(d.fakeInput);
    if (d.virtualPointers != nullptr)
        zwlr_virtual_pointer_manager_v1_destroy(d.virtualPointers);
    if (d.outputManager != nullptr)
        zxdg_output_manager_v1_destroy(d.outputManager);
    if (d.keyboard != nullptr)
        wl_keyboard_destroy(d.keyboard);
    if (d.pointer != nullptr)
        wl_pointer_destroy(d.pointer);
    if (d.layerShell != nullptr) {
        // Its destructor request came with version 3.
        if (zwlr_layer_shell_v1_get_version(d.layerShell) >= 3)
            zwlr_layer_shell_v1_destroy(d.layerShell);
        else
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(d.layerShell));
    }
    if (d.viewporter != nullptr)
        wp_viewporter_destroy(d.viewporter);
    if (d.shm != nullptr)
        wl_shm_destroy(d.shm);
    if (d.compositor != nullptr)
        wl_compositor_destroy(d.compositor);
    if (d.seat != nullptr)
        wl_seat_destroy(d.seat);
    wl_registry_destroy(d.registry);
    wl_display_flush(d.display);
    wl_display_disconnect(d.display);
}

bool WaylandPlatform::available() const {
    return impl_->display != nullptr && !impl_->lost;
}

std::string WaylandPlatform::errorText() const {
    return impl_->error;
}

bool WaylandPlatform::canClick() const {
    return available() && impl_->way != WaylandClickWay::None;
}

WaylandClickWay WaylandPlatform::clickWay() const {
    return impl_->way;
}

bool WaylandPlatform::takeClickFailure() {
    return std::exchange(impl_->clickFailed, false);
}

int WaylandPlatform::desktopEventSource() const {
    return impl_->display != nullptr ? wl_display_get_fd(impl_->display) : -1;
}

bool WaylandPlatform::handleDesktopEvents() {
    return impl_->dispatch();
}

ScreenSize WaylandPlatform::screenSize() {
    impl_->dispatch(); // outputs that changed since the last events were handled
    const Box box = impl_->clickSpace();
    return {box.width, box.height};
}

ScreenPoint WaylandPlatform::layoutOrigin() {
    impl_->dispatch();
    const Box box = impl_->clickSpace();
    return {box.x, box.y};
}

void WaylandPlatform::mouseEvent(uint32_t flags, int32_t dx, int32_t dy, uint32_t, uintptr_t) {
    Impl& d = *impl_;
    if (!d.dispatch())
        return;
    if (!d.reopenInjector()) {
        d.clickFailed = d.way != WaylandClickWay::None;
        return;
    }
    bool sent = true;
    bool queued = false;
    // Each event goes in a frame of its own: the move, each press, each release.
    const auto endFrame = [&] {
        if (std::exchange(queued, false))
            sent = sent && d.injector->flush();
    };
    // Relative motion has no use here: the engine always places the pointer absolutely.
    if ((flags & kMouseMove) && (flags & kMouseAbsolute)) {
        const Box box = d.clickSpace();
        sent = d.injector->moveTo(box.x + pixelFromAbsolute(dx, box.width),
                                  box.y + pixelFromAbsolute(dy, box.height));
        queued = true;
    }
    // Press before release for each button, in the order left, right, middle.
    struct ButtonFlags {
        uint32_t down;
        uint32_t up;
        int button;
    };
    constexpr ButtonFlags buttons[] = {{kMouseLeftDown, kMouseLeftUp, BTN_LEFT},
                                       {kMouseRightDown, kMouseRightUp, BTN_RIGHT},
                                       {kMouseMiddleDown, kMouseMiddleUp, BTN_MIDDLE}};
    for (const ButtonFlags& b : buttons) {
        for (const bool pressed : {true, false}) {
            if (flags & (pressed ? b.down : b.up)) {
                endFrame();
                sent = sent && d.injector->button(b.button, pressed);
                queued = true;
            }
        }
    }
    endFrame();
    if (!sent) {
        if (!d.dispatch())
            return; // the compositor went away: the event source reports it
        // The way behind the injector closed (a remote desktop session): reopened next time.
        d.injector.reset();
        d.clickFailed = true;
    }
}

bool WaylandPlatform::beginPointCapture(std::function<void(std::optional<ScreenPoint>)> done) {
    Impl& d = *impl_;
    cancelPointCapture();
    if (!d.dispatch())
        return false;
    if (d.layerShell == nullptr || d.compositor == nullptr || d.shm == nullptr ||
        d.viewporter == nullptr || d.pointer == nullptr) {
        // No overlay of our own here: the toolkit's windows take the press, which is turned
        // into a point of the click space (on GNOME, of Mutter's layout in its layout mode).
        if (d.cover == nullptr || !done)
            return false;
        d.captureDone = std::move(done);
        d.coverShown = true;
        d.cover->show([&d](std::optional<ScreenCover::Press> press) {
            d.coverShown = false;
            std::optional<ScreenPoint> point;
            if (press && !(point = d.pointOfPress(*press)))
                std::fprintf(stderr,
                             "quindel: a click on the unknown screen \"%s\" was not taken\n",
                             press->screen.c_str());
            if (auto taken = std::exchange(d.captureDone, nullptr))
                taken(point);
        });
        return true;
    }
    // Each output with its place in the layout, whose top left corner is the point (0, 0).
    const Box box = d.layout();
    std::vector<PointCaptureOverlay::Area> areas;
    for (const Output& o : d.outputs)
        areas.push_back({o.output, (o.logical ? o.logicalX : o.x) - box.x,
                         (o.logical ? o.logicalY : o.y) - box.y});
    if (!d.overlay)
        d.overlay = std::make_unique<PointCaptureOverlay>(PointCaptureOverlay::Globals{
            d.display, d.compositor, d.shm, d.layerShell, d.viewporter});
    if (!d.overlay->show(areas)) {
        if (wl_display_get_error(d.display) != 0)
            d.lose();
        return false;
    }
    d.captureDone = std::move(done);
    // A press already read while the overlay was being shown is handed on now.
    d.finishCapture();
    return true;
}

void WaylandPlatform::setScreenCover(ScreenCover* cover) {
    cancelPointCapture();
    impl_->cover = cover;
}

void WaylandPlatform::cancelPointCapture() {
    if (impl_->overlay)
        impl_->overlay->hide();
    if (std::exchange(impl_->coverShown, false) && impl_->cover != nullptr)
        impl_->cover->hide();
    impl_->captureDone = nullptr;
}

int WaylandPlatform::virtualKeyFromNative(uint32_t scanCode) {
    impl_->dispatch(); // a keymap that changed since
    return impl_->keymapCodes.virtualKey(scanCode);
}

bool WaylandPlatform::knowsKeymap() {
    impl_->dispatch();
    return impl_->keymapCodes.hasKeymap();
}

std::string WaylandPlatform::keyName(int virtualKey) {
    impl_->dispatch(); // a keymap that changed since
    return impl_->keymapCodes.keyName(virtualKey);
}

} // namespace quindel
