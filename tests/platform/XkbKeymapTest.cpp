// A key gets the same trigger code from a compositor's xkb keymap as from the X server's keymap
// of the same layout: the layout is set on the test's own X display with setxkbmap, the same
// rules and names compile the xkbcommon keymap, and every keycode is compared.
#include <gtest/gtest.h>

#include "platform/x11/X11Platform.h"
#include "platform/xkb/XkbKeymapCodes.h"

#include <cstdlib>
#include <string>

using namespace quindel;

TEST(XkbKeymapCodes, EveryKeyGetsTheCodeItHasOnX11WithTheSameLayout) {
    for (const char* layout : {"us", "de", "it", "fr"}) {
        SCOPED_TRACE(layout);
        const std::string command =
            std::string("setxkbmap -rules evdev -model pc105 -layout ") + layout;
        ASSERT_EQ(std::system(command.c_str()), 0);
        X11Platform x11; // reads the keymap that is now in force
        ASSERT_TRUE(x11.available());
        XkbKeymapCodes xkb;
        ASSERT_TRUE(xkb.setKeymapNames(layout));
        int keysWithCodes = 0;
        for (unsigned keycode = 8; keycode < 256; ++keycode) {
            EXPECT_EQ(xkb.virtualKey(keycode), x11.virtualKeyFromNative(keycode))
                << "keycode " << keycode;
            keysWithCodes += xkb.virtualKey(keycode) != 0;
        }
        EXPECT_GT(keysWithCodes, 100); // the whole keyboard, not a handful of fixed keys
    }
    // Text that is no keymap leaves the codes as they were.
    XkbKeymapCodes xkb;
    ASSERT_TRUE(xkb.setKeymapNames("it"));
    EXPECT_FALSE(xkb.setKeymapText("xkb_keymap { no such thing"));
    EXPECT_EQ(xkb.virtualKey(34), 186); // è on the Italian keyboard
}
