#include "engine/RuntimeState.h"
#include "engine/TriggerDispatch.h"
#include "engine/moduloMoveMouse.h"
#include "support/FakePlatform.h"

#include <gtest/gtest.h>

namespace quindel {
namespace {

using test::FakePlatform;

ActionRecord action(std::string code, std::string description, int32_t x, int32_t y,
                    uint8_t kind = 1) {
    ActionRecord r;
    r.triggerCode = std::move(code);
    r.description = std::move(description);
    r.clickX = x;
    r.clickY = y;
    r.triggerKind = kind;
    return r;
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
    // The move and click that an action at pixel (x, y) produces.
    std::vector<FakePlatform::Event> clickPair(int32_t x, int32_t y) {
        return {{0x8001, toAbsoluteX(platform, x), toAbsoluteY(platform, y), 0, 0},
                {6, 0, 0, 0, 0}};
    }
    // Keyboard sequence of three steps on keys A, B, C (65, 66, 67), next = N, prev = P.
    void useSequence() {
        state.actionTable = {action("65", "one", 10, 10), action("66", "two", 20, 20),
                             action("67", "three", 30, 30)};
        state.sequenceTable = state.actionTable;
        state.nextTriggerCode = "78";
        state.prevTriggerCode = "80";
    }
};

TEST(KeyCodeFromTrigger, AcceptsOnlyPlainDecimalKeyNumbers) {
    EXPECT_EQ(keyCodeFromTrigger("65"), 65);
    EXPECT_EQ(keyCodeFromTrigger("1"), 1);
    EXPECT_EQ(keyCodeFromTrigger("255"), 255);
    for (const char* text : {"0", "", "256", "999", "1000", "065", "0190", "3C90", "4090", " 65",
                             "65 ", "+65", "-65", "6a", "a", "6.5", "1e2"})
        EXPECT_EQ(keyCodeFromTrigger(text), 0) << '"' << text << '"';
}

TEST_F(DispatchTest, HeldKeyFiresOnEveryTickAtTheActionPoint) {
    state.actionTable = {action("65", "Play", 100, 200)};
    platform.press(65);
    for (int i = 0; i < 3; ++i)
        tick();
    ASSERT_EQ(platform.events.size(), 6u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(platform.events[2 * i], clickPair(100, 200)[0]);
        EXPECT_EQ(platform.events[2 * i + 1], clickPair(100, 200)[1]);
    }
    EXPECT_EQ(view.lblSequenza, "65");
    EXPECT_EQ(view.lblDescrizione, "Play");
    EXPECT_EQ(platform.keyPolls, 3);
}

TEST_F(DispatchTest, PollsEachAssignedKeyOnceAfterOneKeyboardRead) {
    state.actionTable = {action("65", "a", 1, 1), action("3C90", "midi", 2, 2, 2),
                         action("x", "bad", 3, 3), action("66", "b", 4, 4)};
    state.prevTriggerCode = "0";
    state.nextTriggerCode = "34";
    tick();
    EXPECT_EQ(platform.keyPolls, 1);
    // MIDI records, unreadable codes and the unassigned "prev" are never asked for.
    EXPECT_EQ(platform.queriedKeys, (std::vector<int>{65, 66, 34}));
}

TEST_F(DispatchTest, HighestNumberedPressedRecordWinsAndNextBeatsPrev) {
    state.actionTable = {action("65", "first", 1, 1), action("66", "second", 2, 2)};
    platform.press(65);
    platform.press(66);
    tick();
    EXPECT_EQ(view.lblSequenza, "66");
    EXPECT_EQ(view.lblDescrizione, "second");

    // With a sequence, next and prev together act as next: from 0 to step 1.
    useSequence();
    platform.keysDown.clear();
    platform.press(78);
    platform.press(80);
    tick();
    EXPECT_EQ(state.currentStep, 1);
    EXPECT_EQ(view.lblSequenza, "65");
}

TEST_F(DispatchTest, NothingPressedChangesNothing) {
    useSequence();
    state.currentStep = 2;
    view.lblSequenza = "old";
    view.lblDescrizione = "old description";
    tick();
    EXPECT_TRUE(platform.events.empty());
    EXPECT_EQ(state.currentStep, 2);
    EXPECT_EQ(view.lblSequenza, "old");
    EXPECT_EQ(view.lblDescrizione, "old description");
}

TEST_F(DispatchTest, SequenceWrapsBothWays) {
    useSequence();
    std::vector<int> steps;
    auto pressOnce = [&](int key) {
        platform.tap(key);
        tick();
        steps.push_back(state.currentStep);
    };
    pressOnce(80); // prev right after Start: last step
    EXPECT_EQ(view.lblSequenza, "67");
    EXPECT_EQ(view.lblDescrizione, "three");
    pressOnce(78); // next from the last step: first
    pressOnce(78);
    pressOnce(80);
    pressOnce(80); // prev from step 1: last
    EXPECT_EQ(steps, (std::vector<int>{3, 1, 2, 1, 3}));
    // Every step clicked the point of its own action.
    ASSERT_EQ(platform.events.size(), 10u);
    EXPECT_EQ(platform.events[0], clickPair(30, 30)[0]);
    EXPECT_EQ(platform.events[2], clickPair(10, 10)[0]);
    EXPECT_EQ(platform.events[4], clickPair(20, 20)[0]);
}

TEST_F(DispatchTest, PrevLandingOnTheNextCodeAlsoAppliesNext) {
    useSequence();
    // Step 2's action is triggered by the "next" key itself.
    state.sequenceTable[1].triggerCode = "78";
    state.actionTable.push_back(action("78", "next key action", 5, 5));
    state.currentStep = 3;
    platform.tap(80);
    tick();
    // prev 3 -> 2 gives "78", which then counts as next: 2 -> 3.
    EXPECT_EQ(state.currentStep, 3);
    EXPECT_EQ(view.lblSequenza, "67");
}

TEST_F(DispatchTest, NextAndPrevAreOrdinaryCodesWithoutASequence) {
    state.actionTable = {action("78", "plain next", 7, 8)};
    state.nextTriggerCode = "78";
    platform.tap(78);
    tick();
    EXPECT_EQ(state.currentStep, 0);
    EXPECT_EQ(view.lblDescrizione, "plain next");
    EXPECT_EQ(platform.events.size(), 2u);

    state.actionTable.clear(); // an empty group shows the code but never clicks
    platform.tap(78);
    tick();
    EXPECT_EQ(view.lblSequenza, "78");
    EXPECT_EQ(platform.events.size(), 2u);
}

TEST_F(DispatchTest, ShortenedSequenceStartsOverInsteadOfLeavingTheTable) {
    useSequence();
    state.sequenceCount = 3; // stale: the table's own size counts
    state.currentStep = 3;
    state.sequenceTable.resize(2); // edited while dispatch runs
    platform.tap(78);
    tick();
    EXPECT_EQ(state.currentStep, 1);
    EXPECT_EQ(view.lblSequenza, "65");

    state.currentStep = 7;
    platform.tap(80);
    tick();
    EXPECT_EQ(state.currentStep, 2); // prev from 0 goes to the new last step
    EXPECT_EQ(view.lblSequenza, "66");

    state.currentStep = -4; // never valid; treated the same
    platform.tap(78);
    tick();
    EXPECT_EQ(state.currentStep, 1);
}

TEST_F(DispatchTest, DuplicateCodesClickTheLowerNumberedRecord) {
    state.setInputDevice(1);
    state.actionTable = {action("3C90", "low", 11, 12, 2), action("3C90", "high", 13, 14, 2)};
    state.lastMidiCommand = "3C90";
    tick();
    ASSERT_EQ(platform.events.size(), 2u);
    EXPECT_EQ(platform.events[0], clickPair(11, 12)[0]);
    EXPECT_EQ(view.lblDescrizione, "low");
}

TEST_F(DispatchTest, MidiCommandIsTakenOnceAndUnknownCodesAreStillShown) {
    state.setInputDevice(1);
    state.actionTable = {action("3C90", "note", 1, 1, 2)};
    view.currentDescription = "earlier";
    state.lastMidiCommand = "40B2";
    tick();
    EXPECT_EQ(view.lblSequenza, "40B2");
    EXPECT_EQ(view.lblDescrizione, "earlier"); // kept across ticks
    EXPECT_TRUE(platform.events.empty());
    EXPECT_EQ(state.lastMidiCommand, "");
    EXPECT_EQ(platform.keyPolls, 0);

    tick(); // the slot was emptied: nothing happens again
    EXPECT_TRUE(platform.events.empty());

    state.lastMidiCommand = "XX3C90"; // only the last four characters count
    tick();
    EXPECT_EQ(view.lblSequenza, "3C90");
    EXPECT_EQ(platform.events.size(), 2u);
}

TEST_F(DispatchTest, StoppedTickEmptiesTheMidiSlotButDoesNothingElse) {
    state.setInputDevice(1);
    state.isRunning = false;
    useSequence();
    state.nextTriggerCode = "3C90";
    state.lastMidiCommand = "3C90";
    tick();
    EXPECT_EQ(state.lastMidiCommand, "");
    EXPECT_EQ(state.currentStep, 0);
    EXPECT_TRUE(platform.events.empty());
    EXPECT_EQ(view.lblSequenza, "");

    state.isRunning = true; // a later Start does not see the old command
    tick();
    EXPECT_TRUE(platform.events.empty());
}

} // namespace
} // namespace quindel
