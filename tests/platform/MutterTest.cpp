// Pointer input through Mutter's remote desktop interface, on a headless Mutter with two
// monitors side by side (1280x1024 at 0,0 and 800x600 at 1280,0), checked by the Wayland probe
// client, which covers each monitor with a window and prints every press at its global point.
#include <gtest/gtest.h>

#include "core/engine/PointerOutput.h"
#include "platform/wayland/MutterRemoteDesktop.h"
#include "platform/wayland/WaylandPlatform.h"
#include "support/WaylandProbe.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>

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

    // Mutter ends the session, and says so before it answers. A click written before that was
    // seen is not taken for sent, and no session is opened behind it; a new one is opened on
    // request, and its clicks land.
    mutter.stopSessionForTest();
    EXPECT_FALSE(injector->button(272, true) && injector->button(272, false) && injector->flush());
    EXPECT_FALSE(mutter.sessionOpen());
    ASSERT_TRUE(mutter.reopenIfClosed()) << mutter.errorText();
    EXPECT_EQ(mutter.sessionsOpened(), 2);
    ASSERT_TRUE(injector->moveTo(640, 512) && injector->flush());
    ASSERT_FALSE(probe.next("pointer").empty());
    EXPECT_EQ(click(*injector, probe, 700, 300), pressAt(700, 300));

    // The monitors change places (the second now left of the first; Mutter moves both probe
    // windows onto the first): the session is opened again with their new places. So is the
    // backend's own, at its next trigger.
    WaylandPlatform platform;
    ASSERT_EQ(platform.clickWay(), WaylandClickWay::MutterRemoteDesktop);
    ASSERT_GE(swapMonitors(), 0);
    ASSERT_TRUE(waitForSessionEnd(mutter));
    ASSERT_TRUE(injector->moveTo(1400, 500) && injector->flush()); // onto the probe's windows
    ASSERT_FALSE(probe.next("pointer").empty());
    EXPECT_EQ(click(*injector, probe, 923, 457), pressAt(923, 457));
    const auto trigger = [&platform](int x, int y) {
        movePointerTo(platform, x, y);
        clickPointer(platform, 0);
        return !platform.takeClickFailure();
    };
    ASSERT_TRUE(trigger(1000, 400));
    EXPECT_EQ(probe.next("press"), pressAt(1000, 400));

    // Without PipeWire Mutter ends the session and no new one can start: that is reported, by
    // the backend as a click that failed.
    const char* pipewire = std::getenv("QUINDEL_TEST_PIPEWIRE_PID");
    ASSERT_TRUE(pipewire);
    kill(std::atoi(pipewire), SIGKILL);
    ASSERT_TRUE(waitForSessionEnd(mutter));
    EXPECT_FALSE(injector->moveTo(10, 10));
    EXPECT_FALSE(injector->flush());
    EXPECT_NE(mutter.errorText().find("PipeWire"), std::string::npos) << mutter.errorText();
    EXPECT_FALSE(trigger(1000, 400));
}

// A stand-in for Mutter on the session bus that does all a remote desktop session needs, up to
// its start, and refuses every pointer event after it, as Mutter does to a session it will not
// serve. It answers on a thread of its own while the caller waits for replies.
class RefusingMutter {
  public:
    RefusingMutter() {
        if (sd_bus_open_user(&bus_) < 0)
            return;
        for (const char* name : {"org.gnome.Mutter.DisplayConfig", "org.gnome.Mutter.RemoteDesktop",
                                 "org.gnome.Mutter.ScreenCast"})
            named_ += sd_bus_request_name(bus_, name, 0) >= 0;
        sd_bus_add_fallback(bus_, nullptr, "/", &RefusingMutter::answer, this);
        thread_ = std::thread([this] {
            while (!stop_) {
                if (sd_bus_process(bus_, nullptr) == 0)
                    sd_bus_wait(bus_, 50'000);
            }
        });
    }
    ~RefusingMutter() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        sd_bus_flush_close_unref(bus_);
    }
    bool serving() const { return named_ == 3; }
    int refused() const { return refused_; }

