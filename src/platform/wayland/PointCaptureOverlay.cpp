#include "platform/wayland/PointCaptureOverlay.h"

#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <wayland-cursor.h>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

namespace quindel {

namespace {

// Premultiplied ARGB: black at about 16 % opacity, so the user sees that the next click is
// taken and still sees what lies below.
constexpr uint32_t kTint = 0x28000000;
constexpr int kDefaultCursorSize = 24;

} // namespace

PointCaptureOverlay::PointCaptureOverlay(const Globals& globals) : globals_(globals) {}

PointCaptureOverlay::~PointCaptureOverlay() {
    hide();
    if (tint_ != nullptr)
        wl_buffer_destroy(tint_);
    if (cursorSurface_ != nullptr)
        wl_surface_destroy(cursorSurface_);
    if (cursorTheme_ != nullptr)
        wl_cursor_theme_destroy(cursorTheme_);
    wl_display_flush(globals_.display);
}

void PointCaptureOverlay::hide() {
    for (Cover& cover : covers_) {
        wp_viewport_destroy(cover.viewport);
        zwlr_layer_surface_v1_destroy(cover.layer);
        wl_surface_destroy(cover.surface);
    }
    covers_.clear();
    hovered_ = nullptr;
    wl_display_flush(globals_.display);
}

bool PointCaptureOverlay::show(const std::vector<Area>& areas) {
    struct Listener {
        static void configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial,
                              uint32_t width, uint32_t height) {
            auto* cover = static_cast<Cover*>(data);
            cover->width = width, cover->height = height;
            cover->configureSerial = serial, cover->configured = true;
            // Once shown, a new size (the output changed) is taken at once.
            if (cover->shown) {
                zwlr_layer_surface_v1_ack_configure(layer, serial);
                cover->owner->fill(*cover);
            }
        }
        static void closed(void* data, zwlr_layer_surface_v1*) {
            auto* cover = static_cast<Cover*>(data);
            cover->closed = true;
            // A cover taken away while it waits leaves the user nothing to click: cancelled.
            if (cover->shown)
                cover->owner->finish(std::nullopt);
        }
    };
    static const zwlr_layer_surface_v1_listener listener = {.configure = Listener::configure,
                                                            .closed = Listener::closed};
    hide();
    pressedButton_.reset();
    outcome_.reset();
    if (areas.empty() || !makeTint())
        return false;
    loadCursor();
    // The covers are their layer surfaces' listener data: their addresses must not move.
    covers_.reserve(areas.size());
    for (const Area& area : areas) {
        Cover& cover = covers_.emplace_back(Cover{.owner = this, .area = area});
        cover.surface = wl_compositor_create_surface(globals_.compositor);
        cover.viewport = wp_viewporter_get_viewport(globals_.viewporter, cover.surface);
        cover.layer = zwlr_layer_shell_v1_get_layer_surface(
            globals_.layerShell, cover.surface, area.output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
            "quindel-point-capture");
        zwlr_layer_surface_v1_add_listener(cover.layer, &listener, &cover);
        zwlr_layer_surface_v1_set_anchor(cover.layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                                          ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                          ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                                          ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_size(cover.layer, 0, 0);         // the whole output
        zwlr_layer_surface_v1_set_exclusive_zone(cover.layer, -1); // over panels too
        // The keyboard comes here, so Escape reaches the capture.
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            cover.layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
        wl_surface_commit(cover.surface);
    }
    // The compositor answers the first commit with each cover's size; only once it has handled
    // the commits that fill them are the covers on the screen: a press before that would go to
    // the window below.
    bool shown = wl_display_roundtrip(globals_.display) >= 0;
    for (Cover& cover : covers_) {
        shown = shown && cover.configured && !cover.closed;
        if (shown) {
            zwlr_layer_surface_v1_ack_configure(cover.layer, cover.configureSerial);
            shown = fill(cover);
        }
    }
    shown = shown && wl_display_roundtrip(globals_.display) >= 0 &&
            std::none_of(covers_.begin(), covers_.end(), [](const Cover& c) { return c.closed; });
    if (!shown)
        hide();
    return shown;
}

bool PointCaptureOverlay::fill(Cover& cover) {
    if (cover.width == 0 || cover.height == 0 ||
        cover.width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
        cover.height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        return false;
    wp_viewport_set_destination(cover.viewport, static_cast<int32_t>(cover.width),
                                static_cast<int32_t>(cover.height));
    wl_surface_attach(cover.surface, tint_, 0, 0);
    wl_surface_damage(cover.surface, 0, 0, static_cast<int32_t>(cover.width),
                      static_cast<int32_t>(cover.height));
    wl_surface_commit(cover.surface);
    cover.shown = true;
    return true;
}

bool PointCaptureOverlay::makeTint() {
    if (tint_ != nullptr)
        return true;
    const int fd = memfd_create("quindel-point-capture", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    if (write(fd, &kTint, sizeof kTint) == static_cast<ssize_t>(sizeof kTint)) {
        wl_shm_pool* pool = wl_shm_create_pool(globals_.shm, fd, sizeof kTint);
        tint_ = wl_shm_pool_create_buffer(pool, 0, 1, 1, sizeof kTint, WL_SHM_FORMAT_ARGB8888);
        wl_shm_pool_destroy(pool); // the buffer keeps the memory
    }
    close(fd);
    return tint_ != nullptr;
}

void PointCaptureOverlay::loadCursor() {
    if (std::exchange(cursorLoaded_, true))
        return;
    // The user's cursor theme and size where the session says them, else the default theme.
    const char* sizeText = std::getenv("XCURSOR_SIZE");
    const int size =
        sizeText != nullptr && std::atoi(sizeText) > 0 ? std::atoi(sizeText) : kDefaultCursorSize;
    cursorTheme_ = wl_cursor_theme_load(std::getenv("XCURSOR_THEME"), size, globals_.shm);
    if (cursorTheme_ == nullptr)
        return;
    wl_cursor* cursor = nullptr;
    for (const char* name : {"crosshair", "cross", "tcross", "left_ptr"})
        if (cursor == nullptr)
            cursor = wl_cursor_theme_get_cursor(cursorTheme_, name);
    if (cursor == nullptr || cursor->image_count == 0)
        return; // the compositor's own pointer then
    wl_cursor_image* image = cursor->images[0];
    wl_buffer* buffer = wl_cursor_image_get_buffer(image);
    if (buffer == nullptr)
        return;
    cursorSurface_ = wl_compositor_create_surface(globals_.compositor);
    wl_surface_attach(cursorSurface_, buffer, 0, 0);
    wl_surface_damage(cursorSurface_, 0, 0, static_cast<int32_t>(image->width),
                      static_cast<int32_t>(image->height));
    wl_surface_commit(cursorSurface_);
    cursorHotspotX_ = static_cast<int32_t>(image->hotspot_x);
    cursorHotspotY_ = static_cast<int32_t>(image->hotspot_y);
}

void PointCaptureOverlay::pointerEntered(wl_pointer* pointer, uint32_t serial, wl_surface* surface,
                                         double x, double y) {
    hovered_ = nullptr;
    for (const Cover& cover : covers_)
        if (cover.surface == surface)
            hovered_ = &cover;
    if (hovered_ == nullptr)
        return;
    pointerX_ = x, pointerY_ = y;
    if (cursorSurface_ != nullptr)
        wl_pointer_set_cursor(pointer, serial, cursorSurface_, cursorHotspotX_, cursorHotspotY_);
}

void PointCaptureOverlay::pointerLeft(wl_surface* surface) {
    if (hovered_ == nullptr || hovered_->surface != surface)
        return;
    hovered_ = nullptr;
    // The release of a press that decided will not come here.
    if (pressedButton_)
        finish(pressedPoint_);
}

void PointCaptureOverlay::pointerMoved(double x, double y) {
    pointerX_ = x, pointerY_ = y;
}

void PointCaptureOverlay::pointerButton(uint32_t button, bool pressed) {
    if (outcome_)
        return;
    if (!pressed) {
        if (pressedButton_ == button)
            finish(pressedPoint_);
        return;
    }
    if (hovered_ == nullptr || pressedButton_)
        return;
    if (button == BTN_LEFT) {
        const auto pixel = [](double at, uint32_t extent) {
            return std::clamp(static_cast<int32_t>(std::floor(at)), 0,
                              static_cast<int32_t>(extent) - 1);
        };
        pressedPoint_ = ScreenPoint{hovered_->area.x + pixel(pointerX_, hovered_->width),
                                    hovered_->area.y + pixel(pointerY_, hovered_->height)};
        pressedButton_ = button;
    } else if (button == BTN_RIGHT) {
        pressedPoint_.reset();
        pressedButton_ = button;
    }
}

void PointCaptureOverlay::keyPressed(uint32_t evdevKey) {
    if (evdevKey == KEY_ESC && !outcome_)
        finish(std::nullopt);
}

void PointCaptureOverlay::finish(std::optional<ScreenPoint> point) {
    if (!outcome_)
        outcome_ = point;
}

} // namespace quindel
