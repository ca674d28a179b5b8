#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace quindel {

// Decides when the dispatch tick runs. Two ticks are always at least one interval apart.
// Polling: while started, a tick one interval after the end of the previous one, whatever
// happens in between. Immediate: a tick as soon as a trigger arrives, or one interval after the
// previous tick when that one is more recent; after a tick the next one is due only while a key
// is held, so a held key repeats every interval and otherwise the timer rests.
//
// Each event answers how long the timer waits from now until the next tick, rounded up to whole
// milliseconds (0: at once), or nothing when no tick is due.
class ResponseScheduler {
  public:
    using Clock = std::chrono::steady_clock;
    using Wait = std::optional<std::chrono::milliseconds>;
    static constexpr std::chrono::milliseconds kInterval{100};

    explicit ResponseScheduler(std::function<Clock::time_point()> now = &Clock::now);

    void setImmediate(bool immediate) { immediate_ = immediate; }
    bool immediate() const { return immediate_; }

    // Start: the first tick is due one interval on in either mode, so a key that is already
    // held at Start repeats as it always did. Stop: nothing is due and triggers are ignored.
    Wait start();
    void stop();
    // A trigger arrived (a key that the group uses was pressed, a MIDI command is waiting).
    Wait trigger();
    // A tick has just ended; keyHeld when a key that it polled was down.
    Wait tickEnded(bool keyHeld);

  private:
    Wait waitFrom(Clock::time_point now) const;

    std::function<Clock::time_point()> now_;
    bool immediate_ = true;
    bool running_ = false;
    std::optional<Clock::time_point> lastTick_;
    std::optional<Clock::time_point> due_;
};

} // namespace quindel
