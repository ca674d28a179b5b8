#include "core/engine/ResponseScheduler.h"
#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "core/engine/PointerOutput.h"
#include "core/engine/PointerOutput.h"
#include "support/FakePlatform.h"

#include <gtest/gtest.h>

#include <span>

namespace quindel {
namespace {

using test::FakePlatform;
using Events = std::vector<FakePlatform::Event>;

// An action clicking at (x, x + 1), so that swapped coordinates show.
ActionRecord action(std::string code, std::string description, int32_t x, uint8_t kind = 1) {
    return {"", std::move(description), 0, std::move(code), kind, x, x + 1, 0};
}

class DispatchTest : public ::testing::Test {
  protected:
    RuntimeState state;
    FakePlatform platform;
    DispatchView view;

    void SetUp() override {
        state.setInputDevice(kKeyboardDevice);
        state.isRunning = true;
    }
    void tick() { dispatchTick(state, platform, view); }
    // The move and left click of each action at x, in turn.
    Events clicksAt(std::initializer_list<int32_t> xs) {
        Events out;
        for (int32_t x : xs) {
            out.push_back({0x8001, toAbsoluteX(platform, x), toAbsoluteY(platform, x + 1), 0, 0});
            out.push_back({6, 0, 0, 0, 0});
        }
        return out;
    }
    // Steps on keys A, B, C (65..67) clicking at 10, 20, 30; next = N (78), prev = P (80),
    // and an action on N outside the sequence.
    void useSequence() {
        state.actionTable = {action("65", "one", 10), action("66", "two", 20),
                             action("67", "three", 30)};
        state.sequenceTable = state.actionTable;
        state.sequenceCount = 3;
        state.actionTable.push_back(action("78", "next key", 40));
        state.nextTriggerCode = "78";
        state.prevTriggerCode = "80";
    }
};

TEST(KeyCodeFromTrigger, AcceptsOnlyPlainDecimalKeyNumbers) {
    for (int code : {1, 65, 255})
        EXPECT_EQ(keyCodeFromTrigger(std::to_string(code)), code);
    for (const char* text : {"0", "", "256", "999", "1000", "065", "0190", "3C90", "4090", " 65",
                             "65 ", "+65", "-65", "6a", "a", "6.5", "1e2"})
        EXPECT_EQ(keyCodeFromTrigger(text), 0) << '"' << text << '"';
}

TEST_F(DispatchTest, HeldKeyFiresOnEveryTickAndEachKeyIsPolledOnce) {
    state.actionTable = {action("65", "Play", 100), action("3C90", "midi", 2, 2),
                         action("x", "bad", 3), action("66", "b", 4)};
    state.nextTriggerCode = "34";
    platform.press(65);
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(platform.events, clicksAt({100, 100, 100}));
    EXPECT_EQ(view.shownTrigger, "65");
    EXPECT_EQ(view.shownDescription, "Play");
    EXPECT_EQ(platform.keyPolls, 3);
    // MIDI records, unreadable codes and the unassigned "prev" are never asked for.
    EXPECT_EQ(platform.queriedKeys, (std::vector<int>{65, 66, 34, 65, 66, 34, 65, 66, 34}));
    EXPECT_TRUE(view.keyHeld);
    // Exactly the keys a tick polls are the ones whose press may wake it.
    std::vector<int> woken;
    for (int key = 0; key < 256; ++key)
        if (tickPollsKey(state, key))
            woken.push_back(key);
    EXPECT_EQ(woken, (std::vector<int>{34, 65, 66}));
    platform.release(65);
    platform.tap(66);
    tick();
    EXPECT_EQ(view.shownTrigger, "66");
    EXPECT_FALSE(view.keyHeld); // a tap is not held
}

TEST_F(DispatchTest, KeysWalkTheSequence) {
    // Step before and after, sequence length, x of the action clicked (0: none), keys down,
    // code and description shown.
    const struct {
        int from, to, length, clickX;
        std::vector<int> keys;
        std::string shown, description;
    } cases[] = {
        {0, 3, 3, 30, {80}, "67", "three"},   // prev right after Start: the last step
        {3, 1, 3, 10, {78}, "65", "one"},     // next wraps to the first step
        {1, 3, 3, 30, {80}, "67", "three"},   // prev wraps to the last step
        {1, 2, 3, 20, {78, 80}, "66", "two"}, // next and prev together act as next
        {2, 1, 3, 10, {67, 80}, "65", "one"}, // prev beats an action key
        {0, 0, 3, 20, {65, 66}, "66", "two"}, // the highest-numbered record wins
        {3, 1, 2, 10, {78}, "65", "one"},     // shortened below the step: starts over
        {7, 2, 2, 20, {80}, "66", "two"},      {-4, 1, 3, 10, {78}, "65", "one"},
        {2, 2, 3, 0, {}, "old", "old"},        // nothing pressed changes nothing
        {0, 0, 0, 40, {78}, "78", "next key"}, // no sequence: next and prev are plain codes
        {0, 0, 0, 0, {80}, "80", "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.from << " to " << c.to << " " << c.shown);
        useSequence();
        state.sequenceTable.resize(static_cast<std::size_t>(c.length));
        state.currentStep = static_cast<int16_t>(c.from);
        platform.events.clear();
        view = {"0", "old", "old", "old"};
        platform.keysDown = {c.keys.begin(), c.keys.end()};
        tick();
        EXPECT_EQ(state.currentStep, c.to);
        EXPECT_EQ(view.shownTrigger, c.shown);
        EXPECT_EQ(view.shownDescription, c.description);
        EXPECT_EQ(platform.events, c.clickX ? clicksAt({c.clickX}) : Events{});
    }
}

TEST_F(DispatchTest, PrevLandingOnTheNextCodeAlsoAppliesNext) {
    useSequence();
    state.sequenceTable[1].triggerCode = "78"; // step 2 is triggered by the "next" key itself
    state.currentStep = 3;
    platform.tap(80);
    tick();
    EXPECT_EQ(state.currentStep, 3);
    EXPECT_EQ(view.shownTrigger, "67");
}

TEST_F(DispatchTest, MidiSlotIsEmptiedEveryTickAndReadByItsLastFourCharacters) {
    state.setInputDevice(1);
    state.actionTable = {action("3C90", "low", 11, 2), action("3C90", "high", 13, 2)};
    state.sequenceTable = state.actionTable;
    state.nextTriggerCode = "3C90";
    state.isRunning = false;
    state.lastMidiCommand = "3C90"; // taken while stopped, so a later Start does not see it
    tick();
    EXPECT_EQ(state.lastMidiCommand, "");
    EXPECT_EQ(view.shownTrigger, "");
    state.isRunning = true;
    view.currentDescription = "earlier";
    state.lastMidiCommand = "40B2"; // unknown: shown, nothing clicked, description kept
    tick();
    EXPECT_EQ(view.shownTrigger, "40B2");
    EXPECT_EQ(view.shownDescription, "earlier");
    EXPECT_EQ(state.currentStep, 0);
    EXPECT_EQ(platform.keyPolls, 0);
    EXPECT_TRUE(platform.events.empty());
    state.lastMidiCommand = "XX3C90"; // next: step 1; of duplicate codes the first one clicks
    tick();
    EXPECT_EQ(state.currentStep, 1);
    EXPECT_EQ(view.shownTrigger, "3C90");
    EXPECT_EQ(view.shownDescription, "low");
    EXPECT_EQ(state.lastMidiCommand, "");
    EXPECT_EQ(platform.events, clicksAt({11}));
}

// Events at given times on a fake clock and the timer's wait each one answers (-1: rests).
TEST(ResponseScheduler, TicksAtOnceOnATriggerYetAtLeast100MsApartAndPollingIsUnchanged) {
    enum What { Start, Stop, Trigger, Tick, HeldTick };
    struct Step {
        int at;
        What what;
        int wait;
    };
    const Step immediate[] = {
        {0, Start, 100},   // first check one interval on, in case a key is held through Start
        {10, Trigger, 0},  // the first trigger runs at once
        {11, Tick, -1},    // nothing held: the timer rests
        {60, Trigger, 51}, // too soon after the last tick: at 111
        {90, Trigger, 21}, // a burst joins the same tick
        {111, Tick, -1},      {400, Trigger, 0},    // long after: at once again
        {400, HeldTick, 100}, {500, HeldTick, 100}, // a held key repeats every interval
        {600, Tick, -1},                            // released
        {650, Trigger, 50},   {660, Stop, -1},      {700, Trigger, -1}, // nothing while stopped
        {800, Start, 100},    {805, Trigger, 0},
    };
    const Step polling[] = {
        {0, Start, 100},  {10, Trigger, 90}, {100, Tick, 100},   {150, Trigger, 50},
        {200, Tick, 100}, {250, Stop, -1},   {300, Trigger, -1},
    };
    for (const bool isImmediate : {true, false}) {
        ResponseScheduler::Clock::time_point now{};
        ResponseScheduler scheduler([&] { return now; });
        scheduler.setImmediate(isImmediate);
        for (const Step& step : isImmediate ? std::span<const Step>(immediate) : polling) {
            now = ResponseScheduler::Clock::time_point{} + std::chrono::milliseconds(step.at);
            ResponseScheduler::Wait wait;
            switch (step.what) {
            case Start:
                wait = scheduler.start();
                break;
            case Stop:
                scheduler.stop();
                break;
            case Trigger:
                wait = scheduler.trigger();
                break;
            case Tick:
                wait = scheduler.tickEnded(false);
                break;
            case HeldTick:
                wait = scheduler.tickEnded(true);
                break;
            }
            EXPECT_EQ(wait ? int(wait->count()) : -1, step.wait)
                << (isImmediate ? "immediate" : "polling") << " at " << step.at;
        }
    }
}

// A key held for a second, ticking whenever the scheduler asks: ten ticks see it down, 100 ms
// apart, one more finds it released, and then the timer rests.
TEST(ResponseScheduler, HeldKeyRepeatsTenTimesASecond) {
    using std::chrono::milliseconds;
    ResponseScheduler::Clock::time_point zero{}, now = zero + milliseconds(3);
    ResponseScheduler scheduler([&] { return now; });
    scheduler.start();
    std::vector<int> ticks;
    for (ResponseScheduler::Wait wait = scheduler.trigger(); wait;) {
        now += *wait;
        const int at = int((now - zero) / milliseconds(1));
        ticks.push_back(at);
        wait = scheduler.tickEnded(at < 1000);
    }
    EXPECT_EQ(ticks, (std::vector<int>{3, 103, 203, 303, 403, 503, 603, 703, 803, 903, 1003}));
}

TEST(PointerOutput, AbsoluteCoordinatesScaleWithHalvesToEven) {
    // Extent, pixel, absolute: off the screen scaled alike, empty screen 0, huge values saturate.
    const int32_t cases[][3] = {{1920, 960, 32768},
                                {1920, 0, 0},
                                {1920, 1920, 65535},
                                {1920, 1, 34},
                                {1080, 540, 32768},
                                {1920, -960, -32768},
                                {1920, 3840, 131070},
                                {2, 1, 32768},
                                {2, 3, 98302},
                                {2, -1, -32768},
                                {0, 100, 0},
                                {-5, 100, 0},
                                {1, INT32_MAX, INT32_MAX},
                                {1, INT32_MIN, INT32_MIN}};
    FakePlatform platform;
    for (const auto& [extent, pixel, absolute] : cases) {
        platform.size = {extent, 7};
        EXPECT_EQ(toAbsoluteX(platform, pixel), absolute) << extent << " " << pixel;
        platform.size = {7, extent};
        EXPECT_EQ(toAbsoluteY(platform, pixel), absolute) << extent << " " << pixel;
    }
}

TEST(PointerOutput, ButtonsAndLeftButtonState) {
    FakePlatform platform;
    EXPECT_TRUE(clickPointer(platform, 1));
    EXPECT_TRUE(clickPointer(platform, 2));
    EXPECT_FALSE(clickPointer(platform, 3));
    EXPECT_FALSE(clickPointer(platform, -1));
    EXPECT_EQ(platform.events, (Events{{24, 0, 0, 0, 0}, {96, 0, 0, 0, 0}}));
    platform.setLeftButton(true);
    EXPECT_TRUE(isLeftButtonDown(platform));
    platform.setLeftButton(false);
    platform.tap(kVirtualKeyLeftButton); // a click that ended before the call does not count
    EXPECT_FALSE(isLeftButtonDown(platform));
    EXPECT_EQ(platform.queriedKeys, (std::vector<int>{1, 1}));
}

} // namespace
} // namespace quindel
