// The X11 backend, with real clicks and keys on a display of the size given as first argument.
// GoogleTest comes before the X headers, whose macros clash with it.
#include <gtest/gtest.h>

#include "engine/moduloIntercettaMouse.h"
#include "engine/moduloMoveMouse.h"
#include "platform/x11/KeyTable.h"
#include "platform/x11/X11Platform.h"
#include "support/FakePlatform.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

namespace quindel {
namespace {

int gWidth = 0, gHeight = 0;
Display* gDisplay = nullptr; // ours: a window over the screen gets the clicks; XTest input
constexpr int16_t kDown = static_cast<int16_t>(0x8000);
constexpr int16_t kDownAndPressed = static_cast<int16_t>(0x8001);

TEST(KeyTable, RoundTripsAliasesAndUnknownKeys) {
    std::set<int> codes;
    std::set<uint32_t> keysyms;
    for (const KeyTableEntry& e : keyTable()) {
        EXPECT_EQ(virtualKeyFromKeysym(e.keysym), e.virtualKey) << std::hex << e.keysym;
        EXPECT_EQ(keysymFromVirtualKey(e.virtualKey), e.keysym) << e.virtualKey;
        EXPECT_TRUE(codes.insert(e.virtualKey).second) << "code twice: " << e.virtualKey;
        EXPECT_TRUE(keysyms.insert(e.keysym).second) << "keysym twice: " << e.keysym;
        EXPECT_TRUE(e.virtualKey > 0 && e.virtualKey < 256) << e.virtualKey;
    }
    for (const KeyTableEntry& e : keyTableAliases()) {
        EXPECT_TRUE(keysyms.insert(e.keysym).second) << "alias keysym twice: " << e.keysym;
        EXPECT_EQ(virtualKeyFromKeysym(e.keysym), e.virtualKey) << std::hex << e.keysym;
        EXPECT_TRUE(codes.count(e.virtualKey)) << "alias to no key's code: " << e.virtualKey;
    }
    // Lower case, shifted symbols, keypad without Num Lock, other names; keys of no code.
    const int aliases[][2] = {{XK_a, 65},        {XK_z, 90},        {XK_exclam, 49},
                              {XK_KP_End, 97},   {XK_KP_Enter, 13}, {XK_ISO_Left_Tab, 9},
                              {XK_colon, 186},   {XK_Meta_L, 164},  {XK_F24, 135},
                              {XK_Shift_R, 161}, {XK_eacute, 0},    {0, 0}};
    for (const auto& [keysym, code] : aliases)
        EXPECT_EQ(virtualKeyFromKeysym(static_cast<uint32_t>(keysym)), code) << keysym;
    // The generic modifier codes give the left-hand key; codes of no key give no keysym.
    const int codeKeysyms[][2] = {{16, XK_Shift_L}, {17, XK_Control_L}, {18, XK_Alt_L}, {0, 0},
                                  {7, 0},           {256, 0},           {-1, 0}};
    for (const auto& [code, keysym] : codeKeysyms)
        EXPECT_EQ(keysymFromVirtualKey(code), static_cast<uint32_t>(keysym)) << code;
}

// Pixel -> absolute (as the engine computes it) -> pixel (as the backend maps it back) gives
// the same pixel for every pixel of screens of many sizes.
TEST(PixelMapping, EveryPixelComesBackExactly) {
    test::FakePlatform platform;
    for (int extent : {1, 2, 3, 768, 1024, 1080, 1366, 1920, 2160, 2560, 3840, 7680, 16384}) {
        platform.size = {extent, extent};
        int wrong = 0;
        for (int pixel = 0; pixel < extent; ++pixel)
            wrong += pixelFromAbsolute(toAbsoluteX(platform, pixel), extent) != pixel;
        EXPECT_EQ(wrong, 0) << "screen extent " << extent;
    }
    EXPECT_EQ(pixelFromAbsolute(INT32_MAX, 1920), 1919);
    EXPECT_EQ(pixelFromAbsolute(INT32_MIN, 1920), 0);
    EXPECT_EQ(pixelFromAbsolute(32768, 0), 0);
}

// Without a display every call is a harmless no-op, also through the engine, and the error
// names the cause; key events are still translated, modifiers to their generic code.
TEST(X11PlatformWithoutDisplay, IsReportedAndHarmless) {
    const std::string display = std::getenv("DISPLAY");
    for (const char* name : {static_cast<const char*>(nullptr), ":931"}) {
        name ? setenv("DISPLAY", name, 1) : unsetenv("DISPLAY");
        X11Platform platform;
        EXPECT_FALSE(platform.available());
        EXPECT_NE(platform.errorText().find(name ? name : "DISPLAY"), std::string::npos);
        movePointerTo(platform, 50, 50);
        EXPECT_TRUE(clickPointer(platform, 0));
        EXPECT_EQ(platform.screenSize().width | platform.screenSize().height, 0);
        platform.beginKeyPoll();
        for (int key : {1, 2, 16, 65, 256, -1})
            EXPECT_EQ(platform.asyncKeyState(key), 0) << key;
        EXPECT_FALSE(platform.cursorPos().has_value());
        const int native[][2] = {{XK_a, 65},   {XK_Shift_R, 16}, {XK_Control_L, 17},
                                 {XK_F1, 112}, {XK_eacute, 0},   {XK_ISO_Level3_Shift, 18}};
        for (const auto& [keysym, code] : native)
            EXPECT_EQ(platform.virtualKeyFromNative(static_cast<uint32_t>(keysym)), code);
    }
    setenv("DISPLAY", display.c_str(), 1);
}

class X11Test : public ::testing::Test {
  protected:
    X11Platform platform;

