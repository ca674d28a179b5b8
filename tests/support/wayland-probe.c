// A Wayland client for tests: one fullscreen window per output, each painted white, that logs
// every pointer press as "press X Y BUTTON MICROSECONDS" on stdout, with X, Y the press's
// position in compositor-global logical pixels (the position of the output the window is on
// plus the position on the window) and the CLOCK_MONOTONIC time it arrived. "ready N" says that
// windows on N outputs are shown; "output X Y W H" lines list the layout before it. "pointer"
// says that the pointer entered a window (again, after the seat lost and regained it).
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
#include <time.h>
#include <unistd.h>

enum { kMaxOutputs = 8 };

struct output {
    struct wl_output* output;
    struct zxdg_output_v1* xdg;
    int32_t x, y, width, height; // logical geometry in the layout
};

struct window {
    int fullscreen; // the compositor has made it fullscreen: it covers its output
    struct wl_surface* surface;
    struct xdg_surface* xdg_surface;
    struct xdg_toplevel* toplevel;
    struct output* on; // the output the surface entered last
    int32_t width, height;
    int shown;
};

static struct wl_compositor* compositor;
static struct wl_shm* shm;
static struct xdg_wm_base* wm_base;
static struct wl_seat* seat;
static struct zxdg_output_manager_v1* output_manager;
static struct output outputs[kMaxOutputs];
static int output_count;
static struct window windows[kMaxOutputs];
static struct window* pointer_window;
static double pointer_x, pointer_y;

static void xdg_position(void* data, struct zxdg_output_v1* xdg, int32_t x, int32_t y) {
    (void)xdg;
    struct output* o = data;
    o->x = x;
    o->y = y;
}
static void xdg_size(void* data, struct zxdg_output_v1* xdg, int32_t width, int32_t height) {
    (void)xdg;
    struct output* o = data;
    o->width = width;
    o->height = height;
}
static void xdg_done(void* data, struct zxdg_output_v1* xdg) {
    (void)data;
    (void)xdg;
}
static void xdg_text(void* data, struct zxdg_output_v1* xdg, const char* text) {
    (void)data;
    (void)xdg;
    (void)text;
}
static const struct zxdg_output_v1_listener xdg_output_listener = {
    .logical_position = xdg_position,
    .logical_size = xdg_size,
    .done = xdg_done,
    .name = xdg_text,
    .description = xdg_text,
};

static void wm_ping(void* data, struct xdg_wm_base* base, uint32_t serial) {
    (void)data;
    xdg_wm_base_pong(base, serial);
}
static const struct xdg_wm_base_listener wm_base_listener = {.ping = wm_ping};

// A white buffer of the window's size; the compositor keeps it until it is replaced.
static void paint(struct window* w) {
    const int32_t stride = w->width * 4;
    const size_t size = (size_t)stride * (size_t)w->height;
    int fd = memfd_create("wayland-probe", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, (off_t)size) != 0) {
        perror("wayland-probe: buffer");
        exit(1);
    }
    void* pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        perror("wayland-probe: mmap");
        exit(1);
    }
    memset(pixels, 0xff, size);
    munmap(pixels, size);
    struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, (int32_t)size);
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
    struct window* w = data;
    xdg_surface_ack_configure(xdg_surface, serial);
    if (w->width > 0 && w->height > 0)
        paint(w);
}
static const struct xdg_surface_listener surface_listener = {.configure = surface_configure};

static void toplevel_configure(void* data, struct xdg_toplevel* toplevel, int32_t width,
                               int32_t height, struct wl_array* states) {
    (void)toplevel;
    struct window* w = data;
    const uint32_t* state;
    w->fullscreen = 0;
    wl_array_for_each(state, states) if (*state == XDG_TOPLEVEL_STATE_FULLSCREEN) w->fullscreen = 1;
    if (width > 0 && height > 0) {
        w->width = width;
        w->height = height;
    }
}
static void toplevel_close(void* data, struct xdg_toplevel* toplevel) {
    (void)data;
    (void)toplevel;
}
static const struct xdg_toplevel_listener toplevel_listener = {
    .configure = toplevel_configure,
    .close = toplevel_close,
};

static void surface_enter(void* data, struct wl_surface* surface, struct wl_output* output) {
    (void)surface;
    struct window* w = data;
    for (int i = 0; i < output_count; ++i)
        if (outputs[i].output == output)
            w->on = &outputs[i];
}
static const struct wl_surface_listener wl_surface_listener = {
    .enter = surface_enter,
    .leave = surface_enter, // a surface on two outputs keeps the last one entered
};

