// A Wayland client for tests: one fullscreen window per output, each painted white, that logs
// every pointer press as "press X Y BUTTON" on stdout, with X, Y the press's position in
// compositor-global logical pixels (the position of the output the window is on plus the
// position on the window). "ready N" says that windows on N outputs are shown; "pointer", that
// the pointer entered a window (again, after the seat lost and regained it).
//
//   wayland-probe        (WAYLAND_DISPLAY names the compositor)
#define _GNU_SOURCE
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <wayland-client.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

enum { kMaxOutputs = 8 };

struct output {
    struct wl_output* output;
    int32_t x, y, width, height; // logical geometry in the layout
};

struct window {
    int fullscreen; // the compositor has made it fullscreen: it covers its output
    struct wl_surface* surface;
    struct output* on; // the output the surface entered last
    int32_t width, height;
    int shown;
};

static struct wl_compositor* compositor;
static struct wl_shm* shm;
static struct xdg_wm_base* wm_base;
static struct wl_seat* seat;
static struct wl_pointer* pointer;
static struct zxdg_output_manager_v1* output_manager;
static struct output outputs[kMaxOutputs];
static int output_count;
static struct window windows[kMaxOutputs];
static struct window* pointer_window;
static double pointer_x, pointer_y;

static void fail(const char* what) {
    fprintf(stderr, "wayland-probe: %s\n", what);
    exit(1);
}
// For events of no interest: declared without a prototype, it takes any listener's place.
static void ignore() {}

static void xdg_position(void* data, struct zxdg_output_v1* xdg, int32_t x, int32_t y) {
    ((struct output*)data)->x = x, ((struct output*)data)->y = y;
}
static void xdg_size(void* data, struct zxdg_output_v1* xdg, int32_t width, int32_t height) {
    ((struct output*)data)->width = width, ((struct output*)data)->height = height;
}
static const struct zxdg_output_v1_listener xdg_output_listener = {
    .logical_position = xdg_position, .logical_size = xdg_size, .done = ignore};

static void wm_ping(void* data, struct xdg_wm_base* base, uint32_t serial) {
    xdg_wm_base_pong(base, serial);
}
static const struct xdg_wm_base_listener wm_base_listener = {wm_ping};

// A white buffer of the window's size, from an anonymous file the compositor maps.
static void paint(struct window* w) {
    const int32_t stride = w->width * 4, size = stride * w->height;
    const int fd = memfd_create("wayland-probe", MFD_CLOEXEC);
    void* pixels = MAP_FAILED;
    if (fd < 0 || ftruncate(fd, size) != 0 ||
        (pixels = mmap(NULL, (size_t)size, PROT_WRITE, MAP_SHARED, fd, 0)) == MAP_FAILED)
        fail("no memory for a buffer");
    memset(pixels, 0xff, (size_t)size);
    munmap(pixels, (size_t)size);
    struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
    struct wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, w->width, w->height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(w->surface, buffer, 0, 0);
    wl_surface_damage(w->surface, 0, 0, w->width, w->height);
    wl_surface_commit(w->surface);
    wl_buffer_destroy(buffer); // the surface keeps its contents
    // A window shown before it is fullscreen may stand elsewhere, where no press reaches it.
    w->shown = w->fullscreen;
}

static void surface_configure(void* data, struct xdg_surface* xdg_surface, uint32_t serial) {
    xdg_surface_ack_configure(xdg_surface, serial);
    if (((struct window*)data)->width > 0)
        paint(data);
}
static const struct xdg_surface_listener surface_listener = {surface_configure};

// The size to fill (on a change of the output's mode too); 0 leaves it to us.
static void toplevel_configure(void* data, struct xdg_toplevel* toplevel, int32_t width,
                               int32_t height, struct wl_array* states) {
    struct window* w = data;
    const uint32_t* state;
    w->fullscreen = 0;
    wl_array_for_each(state, states) if (*state == XDG_TOPLEVEL_STATE_FULLSCREEN) w->fullscreen = 1;
    if (width > 0 && height > 0)
        w->width = width, w->height = height;
}
static const struct xdg_toplevel_listener toplevel_listener = {.configure = toplevel_configure,
                                                               .close = ignore};

static void surface_enter(void* data, struct wl_surface* surface, struct wl_output* output) {
    for (int i = 0; i < output_count; ++i)
        if (outputs[i].output == output)
            ((struct window*)data)->on = &outputs[i];
}
static const struct wl_surface_listener wl_surface_listener = {surface_enter, ignore};

