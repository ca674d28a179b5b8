// Click-point capture and clicks on a Wayland compositor with one output: the time from the click
// to the stored point (through the backend's own capture: the overlay on sway and KWin, the
// screen cover on Mutter), the time the program takes to send a trigger's click, the time from
// that click to its press in the probe's window (the compositor's work included), and whether
// each stored point is exact and its click is seen. Points
// lie at the same places of the output whatever its scale, so runs at scale 1 and 2 compare.
// scale-bench.sh runs it on each compositor at both scales in one go:
//
//   bench/platform/scale-bench.sh build [captures]
//   tests/support/with-services.sh --sway 2560x1600 --scale 2 --
//       build/bench/platform/point_capture_bench LABEL [captures]
#include "core/engine/PointerOutput.h"
#include "platform/wayland/WaylandPlatform.h"
#include "support/WaylandProbe.h"
#include "ui/ScreenPointPicker.h"

#include <QGuiApplication>
#include <QTest>
#include <QWindow>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace quindel;
using Clock = std::chrono::steady_clock;

namespace {

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void print(const std::string& label, const char* what, std::vector<double> values) {
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    std::printf("%-16s %-18s median %6.2f ms  p99 %6.2f ms  max %6.2f ms  (n=%zu)\n", label.c_str(),
                what, values[values.size() / 2], values[values.size() * 99 / 100], values.back(),
                values.size());
}

// KWin lets only programs whose desktop entry names its fake input send input.
void allowFakeInput() {
    const char* entries = std::getenv("QUINDEL_TEST_APPLICATIONS");
    char self[4096] = {};
    if (entries == nullptr || readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return;
    if (FILE* entry = std::fopen(
            (std::string(entries) + "/bench-" + std::to_string(getpid()) + ".desktop").c_str(),
            "w")) {
        std::fprintf(entry,
                     "[Desktop Entry]\nType=Application\nName=Bench\nExec=%s\n"
                     "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n",
                     self);
        std::fclose(entry);
    }
}

bool coverShown() {
    if (std::getenv("QUINDEL_TEST_COMPOSITOR") != std::string("mutter"))
        return true; // the overlay is up when beginPointCapture returns
    for (QWindow* w : QGuiApplication::topLevelWindows())
        if (w->objectName() == "pointPicker" && w->isExposed())
            return true;
    return false;
}

// The press the probe reports next, as x, y; nothing when none came.
std::optional<std::pair<int, int>> nextPress(WaylandProbe& probe) {
    int x = 0, y = 0, button = 0;
    if (std::sscanf(probe.next("press").c_str(), "press %d %d %d", &x, &y, &button) != 3)
        return std::nullopt;
    return std::pair{x, y};
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const std::string label = argc > 1 ? argv[1] : "";
    const int captures = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    allowFakeInput();
    WaylandProbe probe(QUINDEL_WAYLAND_PROBE);
    if (probe.next("ready").empty())
        return std::fprintf(stderr, "the probe did not start\n"), 1;
    WaylandPlatform capturer, clicker;
    ScreenPointPicker cover;
    capturer.setScreenCover(&cover);
    if (!clicker.canClick())
        return std::fprintf(stderr, "cannot click: %s\n", clicker.errorText().c_str()), 1;
    movePointerTo(clicker, 10, 10);
    if (probe.next("pointer").empty())
        return std::fprintf(stderr, "the pointer did not reach the probe\n"), 1;
    const ScreenSize size = clicker.screenSize();
    const double places[][2] = {{0.1, 0.3}, {0.8, 0.7}, {0.5, 0.95}, {0.97, 0.02}};
    std::vector<double> stored, sent, clicked;
    int exact = 0, landed = 0, undecided = 0;
    for (int i = 0; i < captures; ++i) {
        const ScreenPoint p{static_cast<int>(size.width * places[i % 4][0]),
                            static_cast<int>(size.height * places[i % 4][1])};
        std::optional<std::optional<ScreenPoint>> outcome;
        if (!capturer.beginPointCapture([&](std::optional<ScreenPoint> at) { outcome = at; }))
            return std::fprintf(stderr, "no capture on this compositor\n"), 1;
        for (int waited = 0; !coverShown() && waited < 5000; waited += 10)
            QTest::qWait(10);
        if (!coverShown())
            return std::fprintf(stderr, "the screen cover did not show\n"), 1;
        QTest::qWait(std::getenv("QUINDEL_TEST_COMPOSITOR") == std::string("mutter") ? 500 : 0);
        const auto pressed = Clock::now();
        movePointerTo(clicker, p.x, p.y);
        clickPointer(clicker, 0);
        while (!outcome && Clock::now() - pressed < std::chrono::seconds(5)) {
            pollfd events{capturer.desktopEventSource(), POLLIN, 0};
            ::poll(&events, 1, 1);
            capturer.handleDesktopEvents();
            QCoreApplication::processEvents();
        }
        if (!outcome || !*outcome) {
            ++undecided;
            capturer.cancelPointCapture();
            continue;
        }
        stored.push_back(milliseconds(Clock::now() - pressed));
        exact += (*outcome)->x == p.x && (*outcome)->y == p.y;
        // What took the press goes away; then the trigger's click at the stored point, from
        // elsewhere, as a performer's pointer would be.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(300);
        capturer.handleDesktopEvents();
        movePointerTo(clicker, 10, 10);
        const auto trigger = Clock::now();
        movePointerTo(clicker, (*outcome)->x, (*outcome)->y);
        clickPointer(clicker, 0);
        sent.push_back(milliseconds(Clock::now() - trigger));
        const auto seen = nextPress(probe);
        if (seen)
            clicked.push_back(milliseconds(Clock::now() - trigger));
        landed += seen.has_value();
    }
    print(label, "click to stored", stored);
    print(label, "click sent", sent);
    print(label, "trigger to press", clicked);
    std::printf("%-16s exact %d of %d, clicks seen %d, never decided %d\n", label.c_str(), exact,
                captures, landed, undecided);
    return 0;
}
