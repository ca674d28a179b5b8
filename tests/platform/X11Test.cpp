// GoogleTest comes before the X headers, whose macros clash with it.
#include <gtest/gtest.h>

#include "core/engine/PointerOutput.h"
#include "platform/x11/KeyTable.h"
#include "platform/wayland/WaylandPlatform.h"
#include "platform/x11/X11Platform.h"
#include "support/FakePlatform.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <optional>
#include <set>

extern char** environ;

int gWidth = 0, gHeight = 0;
Display* gDisplay = nullptr; // ours: gets the clicks on the root window; XTest input

namespace quindel {
constexpr int16_t kDown = static_cast<int16_t>(0x8000);
constexpr int16_t kDownAndPressed = static_cast<int16_t>(0x8001);

// Keymaps that no known layout describes: each key gets a code of its own or none.
TEST(KeyTable, KeymapCodesAreUniqueForKeysOfAnyLayout) {
    struct Case {
        const char* what;
        std::vector<KeymapKey> keys;
        std::vector<int> codes;
        std::vector<std::array<int, 3>> collisions; // key, earlier key, code
    };
    const Case cases[] = {
        {"the same letter twice: the later key gets none",
         {{"AC01", XK_a, XK_A}, {"LSGT", XK_a, XK_A}, {"AC02", XK_s, 0}},
         {65, 0, 83},
         {{1, 0, 65}}},
        {"a digit on the shifted level alone gives the digit, whatever else knows its symbol",
         {{"AE10", XK_agrave, XK_0}},
         {48},
         {}},
        {"both Enter keys and both Alt keys share, as on Windows",
         {{"RTRN", XK_Return, 0},
          {"KPEN", XK_KP_Enter, 0},
          {"", 0, XK_Alt_L},
          {"LALT", XK_Alt_L, XK_Meta_L}},
         {13, 13, 164, 164},
         {}},
        {"dead accents are the accents; a known symbol elsewhere keeps its code",
         {{"AE12", XK_dead_acute, XK_dead_grave},
          {"AC11", XK_dead_acute, XK_dead_diaeresis},
          {"AD01", XK_bracketleft, XK_braceleft}},
         {221, 222, 219},
         {}},
        {"unknown symbols take their US position; a guess from one symbol yields to it",
         {{"AB09", XK_Cyrillic_yu, XK_Cyrillic_YU},
          {"AB10", XK_period, XK_comma},
          {"AE11", XK_apostrophe, XK_section},
          {"AC11", XK_apostrophe, XK_section},
          {"FK13", XK_Cyrillic_e, 0}},
         {190, 191, 219, 222, 0},
         {}},
        {"a position code that a symbol key has goes to nobody",
         {{"AC10", XK_Cyrillic_zhe, 0},
          {"AE01", XK_semicolon, XK_colon},
          {"TLDE", XK_grave, XK_asciitilde},
          {"AB01", XK_dead_belowdot, 0}},
         {0, 186, 192, 90},
         {{0, 1, 186}}},
    };
    for (const Case& c : cases) {
        const KeymapCodes found = keymapVirtualKeys(c.keys);
        EXPECT_EQ(found.virtualKeys, c.codes) << c.what;
        std::vector<std::array<int, 3>> collisions;
        for (const KeyCollision& k : found.collisions)
            collisions.push_back({int(k.key), int(k.earlier), k.virtualKey});
        EXPECT_EQ(collisions, c.collisions) << c.what;
    }
    EXPECT_EQ(positionOfKeycode(94), "LSGT");
    EXPECT_EQ(positionOfKeycode(36), "");
}

// Pixel -> absolute (engine) -> pixel (backend) is exact for every pixel of many screen sizes.
TEST(PixelMapping, EveryPixelComesBackExactly) {
    test::FakePlatform platform;
    for (int extent : {1, 2, 3, 768, 1024, 1080, 1366, 1920, 2160, 2560, 3840, 7680, 16384}) {
        platform.size = {extent, extent};
        int wrong = 0;
        for (int pixel = 0; pixel < extent; ++pixel)
            wrong += pixelFromAbsolute(toAbsoluteX(platform, pixel), extent) != pixel;
        EXPECT_EQ(wrong, 0) << "screen extent " << extent;
    }
    for (int32_t far : {INT32_MIN, INT32_MAX}) // saturates, then lands on the nearest edge
        EXPECT_EQ(pixelFromAbsolute(toAbsoluteX(platform, far), 16384), far < 0 ? 0 : 16383);
}

// With no display every call is a harmless no-op and the error names the cause.
TEST(X11PlatformWithoutDisplay, IsReportedAndHarmless) {
    const std::string display = std::getenv("DISPLAY");
    for (const char* name : {static_cast<const char*>(nullptr), ":931"}) {
        name ? setenv("DISPLAY", name, 1) : unsetenv("DISPLAY");
        X11Platform platform;
        EXPECT_FALSE(platform.available());
        EXPECT_NE(platform.errorText().find(name ? name : "DISPLAY"), std::string::npos);
        clickPointer(platform, 0); // harmless
        EXPECT_EQ(platform.screenSize().width + platform.asyncKeyState(65), 0);
    }
    setenv("DISPLAY", display.c_str(), 1);
}

struct X11Test : ::testing::Test {
    X11Platform platform;

