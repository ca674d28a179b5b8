#include "core/engine/ResponseScheduler.h"

#include <algorithm>
#include <utility>

namespace quindel {

ResponseScheduler::ResponseScheduler(std::function<Clock::time_point()> now)
    : now_(std::move(now)) {}

ResponseScheduler::Wait ResponseScheduler::start() {
    const Clock::time_point now = now_();
    running_ = true;
    due_ = now + kInterval;
    return waitFrom(now);
}

void ResponseScheduler::stop() {
    running_ = false;
    due_.reset();
}

ResponseScheduler::Wait ResponseScheduler::trigger() {
    const Clock::time_point now = now_();
    // In polling mode a tick is always due already; the trigger waits for it.
    if (running_ && immediate_) {
        const Clock::time_point at = lastTick_ ? std::max(now, *lastTick_ + kInterval) : now;
        // Triggers of a burst join the tick that is due already.
        if (!due_ || at < *due_)
            due_ = at;
    }
    return waitFrom(now);
}

ResponseScheduler::Wait ResponseScheduler::tickEnded(bool keyHeld) {
    const Clock::time_point now = now_();
    lastTick_ = now;
    if (running_ && (!immediate_ || keyHeld))
        due_ = now + kInterval;
    else
        due_.reset();
    return waitFrom(now);
}

ResponseScheduler::Wait ResponseScheduler::waitFrom(Clock::time_point now) const {
    if (!due_)
        return std::nullopt;
    if (*due_ <= now)
        return std::chrono::milliseconds{0};
    return std::chrono::ceil<std::chrono::milliseconds>(*due_ - now);
}

} // namespace quindel