  private:
    static int answer(sd_bus_message* m, void* self, sd_bus_error*) {
        auto& mutter = *static_cast<RefusingMutter*>(self);
        const char* member = sd_bus_message_get_member(m);
        if (member == nullptr || !sd_bus_message_is_method_call(m, nullptr, nullptr))
            return 0;
        const auto is = [&](const char* name) { return std::strcmp(member, name) == 0; };
        if (is("GetCurrentState"))
            return currentState(m);
        if (is("CreateSession"))
            return sd_bus_reply_method_return(m, "o",
                                              sd_bus_message_get_interface(m)[18] == 'R'
                                                  ? "/org/gnome/Mutter/RemoteDesktop/S1"
                                                  : "/org/gnome/Mutter/ScreenCast/S1");
        if (is("Get")) // the remote desktop session's SessionId
            return sd_bus_reply_method_return(m, "v", "s", "S1");
        if (is("RecordMonitor"))
            return sd_bus_reply_method_return(m, "o", "/org/gnome/Mutter/ScreenCast/S1/Stream1");
        if (is("Start"))
            return sd_bus_reply_method_return(m, "");
        if (std::strncmp(member, "NotifyPointer", 13) == 0) {
            ++mutter.refused_;
            return sd_bus_reply_method_errorf(m, "org.freedesktop.DBus.Error.Failed",
                                              "Session not ready for input");
        }
        return 0;
    }
    // One 1280x1024 monitor at 0,0, scale 1, in the physical layout mode.
    static int currentState(sd_bus_message* call) {
        return sd_bus_reply_method_return(
            call, "ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv}", 1u, 1, "Meta-0", "v",
            "p", "0", 1, "1280x1024@60", 1280, 1024, 60.0, 1.0, 1, 1.0, 1, "is-current", "b", 1, 0,
            1, 0, 0, 1.0, 0u, 1, 1, "Meta-0", "v", "p", "0", 0, 1, "layout-mode", "u", 2u);
    }

    sd_bus* bus_ = nullptr;
    int named_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> refused_{0};
    std::thread thread_;
};

// A session whose first event Mutter refuses clicks nowhere: opening it fails with the reason,
// and the Wayland backend, which has no other way to click there, does not pass for one that
// clicks, so Start refuses. Run on a compositor without input protocols (weston) and a session
// bus of its own, where the stand-in above plays Mutter.
TEST(MutterWarmUpRefused, IsReportedAndNoClicksArePromised) {
    RefusingMutter mutter;
    ASSERT_TRUE(mutter.serving());
    std::string whyNot;
    EXPECT_EQ(openMutterRemoteDesktop(&whyNot), nullptr);
    EXPECT_NE(whyNot.find("refused pointer motion"), std::string::npos) << whyNot;
    EXPECT_EQ(mutter.refused(), 1);
    WaylandPlatform platform;
    ASSERT_TRUE(platform.available()) << platform.errorText();
    EXPECT_EQ(platform.clickWay(), WaylandClickWay::None);
    EXPECT_FALSE(platform.canClick());
    EXPECT_EQ(mutter.refused(), 2);
}

// Replies to GetCurrentState made by hand, read as Mutter's would be. Messages need a started
// bus, but not a peer: one end of a socket pair does.
class MutterMonitorReply : public ::testing::Test {
  protected:
    void SetUp() override {
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        peer_ = ends[1];
        ASSERT_GE(sd_bus_new(&bus_), 0);
        ASSERT_GE(sd_bus_set_fd(bus_, ends[0], ends[0]), 0);
        ASSERT_GE(sd_bus_start(bus_), 0);
    }
    void TearDown() override {
        sd_bus_close_unref(bus_); // without a flush, which would wait for the peer
        ::close(peer_);
    }
    // A reply of these types and values, sealed so that it can be read.
    template <typename... Args>
    std::unique_ptr<sd_bus_message, decltype(&sd_bus_message_unref)> reply(const char* types,
                                                                           Args... args) {
        sd_bus_message* m = nullptr;
        EXPECT_GE(sd_bus_message_new_method_call(bus_, &m, "org.gnome.Mutter.DisplayConfig",
                                                 "/org/gnome/Mutter/DisplayConfig",
                                                 "org.gnome.Mutter.DisplayConfig", "Reply"),
                  0);
        EXPECT_GE(sd_bus_message_append(m, types, args...), 0);
        EXPECT_GE(sd_bus_message_seal(m, 1, 0), 0);
        return {m, &sd_bus_message_unref};
    }

    sd_bus* bus_ = nullptr;
    int peer_ = -1;
};

constexpr const char* kState = "ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv}";

