#include "core/engine/CommandTrigger.h"
#include "core/engine/PointerOutput.h"
#include "core/engine/ResponseScheduler.h"
#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "support/FakePlatform.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <utility>

namespace quindel {
namespace {

using test::FakePlatform;
using Events = std::vector<FakePlatform::Event>;

// An action clicking at (x, x + 1), so that swapped coordinates show.
ActionRecord action(std::string code, std::string description, int32_t x, uint8_t kind = 1) {
    return {"", std::move(description), 0, std::move(code), kind, x, x + 1, 0};
}

struct DispatchTest : ::testing::Test {
    RuntimeState state;
    FakePlatform platform;
    DispatchView view;

    void SetUp() override { state.setInputDevice(kKeyboardDevice), state.isRunning = true; }
    void tick() { dispatchTick(state, platform, view); }
    // The move and left click of each action at x, in turn.
    Events clicksAt(std::initializer_list<int32_t> xs) {
        Events out;
        for (int32_t x : xs)
            out.insert(out.end(),
                       {{0x8001, toAbsoluteX(platform, x), toAbsoluteY(platform, x + 1), 0, 0},
                        {6, 0, 0, 0, 0}});
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

TEST_F(DispatchTest, HeldKeyFiresOnEveryTickAndEachKeyIsPolledOnce) {
    state.actionTable = {action("65", "Play", 100), action("3C90", "midi", 2, 2),
                         action("x", "bad", 3), action("66", "b", 4)};
    state.nextTriggerCode = "34";
    platform.press(65);
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(platform.events, clicksAt({100, 100, 100}));
    EXPECT_EQ(view.shownTrigger + view.shownDescription, "65Play");
    EXPECT_EQ(platform.keyPolls, 3);
    // MIDI records, unreadable codes and the unassigned "prev" are never asked for.
    EXPECT_EQ(platform.queriedKeys, (std::vector<int>{65, 66, 34, 65, 66, 34, 65, 66, 34}));
    EXPECT_TRUE(view.keyHeld);
    // Exactly the keys a tick polls are the ones whose press may wake it.
    for (int key = 0; key < 256; ++key)
        EXPECT_EQ(tickPollsKey(state, key), key == 34 || key == 65 || key == 66) << key;
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
        {0, 3, 3, 30, {80}, "67", "three"},    // prev right after Start: the last step
        {3, 1, 3, 10, {78}, "65", "one"},      // next wraps to the first step
        {1, 3, 3, 30, {80}, "67", "three"},    // prev wraps to the last step
        {1, 2, 3, 20, {78, 80}, "66", "two"},  // next and prev together act as next
        {2, 1, 3, 10, {67, 80}, "65", "one"},  // prev beats an action key
        {0, 0, 3, 20, {65, 66}, "66", "two"},  // the highest-numbered record wins
        {3, 1, 2, 10, {78}, "65", "one"},      // shortened below the step: starts over
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
        EXPECT_EQ(view.shownTrigger + "/" + view.shownDescription, c.shown + "/" + c.description);
        EXPECT_EQ(platform.events, c.clickX ? clicksAt({c.clickX}) : Events{});
    }
}

TEST_F(DispatchTest, MidiSlotIsEmptiedEveryTickAndReadByItsLastFourCharacters) {
    state.setInputDevice(1);
    state.actionTable = {action("3C90", "low", 11, 2), action("3C90", "high", 13, 2)};
    state.sequenceTable = state.actionTable;
    state.nextTriggerCode = "3C90";
    state.isRunning = false;
    state.lastMidiCommand = "3C90"; // taken while stopped, so a later Start does not see it
    tick();
    EXPECT_EQ(state.lastMidiCommand + view.shownTrigger, "");
    state.isRunning = true;
    view.currentDescription = "earlier";
    state.lastMidiCommand = "40B2"; // unknown: shown, nothing clicked, description kept
    tick();
    EXPECT_EQ(view.shownTrigger + "/" + view.shownDescription, "40B2/earlier");
    EXPECT_EQ(state.currentStep + platform.keyPolls + int(platform.events.size()), 0);
    state.lastMidiCommand = "XX3C90"; // next: step 1; of duplicate codes the first one clicks
    tick();
    EXPECT_EQ(state.currentStep, 1);
    EXPECT_EQ(view.shownTrigger + "/" + view.shownDescription + state.lastMidiCommand, "3C90/low");
    EXPECT_EQ(platform.events, clicksAt({11}));
}

TEST_F(DispatchTest, CommandTriggersArriveAsTheirKindInEitherInputMode) {
    const std::pair<const char*, const char*> forms[] = {
        {"116", "116"}, {"3c9f", "3C9F"}, {"NeXt", "next"}, {"prev", "prev"}, {"0", ""},
        {"0116", ""},   {"256", ""},      {"6x5", ""},      {"3C9", ""},      {"3CF0", ""},
        {"8090", ""},   {"3C70", ""},     {" 65", ""},      {"", ""}};
    for (const auto& [text, code] : forms)
        EXPECT_EQ(commandTriggerCode(text), code) << text;
    using enum CommandTriggerOutcome;
    // Input device, started, keys down, MIDI command waiting, prev code, command text, its
    // outcome, the step reached, x of the action clicked (0: none), the code shown.
    const struct {
        int16_t device;
        bool running;
        std::set<int> keys;
        const char *waiting, *prev, *text;
        CommandTriggerOutcome outcome;
        int to, clickX;
        std::string shown;
    } cases[] = {
        {kKeyboardDevice, true, {}, "", "80", "65", Taken, 0, 10, "65"},
        {kKeyboardDevice, true, {66}, "", "80", "65", Taken, 0, 10, "65"}, // keys wait
        {kKeyboardDevice, true, {}, "", "80", "next", Taken, 1, 10, "65"},
        {kKeyboardDevice, true, {}, "", "80", "prev", Taken, 3, 30, "67"},
        {kKeyboardDevice, true, {}, "", "80", "3c90", Taken, 0, 50, "3C90"},
        {kKeyboardDevice, true, {}, "", "80", "200", Taken, 0, 0, "200"}, // shown only
        {kKeyboardDevice, false, {}, "", "80", "65", Stopped, 0, 0, "old"},
        {kKeyboardDevice, true, {}, "", "80", "6x5", Malformed, 0, 0, "old"},
        {kKeyboardDevice, true, {}, "", "0", "prev", NoStep, 0, 0, "old"},
        {1, true, {}, "", "80", "65", Taken, 0, 10, "65"},
        {1, true, {}, "", "80", "next", Taken, 1, 10, "65"},
        {1, true, {}, "3C90", "80", "3E90", Taken, 0, 0, "3E90"}, // the slot waits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.device << " " << c.text);
        useSequence();
        state.actionTable.push_back(action("3C90", "note", 50, 2));
        state.prevTriggerCode = c.prev;
        state.setInputDevice(c.device);
        state.isRunning = c.running;
        state.currentStep = 0;
        state.lastMidiCommand = c.waiting;
        platform.events.clear();
        platform.keysDown = c.keys;
        view = {"0", "old", "old", "old"};
        EXPECT_EQ(takeCommandTrigger(state, c.text), c.outcome);
        tick();
        EXPECT_EQ(state.currentStep, c.to);
        EXPECT_EQ(view.shownTrigger, c.shown);
        EXPECT_EQ(platform.events, c.clickX ? clicksAt({c.clickX}) : Events{});
        EXPECT_TRUE(state.commandQueue.empty()); // one press, taken once
        EXPECT_EQ(state.lastMidiCommand, c.waiting);
    }
}

// Commands that come faster than the ticks wait in arrival order, one per tick, in either input
// mode; a key pressed and a MIDI command drained meanwhile wait for the tick after them. The
// queue holds 64; Stop (a tick while stopped) empties it.
TEST_F(DispatchTest, CommandTriggersQueueOnePerTickInOrderUpToALimit) {
    for (const int16_t device : {kKeyboardDevice, int16_t(1)}) {
        SCOPED_TRACE(device);
        state = {};
        state.setInputDevice(device);
        state.isRunning = true;
        useSequence();
        state.actionTable.push_back(action("3C90", "note", 50, 2));
        platform.events.clear();
        for (const char* text : {"65", "next", "66", "3C90", "prev", "67", "65", "next", "next"})
            EXPECT_EQ(takeCommandTrigger(state, text), CommandTriggerOutcome::Taken);
        // Pressed or drained after the commands came: they go after them.
        device == kKeyboardDevice ? platform.tap(67) : void(state.lastMidiCommand = "4190");
        std::string shown;
        for (int i = 0; i < 11; ++i) {
            tick();
            shown += view.shownTrigger + " ";
        }
        // Steps: next -> 1 (65), prev -> 3 (67), next -> 1, next -> 2.
        const bool keys = device == kKeyboardDevice;
        EXPECT_EQ(shown, keys ? "65 65 66 3C90 67 67 65 65 66 67 67 "
                              : "65 65 66 3C90 67 67 65 65 66 4190 4190 ");
        EXPECT_EQ(platform.events, keys ? clicksAt({10, 10, 20, 50, 30, 30, 10, 10, 20, 30})
                                        : clicksAt({10, 10, 20, 50, 30, 30, 10, 10, 20}));

        for (std::size_t i = 0; i < kMaxCommandTriggers; ++i)
            ASSERT_EQ(takeCommandTrigger(state, "65"), CommandTriggerOutcome::Taken);
        EXPECT_EQ(takeCommandTrigger(state, "66"), CommandTriggerOutcome::Full);
        withdrawCommandTrigger(state);
        EXPECT_EQ(takeCommandTrigger(state, "66"), CommandTriggerOutcome::Taken);
        EXPECT_EQ(state.commandQueue.back(), "66");
        state.isRunning = false;
        tick();
        EXPECT_TRUE(state.commandQueue.empty());
    }
}

// Events at given times on a fake clock, and the timer's wait each one answers (-1: rests).
// S start, s stop, T trigger, t tick with nothing held, H tick with a key held.
// Immediate: Start checks one interval on (a key may be held through Start); the first trigger
// runs at once; nothing held, the timer rests; a trigger too soon after the last tick waits
// until 100 ms have passed (111), and a burst joins that tick; long after, at once again; a held
// key repeats every interval; nothing while stopped. Polling keeps its 100 ms rhythm.
TEST(ResponseScheduler, TicksAtOnceOnATriggerYetAtLeast100MsApartAndPollingIsUnchanged) {
    using Step = std::tuple<int, char, int>;
    const std::vector<Step> immediate = {
        {0, 'S', 100},  {10, 'T', 0},   {11, 't', -1},   {60, 'T', 51},   {90, 'T', 21},
        {111, 't', -1}, {400, 'T', 0},  {400, 'H', 100}, {500, 'H', 100}, {600, 't', -1},
        {650, 'T', 50}, {660, 's', -1}, {700, 'T', -1},  {800, 'S', 100}, {805, 'T', 0}};
    const std::vector<Step> polling = {{0, 'S', 100},  {10, 'T', 90},   {100, 't', 100},
                                       {150, 'T', 50}, {200, 't', 100}, {250, 's', -1},
                                       {300, 'T', -1}};
    for (const bool isImmediate : {true, false}) {
        ResponseScheduler::Clock::time_point now{};
        ResponseScheduler scheduler([&] { return now; });
        scheduler.setImmediate(isImmediate);
        for (const auto& [at, what, expected] : isImmediate ? immediate : polling) {
            now = ResponseScheduler::Clock::time_point{} + std::chrono::milliseconds(at);
            const ResponseScheduler::Wait wait = what == 'S'   ? scheduler.start()
                                                 : what == 'T' ? scheduler.trigger()
                                                 : what == 's' ? (scheduler.stop(), std::nullopt)
                                                               : scheduler.tickEnded(what == 'H');
            EXPECT_EQ(wait ? int(wait->count()) : -1, expected)
                << (isImmediate ? "immediate" : "polling") << " at " << at;
        }
    }
}

} // namespace
} // namespace quindel
