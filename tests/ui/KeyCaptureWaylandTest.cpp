// Keys pressed through a real compositor reach the key capture dialog and give the codes the
// same keys give on X11 with the same layout. KWin changes its layout while the test runs (us,
// de, it, fr), as when the user picks another one; its fake input presses the keys. The test's
// own X display, set to each layout with setxkbmap, says what each key gives there.
#include "core/engine/RuntimeState.h"
#include "core/text/TriggerNames.h"
#include "platform/wayland/WaylandPlatform.h"
#include "platform/x11/X11Platform.h"
#include "platform/xkb/XkbKeymapCodes.h"
#include "support/SeatKeyboards.h"
#include "ui/KeyCaptureDialog.h"

#include "fake-input-client-protocol.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <systemd/sd-bus.h>
#include <wayland-client.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace quindel {
namespace {

// Gives KWin this layout as its keyboard settings do: the layout list, then the signal that
// makes KWin read it again.
bool useLayout(const std::string& layout) {
    std::ofstream(qEnvironmentVariable("HOME").toStdString() + "/.config/kxkbrc")
        << "[Layout]\nLayoutList=" << layout << "\nUse=true\n";
    sd_bus* bus = nullptr;
    int r = sd_bus_open_user(&bus);
    if (r >= 0)
        r = sd_bus_emit_signal(bus, "/Layouts", "org.kde.keyboard", "reloadConfig", "");
    sd_bus_flush_close_unref(bus);
    return r >= 0;
}

// The Qt key of the last key press the application saw.
struct LastQtKey : QObject {
    int key = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress)
            key = static_cast<QKeyEvent*>(event)->key();
        return false;
    }
};

// Taps the key with the dialog waiting for one: the code it took, 0 when it took none.
int capture(KeyCaptureDialog& dialog, test::FakeKeyboard& keyboard, uint32_t key) {
    dialog.repeatClicked();
    keyboard.tap(key);
    return QTest::qWaitFor([&] { return !dialog.waitingForKey; }, 3000)
               ? std::atoi(dialog.capturedKeyText.c_str())
               : 0;
}

// Keys whose codes differ between the layouts, digits, keys the dialog must capture rather
// than act on (Escape, Tab, Return), modifiers and keypad keys.
constexpr uint32_t kKeys[] = {
    KEY_Y,         KEY_Z,     KEY_SEMICOLON, KEY_APOSTROPHE, KEY_LEFTBRACE, KEY_RIGHTBRACE,
    KEY_BACKSLASH, KEY_EQUAL, KEY_MINUS,     KEY_GRAVE,      KEY_102ND,     KEY_COMMA,
    KEY_DOT,       KEY_SLASH, KEY_1,         KEY_0,          KEY_F5,        KEY_ESC,
    KEY_TAB,       KEY_ENTER, KEY_BACKSPACE, KEY_SPACE,      KEY_LEFTSHIFT, KEY_RIGHTALT,
    KEY_KP1,       KEY_KPDOT, KEY_KPMINUS};

TEST(KeyCaptureOnWayland, KeysGiveTheCodesTheSameLayoutGivesOnX11) {
    test::FakeKeyboard keyboard;
    ASSERT_TRUE(keyboard.available());
    WaylandPlatform wayland;
    ASSERT_TRUE(wayland.available()) << wayland.errorText();
    RuntimeState state;
    KeyCaptureDialog dialog(state, wayland);
    LastQtKey lastKey;
    qApp->installEventFilter(&lastKey);
    dialog.show();
    dialog.activateWindow();
    // The keys go where the compositor's keyboard focus is.
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isActiveWindow(); }));
    // The key right of L types a different character on each layout.
    for (auto [layout, typed] :
         {std::pair{"us", Qt::Key_Semicolon}, std::pair{"de", Qt::Key_Odiaeresis},
          std::pair{"it", Qt::Key_Ograve}, std::pair{"fr", Qt::Key_M}}) {
        SCOPED_TRACE(layout);
        ASSERT_TRUE(useLayout(layout));
        ASSERT_EQ(
            std::system(
                ("setxkbmap -rules evdev -model pc105 -layout " + std::string(layout)).c_str()),
            0);
        X11Platform x11; // reads the keymap that is now in force
        ASSERT_TRUE(x11.available());
        // Once Qt, on its own connection, types with the new layout, KWin has sent the new
        // keymap to every client.
        for (int i = 0; i < 50 && lastKey.key != typed; ++i)
            capture(dialog, keyboard, KEY_SEMICOLON);
        ASSERT_EQ(lastKey.key, typed);
        for (uint32_t key : kKeys) {
            const int expected = x11.virtualKeyFromNative(key + 8);
            EXPECT_NE(expected, 0) << "evdev key " << key;
            EXPECT_EQ(capture(dialog, keyboard, key), expected) << "evdev key " << key;
            // Shown with the name its keycap has on this layout ("186 è").
            EXPECT_EQ(dialog.promptLabel->text().toStdString(),
                      triggerWithName(std::to_string(expected), x11, state.texts));
        }
        // Keys that have no code there are not offered: the key after one is taken.
        for (uint32_t key : {KEY_KPEQUAL, KEY_KPLEFTPAREN, KEY_KPRIGHTPAREN}) {
            ASSERT_EQ(x11.virtualKeyFromNative(key + 8), 0);
            dialog.repeatClicked();
            keyboard.tap(key);
            EXPECT_EQ(capture(dialog, keyboard, KEY_F5), 116) << "evdev key " << key;
        }
        // The keys not pressed, and the names of all codes, from the same keymap.
        for (unsigned keycode = 1; keycode < 256; ++keycode) {
            EXPECT_EQ(wayland.virtualKeyFromNative(keycode), x11.virtualKeyFromNative(keycode))
                << "keycode " << keycode;
            EXPECT_EQ(wayland.keyName(int(keycode)), x11.keyName(int(keycode)))
                << "code " << keycode;
        }
    }
    // Text that is no keymap leaves the codes as they were.
    XkbKeymapCodes xkb;
    ASSERT_TRUE(xkb.setKeymapNames("it"));
    EXPECT_FALSE(xkb.setKeymapText("xkb_keymap { no such thing"));
    EXPECT_EQ(xkb.virtualKey(34), 186); // è on the Italian keyboard
}

} // namespace
} // namespace quindel