static void pointer_motion(void* data, struct wl_pointer* p, uint32_t time, wl_fixed_t x,
                           wl_fixed_t y) {
    pointer_x = wl_fixed_to_double(x), pointer_y = wl_fixed_to_double(y);
}
static void pointer_enter(void* data, struct wl_pointer* p, uint32_t serial,
                          struct wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    pointer_window = NULL;
    for (int i = 0; i < output_count; ++i)
        if (windows[i].surface == surface)
            pointer_window = &windows[i];
    pointer_motion(data, p, 0, x, y);
    printf("pointer\n"); // the seat's pointer is over a window: presses are seen from now on
    fflush(stdout);
}
static void pointer_button(void* data, struct wl_pointer* p, uint32_t serial, uint32_t time,
                           uint32_t button, uint32_t state) {
    if (state != WL_POINTER_BUTTON_STATE_PRESSED || pointer_window == NULL)
        return;
    const struct output* o = pointer_window->on;
    printf("press %d %d %u\n", o->x + (int)floor(pointer_x), o->y + (int)floor(pointer_y), button);
    fflush(stdout);
}
// Version 1: enter, leave, motion, button and axis only.
static const struct wl_pointer_listener pointer_listener = {.enter = pointer_enter,
                                                            .leave = ignore,
                                                            .motion = pointer_motion,
                                                            .button = pointer_button,
                                                            .axis = ignore};

// A seat without a pointer gives an inert one (sway without input devices until a virtual
// pointer appears): take a fresh pointer whenever the seat gains one.
static void seat_capabilities(void* data, struct wl_seat* s, uint32_t capabilities) {
    const int has = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (has && pointer == NULL) {
        pointer = wl_seat_get_pointer(s);
        wl_pointer_add_listener(pointer, &pointer_listener, NULL);
    } else if (!has && pointer != NULL) {
        wl_pointer_destroy(pointer);
        pointer = NULL, pointer_window = NULL;
    }
}
static const struct wl_seat_listener seat_listener = {.capabilities = seat_capabilities};

static void registry_global(void* data, struct wl_registry* registry, uint32_t name,
                            const char* interface, uint32_t version) {
#define BIND(i, v) wl_registry_bind(registry, name, &(i), v)
#define IS(i) (strcmp(interface, (i).name) == 0)
    if (IS(wl_compositor_interface)) {
        compositor = BIND(wl_compositor_interface, 1);
    } else if (IS(wl_shm_interface)) {
        shm = BIND(wl_shm_interface, 1);
    } else if (IS(xdg_wm_base_interface)) {
        wm_base = BIND(xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
    } else if (IS(wl_seat_interface) && seat == NULL) {
        seat = BIND(wl_seat_interface, 1);
        wl_seat_add_listener(seat, &seat_listener, NULL);
    } else if (IS(zxdg_output_manager_v1_interface)) {
        output_manager = BIND(zxdg_output_manager_v1_interface, 1);
    } else if (IS(wl_output_interface) && output_count < kMaxOutputs) {
        outputs[output_count++].output = BIND(wl_output_interface, 1);
    }
}
static const struct wl_registry_listener registry_listener = {registry_global, ignore};

int main(void) {
    struct wl_display* display = wl_display_connect(NULL);
    if (display == NULL)
        fail("no Wayland compositor");
    wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!compositor || !shm || !wm_base || !seat || !output_manager || output_count == 0)
        fail("the compositor lacks a needed global");
    for (int i = 0; i < output_count; ++i)
        zxdg_output_v1_add_listener(
            zxdg_output_manager_v1_get_xdg_output(output_manager, outputs[i].output),
            &xdg_output_listener, &outputs[i]);
    wl_display_roundtrip(display);
    for (int i = 0; i < output_count; ++i) {
        struct window* w = &windows[i];
        *w = (struct window){.surface = wl_compositor_create_surface(compositor),
                             .on = &outputs[i],
                             .width = outputs[i].width,
                             .height = outputs[i].height};
        wl_surface_add_listener(w->surface, &wl_surface_listener, w);
        struct xdg_surface* xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, w->surface);
        xdg_surface_add_listener(xdg_surface, &surface_listener, w);
        struct xdg_toplevel* toplevel = xdg_surface_get_toplevel(xdg_surface);
        xdg_toplevel_add_listener(toplevel, &toplevel_listener, w);
        xdg_toplevel_set_app_id(toplevel, "wayland-probe");
        xdg_toplevel_set_fullscreen(toplevel, outputs[i].output);
        wl_surface_commit(w->surface);
    }
    for (int shown = 0; shown < output_count;) {
        if (wl_display_dispatch(display) < 0)
            return 1;
        shown = 0;
        for (int i = 0; i < output_count; ++i)
            shown += windows[i].shown;
    }
    wl_display_roundtrip(display);
    printf("ready %d\n", output_count);
    fflush(stdout);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
