#include "engine/RuntimeState.h"
#include "engine/TriggerDispatch.h"
#include "engine/moduloIntercettaMouse.h"
#include "engine/moduloMoveMouse.h"
#include "platform/x11/X11Platform.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quindel {
namespace {

// Every call of a backend without a display is a harmless no-op, also through the engine.
void exerciseEverything(X11Platform& platform) {
    platform.mouseEvent(kMouseMove | kMouseAbsolute | kMouseLeftDown | kMouseLeftUp, 100, 100, 0,
                        0);
    EXPECT_EQ(platform.screenSize().width, 0);
    EXPECT_EQ(platform.screenSize().height, 0);
    platform.beginKeyPoll();
    for (int key : {0, 1, 2, 4, 16, 65, 255, 256, -1})
        EXPECT_EQ(platform.asyncKeyState(key), 0) << key;
    EXPECT_FALSE(platform.cursorPos().has_value());
    EXPECT_FALSE(isLeftButtonDown(platform));
    movePointerTo(platform, 50, 50);
    EXPECT_TRUE(clickPointer(platform, 0));

    RuntimeState state;
    state.setInputDevice(kKeyboardDevice);
    state.isRunning = true;
    ActionRecord record;
    record.triggerCode = "65";
    record.triggerKind = 1;
    state.actionTable = {record};
    DispatchView view;
    dispatchTick(state, platform, view);
    EXPECT_EQ(view.lblSequenza, "");
    // Key events are translated without a display; modifiers give their generic code.
    EXPECT_EQ(platform.virtualKeyFromNative(0x61), 65);     // a
    EXPECT_EQ(platform.virtualKeyFromNative(0xffe2), 16);   // Shift_R
    EXPECT_EQ(platform.virtualKeyFromNative(0xffe3), 17);   // Control_L
    EXPECT_EQ(platform.virtualKeyFromNative(0xfe03), 18);   // ISO_Level3_Shift (AltGr)
    EXPECT_EQ(platform.virtualKeyFromNative(0xffbe), 112);  // F1
    EXPECT_EQ(platform.virtualKeyFromNative(0x10000e9), 0); // a keysym without a code
}

TEST(X11PlatformWithoutDisplay, UnsetDisplayIsReportedAndHarmless) {
    unsetenv("DISPLAY");
    X11Platform platform;
    EXPECT_FALSE(platform.available());
    EXPECT_NE(platform.errorText().find("DISPLAY"), std::string::npos) << platform.errorText();
    exerciseEverything(platform);
}

TEST(X11PlatformWithoutDisplay, UnreachableDisplayIsNamedInTheError) {
    setenv("DISPLAY", ":931", 1);
    X11Platform platform;
    EXPECT_FALSE(platform.available());
    EXPECT_NE(platform.errorText().find(":931"), std::string::npos) << platform.errorText();
    exerciseEverything(platform);
    unsetenv("DISPLAY");
}

} // namespace
} // namespace quindel
