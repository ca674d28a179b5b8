#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <vector>

struct wl_buffer;
struct wl_compositor;
struct wl_cursor_theme;
struct wl_display;
struct wl_output;
struct wl_pointer;
struct wl_shm;
struct wl_surface;
struct wp_viewport;
struct wp_viewporter;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace quindel {

// Takes a click point where no client may read the pointer: a faintly tinted surface covers
// every output on the layer shell's overlay layer, above windows and panels, with a crosshair
// pointer and the keyboard focus. The first left press on it gives the point (the output's
// place in the layout plus the press's place on the output); a right press or Escape cancels.
// The capture ends when that button is released, so the window below sees neither the press
// nor its release. The owner feeds it the seat's pointer and key events from its connection.
// One overlay serves capture after capture: its tint and its pointer are made once.
class PointCaptureOverlay {
  public:
    struct Globals {
        wl_display* display = nullptr;
        wl_compositor* compositor = nullptr;
        wl_shm* shm = nullptr;
        zwlr_layer_shell_v1* layerShell = nullptr;
        wp_viewporter* viewporter = nullptr; // stretches one tinted pixel over each output
    };
    // An output and the place of its top left corner in the layout, in logical pixels.
    struct Area {
        wl_output* output = nullptr;
        int32_t x = 0;
        int32_t y = 0;
    };

    explicit PointCaptureOverlay(const Globals& globals);
    ~PointCaptureOverlay();
    PointCaptureOverlay(const PointCaptureOverlay&) = delete;
    PointCaptureOverlay& operator=(const PointCaptureOverlay&) = delete;

    // Starts a capture: puts a surface on each of the outputs and returns once the compositor
    // shows them, so that no press from then on can reach a window below. False, with nothing
    // shown, when it would not show them all.
    bool show(const std::vector<Area>& areas);
    // Takes the surfaces away; the capture ends without an outcome.
    void hide();
    bool showing() const { return !covers_.empty(); }

    // The seat's events, as they arrive.
    void pointerEntered(wl_pointer* pointer, uint32_t serial, wl_surface* surface, double x,
                        double y);
    void pointerLeft(wl_surface* surface);
    void pointerMoved(double x, double y);
    void pointerButton(uint32_t button, bool pressed);
    void keyPressed(uint32_t evdevKey);

    // Set once the capture is over: the point, or nothing when the user cancelled.
    const std::optional<std::optional<ScreenPoint>>& outcome() const { return outcome_; }

  private:
    struct Cover {
        PointCaptureOverlay* owner = nullptr;
        Area area;
        wl_surface* surface = nullptr;
        zwlr_layer_surface_v1* layer = nullptr;
        wp_viewport* viewport = nullptr;
        bool shown = false;
        uint32_t width = 0, height = 0;
        uint32_t configureSerial = 0;
        bool configured = false;
        bool closed = false;
    };

    // Stretches the tint over the cover's configured size and commits it.
    bool fill(Cover& cover);
    bool makeTint();
    void loadCursor();
    void finish(std::optional<ScreenPoint> point);

    Globals globals_;
    std::vector<Cover> covers_;
    wl_buffer* tint_ = nullptr;
    bool cursorLoaded_ = false;
    wl_cursor_theme* cursorTheme_ = nullptr;
    wl_surface* cursorSurface_ = nullptr;
    int32_t cursorHotspotX_ = 0, cursorHotspotY_ = 0;
    // The cover the pointer is over and the pointer's place on it.
    const Cover* hovered_ = nullptr;
    double pointerX_ = 0, pointerY_ = 0;
    // A press waiting for its release: the button and what it decides.
    std::optional<uint32_t> pressedButton_;
    std::optional<ScreenPoint> pressedPoint_;
    std::optional<std::optional<ScreenPoint>> outcome_;
};

} // namespace quindel
