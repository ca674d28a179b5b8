#include "platform/wayland/PointCaptureOverlay.h"

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

namespace quindel {

namespace {

// Premultiplied ARGB: black at about 16 % opacity, so the user sees that the next click is
// taken and still sees what lies below.
constexpr uint32_t kTint = 0x28000000;
constexpr int kDefaultCursorSize = 24;

} // namespace

PointCaptureOverlay::PointCaptureOverlay(const Globals& globals, const std::vector<Area>& areas)
    : globals_(globals) {
    // The covers are their layer surfaces' listener data: their addresses must not move.
    covers_.reserve(areas.size());
    for (const Area& area : areas)
        covers_.push_back(Cover{.owner = this, .area = area});
}

PointCaptureOverlay::~PointCaptureOverlay() {
    for (Cover& cover : covers_) {
        if (cover.layer != nullptr)
            zwlr_layer_surface_v1_destroy(cover.layer);
        if (cover.surface != nullptr)
            wl_surface_destroy(cover.surface);
        if (cover.buffer != nullptr)
            wl_buffer_destroy(cover.buffer);
    }
    if (cursorSurface_ != nullptr)
        wl_surface_destroy(cursorSurface_);
    if (cursorTheme_ != nullptr)
        wl_cursor_theme_destroy(cursorTheme_);
    wl_display_flush(globals_.display);
}

bool PointCaptureOverlay::show() {
    struct Listener {
        static void configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial,
                              uint32_t width, uint32_t height) {
            auto* cover = static_cast<Cover*>(data);
            cover->width = width, cover->height = height;
            cover->configureSerial = serial, cover->configured = true;
            // Once shown, a new size (the output changed) gets its buffer at once.
            if (cover->buffer != nullptr) {
                zwlr_layer_surface_v1_ack_configure(layer, serial);
                cover->owner->attachBuffer(*cover);
            }
        }
        static void closed(void* data, zwlr_layer_surface_v1*) {
            auto* cover = static_cast<Cover*>(data);
            cover->closed = true;
            // A cover taken away while it waits leaves the user nothing to click: cancelled.
            if (cover->buffer != nullptr)
                cover->owner->finish(std::nullopt);
        }
    };
    static const zwlr_layer_surface_v1_listener listener = {.configure = Listener::configure,
                                                            .closed = Listener::closed};
    for (Cover& cover : covers_) {
        cover.surface = wl_compositor_create_surface(globals_.compositor);
        cover.layer = zwlr_layer_shell_v1_get_layer_surface(
            globals_.layerShell, cover.surface, cover.area.output,
            ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "quindel-point-capture");
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
    // The compositor answers the first commit with each cover's size.
    if (wl_display_roundtrip(globals_.display) < 0)
        return false;
    for (Cover& cover : covers_) {
        if (!cover.configured || cover.closed)
            return false;
        zwlr_layer_surface_v1_ack_configure(cover.layer, cover.configureSerial);
        if (!attachBuffer(cover))
            return false;
    }
    loadCursor();
    // Only once the compositor has handled the commits with buffers are the covers on the
    // screen: a press before that would go to the window below.
    return wl_display_roundtrip(globals_.display) >= 0 &&
           std::none_of(covers_.begin(), covers_.end(), [](const Cover& c) { return c.closed; });
}

bool PointCaptureOverlay::attachBuffer(Cover& cover) {
    if (cover.width == 0 || cover.height == 0 ||
        cover.width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max() / 4) / cover.height)
        return false;
    const size_t stride = size_t{cover.width} * 4;
    const size_t size = stride * cover.height;
    const int fd = memfd_create("quindel-point-capture", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    wl_buffer* buffer = nullptr;
    if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
        void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (pixels != MAP_FAILED) {
            std::fill_n(static_cast<uint32_t*>(pixels), size / 4, kTint);
            munmap(pixels, size);
            wl_shm_pool* pool = wl_shm_create_pool(globals_.shm, fd, static_cast<int32_t>(size));
            buffer = wl_shm_pool_create_buffer(
                pool, 0, static_cast<int32_t>(cover.width), static_cast<int32_t>(cover.height),
                static_cast<int32_t>(stride), WL_SHM_FORMAT_ARGB8888);
            wl_shm_pool_destroy(pool); // the buffer keeps the memory
        }
    }
    close(fd);
    if (buffer == nullptr)
        return false;
    wl_surface_attach(cover.surface, buffer, 0, 0);
    wl_surface_damage(cover.surface, 0, 0, std::numeric_limits<int32_t>::max(),
                      std::numeric_limits<int32_t>::max());
    wl_surface_commit(cover.surface);
    if (cover.buffer != nullptr)
        wl_buffer_destroy(cover.buffer);
    cover.buffer = buffer;
    return true;
}

void PointCaptureOverlay::loadCursor() {
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
