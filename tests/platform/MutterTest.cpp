// Pointer input through Mutter's remote desktop interface, on a headless Mutter with two
// monitors side by side (1280x1024 at 0,0 and 800x600 at 1280,0), checked by the Wayland probe
// client, which covers each monitor with a window and prints every press at its global point.
#include <gtest/gtest.h>

#include "platform/wayland/MutterRemoteDesktop.h"
#include "support/WaylandProbe.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <signal.h>

#include <array>
#include <cstdlib>
#include <string>

namespace quindel {
namespace {

std::string click(PointerInjector& injector, WaylandProbe& probe, int x, int y) {
    if (!injector.moveTo(x, y) || !injector.button(272, true) || !injector.button(272, false) ||
        !injector.flush())
        return "refused";
    return probe.next("press");
}

// A press of the left button there, as the probe reports it.
std::string pressAt(int x, int y) {
    return "press " + std::to_string(x) + " " + std::to_string(y) + " 272";
}

// Handles what Mutter sends until the session is seen closed, or 5 s passed.
bool waitForSessionEnd(MutterRemoteDesktop& mutter) {
    for (int i = 0; i < 50 && mutter.sessionOpen(); ++i) {
        pollfd p{mutter.eventSource(), POLLIN, 0};
        ::poll(&p, 1, 100);
        mutter.processEvents();
    }
    return !mutter.sessionOpen();
}

// Puts the 800x600 monitor at the left, and the 1280x1024 one right of it, as the desktop's
// display settings would.
int swapMonitors() {
    sd_bus* bus = nullptr;
    sd_bus_message* state = nullptr;
    uint32_t serial = 0;
    const char* path = "/org/gnome/Mutter/DisplayConfig";
    const char* name = "org.gnome.Mutter.DisplayConfig";
    int r = sd_bus_open_user(&bus);
    if (r >= 0)
        r = sd_bus_call_method(bus, name, path, name, "GetCurrentState", nullptr, &state, "");
    if (r >= 0)
        r = sd_bus_message_read(state, "u", &serial);
    if (r >= 0)
        r = sd_bus_call_method(bus, name, path, name, "ApplyMonitorsConfig", nullptr, nullptr,
                               "uua(iiduba(ssa{sv}))a{sv}", serial, 1u, 2, 0, 0, 1.0, 0u, 1, 1,
                               "Meta-1", "800x600@60.000", 0, 800, 0, 1.0, 0u, 0, 1, "Meta-0",
                               "1280x1024@60.000", 0, 0);
    sd_bus_message_unref(state);
    sd_bus_flush_close_unref(bus);
    return r;
}

TEST(MutterRemoteDesktop,
     ClicksLandOnTheExactPixelOfEachMonitorThroughSessionEndsAndLayoutChanges) {
    WaylandProbe probe(QUINDEL_WAYLAND_PROBE);
    ASSERT_FALSE(probe.next("ready").empty());
    std::string whyNot;
    auto injector = openMutterRemoteDesktop(&whyNot);
    ASSERT_TRUE(injector) << whyNot;
    auto& mutter = static_cast<MutterRemoteDesktop&>(*injector);
    ASSERT_EQ(mutter.monitors().size(), 2u);
    const auto& second = mutter.monitors()[1];
    EXPECT_EQ((std::array{second.x, second.y, second.width, second.height}),
              (std::array{1280, 0, 800, 600}));
    // Without a real mouse the seat has a pointer only while a session exists, and the events
    // before the probe took it reach nobody: the first motion, once taken, lets it in.
    ASSERT_TRUE(injector->moveTo(640, 512) && injector->flush());
    ASSERT_FALSE(probe.next("pointer").empty());
    // An inner pixel of the first monitor, then the bottom right pixel of the second.
    for (auto [x, y] : {std::pair{123, 457}, std::pair{2079, 599}}) {
        int landed = 0;
        for (int i = 0; i < 100; ++i)
            landed += click(*injector, probe, x, y) == pressAt(x, y);
        EXPECT_EQ(landed, 100) << "at " << x << "," << y;
    }

    // Mutter ends the session: the next flush opens a new one, whose clicks land.
    mutter.stopSessionForTest();
    ASSERT_TRUE(waitForSessionEnd(mutter));
    EXPECT_TRUE(injector->flush()) << mutter.errorText();
    EXPECT_EQ(mutter.sessionsOpened(), 2);
    ASSERT_TRUE(injector->moveTo(640, 512) && injector->flush());
    ASSERT_FALSE(probe.next("pointer").empty());
    EXPECT_EQ(click(*injector, probe, 700, 300), pressAt(700, 300));

    // The monitors change places (the second now left of the first; Mutter moves both probe
    // windows onto the first): the session is opened again with their new places.
    ASSERT_GE(swapMonitors(), 0);
    ASSERT_TRUE(waitForSessionEnd(mutter));
    ASSERT_TRUE(injector->moveTo(1400, 500) && injector->flush()); // onto the probe's windows
    ASSERT_FALSE(probe.next("pointer").empty());
    EXPECT_EQ(click(*injector, probe, 923, 457), pressAt(923, 457));

    // Without PipeWire Mutter ends the session and no new one can start: that is reported.
    const char* pipewire = std::getenv("QUINDEL_TEST_PIPEWIRE_PID");
    ASSERT_TRUE(pipewire);
    kill(std::atoi(pipewire), SIGKILL);
    ASSERT_TRUE(waitForSessionEnd(mutter));
    EXPECT_FALSE(injector->moveTo(10, 10));
    EXPECT_FALSE(injector->flush());
    EXPECT_NE(mutter.errorText().find("PipeWire"), std::string::npos) << mutter.errorText();
}

} // namespace
} // namespace quindel