    void SetUp() override {
        ASSERT_TRUE(platform.available()) << platform.errorText();
        ASSERT_EQ(platform.screenSize().width, gWidth);
        ASSERT_EQ(platform.screenSize().height, gHeight);
        ASSERT_TRUE(platform.tracksKeyTaps());
        platform.beginKeyPoll(); // the first poll only starts the tracking
        XSync(gDisplay, True);   // events of earlier tests are dropped
    }
    // Clicks button 0, 1 or 2 (left, right, middle) there; checks where press and release land.
    void clickAndExpect(int x, int y, int expectedX, int expectedY, int button = 0) {
        SCOPED_TRACE(testing::Message() << "stored point " << x << "," << y);
        movePointerTo(platform, x, y);
        ASSERT_TRUE(clickPointer(platform, button));
        pollfd fd{ConnectionNumber(gDisplay), POLLIN, 0};
        for (int type : {ButtonPress, ButtonRelease}) {
            XEvent event;
            while (!XCheckTypedEvent(gDisplay, type, &event))
                ASSERT_GT(::poll(&fd, 1, 5000), 0) << "no button event of type " << type;
            EXPECT_EQ(event.xbutton.button, (std::array{Button1, Button3, Button2}[button]));
            EXPECT_EQ(event.xbutton.x_root, expectedX);
            EXPECT_EQ(event.xbutton.y_root, expectedY);
        }
        EXPECT_EQ(platform.cursorPos().value().x, expectedX);
        EXPECT_EQ(platform.cursorPos().value().y, expectedY);
    }
    static void key(KeySym keysym, bool down) {
        XTestFakeKeyEvent(gDisplay, XKeysymToKeycode(gDisplay, keysym), down, CurrentTime);
        XSync(gDisplay, False);
    }
    static void tap(KeySym keysym) { key(keysym, true), key(keysym, false); }
    int16_t poll(int code) { return platform.beginKeyPoll(), platform.asyncKeyState(code); }
};

TEST_F(X11Test, ClicksLandOnTheStoredPixel) {
    const int w = gWidth, h = gHeight;
    std::vector<std::array<int, 2>> points = {{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}};
    for (int i = 1; i < 64; ++i) { // along the edges, and spread over the screen
        const int x = (w - 1) * i / 64;
        const int y = (h - 1) * i / 64;
        points.insert(points.end(), {{x, 0}, {x, h - 1}, {0, y}, {w - 1, y}});
        points.insert(points.end(), {{i * 7919 % w, i * 104729 % h}, {i * 3571 % w, y}});
    }
    for (int d = 1; d <= 3; ++d) // next to the edges, where rounding slips most easily
        points.insert(points.end(), {{d, h - 1 - d}, {w - 1 - d, d}});
    for (const auto& [x, y] : points) {
        clickAndExpect(x, y, x, y);
        if (HasFatalFailure())
            return;
    }
    // Off the screen (also beyond XTest's 16-bit coordinates): the nearest edge.
    clickAndExpect(w, h, w - 1, h - 1, 1);
    clickAndExpect(-10, -10, 0, 0, 2);
    clickAndExpect(100000, h / 2, w - 1, h / 2);
    clickAndExpect(w / 2, -100000, w / 2, 0);
}

TEST_F(X11Test, KeyHeldIsDownOnEveryPollAndTapsCountOnce) {
    key(XK_a, true);
    EXPECT_EQ(poll(65), kDownAndPressed);
    EXPECT_EQ(poll(65), kDown);
    EXPECT_EQ(poll(66), 0);
    key(XK_a, false);
    EXPECT_EQ(poll(65), 0);
    tap(XK_F5);
    platform.beginKeyPoll();
    EXPECT_EQ(platform.asyncKeyState(116), 1);
    EXPECT_EQ(platform.asyncKeyState(116), 0); // asked again: already reported
    for (int i = 0; i < 3; ++i)                // several taps between two polls count once
        tap(XK_space);
    EXPECT_EQ(poll(32), 1);
    EXPECT_EQ(poll(32), 0);
    tap(XK_b); // taps while polling paused are stale
    usleep(2200000);
    EXPECT_EQ(poll(66), 0);
}

// Every key of the table that the keyboard has is seen under its own code alone, a left- or
// right-hand modifier also under its generic code; one request reads the whole keyboard.
TEST_F(X11Test, KeyEveryTableKeyOnTheKeyboardIsSeenUnderItsCode) {
    const uint64_t before = platform.roundTrips();
    int found = 0;
    int previous = 0;
    for (const KeyTableEntry& e : keyTable()) {
        if (XKeysymToKeycode(gDisplay, e.keysym) == 0)
            continue;
        ++found;
        key(e.keysym, true);
        EXPECT_EQ(poll(e.virtualKey), kDownAndPressed) << XKeysymToString(e.keysym);
        EXPECT_EQ(platform.asyncKeyState(previous) & kDown, 0) << XKeysymToString(e.keysym);
        const bool sided = e.virtualKey >= 160 && e.virtualKey <= 165; // Shift, Ctrl, Alt
        const int generic = sided ? 16 + (e.virtualKey - 160) / 2 : e.virtualKey;
        EXPECT_NE(platform.asyncKeyState(generic) & kDown, 0) << XKeysymToString(e.keysym);
        key(e.keysym, false);
        EXPECT_EQ(poll(e.virtualKey), 0) << XKeysymToString(e.keysym);
        if (e.keysym == XK_Caps_Lock || e.keysym == XK_Num_Lock)
            tap(e.keysym); // leave lock keys as they were
        previous = e.virtualKey;
    }
    EXPECT_GE(found, 90); // letters, digits, F1-F12, the keypad and the editing keys at least
    EXPECT_EQ(platform.roundTrips() - before, 2u * static_cast<unsigned>(found));
    for (int code : {0, -1, 3, 7, 255, 256, 70000}) // no key, or out of range
        EXPECT_EQ(platform.asyncKeyState(code), 0) << code;
}

TEST_F(X11Test, KeyPollReadsMouseButtonsFromThePointer) {
    for (const auto& [button, code, other] : {std::array{1, 1, 2}, {3, 2, 1}}) {
        XTestFakeButtonEvent(gDisplay, static_cast<unsigned>(button), True, CurrentTime);
        XSync(gDisplay, False);
        EXPECT_EQ(platform.asyncKeyState(code), kDown) << button;
        EXPECT_EQ(platform.asyncKeyState(other), 0) << button;
        EXPECT_EQ(isLeftButtonDown(platform), code == 1) << button;
        XTestFakeButtonEvent(gDisplay, static_cast<unsigned>(button), False, CurrentTime);
        XSync(gDisplay, False);
        EXPECT_EQ(platform.asyncKeyState(code), 0) << button;
    }
}

} // namespace
} // namespace quindel

int main(int argc, char** argv) {
    using namespace quindel;
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2 || std::sscanf(argv[1], "%dx%d", &gWidth, &gHeight) != 2 ||
        (gDisplay = XOpenDisplay(nullptr)) == nullptr) {
        std::fprintf(stderr, "usage: %s WIDTHxHEIGHT, with an X display\n", argv[0]);
        return 2;
    }
    const Window window =
        XCreateSimpleWindow(gDisplay, DefaultRootWindow(gDisplay), 0, 0,
                            static_cast<unsigned>(gWidth), static_cast<unsigned>(gHeight), 0, 0, 0);
    XSelectInput(gDisplay, window, ButtonPressMask | ButtonReleaseMask);
    XMapRaised(gDisplay, window);
    XSync(gDisplay, False);
    return RUN_ALL_TESTS();
}
