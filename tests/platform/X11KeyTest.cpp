// Key presses made with XTest on a virtual display must reach the backend's key poll: keys
// held at the poll, taps that ended before it, and the mouse buttons.
// GoogleTest comes before the X headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>

#include "X11TestWindow.h"
#include "engine/RuntimeState.h"
#include "engine/TriggerDispatch.h"
#include "engine/moduloIntercettaMouse.h"
#include "platform/x11/KeyTable.h"
#include "platform/x11/X11Platform.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <chrono>
#include <string>
#include <thread>

namespace quindel {
namespace {

constexpr int16_t kDown = static_cast<int16_t>(0x8000);
constexpr int16_t kDownAndPressed = static_cast<int16_t>(0x8001);
constexpr int16_t kPressed = 0x0001;

class X11KeyTest : public ::testing::Test {
  protected:
    test::X11TestDisplay keyboard;
    X11Platform platform;

    void SetUp() override {
        ASSERT_NE(keyboard.display, nullptr) << "no X display";
        ASSERT_TRUE(platform.available()) << platform.errorText();
        ASSERT_TRUE(platform.tracksKeyTaps());
        platform.beginKeyPoll(); // the first poll only starts the tracking
    }
    int16_t poll(int code) {
        platform.beginKeyPoll();
        return platform.asyncKeyState(code);
    }
    void press(KeySym keysym) { ASSERT_TRUE(keyboard.fakeKey(keysym, true)); }
    void release(KeySym keysym) { ASSERT_TRUE(keyboard.fakeKey(keysym, false)); }
};

TEST_F(X11KeyTest, HeldKeyIsDownOnEveryPoll) {
    press(XK_a);
    EXPECT_EQ(poll(65), kDownAndPressed);
    EXPECT_EQ(poll(65), kDown);
    EXPECT_EQ(poll(65), kDown);
    EXPECT_EQ(poll(66), 0);
    release(XK_a);
    EXPECT_EQ(poll(65), 0);
}

TEST_F(X11KeyTest, TapBetweenPollsIsSeenExactlyOnce) {
    press(XK_F5);
    release(XK_F5);
    platform.beginKeyPoll();
    EXPECT_EQ(platform.asyncKeyState(116), kPressed);
    EXPECT_EQ(platform.asyncKeyState(116), 0); // asked again: already reported
    EXPECT_EQ(poll(116), 0);

    // Several taps between two polls count once.
    for (int i = 0; i < 3; ++i) {
        press(XK_space);
        release(XK_space);
    }
    EXPECT_EQ(poll(32), kPressed);
    EXPECT_EQ(poll(32), 0);
}

TEST_F(X11KeyTest, TapFiresItsActionThroughTheDispatchTick) {
    RuntimeState state;
    state.setInputDevice(kKeyboardDevice);
    state.isRunning = true;
    ActionRecord record;
    record.triggerCode = "13";
    record.triggerKind = 1;
    record.description = "enter";
    record.clickX = 40;
    record.clickY = 30;
    state.actionTable = {record};
    DispatchView view;
    dispatchTick(state, platform, view);
    EXPECT_EQ(view.lblSequenza, "");

    press(XK_Return);
    release(XK_Return);
    dispatchTick(state, platform, view);
    EXPECT_EQ(view.lblSequenza, "13");
    EXPECT_EQ(view.lblDescrizione, "enter");
    const auto position = platform.cursorPos();
    ASSERT_TRUE(position.has_value());
    EXPECT_EQ(position->x, 40);
    EXPECT_EQ(position->y, 30);
}

TEST_F(X11KeyTest, TapsWhilePollingPausedAreNotReportedLater) {
    press(XK_b);
    release(XK_b);
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_EQ(poll(66), 0);
    // Polling goes on at the usual pace: taps count again.
    press(XK_b);
    release(XK_b);
    EXPECT_EQ(poll(66), kPressed);
}

TEST_F(X11KeyTest, GenericModifierCodeFollowsEitherSide) {
    press(XK_Shift_R);
    platform.beginKeyPoll();
    EXPECT_NE(platform.asyncKeyState(16) & kDown, 0);
    EXPECT_NE(platform.asyncKeyState(161) & kDown, 0);
    EXPECT_EQ(platform.asyncKeyState(160), 0);
    release(XK_Shift_R);
    press(XK_Control_L);
    platform.beginKeyPoll();
    EXPECT_NE(platform.asyncKeyState(17) & kDown, 0);
    EXPECT_NE(platform.asyncKeyState(162) & kDown, 0);
    EXPECT_EQ(platform.asyncKeyState(163), 0);
    EXPECT_EQ(platform.asyncKeyState(16), 0);
    for (int code : {0, -1, 3, 7, 255, 256, 70000}) // no key, or out of range
        EXPECT_EQ(platform.asyncKeyState(code), 0) << code;
    release(XK_Control_L);
    EXPECT_EQ(poll(17), 0);
}

// Every key of the table that the display's keyboard has is seen under its own code.
TEST_F(X11KeyTest, EveryTableKeyOnTheKeyboardIsSeenUnderItsCode) {
    int found = 0;
    for (const KeyTableEntry& entry : keyTable()) {
        if (XKeysymToKeycode(keyboard.display, entry.keysym) == 0)
            continue;
        ++found;
        press(entry.keysym);
        EXPECT_EQ(poll(entry.virtualKey), kDownAndPressed)
            << XKeysymToString(entry.keysym) << " " << entry.virtualKey;
        release(entry.keysym);
        EXPECT_EQ(poll(entry.virtualKey), 0) << XKeysymToString(entry.keysym);
        // Lock keys toggle: leave them as they were.
        if (entry.keysym == XK_Caps_Lock || entry.keysym == XK_Num_Lock) {
            press(entry.keysym);
            release(entry.keysym);
        }
    }
    // Letters, digits, F1-F12, the keypad and the editing keys at least.
    EXPECT_GE(found, 90);
}

// A changed keyboard mapping (another layout) is taken over at the next poll.
TEST_F(X11KeyTest, KeyMappedAfterStartIsSeen) {
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(keyboard.display, &minKeycode, &maxKeycode);
    KeySym newKey = 0;
    for (KeySym candidate = XK_F13; candidate <= XK_F24 && newKey == 0; ++candidate)
        if (XKeysymToKeycode(keyboard.display, candidate) == 0)
            newKey = candidate;
    int freeKeycode = 0;
    for (int keycode = maxKeycode; keycode >= minKeycode && freeKeycode == 0; --keycode)
        if (XkbKeycodeToKeysym(keyboard.display, static_cast<KeyCode>(keycode), 0, 0) == 0)
            freeKeycode = keycode;
    if (newKey == 0 || freeKeycode == 0)
        GTEST_SKIP() << "no free key or keysym on this display";
    const int code = virtualKeyFromKeysym(static_cast<uint32_t>(newKey));
    KeySym mapping = newKey;
    XChangeKeyboardMapping(keyboard.display, freeKeycode, 1, &mapping, 1);
    XSync(keyboard.display, False);
    platform.beginKeyPoll(); // takes in the new mapping
    XTestFakeKeyEvent(keyboard.display, static_cast<unsigned>(freeKeycode), True, CurrentTime);
    XSync(keyboard.display, False);
    EXPECT_EQ(poll(code), kDownAndPressed);
    XTestFakeKeyEvent(keyboard.display, static_cast<unsigned>(freeKeycode), False, CurrentTime);
    mapping = NoSymbol;
    XChangeKeyboardMapping(keyboard.display, freeKeycode, 1, &mapping, 1);
    XSync(keyboard.display, False);
}

TEST_F(X11KeyTest, MouseButtonsReadFromThePointer) {
    XTestFakeButtonEvent(keyboard.display, 1, True, CurrentTime);
    XSync(keyboard.display, False);
    EXPECT_TRUE(isLeftButtonDown(platform));
    EXPECT_EQ(platform.asyncKeyState(2), 0);
    XTestFakeButtonEvent(keyboard.display, 1, False, CurrentTime);
    XTestFakeButtonEvent(keyboard.display, 3, True, CurrentTime);
    XSync(keyboard.display, False);
    EXPECT_FALSE(isLeftButtonDown(platform));
    EXPECT_EQ(platform.asyncKeyState(2), kDown);
    XTestFakeButtonEvent(keyboard.display, 3, False, CurrentTime);
    XSync(keyboard.display, False);
    EXPECT_EQ(platform.asyncKeyState(2), 0);
}

// The keyboard is read in one request per tick however many keys are assigned, and a MIDI
// tick that clicks waits for the server not at all.
TEST_F(X11KeyTest, TickCostsOneRoundTripInKeyboardModeAndNoneForMidi) {
    RuntimeState state;
    state.setInputDevice(kKeyboardDevice);
    state.isRunning = true;
    for (const KeyTableEntry& entry : keyTable().first(100)) {
        ActionRecord record;
        record.triggerCode = std::to_string(entry.virtualKey);
        record.triggerKind = 1;
        state.actionTable.push_back(record);
    }
    state.nextTriggerCode = "34";
    state.prevTriggerCode = "33";
    DispatchView view;
    press(XK_z);
    const uint64_t before = platform.roundTrips();
    dispatchTick(state, platform, view);
    EXPECT_EQ(platform.roundTrips() - before, 1u);
    EXPECT_EQ(view.lblSequenza, "90");
    release(XK_z);

    state.setInputDevice(1);
    state.actionTable.back().triggerCode = "3C90";
    state.lastMidiCommand = "3C90";
    const uint64_t beforeMidi = platform.roundTrips();
    dispatchTick(state, platform, view);
    EXPECT_EQ(view.lblSequenza, "3C90");
    EXPECT_EQ(platform.roundTrips(), beforeMidi);
}

} // namespace
} // namespace quindel
