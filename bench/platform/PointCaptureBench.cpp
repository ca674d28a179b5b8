// Click-point capture through the backend's layer-shell overlay (sway, KWin): how long the
// overlay takes to be on the screen, how long from the click to the point, and whether each
// point is exact and no press reaches the probe's windows below. Run on a compositor with two
// outputs side by side, the first 1280 pixels wide:
//
//   tests/support/with-services.sh --sway 1280x1024,800x600 --
//   build/bench/platform/point_capture_bench [captures]
//   tests/support/with-services.sh --kwin 1280x1024,1280x1024 -- ...
#include "core/engine/PointerOutput.h"
#include "platform/wayland/WaylandPlatform.h"
#include "support/WaylandProbe.h"

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

void print(const char* what, std::vector<double> values) {
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    std::printf("%-22s median %6.2f ms  p99 %6.2f ms  max %6.2f ms  (n=%zu)\n", what,
                values[values.size() / 2], values[values.size() * 99 / 100], values.back(),
                values.size());
}

} // namespace

int main(int argc, char** argv) {
    const int captures = argc > 1 ? std::max(1, std::atoi(argv[1])) : 45;
    // KWin lets only programs whose desktop entry names its fake input send input.
    if (const char* entries = std::getenv("QUINDEL_TEST_APPLICATIONS")) {
        char self[4096] = {};
        if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
            if (FILE* entry = std::fopen(
                    (std::string(entries) + "/bench-" + std::to_string(getpid()) + ".desktop")
                        .c_str(),
                    "w")) {
                std::fprintf(entry,
                             "[Desktop Entry]\nType=Application\nName=Bench\nExec=%s\n"
                             "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n",
                             self);
                std::fclose(entry);
            }
        }
    }
    WaylandProbe probe(QUINDEL_WAYLAND_PROBE);
    if (probe.next("ready").empty())
        return std::fprintf(stderr, "the probe did not start\n"), 1;
    WaylandPlatform capturer, clicker;
    if (!clicker.canClick())
        return std::fprintf(stderr, "cannot click: %s\n", clicker.errorText().c_str()), 1;
    const ScreenPoint points[] = {{123, 457}, {1280 + 300, 400}, {640, 1000}, {1280 + 799, 0}};
    std::vector<double> ready, decided;
    int exact = 0, leaked = 0, undecided = 0;
    for (int i = 0; i < captures; ++i) {
        const ScreenPoint p = points[i % 4];
        std::optional<std::optional<ScreenPoint>> outcome;
        const auto begun = Clock::now();
        if (!capturer.beginPointCapture([&](std::optional<ScreenPoint> at) { outcome = at; }))
            return std::fprintf(stderr, "this compositor has no overlay\n"), 1;
        ready.push_back(milliseconds(Clock::now() - begun));
        const auto clicked = Clock::now();
        movePointerTo(clicker, p.x, p.y);
        clickPointer(clicker, 0);
        while (!outcome && Clock::now() - clicked < std::chrono::seconds(5)) {
            pollfd events{capturer.desktopEventSource(), POLLIN, 0};
            ::poll(&events, 1, 5);
            capturer.handleDesktopEvents();
        }
        if (!outcome) {
            ++undecided;
            capturer.cancelPointCapture();
            continue;
        }
        decided.push_back(milliseconds(Clock::now() - clicked));
        exact += *outcome && (*outcome)->x == p.x && (*outcome)->y == p.y;
        leaked += !probe.next("press", 50).empty();
    }
    print("overlay on the screen", ready);
    print("click to point", decided);
    std::printf("exact %d of %d, reached the window below %d, never decided %d\n", exact, captures,
                leaked, undecided);
    return 0;
}