    void SetUp() override {
        ASSERT_TRUE(platform.available()) << platform.errorText();
        ASSERT_EQ(std::pair(platform.screenSize().width, platform.screenSize().height),
                  std::pair(gWidth, gHeight));
        ASSERT_TRUE(platform.tracksKeyTaps());
        platform.beginKeyPoll(); // the first poll only starts the tracking
        XSync(gDisplay, True);   // events of earlier tests are dropped
    }
    // Clicks button 0-2 (left, right, middle) there: press and release land on the nearest pixel.
    void clickAt(int x, int y, int button) {
        const std::pair expected(std::clamp(x, 0, gWidth - 1), std::clamp(y, 0, gHeight - 1));
        SCOPED_TRACE(testing::Message() << "stored point " << x << "," << y);
        movePointerTo(platform, x, y);
        ASSERT_TRUE(clickPointer(platform, button));
        pollfd fd{ConnectionNumber(gDisplay), POLLIN, 0};
        for (int type : {ButtonPress, ButtonRelease}) {
            XEvent event;
            while (!XCheckTypedEvent(gDisplay, type, &event))
                ASSERT_GT(::poll(&fd, 1, 5000), 0) << "no button event of type " << type;
            EXPECT_EQ(event.xbutton.button, (std::array{Button1, Button3, Button2}[button]));
            EXPECT_EQ(std::pair(event.xbutton.x_root, event.xbutton.y_root), expected);
        }
        const auto pos = platform.cursorPos().value();
        EXPECT_EQ(std::pair(pos.x, pos.y), expected);
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
    // Corners, off the screen (also past 16 bits: nearest edge), near, along and off the edges.
    std::vector<std::array<int, 2>> points = {{0, 0},     {w - 1, 0},      {0, h - 1},
                                              {w, h},     {-10, -10},      {100000, h / 2},
                                              {1, h - 2}, {w / 2, -100000}};
    for (int i = 1; i < 64; ++i) {
        const int x = (w - 1) * i / 64, y = (h - 1) * i / 64;
        points.insert(points.end(), {{x, 0}, {x, h - 1}, {0, y}, {w - 1, y}});
    }
    for (size_t i = 0; i < points.size() && !HasFatalFailure(); ++i)
        clickAt(points[i][0], points[i][1], int(i % 3));
}

TEST_F(X11Test, KeyHeldIsDownOnEveryPollTapsCountOnceAndStalePressesDoNot) {
    key(XK_a, true);
    EXPECT_EQ(poll(65), kDownAndPressed);
    EXPECT_EQ(poll(65), kDown);
    key(XK_a, false);
    EXPECT_EQ(poll(65), 0);
    tap(XK_F5);
    EXPECT_EQ(poll(116), 1);
    EXPECT_EQ(platform.asyncKeyState(116), 0); // asked again: already reported
    for (int i = 0; i < 3; ++i)                // several taps between two polls count once
        tap(XK_space);
    EXPECT_EQ(poll(32), 1);
    EXPECT_EQ(poll(32), 0);
    // Presses are also taken as they arrive (to wake a tick); a poll still answers for one taken
    // just before it, but not for one taken long before, after a pause.
    ASSERT_GE(platform.keyEventSource(), 0);
    pollfd source{platform.keyEventSource(), POLLIN, 0};
    const auto taken = [&](std::set<int> expected) {
        std::set<int> reported;
        while (reported != expected && ::poll(&source, 1, 5000) > 0)
            for (int code : platform.takeKeyPresses())
                reported.insert(code);
        return reported;
    };
    tap(XK_b);
    EXPECT_EQ(taken({66}), std::set<int>{66});
    usleep(2200000);
    tap(XK_c);
    EXPECT_EQ(taken({67}), std::set<int>{67});
    EXPECT_EQ(poll(66), 0);
    EXPECT_EQ(platform.asyncKeyState(67), 1);
    EXPECT_TRUE(platform.takeKeyPresses().empty());
    // A press that another call reads off the connection still makes the source readable.
    tap(XK_d);
    platform.cursorPos(); // its round trip reads the press
    EXPECT_EQ(taken({68}), std::set<int>{68});
}

// Each table key on the keyboard is seen under its own code alone, in one request per poll.
TEST_F(X11Test, KeyEveryTableKeyOnTheKeyboardIsSeenUnderItsCode) {
    const uint64_t before = platform.roundTrips();
    int found = 0;
    for (const KeyTableEntry& e : keyTable()) {
        if (XKeysymToKeycode(gDisplay, e.keysym) == 0)
            continue;
        ++found;
        key(e.keysym, true);
        EXPECT_EQ(poll(e.virtualKey), kDownAndPressed) << XKeysymToString(e.keysym);
        const bool sided = e.virtualKey >= 160 && e.virtualKey <= 165; // Shift, Ctrl, Alt
        const int generic = sided ? 16 + (e.virtualKey - 160) / 2 : e.virtualKey;
        EXPECT_NE(platform.asyncKeyState(generic) & kDown, 0) << XKeysymToString(e.keysym);
        key(e.keysym, false);
        EXPECT_EQ(poll(e.virtualKey), 0) << XKeysymToString(e.keysym);
        if (e.keysym == XK_Caps_Lock || e.keysym == XK_Num_Lock)
            tap(e.keysym); // leave lock keys as they were
    }
    EXPECT_GE(found, 90); // letters, digits, F1-F12, the keypad and the editing keys at least
    EXPECT_EQ(platform.roundTrips() - before, 2u * static_cast<unsigned>(found));
    for (int code : {0, -1, 3, 7, 255, 256, 70000}) // no key, or out of range
        EXPECT_EQ(platform.asyncKeyState(code), 0) << code;
}

// A window manager is told by the check window it names on the root and on itself; a property
// left behind by one that ended is not.
TEST_F(X11Test, AWindowManagerIsToldByItsCheckWindow) {
    const Window root = DefaultRootWindow(gDisplay),
                 check = XCreateSimpleWindow(gDisplay, root, 0, 0, 1, 1, 0, 0, 0);
    const Atom name = XInternAtom(gDisplay, "_NET_SUPPORTING_WM_CHECK", False);
    const auto point = [&](Window on, Window at) {
        XChangeProperty(gDisplay, on, name, XA_WINDOW, 32, PropModeReplace, (unsigned char*)&at, 1),
            XSync(gDisplay, False);
    };
    point(root, check);
    EXPECT_FALSE(platform.windowManagerRunning()); // the check window does not name itself
    point(check, check);
    EXPECT_TRUE(platform.windowManagerRunning());
    XDestroyWindow(gDisplay, check), XSync(gDisplay, False);
    EXPECT_FALSE(platform.windowManagerRunning()); // gone with its manager
    XDeleteProperty(gDisplay, root, name);
}

// The X server of a Wayland desktop (run with --xwayland): the backend starts, but never
// passes for one that clicks, says why, and takes no click point.
TEST(X11PlatformOnXWayland, RefusesToClickAndSaysWhy) {
    X11Platform platform;
    ASSERT_TRUE(platform.available()) << platform.errorText();
    EXPECT_TRUE(platform.onXWayland());
    EXPECT_FALSE(platform.canClick());
    EXPECT_NE(platform.errorText().find("XWayland"), std::string::npos) << platform.errorText();
    EXPECT_FALSE(platform.beginPointCapture([](auto) {}));
}

// Starts Xwayland on the Wayland compositor of WAYLAND_DISPLAY, rootless as a desktop runs it,
// and points DISPLAY at it; its process id, or -1.
pid_t startXWayland() {
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const std::string fd = std::to_string(ready[1]);
    char* argv[] = {const_cast<char*>("Xwayland"), const_cast<char*>("-rootless"),
                    const_cast<char*>("-noreset"), const_cast<char*>("-displayfd"),
                    const_cast<char*>(fd.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, "Xwayland", nullptr, nullptr, argv, environ) != 0)
        pid = -1;
    close(ready[1]);
    char number[16] = {};
    pollfd p{ready[0], POLLIN, 0};
    if (pid > 0 && ::poll(&p, 1, 20000) > 0 && read(ready[0], number, sizeof number - 1) > 0)
        setenv("DISPLAY", (":" + std::string(number, std::strcspn(number, "\n"))).c_str(), 1);
    close(ready[0]);
    return pid;
}

} // namespace quindel

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Xwayland makes its input devices once the Wayland seat has a pointer, which a headless
    // compositor gets from a virtual one.
    std::unique_ptr<quindel::WaylandPlatform> seatPointer;
    pid_t xwayland = -1;
    if (argc >= 2 && std::string(argv[1]) == "--xwayland") {
        seatPointer = std::make_unique<quindel::WaylandPlatform>();
        xwayland = quindel::startXWayland();
        if (xwayland < 0 || (gDisplay = XOpenDisplay(nullptr)) == nullptr)
            return std::fprintf(stderr, "Xwayland did not start\n"), 2;
        const int result = RUN_ALL_TESTS();
        XCloseDisplay(gDisplay);
        kill(xwayland, SIGTERM), waitpid(xwayland, nullptr, 0);
        return result;
    }
    if (argc < 2 || std::sscanf(argv[1], "%dx%d", &gWidth, &gHeight) != 2 ||
        (gDisplay = XOpenDisplay(nullptr)) == nullptr)
        return std::fprintf(stderr, "usage: %s WIDTHxHEIGHT | --xwayland, with a display\n",
                            argv[0]),
               2;
    XSelectInput(gDisplay, DefaultRootWindow(gDisplay), ButtonPressMask | ButtonReleaseMask);
    return RUN_ALL_TESTS();
}
