#pragma once

// What the end-to-end latency benchmarks share: timing triggers to their clicks, and the
// figures they print.

#include "Quantile.h"
#include "e2e/E2eHarness.h"

#include <functional>
#include <optional>
#include <random>
#include <vector>

namespace quindel::e2e {

// Milliseconds from each trigger, sent at random pauses of 150 to 400 ms (so at any moment of
// a tick), to the click that click() then reports (none within its wait gives no figure).
inline std::vector<double>
triggerToClickMs(int samples, const std::function<void()>& trigger,
                 const std::function<std::optional<Clock::time_point>()>& click) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(150, 400);
    std::vector<double> out;
    for (int i = 0; i < samples; ++i) {
        QThread::msleep(static_cast<unsigned long>(pause(random)));
        click(); // anything left over
        const auto sent = Clock::now();
        trigger();
        if (const auto at = click())
            out.push_back(ms(*at - sent));
    }
    return out;
}

} // namespace quindel::e2e