// Meta-0 at 1280x1024, scale 1, at 0,0, with a mode not in use listed first; Meta-1 at 2560x1600,
// scale 2, right of it at x (1280 in the logical layout mode, 2560 in the physical one). In the
// logical mode the layout counts logical pixels and the stream physical ones; in the physical
// mode both count physical pixels, two for each logical one of Meta-1.
TEST_F(MutterMonitorReply, PlacesEachMonitorInThePixelsOfTheLayoutMode) {
    for (const uint32_t mode : {1u, 2u}) {
        const int x = mode == 1 ? 1280 : 2560;
        auto m = reply(kState, 7u, 2, /* Meta-0 */ "Meta-0", "v", "p", "0", 2, "800x600", 800, 600,
                       60.0, 1.0, 0, 0, "1280x1024", 1280, 1024, 60.0, 1.0, 0, 1, "is-current", "b",
                       1, 0, /* Meta-1 */ "Meta-1", "v", "p", "1", 1, "2560x1600", 2560, 1600, 60.0,
                       2.0, 1, 2.0, 1, "is-current", "b", 1, 0,
                       /* logical */ 2, 0, 0, 1.0, 0u, 1, 1, "Meta-0", "v", "p", "0", 0, x, 0, 2.0,
                       0u, 0, 1, "Meta-1", "v", "p", "1", 0, 1, "layout-mode", "u", mode);
        std::string whyNot;
        const auto monitors = readMutterMonitors(m.get(), &whyNot);
        ASSERT_TRUE(monitors) << whyNot;
        ASSERT_EQ(monitors->size(), 2u);
        // Place, size, stream pixels per layout pixel, layout pixels per logical pixel.
        const auto seen = [&](size_t i) {
            const MutterRemoteDesktop::Monitor& o = (*monitors)[i];
            return std::pair(o.connector,
                             std::array{double(o.x), double(o.y), double(o.width), double(o.height),
                                        o.streamScale, o.layoutScale});
        };
        EXPECT_EQ(seen(0),
                  std::pair(std::string("Meta-0"), std::array{0., 0., 1280., 1024., 1., 1.}));
        EXPECT_EQ(seen(1), std::pair(std::string("Meta-1"),
                                     mode == 1 ? std::array{1280., 0., 1280., 800., 2., 1.}
                                               : std::array{2560., 0., 2560., 1600., 1., 2.}));
    }
}

// Whatever part is missing or of another type, the reply gives no monitors and says which part.
TEST_F(MutterMonitorReply, NotOfMuttersFormGivesNoMonitors) {
    const auto noMonitors = [](sd_bus_message* m, const char* part) {
        std::string whyNot;
        EXPECT_FALSE(readMutterMonitors(m, &whyNot)) << part;
        EXPECT_NE(whyNot.find(part), std::string::npos) << whyNot;
    };
    noMonitors(reply("").get(), "serial");
    noMonitors(reply("s", "7").get(), "serial");
    noMonitors(reply("u", 7u).get(), "the monitors");
    // A mode whose size is given as text; one whose "is-current" is a number.
    noMonitors(reply("ua((ssss)a(sssddada{sv})a{sv})", 7u, 1, "Meta-0", "v", "p", "0", 1,
                     "1280x1024", "1280", "1024", 60.0, 1.0, 0, 0, 0)
                   .get(),
               "the monitors");
    noMonitors(reply(kState, 7u, 1, "Meta-0", "v", "p", "0", 1, "1280x1024", 1280, 1024, 60.0, 1.0,
                     0, 1, "is-current", "u", 1u, 0, 1, 0, 0, 1.0, 0u, 1, 1, "Meta-0", "v", "p",
                     "0", 0, 0)
                   .get(),
               "the monitors");
    noMonitors(reply("ua((ssss)a(siiddada{sv})a{sv})", 7u, 0).get(), "the logical monitors");
    // A logical monitor without its connectors.
    noMonitors(reply("ua((ssss)a(siiddada{sv})a{sv})a(iidub)", 7u, 0, 1, 0, 0, 1.0, 0u, 1).get(),
               "the logical monitors");
    noMonitors(reply("ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})", 7u, 0, 0).get(),
               "properties");
    // The layout mode as text.
    noMonitors(reply(kState, 7u, 0, 0, 1, "layout-mode", "s", "logical").get(), "properties");
}

} // namespace
} // namespace quindel
