#pragma once

// Keyboards of a Wayland compositor's seat that a test drives: their keys go through the
// compositor (its bindings and shortcuts, then the focused client) as a real keyboard's do.

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QCoreApplication>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace quindel::test {

// KWin's fake input keyboard, on a connection of its own. KWin offers the interface to programs
// whose desktop entry in its applications folder names it.
class FakeKeyboard {
  public:
    FakeKeyboard() {
        std::ofstream(qEnvironmentVariable("QUINDEL_TEST_APPLICATIONS").toStdString() +
                      "/quindel-key-test.desktop")
            << "[Desktop Entry]\nType=Application\nName=Key test\nExec="
            << QCoreApplication::applicationFilePath().toStdString()
            << "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
        if ((display_ = wl_display_connect(nullptr)) == nullptr)
            return;
        wl_registry* registry = wl_display_get_registry(display_);
        static const wl_registry_listener listener{
            .global =
                [](void* data, wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
                    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 &&
                        version >= 4) // keys came with version 4
                        *static_cast<org_kde_kwin_fake_input**>(data) =
                            static_cast<org_kde_kwin_fake_input*>(wl_registry_bind(
                                registry, name, &org_kde_kwin_fake_input_interface, 4));
                },
            .global_remove = [](void*, wl_registry*, uint32_t) {}};
        wl_registry_add_listener(registry, &listener, &input_);
        wl_display_roundtrip(display_);
        wl_registry_destroy(registry);
        if (input_ != nullptr)
            org_kde_kwin_fake_input_authenticate(input_, "Key test", "Presses keys");
    }
    ~FakeKeyboard() {
        if (input_ != nullptr)
            org_kde_kwin_fake_input_destroy(input_);
        if (display_ != nullptr)
            wl_display_disconnect(display_);
    }
    bool available() const { return input_ != nullptr; }
    // Presses and releases the key of this evdev code.
    void tap(uint32_t key) {
        for (auto state : {WL_KEYBOARD_KEY_STATE_PRESSED, WL_KEYBOARD_KEY_STATE_RELEASED})
            org_kde_kwin_fake_input_keyboard_key(input_, key, state);
        wl_display_roundtrip(display_);
    }

  private:
    wl_display* display_ = nullptr;
    org_kde_kwin_fake_input* input_ = nullptr;
};

// wlroots' virtual keyboard (sway), with the us layout.
class VirtualKeyboard {
  public:
    VirtualKeyboard() {
        if ((display_ = wl_display_connect(nullptr)) == nullptr)
            return;
        static const wl_registry_listener globals = {
            .global =
                [](void* data, wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t) {
                    auto& self = *static_cast<VirtualKeyboard*>(data);
                    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self.seat_)
                        self.seat_ = static_cast<wl_seat*>(
                            wl_registry_bind(registry, name, &wl_seat_interface, 1));
                    if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
                        self.manager_ =
                            static_cast<zwp_virtual_keyboard_manager_v1*>(wl_registry_bind(
                                registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
                },
            .global_remove = [](void*, wl_registry*, uint32_t) {}};
        registry_ = wl_display_get_registry(display_);
        wl_registry_add_listener(registry_, &globals, this);
        wl_display_roundtrip(display_);
        if (!seat_ || !manager_)
            return;
        keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat_);
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
        xkb_keymap* keymap =
            xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        const int fd = memfd_create("keymap", MFD_CLOEXEC);
        const size_t size = std::strlen(text) + 1;
        if (write(fd, text, size) == ssize_t(size))
            zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                           uint32_t(size));
        close(fd), std::free(text), xkb_keymap_unref(keymap), xkb_context_unref(context);
        wl_display_roundtrip(display_);
    }
    ~VirtualKeyboard() {
        if (keyboard_)
            zwp_virtual_keyboard_v1_destroy(keyboard_);
        if (manager_)
            zwp_virtual_keyboard_manager_v1_destroy(manager_);
        if (seat_)
            wl_seat_destroy(seat_);
        if (registry_)
            wl_registry_destroy(registry_);
        if (display_)
            wl_display_disconnect(display_);
    }
    bool ready() const { return keyboard_ != nullptr; }
    // Presses and releases the key of an evdev code.
    void tap(uint32_t key) {
        zwp_virtual_keyboard_v1_key(keyboard_, time_++, key, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(keyboard_, time_++, key, WL_KEYBOARD_KEY_STATE_RELEASED);
        wl_display_roundtrip(display_);
    }

  private:
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    uint32_t time_ = 1;
};

} // namespace quindel::test
