#include "engine/MidiIntake.h"
#include "engine/RuntimeState.h"
#include "support/FakeMidiInput.h"

#include <gtest/gtest.h>

#include <algorithm>

using quindel::drainMidiInput;
using quindel::midiCommandCode;
using quindel::RuntimeState;
using quindel::test::FakeMidiInput;

namespace {

long drops(const FakeMidiInput& midi) {
    return std::count(midi.writes.begin(), midi.writes.end(), "portCommand 6");
}

TEST(MidiCommandCode, DataByteThenStatusInUpperCaseHex) {
    EXPECT_EQ(midiCommandCode(0x90, 60), "3C90");
    EXPECT_EQ(midiCommandCode(0x80, 60), "3C80");
    EXPECT_EQ(midiCommandCode(0xB2, 64), "40B2");
    EXPECT_EQ(midiCommandCode(0xC0, 5), "05C0");
    EXPECT_EQ(midiCommandCode(0x9F, 127), "7F9F");
    EXPECT_EQ(midiCommandCode(0xB0, 7), "07B0");
    EXPECT_EQ(midiCommandCode(0xA0, 0), "00A0");
    EXPECT_EQ(midiCommandCode(0xEA, 0x0B), "0BEA");
    // Values outside a byte keep only their last two hex digits.
    EXPECT_EQ(midiCommandCode(0x190, 0x13C), "3C90");
    EXPECT_EQ(midiCommandCode(-1, -2), "FEFF");
}

TEST(DrainMidiInput, EveryChannelMessageKindMakesItsCode) {
    const std::vector<std::pair<int16_t, std::string>> kinds{
        {0x80, "2A80"}, {0x93, "2A93"}, {0xA1, "2AA1"}, {0xBF, "2ABF"},
        {0xC4, "2AC4"}, {0xD2, "2AD2"}, {0xE0, "2AE0"}};
    for (const auto& [status, code] : kinds) {
        RuntimeState state;
        FakeMidiInput midi;
        midi.receive(status, 0x2A, 0x40);
        drainMidiInput(state, midi, {});
        EXPECT_EQ(state.lastMidiCommand, code);
        EXPECT_TRUE(midi.queue.empty());
    }
}

TEST(DrainMidiInput, SystemMessagesAreRemovedButLeaveTheSlotAlone) {
    RuntimeState state;
    state.lastMidiCommand = "3C90";
    FakeMidiInput midi;
    midi.receive(0xF0, 0x7E, 0x7F, "F0 7E 7F 09 01 F7");
    midi.receive(0xF8, 0, 0, "F8");
    midi.receive(0xFF, 0, 0, "FF");
    drainMidiInput(state, midi, {});
    EXPECT_EQ(state.lastMidiCommand, "3C90");
    EXPECT_TRUE(midi.queue.empty());
    EXPECT_EQ(drops(midi), 3);
}

TEST(DrainMidiInput, OnlyTheLastOfABurstSurvives) {
    RuntimeState state;
    FakeMidiInput midi;
    midi.receive(0x90, 60, 100);
    midi.receive(0xB0, 7, 20);
    midi.receive(0xF0, 1, 2, "F0 01 02 F7");
    midi.receive(0x80, 62, 0);
    midi.receive(0xFE, 0, 0, "FE");
    drainMidiInput(state, midi, {});
    EXPECT_EQ(state.lastMidiCommand, "3E80");
    EXPECT_EQ(drops(midi), 5);
}

TEST(DrainMidiInput, EmptyQueueChangesNothing) {
    RuntimeState state;
    state.lastMidiCommand = "";
    FakeMidiInput midi;
    int pumps = 0;
    drainMidiInput(state, midi, [&] { ++pumps; });
    EXPECT_EQ(state.lastMidiCommand, "");
    EXPECT_EQ(pumps, 0);
    EXPECT_TRUE(midi.writes.empty());
    EXPECT_EQ(midi.reads, 0);
}

TEST(DrainMidiInput, ByteBelowStatusRangeMakesNoCode) {
    RuntimeState state;
    FakeMidiInput midi;
    midi.receive(0x3C, 0x40, 0);
    drainMidiInput(state, midi, {});
    EXPECT_EQ(state.lastMidiCommand, "");
    EXPECT_TRUE(midi.queue.empty());
}

TEST(DrainMidiInput, PausesLetATickTakeAnEarlierCode) {
    RuntimeState state;
    FakeMidiInput midi;
    midi.receive(0x90, 60, 100);
    midi.receive(0x90, 61, 100);
    std::vector<std::string> taken;
    drainMidiInput(state, midi, [&] {
        // A dispatch tick that runs during a pause takes whatever code is waiting.
        if (!state.lastMidiCommand.empty()) {
            taken.push_back(state.lastMidiCommand);
            state.lastMidiCommand.clear();
        }
    });
    EXPECT_EQ(taken, (std::vector<std::string>{"3C90", "3D90"}));
}

TEST(DrainMidiInput, NestedCallForTheSameControlReturnsAndTheRunningOneDrains) {
    RuntimeState state;
    FakeMidiInput midi;
    int nested = 0;
    int delivered = 0;
    std::function<void()> pump = [&] {
        // A further message arrives while the handler is paused; the control raises its event
        // again, which calls the handler once more.
        if (delivered < 3) {
            ++delivered;
            midi.receive(0x90, static_cast<int16_t>(60 + delivered), 100);
        }
    };
    midi.messagesArrived = [&] {
        ++nested;
        const auto before = midi.writes.size();
        drainMidiInput(state, midi, pump);
        EXPECT_EQ(midi.writes.size(), before) << "a nested drain must not touch the queue";
    };
    midi.queue.push_back({0x90, 60, 100, {}});
    drainMidiInput(state, midi, pump);
    EXPECT_EQ(nested, 3);
    EXPECT_TRUE(midi.queue.empty());
    EXPECT_EQ(drops(midi), 4) << "each message removed exactly once";
    EXPECT_EQ(state.lastMidiCommand, "3F90");
}

TEST(DrainMidiInput, TwoControlsDrainThroughNestedPumping) {
    RuntimeState state;
    FakeMidiInput mainWindow;
    FakeMidiInput dialog;
    mainWindow.receive(0x90, 60, 100);
    dialog.receive(0xB0, 1, 10);
    bool dialogDrained = false;
    drainMidiInput(state, mainWindow, [&] {
        if (!dialogDrained) {
            dialogDrained = true;
            drainMidiInput(state, dialog, {});
        }
    });
    EXPECT_TRUE(dialog.queue.empty());
    EXPECT_TRUE(mainWindow.queue.empty());
    EXPECT_EQ(state.lastMidiCommand, "3C90");

    // The guard is released: a later event of the same control drains again.
    mainWindow.receive(0x80, 60, 0);
    drainMidiInput(state, mainWindow, {});
    EXPECT_EQ(state.lastMidiCommand, "3C80");
}

TEST(DrainMidiInput, QueueEmptiedDuringAPauseStopsWithoutRemovingOrDecoding) {
    // The queue is emptied (a port closed) at the pause before the read, then at the one
    // between the read and the removal.
    for (int emptyAt = 1; emptyAt <= 2; ++emptyAt) {
        RuntimeState state;
        FakeMidiInput midi;
        midi.receive(0x90, 60, 100);
        int pauses = 0;
        drainMidiInput(state, midi, [&] {
            if (++pauses == emptyAt)
                midi.queue.clear();
        });
        EXPECT_EQ(state.lastMidiCommand, "") << "emptied at pause " << emptyAt;
        EXPECT_EQ(drops(midi), 0) << "emptied at pause " << emptyAt;
        EXPECT_EQ(midi.reads, emptyAt == 1 ? 0 : 1) << "emptied at pause " << emptyAt;
    }
    // Once the message was read and removed it is decoded, whatever happens to the queue.
    RuntimeState state;
    FakeMidiInput midi;
    midi.receive(0x90, 60, 100);
    midi.receive(0x90, 61, 100);
    int pauses = 0;
    drainMidiInput(state, midi, [&] {
        if (++pauses == 3)
            midi.queue.clear();
    });
    EXPECT_EQ(state.lastMidiCommand, "3C90");
    EXPECT_EQ(drops(midi), 1);
}

} // namespace
