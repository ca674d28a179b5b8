// Time from the click request to the press that a Wayland client sees, through Mutter's remote
// desktop interface: median, p99 and max over many clicks, on one monitor and when each click
// moves the pointer to the other monitor. Run on a headless Mutter with two monitors:
//
//   tests/support/with-services.sh --mutter 1280x1024,800x600 --
//   build/bench/platform/mutter_click_bench
#include "platform/wayland/MutterRemoteDesktop.h"
#include "support/WaylandProbe.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

using namespace quindel;

namespace {

long long nowMicroseconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

// Clicks at the points in turn and returns the delays in microseconds of those that landed.
std::vector<long long> measure(PointerInjector& injector, WaylandProbe& probe,
                               const std::vector<std::pair<int, int>>& points, int clicks) {
    std::vector<long long> delays;
    for (int i = 0; i < clicks; ++i) {
        auto [x, y] = points[static_cast<size_t>(i) % points.size()];
        long long sent = nowMicroseconds();
        if (!injector.moveTo(x, y) || !injector.button(272, true) || !injector.button(272, false) ||
            !injector.flush())
            continue;
        int px, py;
        unsigned button;
        long long pressed;
        std::string line = probe.next("press");
        if (std::sscanf(line.c_str(), "press %d %d %u %lld", &px, &py, &button, &pressed) == 4 &&
            px == x && py == y)
            delays.push_back(pressed - sent);
    }
    return delays;
}

void print(const char* what, std::vector<long long> d, int clicks) {
    if (d.empty()) {
        std::printf("%-28s no click landed of %d\n", what, clicks);
        return;
    }
    std::sort(d.begin(), d.end());
    auto at = [&](double q) { return d[std::min(d.size() - 1, size_t(q * double(d.size())))]; };
    std::printf("%-28s %4zu/%d landed  median %.2f ms  p99 %.2f ms  max %.2f ms\n", what, d.size(),
                clicks, at(0.5) / 1000.0, at(0.99) / 1000.0, d.back() / 1000.0);
}

} // namespace

int main(int argc, char** argv) {
    const int clicks = argc > 1 ? std::atoi(argv[1]) : 500;
    WaylandProbe probe(QUINDEL_WAYLAND_PROBE);
    if (probe.next("ready").empty())
        return std::fprintf(stderr, "the probe did not start\n"), 1;
    std::string whyNot;
    auto injector = openMutterRemoteDesktop(&whyNot);
    if (!injector)
        return std::fprintf(stderr, "no remote desktop session: %s\n", whyNot.c_str()), 1;
    injector->moveTo(640, 512);
    injector->flush();
    if (probe.next("pointer").empty())
        return std::fprintf(stderr, "the pointer did not reach the probe\n"), 1;
    print("Mutter, one monitor:", measure(*injector, probe, {{100, 100}, {900, 700}}, clicks),
          clicks);
    print("Mutter, across monitors:", measure(*injector, probe, {{100, 100}, {1700, 300}}, clicks),
          clicks);
    return 0;
}