static void pointer_enter(void* data, struct wl_pointer* pointer, uint32_t serial,
                          struct wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    (void)data;
    (void)pointer;
    (void)serial;
    pointer_window = NULL;
    for (int i = 0; i < output_count; ++i)
        if (windows[i].surface == surface)
            pointer_window = &windows[i];
    pointer_x = wl_fixed_to_double(x);
    pointer_y = wl_fixed_to_double(y);
    printf("pointer\n"); // the seat's pointer is over a window: presses are seen from now on
    fflush(stdout);
}
static void pointer_leave(void* data, struct wl_pointer* pointer, uint32_t serial,
                          struct wl_surface* surface) {
    (void)data;
    (void)pointer;
    (void)serial;
    (void)surface;
    pointer_window = NULL;
}
static void pointer_axis(void* data, struct wl_pointer* pointer, uint32_t time, uint32_t axis,
                         wl_fixed_t value) {
    (void)data;
    (void)pointer;
    (void)time;
    (void)axis;
    (void)value;
}
static void pointer_motion(void* data, struct wl_pointer* pointer, uint32_t time, wl_fixed_t x,
                           wl_fixed_t y) {
    (void)data;
    (void)pointer;
    (void)time;
    pointer_x = wl_fixed_to_double(x);
    pointer_y = wl_fixed_to_double(y);
}
static void pointer_button(void* data, struct wl_pointer* pointer, uint32_t serial, uint32_t time,
                           uint32_t button, uint32_t state) {
    (void)data;
    (void)pointer;
    (void)serial;
    (void)time;
    if (state != WL_POINTER_BUTTON_STATE_PRESSED || pointer_window == NULL)
        return;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const struct output* o = pointer_window->on;
    printf("press %d %d %u %lld\n", (o ? o->x : 0) + (int)floor(pointer_x),
           (o ? o->y : 0) + (int)floor(pointer_y), button,
           (long long)now.tv_sec * 1000000 + now.tv_nsec / 1000);
    fflush(stdout);
}
static const struct wl_pointer_listener pointer_listener = {
    .enter = pointer_enter,
    .leave = pointer_leave,
    .motion = pointer_motion,
    .button = pointer_button,
    .axis = pointer_axis,
};

// A seat without a pointer gives an inert one (sway without input devices until a virtual
// pointer appears): take a fresh pointer whenever the seat gains one.
static struct wl_pointer* pointer;
static void seat_capabilities(void* data, struct wl_seat* s, uint32_t capabilities) {
    (void)data;
    const int has = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (has && pointer == NULL) {
        pointer = wl_seat_get_pointer(s);
        wl_pointer_add_listener(pointer, &pointer_listener, NULL);
    } else if (!has && pointer != NULL) {
        wl_pointer_destroy(pointer);
        pointer = NULL;
        pointer_window = NULL;
    }
}
static const struct wl_seat_listener seat_listener = {.capabilities = seat_capabilities};

static void registry_global(void* data, struct wl_registry* registry, uint32_t name,
                            const char* interface, uint32_t version) {
    (void)data;
    (void)version;
    if (strcmp(interface, wl_compositor_interface.name) == 0) {
        compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 1);
    } else if (strcmp(interface, wl_shm_interface.name) == 0) {
        shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    } else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
    } else if (strcmp(interface, wl_seat_interface.name) == 0 && seat == NULL) {
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1); // no frames or axis details
    } else if (strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        output_manager = wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, 2);
    } else if (strcmp(interface, wl_output_interface.name) == 0 && output_count < kMaxOutputs) {
        outputs[output_count++].output = wl_registry_bind(registry, name, &wl_output_interface, 1);
    }
}
static void registry_global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}
static const struct wl_registry_listener registry_listener = {
    .global = registry_global,
    .global_remove = registry_global_remove,
};

int main(void) {
    struct wl_display* display = wl_display_connect(NULL);
    if (display == NULL) {
        fprintf(stderr, "wayland-probe: no Wayland compositor\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!compositor || !shm || !wm_base || !seat || !output_manager || output_count == 0) {
        fprintf(stderr, "wayland-probe: the compositor lacks a needed global\n");
        return 1;
    }
    for (int i = 0; i < output_count; ++i) {
        outputs[i].xdg = zxdg_output_manager_v1_get_xdg_output(output_manager, outputs[i].output);
        zxdg_output_v1_add_listener(outputs[i].xdg, &xdg_output_listener, &outputs[i]);
    }
    wl_seat_add_listener(seat, &seat_listener, NULL);
    wl_display_roundtrip(display);
    for (int i = 0; i < output_count; ++i) {
        struct window* w = &windows[i];
        w->on = &outputs[i];
        w->width = outputs[i].width;
        w->height = outputs[i].height;
        w->surface = wl_compositor_create_surface(compositor);
        wl_surface_add_listener(w->surface, &wl_surface_listener, w);
        w->xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, w->surface);
        xdg_surface_add_listener(w->xdg_surface, &surface_listener, w);
        w->toplevel = xdg_surface_get_toplevel(w->xdg_surface);
        xdg_toplevel_add_listener(w->toplevel, &toplevel_listener, w);
        xdg_toplevel_set_title(w->toplevel, "wayland-probe");
        xdg_toplevel_set_app_id(w->toplevel, "wayland-probe");
        xdg_toplevel_set_fullscreen(w->toplevel, outputs[i].output);
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
    for (int i = 0; i < output_count; ++i)
        printf("output %d %d %d %d\n", outputs[i].x, outputs[i].y, outputs[i].width,
               outputs[i].height);
    printf("ready %d\n", output_count);
    fflush(stdout);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
