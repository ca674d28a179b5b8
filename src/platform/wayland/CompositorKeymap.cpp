#include "platform/wayland/CompositorKeymap.h"

#include <wayland-client.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace quindel {

namespace {

struct KeymapQuery {
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    bool seatKnown = false; // the seat told its capabilities
    std::string text;
};

// The keyboard: only its keymap is wanted.
struct KeyboardEvents {
    static void keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
        auto& query = *static_cast<KeymapQuery*>(data);
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
            void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (text != MAP_FAILED) {
                query.text.assign(static_cast<const char*>(text), size);
                munmap(text, size);
            }
        }
        close(fd);
    }
    static void enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
    static void leave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
    static void key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
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

// The seat: its keyboard, where it has one.
struct SeatEvents {
    static void capabilities(void* data, wl_seat* seat, uint32_t capabilities) {
        auto& query = *static_cast<KeymapQuery*>(data);
        query.seatKnown = true;
        if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && query.keyboard == nullptr) {
            query.keyboard = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(query.keyboard, &kKeyboardListener, &query);
        }
    }
    static void name(void*, wl_seat*, const char*) {}
};
const wl_seat_listener kSeatListener = {.capabilities = SeatEvents::capabilities,
                                        .name = SeatEvents::name};

// The globals: the first seat.
struct RegistryEvents {
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t) {
        auto& query = *static_cast<KeymapQuery*>(data);
        if (query.seat == nullptr && std::strcmp(interface, wl_seat_interface.name) == 0) {
            query.seat =
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
            wl_seat_add_listener(query.seat, &kSeatListener, &query);
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}
};
const wl_registry_listener kRegistryListener = {.global = RegistryEvents::global,
                                                .global_remove = RegistryEvents::globalRemove};

} // namespace

std::string compositorKeymapText(std::string& error) {
    // Without either, libwayland would guess a display name and complain on stderr.
    if (std::getenv("WAYLAND_DISPLAY") == nullptr && std::getenv("WAYLAND_SOCKET") == nullptr) {
        error = "no Wayland display";
        return {};
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        error = "no Wayland compositor";
        return {};
    }
    KeymapQuery query;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &query);
    // The registry, then the seat's capabilities, then the keyboard's keymap: a round trip
    // each, and the keymap may come a little later still.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (query.text.empty() && std::chrono::steady_clock::now() < end &&
           wl_display_roundtrip(display) >= 0) {
        if (query.seatKnown && query.keyboard == nullptr)
            break;
        if (query.keyboard != nullptr && query.text.empty()) {
            pollfd readable{wl_display_get_fd(display), POLLIN, 0};
            poll(&readable, 1, 50);
        }
    }
    if (query.text.empty())
        error = query.seat == nullptr       ? "the compositor has no seat"
                : query.keyboard == nullptr ? "the seat has no keyboard"
                                            : "the compositor sent no keymap";
    if (query.keyboard != nullptr)
        wl_keyboard_destroy(query.keyboard);
    if (query.seat != nullptr)
        wl_seat_destroy(query.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return query.text;
}

} // namespace quindel
